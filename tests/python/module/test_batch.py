"""score_batch and score_batch_flat: values, shapes and argument handling."""

import threading
from collections.abc import Sequence

import pytest

import tallygrams
import textgen
from misbehaving import GetItemOnly, LyingLength
from tallygrams import score, score_batch, score_batch_flat

COLUMNS = [f"{m}_{s}" for m in ("rouge1", "rouge2", "rougeL") for s in ("precision", "recall", "fmeasure")]


def nine(result):
    return [getattr(result[m], s) for m in ("rouge1", "rouge2", "rougeL") for s in ("precision", "recall", "fmeasure")]


def flat_rows(result):
    columns = [getattr(result, name) for name in COLUMNS]
    return [list(row) for row in zip(*columns)]


@pytest.mark.parametrize("count", [0, 1, 2, 3, 257, 2000])
def test_batches_equal_single_pair_scoring(count):
    pairs = textgen.pairs(count, count)
    references = [r for r, _ in pairs]
    predictions = [p for _, p in pairs]
    expected = [nine(score(r, p)) for r, p in pairs]
    listed = score_batch(references, predictions)
    assert [list(d) for d in listed] == [["rouge1", "rouge2", "rougeL"]] * count
    assert [nine(d) for d in listed] == expected
    flat = score_batch_flat(references, predictions)
    assert all(len(getattr(flat, name)) == count for name in COLUMNS)
    assert flat_rows(flat) == expected


def test_every_dict_and_score_is_distinct():
    result = score_batch(["a b"] * 1000, ["a b"] * 1000)
    assert len({id(d) for d in result}) == 1000
    assert len({id(s) for d in result for s in d.values()}) == 3000
    assert all(nine(d) == [1.0] * 9 for d in result)


def test_keywords_and_mixed_sequence_types():
    assert [nine(d) for d in score_batch(predictions=["b"], references=["a"])] == [
        nine(d) for d in score_batch(["a"], ["b"])
    ]
    assert len(score_batch(("a", "b"), ["a", "c"])) == 2
    assert flat_rows(score_batch_flat(predictions=("x y",), references=["x y"])) == [[1.0] * 9]


class Subclassed(str):
    pass


@pytest.mark.parametrize(
    "references",
    [
        LyingLength(["a b", "c"], RuntimeError("no length")),
        LyingLength(["a b", "c"], 0),
        LyingLength(["a b", "c"], 10**15),
        GetItemOnly(["a b", "c"]),
        [Subclassed("a b"), Subclassed("c")],
        ("a b", "c"),
    ],
    ids=["len-raises", "len-too-small", "len-absurd", "getitem-only", "str-subclass-elements", "tuple"],
)
def test_acceptance_goes_by_iteration(references):
    expected = [nine(score("a b", "a b")), nine(score("c", "c"))]
    assert [nine(d) for d in score_batch(references, ["a b", "c"])] == expected
    assert flat_rows(score_batch_flat(references, ["a b", "c"])) == expected


class RegisteredOnly:
    pass


Sequence.register(RegisteredOnly)


def element_error(kind):
    raise kind


ERRORS = [
    # (references, predictions, exception type, message or None, noted argument)
    ("abc", ["x"], TypeError, "Can't extract `str` to `Vec`", "references"),
    (["x"], Subclassed("abc"), TypeError, "Can't extract `str` to `Vec`", "predictions"),
    ((c for c in "ab"), ["a", "b"], TypeError, "'generator' object is not an instance of 'Sequence'", "references"),
    ({"a"}, ["a"], TypeError, "'set' object is not an instance of 'Sequence'", "references"),
    ({"a": 1}, ["a"], TypeError, "'dict' object is not an instance of 'Sequence'", "references"),
    (None, [], TypeError, "'None' is not an instance of 'Sequence'", "references"),
    (["a"], 5, TypeError, "'int' object is not an instance of 'Sequence'", "predictions"),
    (RegisteredOnly(), [], TypeError, "'RegisteredOnly' object is not an instance of 'Sequence'", "references"),
    (["a", 1], ["b"], TypeError, "'int' object is not an instance of 'str'", "references"),
    (["a"], ["b", None], TypeError, "'None' is not an instance of 'str'", "predictions"),
    (b"ab", ["a", "b"], TypeError, "'int' object is not an instance of 'str'", "references"),
    (bytearray(b"a"), ["a"], TypeError, "'int' object is not an instance of 'str'", "references"),
    (range(2), ["a", "b"], TypeError, "'int' object is not an instance of 'str'", "references"),
    (["ok", "\ud800"], ["a", "b"], UnicodeEncodeError, None, "references"),
    (["a", "b"], ["a", "b\udfff"], UnicodeEncodeError, None, "predictions"),
    # A type error anywhere beats the length error; references beat predictions.
    ([1], ["a", "b"], TypeError, "'int' object is not an instance of 'str'", "references"),
    (["a"], ["b", 2], TypeError, "'int' object is not an instance of 'str'", "predictions"),
    ([1], [2], TypeError, "'int' object is not an instance of 'str'", "references"),
    (LyingLength(["a"], ZeroDivisionError("len")), [None], TypeError, "'None' is not an instance of 'str'", "predictions"),
    (GetItemOnly(None), ["a"], TypeError, "'NoneType' object is not subscriptable", "references"),
]


@pytest.mark.parametrize("function", [score_batch, score_batch_flat], ids=lambda f: f.__name__)
@pytest.mark.parametrize("references, predictions, kind, message, argument", ERRORS)
def test_extraction_errors(function, references, predictions, kind, message, argument):
    with pytest.raises(kind) as info:
        function(references, predictions)
    assert type(info.value) is kind
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{argument}'"]


@pytest.mark.parametrize("function", [score_batch, score_batch_flat], ids=lambda f: f.__name__)
def test_length_mismatch(function):
    with pytest.raises(ValueError) as info:
        function(["a"], ["b", "c"])
    assert str(info.value) == "references and predictions must have the same length"
    assert not hasattr(info.value, "__notes__")


@pytest.mark.parametrize("function", [score_batch, score_batch_flat], ids=lambda f: f.__name__)
@pytest.mark.parametrize(
    "args, kwargs, template",
    [
        ((), {}, "{}() missing 2 required positional arguments: 'references' and 'predictions'"),
        ((["a"],), {}, "{}() missing 1 required positional argument: 'predictions'"),
        (([], [], []), {}, "{}() takes 2 positional arguments but 3 were given"),
        (([],), {"references": []}, "{}() got multiple values for argument 'references'"),
        (([], []), {"reference": []}, "{}() got an unexpected keyword argument 'reference'"),
    ],
)
def test_binding_errors(function, args, kwargs, template):
    with pytest.raises(TypeError) as info:
        function(*args, **kwargs)
    assert str(info.value) == template.format(function.__name__)


def test_iteration_errors_pass_through_with_the_note():
    class Exploding(list):
        def __iter__(self):
            yield "fine"
            raise KeyError("inside iteration")

    with pytest.raises(KeyError) as info:
        score_batch(["a", "b"], Exploding())
    assert info.value.args == ("inside iteration",)
    assert info.value.__notes__ == ["while processing 'predictions'"]


def test_flat_result_class():
    result = score_batch_flat([], [])
    cls = type(result)
    assert cls is tallygrams.BatchScoreResult
    assert (cls.__name__, cls.__qualname__, cls.__module__) == ("BatchScoreResult", "BatchScoreResult", "tallygrams")
    assert cls.__doc__ == "Column-oriented ROUGE scores returned by `score_batch_flat`."
    assert all(getattr(result, name) == [] for name in COLUMNS)
    assert all(getattr(cls, name).__doc__ is None for name in COLUMNS)


def test_flat_columns_are_fresh_lists():
    result = score_batch_flat(["a b", "c"], ["a", "c"])
    first = result.rouge1_precision
    second = result.rouge1_precision
    assert first == second and first is not second
    first.append(0.5)
    assert result.rouge1_precision == second


@pytest.mark.parametrize(
    "attempt, error",
    [
        (lambda r: tallygrams.BatchScoreResult(), TypeError),
        (lambda r: type("Sub", (tallygrams.BatchScoreResult,), {}), TypeError),
        (lambda r: setattr(r, "rouge1_recall", []), AttributeError),
        (lambda r: delattr(r, "rougeL_fmeasure"), AttributeError),
        (lambda r: setattr(r, "other", 1), AttributeError),
        (lambda r: len(r), TypeError),
        (lambda r: r[0], TypeError),
        (lambda r: iter(r), TypeError),
    ],
)
def test_flat_result_refusals(attempt, error):
    with pytest.raises(error):
        attempt(score_batch_flat(["a"], ["a"]))


def test_function_metadata():
    for function in (score_batch, score_batch_flat):
        assert function.__text_signature__ == "(references, predictions)"
        assert function.__module__ == "tallygrams"
        assert function.__self__ is None
    assert score_batch.__doc__.startswith("Score equally sized reference and prediction sequences in parallel.")
    assert score_batch_flat.__doc__.startswith("Score equally sized sequences and return nine metric columns")


def test_concurrent_python_threads_get_their_own_results():
    batches = [textgen.pairs(100 + t, 400) for t in range(6)]
    expected = [[nine(score(r, p)) for r, p in pairs] for pairs in batches]
    outcomes = [None] * len(batches)

    def work(t):
        references = [r for r, _ in batches[t]]
        predictions = [p for _, p in batches[t]]
        results = []
        for round_ in range(5):
            if (t + round_) % 2:
                results.append(flat_rows(score_batch_flat(references, predictions)))
            else:
                results.append([nine(d) for d in score_batch(references, predictions)])
        outcomes[t] = results

    threads = [threading.Thread(target=work, args=(t,)) for t in range(len(batches))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for t, results in enumerate(outcomes):
        assert results == [expected[t]] * 5
