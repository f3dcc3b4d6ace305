"""What `tallygrams compare` shows: one row per system and measure with the
system's mean and interval, and for each system after the baseline its
difference from the baseline, the interval of that difference and the
p-value of each test, Holm-Bonferroni adjusted when several systems are
compared with one baseline. As text, JSON or CSV.
"""

from __future__ import annotations

import csv
import io
import json
import math
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any

import tallygrams_scorer

from .output import MEASURES, Figures, column_names, number
from .signature import percent

FORMATS = ("text", "json", "csv")
SIGNIFICANCE = 0.05
DIFFERENCE_KEYS = ("difference", "difference_low", "difference_high")
TEST_NAMES = {"bootstrap": "paired bootstrap", "randomization": "approximate randomization"}


def holm(p_values: Sequence[float]) -> list[float]:
    """Holm-Bonferroni adjusted p-values (S. Holm, "A simple sequentially
    rejective multiple test procedure", Scand. J. Statist. 1979): the k-th
    smallest of m is multiplied by m - k + 1, and each adjusted value is at
    least the one before it, so that comparing them with 0.05 controls the
    chance of any false finding among the m at 5%."""
    m = len(p_values)
    adjusted = [math.nan] * m
    running = 0.0
    for rank, index in enumerate(sorted(range(m), key=lambda i: p_values[i])):
        running = max(running, min(1.0, (m - rank) * p_values[index]))
        adjusted[index] = running
    return adjusted


@dataclass(frozen=True)
class Outcome:
    """A run's results: systems[0] is the baseline; comparisons[test][k - 1]
    compares systems[k] with it."""

    systems: Sequence[str]
    rouge_types: Sequence[str]
    pairs: int
    left_out: int
    tests: Sequence[str]
    samples: Mapping[str, int]
    seed: int
    confidence: float
    intervals: Sequence[Mapping[str, tallygrams_scorer.Interval]]
    comparisons: Mapping[str, Sequence[Mapping[str, tallygrams_scorer.Comparison]]]
    signature: str
    figures: Figures = Figures()

    @property
    def corrected(self) -> bool:
        return len(self.systems) > 2

    def adjusted(self, test: str) -> list[dict[str, float]]:
        """Per system after the baseline, per column: the p-value that
        decides, Holm-adjusted over the systems when there are several."""
        compared = self.comparisons[test]
        result: list[dict[str, float]] = [{} for _ in compared]
        for name in column_names(self.rouge_types):
            raw = [comparison[name].p_value for comparison in compared]
            for k, value in enumerate(holm(raw) if self.corrected else raw):
                result[k][name] = value
        return result


@dataclass(frozen=True)
class Row:
    system: str
    rouge_type: str
    measure: str
    mean: float
    low: float
    high: float
    # None on the baseline's rows.
    comparison: dict[str, Any] | None
    marked: bool


def rows(outcome: Outcome) -> list[Row]:
    adjusted = {test: outcome.adjusted(test) for test in outcome.tests}
    found = []
    for k, system in enumerate(outcome.systems):
        for name in column_names(outcome.rouge_types):
            rouge_type, measure = name.split("_")
            interval = outcome.intervals[k][name]
            comparison = None
            marked = False
            if k > 0:
                first = outcome.comparisons[outcome.tests[0]][k - 1][name]
                comparison = {"difference": first.difference, "difference_low": first.low,
                              "difference_high": first.high}
                for test in outcome.tests:
                    comparison[f"p_{test}"] = outcome.comparisons[test][k - 1][name].p_value
                    if outcome.corrected:
                        comparison[f"p_{test}_holm"] = adjusted[test][k - 1][name]
                marked = all(adjusted[test][k - 1][name] < SIGNIFICANCE for test in outcome.tests)
            found.append(Row(system, rouge_type, measure, interval.mean, interval.low, interval.high, comparison,
                             marked))
    return found


def p_columns(outcome: Outcome) -> list[str]:
    """The keys of the p-values in a row's comparison, in display order."""
    keys = []
    for test in outcome.tests:
        keys.append(f"p_{test}")
        if outcome.corrected:
            keys.append(f"p_{test}_holm")
    return keys


def _p_header(key: str, outcome: Outcome) -> str:
    parts = key.split("_")
    shown = "p" if len(outcome.tests) == 1 else f"p_{parts[1][:4]}"
    return shown + ("_holm" if parts[-1] == "holm" else "")


def notes(outcome: Outcome) -> list[str]:
    """The lines above the table: what was done, on what, and how to read it."""
    level = percent(outcome.confidence)
    counted = f"{len(outcome.systems)} systems on {outcome.pairs} {'pair' if outcome.pairs == 1 else 'pairs'}"
    tests = "; ".join(
        f"{TEST_NAMES[test]} test, {outcome.samples[test]} {'resamples' if test == 'bootstrap' else 'rounds'}"
        for test in outcome.tests
    )
    lines = [f"{counted}; {tests} (seed {outcome.seed}); two-sided p-values"]
    if outcome.left_out:
        lines.append(f"left out: {outcome.left_out} {'pair' if outcome.left_out == 1 else 'pairs'} "
                     "with a null text in some system")
    lines.append(f"baseline: {outcome.systems[0]}; low, high: {level} interval of each mean; "
                 f"diff: system - baseline, with its {level} paired bootstrap interval")
    if outcome.figures.scale != 1:
        lines.append(f"scores and differences times {outcome.figures.scale}")
    if outcome.corrected:
        lines.append(f"correction: Holm-Bonferroni over the {len(outcome.systems) - 1} systems, measure by measure "
                     "(the _holm columns); * marks rows whose adjusted p < 0.05"
                     + (" in both tests" if len(outcome.tests) > 1 else ""))
    else:
        lines.append("correction: none (one system against the baseline); * marks rows with p < 0.05"
                     + (" in both tests" if len(outcome.tests) > 1 else ""))
    return lines


def headers(outcome: Outcome) -> list[str]:
    return ["system", "metric", "measure", "mean", "low", "high", "diff", "diff_low", "diff_high",
            *(_p_header(key, outcome) for key in p_columns(outcome)), ""]


def cells(outcome: Outcome, row: Row) -> list[str]:
    """A row as the table shows it: scores scaled and rounded as asked,
    differences with their sign, p-values to four decimals."""
    figures = outcome.figures
    shown = [row.system, row.rouge_type, row.measure, *(number(value, figures) for value in (row.mean, row.low, row.high))]
    if row.comparison is None:
        return shown + [""] * (3 + len(p_columns(outcome)) + 1)
    shown += [("+" if row.comparison[key] >= 0 else "") + number(row.comparison[key], figures) for key in DIFFERENCE_KEYS]
    shown += [f"{row.comparison[key]:.4f}" for key in p_columns(outcome)]
    return shown + ["*" if row.marked else ""]


def format_text(outcome: Outcome) -> str:
    table = [headers(outcome)] + [cells(outcome, row) for row in rows(outcome)]
    widths = [max(len(line[c]) for line in table) for c in range(len(table[0]))]
    lines = notes(outcome) + [""]
    for line in table:
        # Names to the left, numbers to the right.
        text = " ".join(cell.ljust(widths[c]) if c < 3 else cell.rjust(widths[c]) for c, cell in enumerate(line))
        lines.append(text.rstrip())
    lines.append("")
    lines.append(outcome.signature)
    return "\n".join(lines) + "\n"


def _number(value: float, scale: int = 1) -> float | None:
    # JSON has no NaN.
    return None if math.isnan(value) else value * scale


def _scaled(outcome: Outcome, key: str, value: float) -> float:
    """Scores and differences take the figures' scale; p-values do not."""
    return value if key.startswith("p_") else value * outcome.figures.scale


def format_json(outcome: Outcome) -> str:
    systems = []
    every_row = rows(outcome)
    per_system = len(outcome.rouge_types) * len(MEASURES)
    for k, system in enumerate(outcome.systems):
        scores: dict[str, dict[str, dict[str, float | bool | None]]] = {t: {} for t in outcome.rouge_types}
        for row in every_row[k * per_system : (k + 1) * per_system]:
            scale = outcome.figures.scale
            entry: dict[str, float | bool | None] = {"mean": _number(row.mean, scale), "low": _number(row.low, scale),
                                                      "high": _number(row.high, scale)}
            if row.comparison is not None:
                entry.update({key: _number(_scaled(outcome, key, value)) for key, value in row.comparison.items()})
                entry["significant"] = row.marked
            scores[row.rouge_type][row.measure] = entry
        systems.append({"name": system, "baseline": k == 0, "scores": scores})
    document = {
        "signature": outcome.signature,
        "pairs": outcome.pairs,
        "left_out": outcome.left_out,
        "tests": {test: {"samples": outcome.samples[test]} for test in outcome.tests},
        "seed": outcome.seed,
        "confidence": outcome.confidence,
        "scale": outcome.figures.scale,
        "correction": "holm-bonferroni" if outcome.corrected else None,
        "significance_level": SIGNIFICANCE,
        "systems": systems,
    }
    return json.dumps(document, indent=2) + "\n"


def format_csv(outcome: Outcome) -> str:
    keys = p_columns(outcome)
    buffer = io.StringIO()
    writer = csv.writer(buffer, lineterminator="\n")
    writer.writerow(["system", "metric", "measure", "mean", "low", "high", "difference", "difference_low",
                     "difference_high", *keys, "significant", "signature"])
    for row in rows(outcome):
        scale = outcome.figures.scale
        values: list[object] = [row.system, row.rouge_type, row.measure,
                                *(repr(value * scale) for value in (row.mean, row.low, row.high))]
        if row.comparison is None:
            values += [""] * (3 + len(keys) + 1)
        else:
            values += [repr(_scaled(outcome, key, row.comparison[key])) for key in (*DIFFERENCE_KEYS, *keys)]
            values.append("true" if row.marked else "false")
        writer.writerow([*values, outcome.signature])
    return buffer.getvalue()


def format_outcome(outcome: Outcome, form: str) -> str:
    return {"text": format_text, "json": format_json, "csv": format_csv}[form](outcome)
