"""Differential test: every float must equal the pure-Python scorer's, bit for bit."""

import pytest
from rouge_score import rouge_scorer

import tallygrams
import textgen

METRICS = ("rouge1", "rouge2", "rougeL")


@pytest.fixture(scope="module")
def oracle():
    return rouge_scorer.RougeScorer(list(METRICS), use_stemmer=False)


def as_tuples(result):
    return {m: (result[m].precision, result[m].recall, result[m].fmeasure) for m in METRICS}


def oracle_tuples(oracle, reference, prediction):
    expected = oracle.score(reference, prediction)
    return {m: (expected[m].precision, expected[m].recall, expected[m].fmeasure) for m in METRICS}


@pytest.mark.parametrize("seed", range(4))
def test_generated_pairs_match_oracle_exactly(oracle, seed):
    for reference, prediction in textgen.pairs(seed, 800):
        # Tuples of floats compare with ==, which is exact for non-NaN values.
        assert as_tuples(tallygrams.score(reference, prediction)) == oracle_tuples(
            oracle, reference, prediction
        ), (reference, prediction)


def test_long_pairs_match_oracle_exactly(oracle):
    for reference, prediction in textgen.pairs(99, 20, max_words=400):
        assert as_tuples(tallygrams.score(reference, prediction)) == oracle_tuples(
            oracle, reference, prediction
        )
