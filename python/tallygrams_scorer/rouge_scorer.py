"""The names of rouge-score's `rouge_scorer` module: `from tallygrams_scorer
import rouge_scorer` in place of `from rouge_score import rouge_scorer`."""

from tallygrams_scorer import scoring, tokenizers  # noqa: F401  (rouge-score's module has them too)
from tallygrams_scorer._native import RougeScorer

__all__ = ["RougeScorer"]
