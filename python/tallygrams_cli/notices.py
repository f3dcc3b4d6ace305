"""What the tool learns about the texts while they are scored, for the
warnings after the run and the signature:

- how many letters the default tokenizer drops: it keeps only ASCII
  letters and digits, so Russian or Chinese text scores near 0 without a
  word. It is estimated on a sample of each batch (its first texts, up
  to SAMPLE_BYTES), which costs nothing measurable;
- whether any text has a line break, which rougeLsum needs to see more
  than one sentence;
- the fewest and the most references of a prediction.
"""

from __future__ import annotations

import re
from typing import Any

SAMPLE_BYTES = 16 << 10
SAMPLE_TEXTS = 64
# Letters counted at most: enough to tell the share.
SAMPLE_LIMIT = 1 << 20
# Share of letters dropped from which the tool warns.
DROPPED_SHARE = 0.10
_NOT_ASCII_LETTERS = bytes(b for b in range(256) if not (65 <= b <= 90 or 97 <= b <= 122))
_NON_ASCII = re.compile(r"[^\x00-\x7f]+")


class TextNotes:
    def __init__(self, count_letters: bool, look_for_breaks: bool) -> None:
        self._count_letters = count_letters
        self.letters = 0
        self.dropped = 0
        # Known to be true without looking once True.
        self.line_break = not look_for_breaks
        self._breaks_impossible = False
        self.fewest_references: int | None = None
        self.most_references: int | None = None

    def without_breaks(self) -> None:
        """The texts cannot hold a line break (lines of a file): none is
        looked for, and rougeLsum will be said to equal rougeL."""
        self._breaks_impossible = True

    def references(self, fewest: int, most: int) -> None:
        self.fewest_references = fewest if self.fewest_references is None else min(self.fewest_references, fewest)
        self.most_references = most if self.most_references is None else max(self.most_references, most)

    def _looking(self) -> bool:
        return not self.line_break and not self._breaks_impossible

    def texts(self, texts: Any) -> None:
        """Look at a batch of texts: a list of str (or of lists of str), or
        an Arrow array."""
        if not isinstance(texts, list):
            self._arrow(texts)
            return
        sample = []
        size = 0
        for text in texts:
            if isinstance(text, list):
                text = "\n".join(text)
            if self._looking() and "\n" in text:
                self.line_break = True
            if size < SAMPLE_BYTES:
                sample.append(text)
                size += len(text)
            elif not self._looking():
                break
        if self._count_letters and self.letters < SAMPLE_LIMIT:
            self._count("".join(sample).encode("utf-8", "surrogatepass"))

    def _arrow(self, texts: Any) -> None:
        import pyarrow  # type: ignore[import-untyped]
        import pyarrow.compute as pc  # type: ignore[import-untyped]

        if isinstance(texts, pyarrow.ChunkedArray):
            for chunk in texts.chunks:
                self._arrow(chunk)
            return
        if self._looking() and len(texts):
            self.line_break = bool(pc.any(pc.match_substring(texts, "\n")).as_py())
        if self._count_letters and len(texts) and self.letters < SAMPLE_LIMIT:
            sample = texts.slice(0, SAMPLE_TEXTS)
            if pyarrow.types.is_string_view(texts.type):
                sample = sample.cast(pyarrow.binary())
            else:
                binary = pyarrow.large_binary() if pyarrow.types.is_large_string(texts.type) else pyarrow.binary()
                sample = sample.view(binary)
            self._count(b"".join(value for value in sample.to_pylist() if value is not None)[:SAMPLE_BYTES])

    def _count(self, sample: bytes) -> None:
        ascii_letters = len(sample.translate(None, _NOT_ASCII_LETTERS))
        dropped = 0
        if not sample.isascii():
            text = sample.decode("utf-8", "ignore")
            dropped = sum(1 for run in _NON_ASCII.findall(text) for char in run if char.isalpha())
        self.letters += ascii_letters + dropped
        self.dropped += dropped

    def dropped_share(self) -> float:
        return self.dropped / self.letters if self.letters else 0.0

    def warnings(self, rouge_lsum: bool) -> list[str]:
        found = []
        if self._count_letters and self.dropped_share() > DROPPED_SHARE:
            found.append(f"the default tokenizer dropped {100 * self.dropped_share():.0f}% of the letters "
                         "(it keeps only a-z, A-Z and 0-9, as rouge-score); --tokenizer unicode keeps the words "
                         "of every script")
        if rouge_lsum and not self.line_break:
            found.append("no text has a line break, so rougeLsum equals rougeL here: mark sentence ends with "
                         "--sentence-separator SEP, or split them with --split-summaries")
        return found
