"""Every public name of tallygrams_scorer, used as a type-checked program would.

test_stubs.py checks this file with mypy --strict against the installed
stubs and also runs it. Each line in `rejected` is misuse the stubs must
refuse, with the error code it must produce.
"""

from typing import assert_type

import tallygrams_scorer
from tallygrams_scorer import (
    AggregateScore,
    BootstrapAggregator,
    Rouge155Figures,
    RougeScorer,
    Score,
    compare,
    resample_means,
    rouge155,
    rouge_scorer,
    scoring,
    tokenizers,
)

assert_type(tallygrams_scorer.__version__, str)

scorer = RougeScorer(["rouge1", "rougeLsum"], use_stemmer=True)
assert_type(scorer.rouge_types, list[str])
pair = scorer.score("The cat sat.\nIt ran.", "the cat ran")
assert_type(pair, dict[str, Score])
assert_type(pair["rouge1"].fmeasure, float)
precision, recall, fmeasure = pair["rougeLsum"]
assert_type(scorer.score_multi(["a b", "c"], "a"), dict[str, Score])
batch = scorer.score_batch(["a b", ["c", "d e"]], ["a", "d"])
assert_type(batch, list[dict[str, Score]])
assert_type(scorer.tokenize("Cats running"), list[str])


class Splitter:
    def tokenize(self, text: str) -> list[str]:
        return text.split()


RougeScorer(["rougeL"], tokenizer=Splitter())
RougeScorer(["rougeL"], tokenizer=str.split)
RougeScorer(["rougeL"], tokenizer="unicode")

aggregator = BootstrapAggregator(0.95, 100, seed=1)
aggregator.add_scores(pair)
result = aggregator.aggregate()
assert_type(result, dict[str, AggregateScore])
assert_type(result["rouge1"].mid.recall, float)

columns = scorer.score_columns(["a b"], ["a"])
compared = compare(columns, columns, test="randomization", n_samples=100)
assert_type(compared["rouge1_fmeasure"].p_value, float)
assert_type(resample_means(columns, 10, seed=1)["rouge1_recall"], list[float])

evaluation = rouge155(["the cat sat"], [["a cat sat", ["the cat", "sat down"]]], "-n 2 -m", per_pair=True)
assert_type(evaluation.report(), str)
figures = evaluation["ROUGE-1"]
assert isinstance(figures, Rouge155Figures)
assert rouge155([b"x"], [b"y"], None, weight=None, skip_gap=-1, skip_unigrams="both").per_pair is None

# rouge-score's module names, and the switch for code that cannot be edited.
switched = rouge_scorer.RougeScorer(["rouge1"], tokenizer=tokenizers.DefaultTokenizer(use_stemmer=True))
collector = scoring.BootstrapAggregator()
collector.add_scores(switched.score("cats", "cat"))
assert_type(collector.aggregate(), dict[str, scoring.AggregateScore])
assert_type(scoring.fmeasure(0.5, 0.25), float)
assert isinstance(switched, scoring.BaseScorer)


class Words(tokenizers.Tokenizer):
    def tokenize(self, text: str) -> list[str]:
        return text.split()


rouge_scorer.RougeScorer(["rougeL"], tokenizer=Words())
assert_type(tallygrams_scorer.accelerate(), None)


def rejected() -> None:
    RougeScorer(["rouge1"], tokenizer=3)  # type: ignore[arg-type]
    scorer.score("a", b"b")  # type: ignore[arg-type]
    BootstrapAggregator(0.9, 10, 1)  # type: ignore[call-arg]
    scorer.rouge_types = []  # type: ignore[misc]
    compare(columns, columns, test="permutation")  # type: ignore[arg-type]
    rouge155(["a"], ["b"], units="sentences")  # type: ignore[arg-type]

    tokenizers.Tokenizer()  # type: ignore[abstract]
