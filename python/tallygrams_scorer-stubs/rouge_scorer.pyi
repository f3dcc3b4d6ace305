from tallygrams_scorer import RougeScorer as RougeScorer
from tallygrams_scorer import scoring as scoring
from tallygrams_scorer import tokenizers as tokenizers

__all__ = ["RougeScorer"]
