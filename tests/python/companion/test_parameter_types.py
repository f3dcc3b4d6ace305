"""Every parameter of a given type takes its argument by the same rule and
refuses it with the same message, whichever function it belongs to."""

import math
from fractions import Fraction

import numpy as np
import pyarrow as pa
import pytest

import tallygrams
import tallygrams_scorer

COLUMNS = {"x": [0.25, 0.5, 1.0]}
BATCH = pa.record_batch({"ref": ["a b"], "pred": ["a"]})

# One call per function and parameter, given the argument under test.
COUNTS = {
    "bootstrap": lambda v: tallygrams_scorer.bootstrap(COLUMNS, n_samples=v),
    "BootstrapAggregator": lambda v: tallygrams_scorer.BootstrapAggregator(n_samples=v),
}
SEEDS = {
    "bootstrap": lambda v: tallygrams_scorer.bootstrap(COLUMNS, 10, seed=v),
    "BootstrapAggregator": lambda v: tallygrams_scorer.BootstrapAggregator(seed=v),
}
UNIT_INTERVALS = {
    "bootstrap": lambda v: tallygrams_scorer.bootstrap(COLUMNS, 10, confidence_interval=v),
    "BootstrapAggregator": lambda v: tallygrams_scorer.BootstrapAggregator(confidence_interval=v),
}
TEXTS = {
    "score": (lambda v: tallygrams.score(v, "a"), "reference"),
    "ScoreColumns.column": (lambda v: tallygrams_scorer.score_record_batch(BATCH, "ref", "pred").column(v), "name"),
    "score_record_batch": (lambda v: tallygrams_scorer.score_record_batch(BATCH, v, "pred"), "reference_column"),
}
SEQUENCES_OF_TEXTS = {
    "score_batch": lambda v: tallygrams_scorer.RougeScorer(["rouge1"]).score_batch(v, ["a"]),
    "score_columns": lambda v: tallygrams_scorer.RougeScorer(["rouge1"]).score_columns(v, ["a"]),
}


def refusal(call, value):
    with pytest.raises(Exception) as info:
        call(value)
    return type(info.value), str(info.value), getattr(info.value, "__notes__", None)


def cases(table, refused):
    return [pytest.param(call, value, expected, id=f"{name}-{value!r}")
            for name, call in table.items() for value, expected in refused]


# (argument, (exception, message, notes)) for each type; the parameter's
# name is "n_samples", "seed" or "confidence_interval" in every function.
REFUSED_COUNTS = [
    (True, (TypeError, "'bool' object is not an instance of 'int'", ["while processing 'n_samples'"])),
    (2.0, (TypeError, "'float' object is not an instance of 'int'", ["while processing 'n_samples'"])),
    ("5", (TypeError, "'str' object is not an instance of 'int'", ["while processing 'n_samples'"])),
    (0, (ValueError, "n_samples must be positive", None)),
    (np.int8(-3), (ValueError, "n_samples must be positive", None)),
    (-2**70, (ValueError, "n_samples must be positive", None)),
    (2**63, (ValueError, "n_samples is too large", None)),
]
REFUSED_SEEDS = [
    (False, (TypeError, "'bool' object is not an instance of 'int'", ["while processing 'seed'"])),
    (1.5, (TypeError, "'float' object is not an instance of 'int'", ["while processing 'seed'"])),
    (-1, (ValueError, "seed must be an int from 0 to 2**64 - 1", None)),
    (2**64, (ValueError, "seed must be an int from 0 to 2**64 - 1", None)),
]
REFUSED_UNIT_INTERVALS = [
    (1.5, (ValueError, "confidence_interval must be in range [0, 1]", None)),
    (-0.0001, (ValueError, "confidence_interval must be in range [0, 1]", None)),
    (math.nan, (ValueError, "confidence_interval must be in range [0, 1]", None)),
    ("0.5", (TypeError, "must be real number, not str", ["while processing 'confidence_interval'"])),
]


@pytest.mark.parametrize("call, value, expected", cases(COUNTS, REFUSED_COUNTS) + cases(SEEDS, REFUSED_SEEDS)
                         + cases(UNIT_INTERVALS, REFUSED_UNIT_INTERVALS))
def test_numbers_are_refused_alike(call, value, expected):
    assert refusal(call, value) == expected


@pytest.mark.parametrize("table, plain, alike", [
    (COUNTS, 20, [np.int64(20), np.uint16(20)]),
    (SEEDS, 7, [np.uint64(7), np.int32(7)]),
    (UNIT_INTERVALS, 0.5, [Fraction(1, 2), np.float32(0.5)]),
])
def test_numbers_of_other_types_count_as_their_value(table, plain, alike):
    def outcome(made):
        if isinstance(made, tallygrams_scorer.BootstrapAggregator):
            for x in range(4):
                made.add_scores({"a": x / 4})
            np.random.seed(0)
            return made.aggregate()
        return made

    for name, call in table.items():
        for value in alike:
            assert outcome(call(value)) == outcome(call(plain)), (name, value)


@pytest.mark.parametrize("name", TEXTS)
@pytest.mark.parametrize("value, kind, message", [
    (1, TypeError, "'int' object is not an instance of 'str'"),
    (None, TypeError, "'None' is not an instance of 'str'"),
    (b"ref", TypeError, "'bytes' object is not an instance of 'str'"),
    ("\ud800", UnicodeEncodeError, None),
])
def test_texts_are_refused_alike(name, value, kind, message):
    call, parameter = TEXTS[name]
    refused = refusal(call, value)
    assert refused[0] is kind and refused[2] == [f"while processing '{parameter}'"]
    assert message is None or refused[1] == message


@pytest.mark.parametrize("name", SEQUENCES_OF_TEXTS)
@pytest.mark.parametrize("value, message", [
    ("ab", "expected a sequence of texts, not a single str"),
    (5, "'int' object is not an instance of 'Sequence'"),
    ({"a": 1}, "'dict' object is not an instance of 'Sequence'"),
])
def test_sequences_of_texts_are_refused_alike(name, value, message):
    assert refusal(SEQUENCES_OF_TEXTS[name], value) == (TypeError, message, ["while processing 'targets'"])


def test_a_truth_value_that_cannot_be_read_names_its_parameter():
    class Undecided:
        def __bool__(self):
            raise RuntimeError("undecided")

    for parameter in ("use_stemmer", "split_summaries"):
        assert refusal(lambda v: tallygrams_scorer.RougeScorer(["rouge1"], **{parameter: v}), Undecided()) == \
            (RuntimeError, "undecided", [f"while processing '{parameter}'"])
