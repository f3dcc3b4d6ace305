"""Every public name of tallygrams, used as a type-checked program would.

test_stubs.py checks this file with mypy --strict against the installed type
stubs, and also runs it, so the stubs and the module must agree. The lines in
`rejected` are misuse that the stubs must refuse: each carries the exact
error code it must produce, and --strict (through --warn-unused-ignores)
fails the check if one of them is accepted.
"""

from typing import Literal, assert_type

import tallygrams
from tallygrams import BatchScoreResult, Score, score, score_batch, score_batch_flat

Metric = Literal["rouge1", "rouge2", "rougeL"]

assert_type(tallygrams.__version__, str)
assert tallygrams.__all__ == [
    "__version__", "Score", "BatchScoreResult", "score", "score_batch", "score_batch_flat",
]

pair = score("The cat sat.", "the cat")
assert_type(pair, dict[Metric, Score])
rouge1 = pair["rouge1"]
assert_type(rouge1, Score)
assert_type(rouge1.precision, float)
assert_type(rouge1.recall, float)
assert_type(rouge1.fmeasure, float)
assert (rouge1.precision, rouge1.recall, rouge1.fmeasure) == (1.0, 2 / 3, 0.8)
assert list(score(reference="a b", prediction="a c")) == ["rouge1", "rouge2", "rougeL"]

batch = score_batch(("a b", "c"), ["a", "c"])
assert_type(batch, list[dict[Metric, Score]])
assert batch[1]["rougeL"].fmeasure == 1.0
assert len(score_batch(references=["a"], predictions=["b"])) == 1

flat = score_batch_flat(["The cat sat.", "a"], predictions=["the cat", "b"])
assert_type(flat, BatchScoreResult)
columns: list[list[float]] = [
    flat.rouge1_precision, flat.rouge1_recall, flat.rouge1_fmeasure,
    flat.rouge2_precision, flat.rouge2_recall, flat.rouge2_fmeasure,
    flat.rougeL_precision, flat.rougeL_recall, flat.rougeL_fmeasure,
]
assert columns[1] == [2 / 3, 0.0]
assert isinstance(flat, BatchScoreResult) and isinstance(rouge1, Score)


def rejected(result: BatchScoreResult, one: Score) -> None:
    Score()  # type: ignore[call-arg]
    BatchScoreResult()  # type: ignore[call-arg]
    one.precision = 0.5  # type: ignore[misc]
    result.rougeL_fmeasure = []  # type: ignore[misc]
    score("reference", "prediction")["rouge3"]  # type: ignore[index]
    score(b"reference", "prediction")  # type: ignore[arg-type]
    score(reference="a", predictions="b")  # type: ignore[call-arg]
    score_batch(["a", 1], ["b", "c"])  # type: ignore[list-item]
    score_batch_flat(["a"], [None])  # type: ignore[list-item]
    tallygrams.score_pairs  # type: ignore[attr-defined]

    class Narrower(Score):  # type: ignore[misc]
        pass
