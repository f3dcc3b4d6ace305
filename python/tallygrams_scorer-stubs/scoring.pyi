import abc

from tallygrams_scorer import AggregateScore as AggregateScore
from tallygrams_scorer import BootstrapAggregator as BootstrapAggregator
from tallygrams_scorer import Score as Score

__all__ = ["Score", "AggregateScore", "BootstrapAggregator", "BaseScorer", "fmeasure"]

class BaseScorer(abc.ABC):
    """What a scorer provides: score(target, prediction) -> {name: Score}."""

    @abc.abstractmethod
    def score(self, target: str, prediction: str) -> dict[str, Score]: ...

def fmeasure(precision: float, recall: float) -> float: ...
