"""What the tool writes: the summary table, per-pair files and the progress bar."""

from __future__ import annotations

import contextlib
import csv
import json
import os
import time
from collections.abc import Sequence
from typing import TextIO

from .stats import Interval

METRICS = ("rouge1", "rouge2", "rougeL")
MEASURES = ("precision", "recall", "fmeasure")
# The nine columns of a batch result, in its own order: metric by metric.
COLUMNS = tuple(f"{metric}_{measure}" for metric in METRICS for measure in MEASURES)

PER_PAIR_SUFFIXES = (".csv", ".jsonl")


def format_table(
    pairs: int,
    means: Sequence[float],
    intervals: Sequence[Interval] | None,
    samples: int,
    seed: int,
) -> str:
    """The summary: one row per column, the mean and, if computed, the interval."""
    counted = f"{pairs} pair" if pairs == 1 else f"{pairs} pairs"
    if intervals is None:
        lines = [f"{counted}; no confidence interval (0 bootstrap resamples)", ""]
        numbers = ["mean"]
    else:
        lines = [
            f"{counted}; 95% confidence interval from {samples} bootstrap resamples (seed {seed})",
            "low, mid, high: 2.5th, 50th and 97.5th percentiles of the resampled means",
            "",
        ]
        numbers = ["mean", "low", "mid", "high"]
    lines.append(f"{'metric':<7} {'measure':<10} " + " ".join(f"{h:>6}" for h in numbers))
    for index, name in enumerate(COLUMNS):
        metric, measure = name.split("_")
        values = [means[index]]
        if intervals is not None:
            values.extend(intervals[index])
        lines.append(f"{metric:<7} {measure:<10} " + " ".join(f"{v:6.4f}" for v in values))
    return "\n".join(lines) + "\n"


def write_per_pair(path: str, columns: Sequence[Sequence[float]]) -> None:
    """Every pair's nine values, one row or record per pair, in input order.

    Floats are written in their shortest exact form, so reading the file back
    gives the very values the scorer returned. The file is written under a
    temporary name and renamed when complete, so a failed write never leaves
    a truncated file that looks like a result.
    """
    rows = zip(*columns)
    temporary = f"{path}.{os.getpid()}.part"
    csv_file = path.lower().endswith(".csv")
    # The file's creation is inside the protected part: a signal handled
    # just as open() returns (Ctrl-C, SIGTERM) must not strand it. A file of
    # that name from before can only be the leftover of a killed process
    # that had this process's id, and goes the same way.
    try:
        with open(temporary, "x", encoding="utf-8", newline="" if csv_file else None) as handle:
            if csv_file:
                writer = csv.writer(handle)
                writer.writerow(COLUMNS)
                writer.writerows(rows)
            else:
                for row in rows:
                    handle.write(json.dumps(dict(zip(COLUMNS, row))))
                    handle.write("\n")
        os.replace(temporary, path)
    except BaseException:
        with contextlib.suppress(FileNotFoundError):
            os.remove(temporary)
        raise


class Progress:
    """A one-line progress bar, redrawn in place; silent when not enabled."""

    WIDTH = 30

    def __init__(self, stream: TextIO, label: str, total: int, enabled: bool) -> None:
        self._stream = stream
        self._label = label
        self._total = max(total, 1)
        self._enabled = enabled
        self._drawn_at = 0.0
        self._shown = False

    def update(self, done: int) -> None:
        if not self._enabled:
            return
        now = time.monotonic()
        # Redrawing costs a write per call; a few times a second is enough.
        if done < self._total and now - self._drawn_at < 0.1:
            return
        self._drawn_at = now
        filled = self.WIDTH * done // self._total
        bar = "#" * filled + "." * (self.WIDTH - filled)
        percent = 100 * done // self._total
        self._stream.write(f"\r{self._label} [{bar}] {percent:3d}% {done}/{self._total}")
        self._stream.flush()
        self._shown = True

    def close(self) -> None:
        """Erase the bar so that it leaves nothing behind on the terminal."""
        if self._shown:
            self._stream.write("\r\x1b[K")
            self._stream.flush()
            self._shown = False
