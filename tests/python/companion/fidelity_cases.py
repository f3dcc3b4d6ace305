"""Uses of rouge-score that its users rely on, written once against the
module names `rouge_scorer` and `scoring`: run with rouge-score's modules or
with ours (the one-line switch), each prints the same line.

usage: fidelity_cases.py {rouge_score|tallygrams_scorer} CASE
"""

import copy
import importlib
import pickle
import sys

import numpy as np


class FalsyTokenizer:
    """A tokenizer object that is false (it has a length of 0)."""

    def __len__(self):
        return 0

    def tokenize(self, text):
        return ["never", "used"]


class SurrogateTokenizer:
    def tokenize(self, text):
        return text.split()


def aggregator_with_scores(rouge_scorer, scoring, **options):
    scorer = rouge_scorer.RougeScorer(["rouge1", "rougeLsum"], use_stemmer=True)
    aggregator = scoring.BootstrapAggregator(**options)
    for target, prediction in [("The cats ran.\nHome.", "the cat runs home"), ("a b c", "a c"), ("x", "y z")]:
        aggregator.add_scores(scorer.score(target, prediction))
    return aggregator


def seeded_aggregate(aggregator):
    np.random.seed(5)
    return aggregator.aggregate()


def subclass(rouge_scorer, scoring):
    class Shouting(rouge_scorer.RougeScorer):
        def __init__(self, rouge_types, suffix):
            super().__init__(rouge_types, use_stemmer=True)
            self.suffix = suffix

        def score(self, target, prediction):
            return super().score(target, prediction + self.suffix)

    scorer = Shouting(["rouge1", "rougeL"], " cats")
    return scorer.score("the cats sat", "a cat"), scorer.suffix, isinstance(scorer, rouge_scorer.RougeScorer)


CASES = {
    "falsy tokenizer object": lambda rouge_scorer, scoring: rouge_scorer.RougeScorer(
        ["rouge1", "rougeL"], use_stemmer=True, tokenizer=FalsyTokenizer()).score("cats ran", "the cat runs"),
    "empty string as tokenizer": lambda rouge_scorer, scoring: rouge_scorer.RougeScorer(
        ["rouge2"], tokenizer="").score("a b c", "a b"),
    "lone surrogates": lambda rouge_scorer, scoring: rouge_scorer.RougeScorer(
        ["rouge1", "rougeLsum"], use_stemmer=True).score("the \ud800cats\nsat\udfff down", "the cat\udc80 sat"),
    "a tokenizer's tokens with lone surrogates": lambda rouge_scorer, scoring: rouge_scorer.RougeScorer(
        ["rouge1", "rougeLsum"], tokenizer=SurrogateTokenizer()).score("a \ud800 b\nc", "a \udc80 \ud800 c"),
    "score_multi over a generator": lambda rouge_scorer, scoring: rouge_scorer.RougeScorer(
        ["rouge1", "rougeL"]).score_multi((text for text in ["a b", "the cat", "cat the"]), "the cat"),
    "aggregate: numpy.float64 bounds": lambda rouge_scorer, scoring: seeded_aggregate(
        aggregator_with_scores(rouge_scorer, scoring)),
    "n_samples as numpy.int64": lambda rouge_scorer, scoring: seeded_aggregate(
        aggregator_with_scores(rouge_scorer, scoring, n_samples=np.int64(5), confidence_interval=np.float64(0.9))),
    "aggregator pickled and loaded": lambda rouge_scorer, scoring: seeded_aggregate(
        pickle.loads(pickle.dumps(aggregator_with_scores(rouge_scorer, scoring, n_samples=50)))),
    "aggregator deep-copied": lambda rouge_scorer, scoring: seeded_aggregate(
        copy.deepcopy(aggregator_with_scores(rouge_scorer, scoring, n_samples=50))),
    "subclass with its own constructor": subclass,
}


def run(implementation, case):
    rouge_scorer = importlib.import_module(implementation + ".rouge_scorer")
    scoring = importlib.import_module(implementation + ".scoring")
    try:
        return repr(CASES[case](rouge_scorer, scoring))
    except Exception as error:  # noqa: BLE001  (the outcome is what is compared)
        return f"{type(error).__name__}: {error}"


if __name__ == "__main__":
    print(run(sys.argv[1], sys.argv[2]))
