"""The names of rouge-score's `scoring` module: `from tallygrams_scorer import
scoring` in place of `from rouge_score import scoring`."""

import abc

from tallygrams_scorer._native import AggregateScore, BootstrapAggregator, RougeScorer, Score

__all__ = ["Score", "AggregateScore", "BootstrapAggregator", "BaseScorer", "fmeasure"]


class BaseScorer(abc.ABC):
    """What a scorer provides: score(target, prediction) -> {name: Score}."""

    @abc.abstractmethod
    def score(self, target, prediction):
        """The Score of each measure of `prediction` against `target`."""


# The native scorer is one, as rouge-score's RougeScorer derives from this.
BaseScorer.register(RougeScorer)


def fmeasure(precision, recall):
    """The harmonic mean of precision and recall, 0.0 when both are 0."""
    # The same operations in the same order as the scorers, so that the
    # result agrees with theirs to the last bit.
    if precision + recall > 0:
        return 2 * precision * recall / (precision + recall)
    return 0.0
