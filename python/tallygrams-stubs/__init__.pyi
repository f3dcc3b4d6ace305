"""ROUGE-1, ROUGE-2 and ROUGE-L scoring with stemming disabled."""

from collections.abc import Sequence
from typing import Final, Literal, Never, TypeAlias, final

__all__ = ["__version__", "Score", "BatchScoreResult", "score", "score_batch", "score_batch_flat"]

__version__: Final[str]

_Metric: TypeAlias = Literal["rouge1", "rouge2", "rougeL"]

@final
class Score:
    """Precision, recall, and F-measure values for one ROUGE metric."""

    # Instances come only from the scoring functions: no call of the class
    # type-checks, as none succeeds at run time.
    def __init__(self, cannot_be_instantiated: Never, /) -> None: ...
    @property
    def precision(self) -> float: ...
    @property
    def recall(self) -> float: ...
    @property
    def fmeasure(self) -> float: ...

@final
class BatchScoreResult:
    """Column-oriented ROUGE scores returned by `score_batch_flat`.

    Each attribute read builds a new list; keep it for repeated access.
    """

    def __init__(self, cannot_be_instantiated: Never, /) -> None: ...
    @property
    def rouge1_precision(self) -> list[float]: ...
    @property
    def rouge1_recall(self) -> list[float]: ...
    @property
    def rouge1_fmeasure(self) -> list[float]: ...
    @property
    def rouge2_precision(self) -> list[float]: ...
    @property
    def rouge2_recall(self) -> list[float]: ...
    @property
    def rouge2_fmeasure(self) -> list[float]: ...
    @property
    def rougeL_precision(self) -> list[float]: ...
    @property
    def rougeL_recall(self) -> list[float]: ...
    @property
    def rougeL_fmeasure(self) -> list[float]: ...

def score(reference: str, prediction: str) -> dict[_Metric, Score]:
    """Score one reference/prediction pair with ROUGE-1, ROUGE-2, and ROUGE-L."""

# A lone str is a Sequence[str] to a type checker, but is refused at run time
# with TypeError: pass a list or tuple of texts.
def score_batch(references: Sequence[str], predictions: Sequence[str]) -> list[dict[_Metric, Score]]:
    """Score equally sized reference and prediction sequences in parallel."""

def score_batch_flat(references: Sequence[str], predictions: Sequence[str]) -> BatchScoreResult:
    """Score equally sized sequences and return nine metric columns in input order."""
