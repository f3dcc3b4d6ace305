"""What the tool shows: the summary in each of its formats, and the progress
bar.

A run's results are one `Summary`; `render(summary, format, figures)` gives
its text in a format of FORMATS:

- `text`: the table for people, the signature under it;
- `json`: every number with every digit, the counts and the settings;
- `csv`: rouge-score's `score_type,low,mid,high` rows (types sorted, R, P,
  F), followed by the columns `mean,pairs,left_out,signature`;
- `latex`: a `tabular` of one row per ROUGE type, ready for a paper.

`Figures` says how numbers are shown: `scale` 1 or 100 applies to every
format, `digits` (decimals) to text and LaTeX; JSON and CSV keep every
digit of the scaled value. Other commands (`compare`, `rouge155`) reuse
`Figures`, `number`, `percentiles_line` and `display_name`.
"""

from __future__ import annotations

import csv
import dataclasses
import io
import json
import sys
import time
from collections.abc import Mapping, Sequence
from typing import Any, ClassVar, TextIO

import tallygrams_scorer

from .signature import Signature, percent

MEASURES = ("precision", "recall", "fmeasure")
FORMATS = ("text", "json", "csv", "latex")
SCALES = (1, 100)
_CSV_ROWS = (("R", "recall"), ("P", "precision"), ("F", "fmeasure"))


def column_names(rouge_types: Sequence[str]) -> tuple[str, ...]:
    """The score columns of these types, in the scorer's order: type by type."""
    return tuple(f"{rouge_type}_{measure}" for rouge_type in rouge_types for measure in MEASURES)


def display_name(rouge_type: str) -> str:
    """rouge1 as ROUGE-1, rougeLsum as ROUGE-Lsum: the names papers print."""
    return "ROUGE-" + rouge_type[len("rouge"):]


@dataclasses.dataclass(frozen=True)
class Figures:
    scale: int = 1
    # Decimals shown in text and LaTeX; None: 4 at scale 1, 2 at scale 100.
    digits: int | None = None

    @property
    def decimals(self) -> int:
        if self.digits is not None:
            return self.digits
        return 4 if self.scale == 1 else 2

    def scaled(self, value: float | None) -> float | None:
        return None if value is None else value * self.scale


def number(value: float, figures: Figures) -> str:
    """A value as text and LaTeX show it: scaled, rounded to the decimals."""
    return f"{value * figures.scale:.{figures.decimals}f}"


def percentiles_line(confidence: float) -> str:
    """What low, mid and high are, for a table's header."""
    tail = (1 - confidence) / 2
    return (f"low, mid, high: {_ordinal(100 * tail)}, 50th and {_ordinal(100 * (1 - tail))} "
            "percentiles of the resampled means")


def _ordinal(value: float) -> str:
    shown = f"{round(value, 10):g}"
    if shown.endswith(("11", "12", "13")) or "." in shown:
        return f"{shown}th"
    return shown + {"1": "st", "2": "nd", "3": "rd"}.get(shown[-1], "th")


@dataclasses.dataclass(frozen=True)
class Summary:
    """A run's results: the mean of each score column over the pairs scored,
    and the interval of each when one was computed."""

    rouge_types: tuple[str, ...]
    pairs: int
    # Pairs with a null text, not scored.
    left_out: int
    means: Mapping[str, float]
    intervals: Mapping[str, tallygrams_scorer.Interval] | None
    signature: Signature

    def counted(self) -> str:
        return f"{self.pairs} pair" if self.pairs == 1 else f"{self.pairs} pairs"

    def values(self, name: str) -> list[float | None]:
        """mean, low, mid, high of a column (None for a missing interval)."""
        interval = self.intervals[name] if self.intervals is not None else None
        return [self.means[name], *(interval[1:] if interval is not None else (None, None, None))]


def _text(summary: Summary, figures: Figures) -> str:
    signature = summary.signature
    if summary.intervals is None:
        lines = [f"{summary.counted()}; no confidence interval (0 bootstrap resamples)"]
        headers = ["mean"]
    else:
        assert signature.confidence is not None
        lines = [f"{summary.counted()}; {percent(signature.confidence)} confidence interval from "
                 f"{signature.resamples} bootstrap resamples (seed {signature.seed})"]
        headers = ["mean", "low", "mid", "high"]
    if summary.left_out:
        lines.append(f"left out: {summary.left_out} {'pair' if summary.left_out == 1 else 'pairs'} with a null text")
    if summary.intervals is not None:
        assert signature.confidence is not None
        lines.append(percentiles_line(signature.confidence))
    if figures.scale != 1:
        lines.append(f"figures times {figures.scale}")
    rows = []
    for name in column_names(summary.rouge_types):
        rouge_type, measure = name.split("_")
        shown = [number(value, figures) for value in summary.values(name)[:len(headers)] if value is not None]
        rows.append((rouge_type, measure, shown))
    width = max(7, *(len(rouge_type) + 1 for rouge_type in summary.rouge_types))
    cell = max(6, *(len(value) for _, _, shown in rows for value in shown))
    lines.append("")
    lines.append(f"{'metric':<{width}} {'measure':<10} " + " ".join(f"{h:>{cell}}" for h in headers))
    for rouge_type, measure, shown in rows:
        lines.append(f"{rouge_type:<{width}} {measure:<10} " + " ".join(f"{v:>{cell}}" for v in shown))
    lines.append("")
    lines.append(str(signature))
    return "\n".join(lines) + "\n"


def _json(summary: Summary, figures: Figures) -> str:
    scores: dict[str, dict[str, dict[str, float | None]]] = {}
    for rouge_type in summary.rouge_types:
        scores[rouge_type] = {}
        for measure in MEASURES:
            values = summary.values(f"{rouge_type}_{measure}")
            scores[rouge_type][measure] = dict(zip(("mean", "low", "mid", "high"), map(figures.scaled, values)))
    signature = summary.signature
    document: dict[str, Any] = {
        "pairs": summary.pairs,
        "left_out": summary.left_out,
        "bootstrap_samples": signature.resamples if summary.intervals is not None else 0,
        "seed": signature.seed,
        "confidence_interval": signature.confidence,
        "scale": figures.scale,
        "signature": str(signature),
        "scores": scores,
    }
    return json.dumps(document, indent=2) + "\n"


def _csv(summary: Summary, figures: Figures) -> str:
    text = io.StringIO()
    rows = csv.writer(text, lineterminator="\n")
    rows.writerow(["score_type", "low", "mid", "high", "mean", "pairs", "left_out", "signature"])
    for rouge_type in sorted(summary.rouge_types):
        for letter, measure in _CSV_ROWS:
            mean, *bounds = map(figures.scaled, summary.values(f"{rouge_type}_{measure}"))
            cells = ["" if value is None else repr(value) for value in (*bounds, mean)]
            rows.writerow([f"{rouge_type}-{letter}", *cells, summary.pairs, summary.left_out, str(summary.signature)])
    return text.getvalue()


def _latex(summary: Summary, figures: Figures) -> str:
    lines = [f"% {summary.signature}"]
    if summary.intervals is not None:
        assert summary.signature.confidence is not None
        lines.append(f"% mean [low, high]: {percent(summary.signature.confidence)} bootstrap confidence interval")
    lines += [r"\begin{tabular}{lccc}", r"\hline", r" & Precision & Recall & F$_1$ \\", r"\hline"]
    for rouge_type in summary.rouge_types:
        cells = []
        for measure in MEASURES:
            mean, low, _, high = summary.values(f"{rouge_type}_{measure}")
            cell = number(mean, figures)  # type: ignore[arg-type]
            if low is not None and high is not None:
                cell += rf" {{\scriptsize [{number(low, figures)}, {number(high, figures)}]}}"
            cells.append(cell)
        lines.append(f"{display_name(rouge_type)} & " + " & ".join(cells) + r" \\")
    lines += [r"\hline", r"\end{tabular}"]
    return "\n".join(lines) + "\n"


_RENDERERS = {"text": _text, "json": _json, "csv": _csv, "latex": _latex}


def render(summary: Summary, format: str, figures: Figures) -> str:
    """The summary as text in one of FORMATS."""
    return _RENDERERS[format](summary, figures)


class Progress:
    """A one-line progress bar, redrawn in place; silent when not enabled,
    and until `from_pairs` pairs have been counted."""

    WIDTH = 30
    # The bars drawn and not yet erased, so that a message can erase them
    # first instead of being glued to the end of one.
    _shown_bars: ClassVar[set[Progress]] = set()

    def __init__(self, stream: TextIO, label: str, enabled: bool, from_pairs: int) -> None:
        self._stream = stream
        self._label = label
        self._enabled = enabled
        self._from_pairs = from_pairs
        self._drawn_at = 0.0

    def update(self, pairs: int, done: float | None) -> None:
        """`pairs` scored so far, `done` the share of the input read (0 to 1;
        None when unknown, as for standard input)."""
        if not self._enabled or pairs < self._from_pairs:
            return
        now = time.monotonic()
        # Redrawing costs a write per call; a few times a second is enough.
        if (done is None or done < 1) and now - self._drawn_at < 0.1:
            return
        self._drawn_at = now
        if done is None:
            self._draw(f"{self._label} {pairs} pairs")
            return
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
        Progress._shown_bars.add(self)

    def close(self) -> None:
        """Erase the bar so that it leaves nothing behind on the terminal."""
        if self in Progress._shown_bars:
            Progress._shown_bars.discard(self)
            self._stream.write("\r\x1b[K")
            self._stream.flush()

    @classmethod
    def erase_all(cls) -> None:
        """Erase every bar on screen, before a message takes its line."""
        for bar in list(cls._shown_bars):
            try:
                bar.close()
            except (OSError, ValueError):
                cls._shown_bars.discard(bar)


def message(text: str) -> None:
    """One line on standard error, `tallygrams: ` first, after erasing any
    progress bar. Text that ends in a line break (as some libraries'
    messages do) gives no blank line."""
    Progress.erase_all()
    line = " ".join(text.split("\n")).strip()
    try:
        sys.stderr.write(f"tallygrams: {line}\n")
        sys.stderr.flush()
    except (OSError, ValueError):
        pass
