"""What the tool shows: the summary table and the progress bar."""

from __future__ import annotations

import time
from collections.abc import Mapping, Sequence
from typing import TextIO

import tallygrams_scorer

MEASURES = ("precision", "recall", "fmeasure")


def column_names(rouge_types: Sequence[str]) -> tuple[str, ...]:
    """The score columns of these types, in the scorer's order: type by type."""
    return tuple(f"{rouge_type}_{measure}" for rouge_type in rouge_types for measure in MEASURES)


def format_table(
    rouge_types: Sequence[str],
    pairs: int,
    left_out: int,
    means: Mapping[str, float],
    intervals: Mapping[str, tallygrams_scorer.Interval] | None,
    samples: int,
    seed: int,
) -> str:
    """The summary: one block of rows per ROUGE type, one row per measure,
    with the mean and, if computed, the interval."""
    counted = f"{pairs} pair" if pairs == 1 else f"{pairs} pairs"
    if intervals is None:
        lines = [f"{counted}; no confidence interval (0 bootstrap resamples)"]
        numbers = ["mean"]
    else:
        lines = [f"{counted}; 95% confidence interval from {samples} bootstrap resamples (seed {seed})"]
        numbers = ["mean", "low", "mid", "high"]
    if left_out:
        lines.append(f"left out: {left_out} {'pair' if left_out == 1 else 'pairs'} with a null text")
    if intervals is not None:
        lines.append("low, mid, high: 2.5th, 50th and 97.5th percentiles of the resampled means")
    lines.append("")
    width = max(7, *(len(rouge_type) + 1 for rouge_type in rouge_types))
    lines.append(f"{'metric':<{width}} {'measure':<10} " + " ".join(f"{h:>6}" for h in numbers))
    for name in column_names(rouge_types):
        rouge_type, measure = name.split("_")
        values = [means[name]]
        if intervals is not None:
            interval = intervals[name]
            values.extend((interval.low, interval.mid, interval.high))
        lines.append(f"{rouge_type:<{width}} {measure:<10} " + " ".join(f"{v:6.4f}" for v in values))
    return "\n".join(lines) + "\n"


class Progress:
    """A one-line progress bar, redrawn in place; silent when not enabled,
    and until `from_pairs` pairs have been counted."""

    WIDTH = 30

    def __init__(self, stream: TextIO, label: str, enabled: bool, from_pairs: int) -> None:
        self._stream = stream
        self._label = label
        self._enabled = enabled
        self._from_pairs = from_pairs
        self._drawn_at = 0.0
        self._shown = False

    def update(self, pairs: int, done: float) -> None:
        """`pairs` scored so far, `done` the share of the input read (0 to 1)."""
        if not self._enabled or pairs < self._from_pairs:
            return
        now = time.monotonic()
        # Redrawing costs a write per call; a few times a second is enough.
        if done < 1 and now - self._drawn_at < 0.1:
            return
        self._drawn_at = now
        filled = int(self.WIDTH * done)
        bar = "#" * filled + "." * (self.WIDTH - filled)
        self._draw(f"{self._label} [{bar}] {int(100 * done):3d}% {pairs} pairs")

    def status(self, pairs: int, text: str) -> None:
        """A line of text in the bar's place, for work without steps to count."""
        if self._enabled and pairs >= self._from_pairs:
            self._draw(f"{self._label} {text}")

    def _draw(self, line: str) -> None:
        self._stream.write(f"\r\x1b[K{line}")
        self._stream.flush()
        self._shown = True

    def close(self) -> None:
        """Erase the bar so that it leaves nothing behind on the terminal."""
        if self._shown:
            self._stream.write("\r\x1b[K")
            self._stream.flush()
            self._shown = False
