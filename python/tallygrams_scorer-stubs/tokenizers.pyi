import abc

__all__ = ["Tokenizer", "DefaultTokenizer"]

class Tokenizer(abc.ABC):
    """A tokenizer of one's own: derive from this and define tokenize(text)."""

    @abc.abstractmethod
    def tokenize(self, text: str) -> list[str]: ...

class DefaultTokenizer(Tokenizer):
    def __init__(self, use_stemmer: bool = False) -> None: ...
    def tokenize(self, text: str) -> list[str]: ...
