"""The names of rouge-score's `tokenizers` module: `from tallygrams_scorer
import tokenizers` in place of `from rouge_score import tokenizers`."""

import abc

from tallygrams_scorer._native import RougeScorer

__all__ = ["Tokenizer", "DefaultTokenizer"]


class Tokenizer(abc.ABC):
    """A tokenizer of one's own: derive from this and define tokenize(text)."""

    @abc.abstractmethod
    def tokenize(self, text):
        """The list of tokens of `text`."""
        raise NotImplementedError("Tokenizer must override tokenize() method")


class DefaultTokenizer(Tokenizer):
    """The tokenizer RougeScorer uses when given none: runs of ASCII letters
    and digits, lower-cased, and Porter-stemmed (words longer than three
    characters) when `use_stemmer` is true.

    RougeScorer(tokenizer=DefaultTokenizer(s)) gives the numbers of
    RougeScorer(use_stemmer=s), calling tokenize() for each text;
    RougeScorer(use_stemmer=s) tokenizes without calling back into Python.
    """

    def __init__(self, use_stemmer=False):
        self._scorer = RougeScorer(["rouge1"], use_stemmer=use_stemmer)

    def tokenize(self, text):
        return self._scorer.tokenize(text)
