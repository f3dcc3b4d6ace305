"""Every configuration of rouge-score's RougeScorer, exact and native."""

from collections.abc import Callable, Iterable, Mapping, Sequence
from typing import Any, Final, Literal, NamedTuple, Protocol, SupportsIndex, TypeAlias, final

from typing_extensions import disjoint_base

__all__ = [
    "__version__",
    "Score",
    "AggregateScore",
    "Interval",
    "Comparison",
    "RougeScorer",
    "BootstrapAggregator",
    "ScoreColumns",
    "score_arrow",
    "score_record_batch",
    "bootstrap",
    "resample_means",
    "compare",
    "accelerate",
    "rouge155",
    "Rouge155Result",
    "Rouge155Figures",
    "Rouge155Interval",
    "Rouge155Counts",
]

__version__: Final[str]

class Score(NamedTuple):
    """One ROUGE type's precision, recall and F-measure."""

    precision: float
    recall: float
    fmeasure: float

class AggregateScore(NamedTuple):
    """The bootstrap interval of each measure: low, mid and high Scores."""

    low: Score
    mid: Score
    high: Score

class Interval(NamedTuple):
    """A column's mean and the bootstrap percentiles of its resampled means."""

    mean: float
    low: float
    mid: float
    high: float

class Comparison(NamedTuple):
    """A column's mean for the baseline and for the system, their difference
    (system - baseline) with its paired-bootstrap interval, and the two-sided
    p-value of the paired test."""

    baseline: float
    system: float
    difference: float
    low: float
    high: float
    p_value: float

class _ArrowExporter(Protocol):
    # Anything with __arrow_c_stream__ or __arrow_c_array__ will do; the
    # stream form is the one every producer of columns offers.
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...

class _TokenizerObject(Protocol):
    def tokenize(self, text: str, /) -> Sequence[str]: ...

_Tokenizer: TypeAlias = None | Literal["unicode"] | _TokenizerObject | Callable[[str], Sequence[str]]

@disjoint_base
class RougeScorer:
    """rouge-score's RougeScorer, natively: the same arguments, the same results."""

    # Configured by __init__, so that a subclass may take arguments of its own.
    def __init__(
        self,
        rouge_types: Sequence[str],
        use_stemmer: bool = False,
        split_summaries: bool = False,
        tokenizer: _Tokenizer = None,
    ) -> None: ...
    @property
    def rouge_types(self) -> list[str]: ...
    def score(self, target: str, prediction: str) -> dict[str, Score]: ...
    def score_multi(self, targets: Iterable[str], prediction: str) -> dict[str, Score]: ...
    # A target is one reference, or a sequence of them (scored as score_multi).
    def score_batch(self, targets: Sequence[str | Sequence[str]], predictions: Sequence[str]) -> list[dict[str, Score]]: ...
    def score_columns(self, targets: Sequence[str | Sequence[str]], predictions: Sequence[str]) -> ScoreColumns: ...
    def score_arrow(self, references: _ArrowExporter, predictions: _ArrowExporter) -> ScoreColumns: ...
    def tokenize(self, text: str) -> list[str]: ...
    def __reduce__(self) -> tuple[Any, ...]: ...
    def __setstate__(self, state: tuple[tuple[Any, ...], dict[str, Any] | None]) -> None: ...

@final
class BootstrapAggregator:
    """Bootstrap confidence intervals of the mean of each measure, as rouge-score's."""

    def __new__(
        cls,
        confidence_interval: float = 0.95,
        n_samples: SupportsIndex = 1000,
        *,
        seed: SupportsIndex | None = None,
    ) -> BootstrapAggregator: ...
    def add_scores(self, scores: Mapping[str, Score]) -> None: ...
    def aggregate(self) -> dict[str, AggregateScore]: ...

@final
class ScoreColumns:
    """Scores of many pairs as named float64 columns; an Arrow record batch and stream."""

    @property
    def column_names(self) -> tuple[str, ...]: ...
    @property
    def num_rows(self) -> int: ...
    def __len__(self) -> int: ...
    def column(self, name: str) -> list[float | None]: ...
    def to_pydict(self) -> dict[str, list[float | None]]: ...
    def __arrow_c_schema__(self) -> object: ...
    def __arrow_c_array__(self, requested_schema: object | None = None) -> tuple[object, object]: ...
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...
    def __reduce__(self) -> tuple[Callable[..., ScoreColumns], tuple[Any, ...]]: ...

def score_arrow(references: _ArrowExporter, predictions: _ArrowExporter) -> ScoreColumns: ...
def score_record_batch(
    batch: object, reference_column: str, prediction_column: str, scorer: RougeScorer | None = None
) -> ScoreColumns: ...
def bootstrap(
    columns: ScoreColumns | Mapping[str, Sequence[float] | memoryview],
    n_samples: SupportsIndex = 1000,
    *,
    seed: SupportsIndex = 0,
    confidence_interval: float = 0.95,
) -> dict[str, Interval]: ...
def resample_means(
    columns: ScoreColumns | Mapping[str, Sequence[float] | memoryview],
    n_samples: int = 1000,
    *,
    seed: int = 0,
) -> dict[str, list[float]]: ...
def compare(
    baseline: ScoreColumns | Mapping[str, Sequence[float] | memoryview],
    system: ScoreColumns | Mapping[str, Sequence[float] | memoryview],
    *,
    test: Literal["bootstrap", "randomization"] = "bootstrap",
    n_samples: int | None = None,
    confidence_interval: float = 0.95,
    seed: int = 0,
) -> dict[str, Comparison]: ...
def accelerate() -> None: ...

class Rouge155Interval(NamedTuple):
    """A figure of the ROUGE-1.5.5 script over an evaluation: its average over the bootstrap resamples and its confidence interval, each as printed."""

    average: float
    low: float
    high: float

class Rouge155Figures(NamedTuple):
    """A measure's recall, precision and F as the script prints them: intervals for an evaluation, floats for one pair."""

    recall: Any
    precision: Any
    f: Any

class Rouge155Counts(NamedTuple):
    """A measure's counts under -t 1 or 2: the references', the prediction's, and the hits."""

    reference: float
    prediction: float
    hits: float

class Rouge155Result(dict[str, Rouge155Figures | Rouge155Counts]):
    """{measure name: figures}, the script's printed text (report()) and, with -d, each pair's figures."""

    per_pair: dict[str, list[Rouge155Figures] | list[Rouge155Counts]] | None
    def report(self) -> str: ...

_Summary: TypeAlias = str | bytes | Sequence[str]

def rouge155(
    predictions: Sequence[_Summary],
    references: Sequence[str | bytes | Sequence[_Summary]],
    options: str | None = "-c 95 -2 4 -U -r 1000 -n 4 -w 1.2 -a",
    *,
    ngrams: int | None = None,
    lcs: bool | None = None,
    weight: float | None = None,
    skip_gap: int | None = None,
    skip_unigrams: bool | Literal["both"] | None = None,
    stemming: bool | None = None,
    remove_stopwords: bool | None = None,
    word_limit: int | None = None,
    byte_limit: int | None = None,
    multi_reference: Literal["average", "best"] | None = None,
    alpha: float | None = None,
    units: Literal["pairs", "tokens", "counts"] | None = None,
    confidence: float | None = None,
    resamples: int | None = None,
    per_pair: bool | None = None,
) -> Rouge155Result: ...
