"""News-style summaries for rouge155: a reference of two to four sentences
from the prose bank of corpus.py, one sentence per line; a second reference
and a prediction made from it by dropping, replacing, adding and moving
words, cut into sentences of their own. No files, no network."""

from __future__ import annotations

import corpus


def _sentences(words: list[str], rng) -> list[str]:
    out: list[str] = []
    current: list[str] = []
    for word in words:
        current.append(word)
        if word.endswith(".") or (len(current) > 12 and rng.random() < 0.1):
            out.append(" ".join(current))
            current = []
    if current:
        out.append(" ".join(current))
    return out


def news_pairs(count: int, references: int = 2, seed: int = 1) -> tuple[list[str], list[list[str]]]:
    """`count` predictions, each with `references` references; every summary a str, one sentence per line."""
    prose = corpus.Prose(seed)
    rng = prose.rng
    bank = [sentence.split() for sentence in corpus.SENTENCES]
    predictions: list[str] = []
    referenced: list[list[str]] = []
    for _ in range(count):
        chosen = rng.sample(range(len(bank)), rng.randint(2, 4))
        words = [word for k in chosen for word in bank[k]]
        several = ["\n".join(" ".join(bank[k]) for k in chosen)]
        several += ["\n".join(_sentences(prose.edit(words), rng)) for _ in range(references - 1)]
        predictions.append("\n".join(_sentences(prose.edit(words), rng)))
        referenced.append(several)
    return predictions, referenced
