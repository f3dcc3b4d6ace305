"""The summary file: the table's numbers, machine-readable and with every
digit (the shortest form that reads back as the same float).

CSV: the columns and rows rouge-score's own CSV has, `score_type,low,mid,high`
and per type (in sorted order) the rows `<type>-R`, `<type>-P`, `<type>-F`.
JSON: everything, the means and the run's settings included.
"""

from __future__ import annotations

import json
from collections.abc import Mapping, Sequence
from typing import Any

import tallygrams_scorer

from .files import complete_or_absent
from .output import MEASURES

SUFFIXES = (".csv", ".json")
_CSV_ROWS = (("R", "recall"), ("P", "precision"), ("F", "fmeasure"))


def _csv(rouge_types: Sequence[str], intervals: Mapping[str, tallygrams_scorer.Interval]) -> str:
    lines = ["score_type,low,mid,high"]
    for rouge_type in sorted(rouge_types):
        for letter, measure in _CSV_ROWS:
            interval = intervals[f"{rouge_type}_{measure}"]
            lines.append(f"{rouge_type}-{letter},{interval.low!r},{interval.mid!r},{interval.high!r}")
    return "\n".join(lines) + "\n"


def _json(rouge_types: Sequence[str], pairs: int, left_out: int, means: Mapping[str, float],
          intervals: Mapping[str, tallygrams_scorer.Interval] | None, samples: int, seed: int) -> str:
    scores: dict[str, dict[str, dict[str, float | None]]] = {}
    for rouge_type in rouge_types:
        scores[rouge_type] = {}
        for measure in MEASURES:
            name = f"{rouge_type}_{measure}"
            interval = intervals[name] if intervals is not None else None
            scores[rouge_type][measure] = {
                "mean": means[name],
                "low": interval.low if interval else None,
                "mid": interval.mid if interval else None,
                "high": interval.high if interval else None,
            }
    document: dict[str, Any] = {
        "pairs": pairs,
        "left_out": left_out,
        "bootstrap_samples": samples,
        "seed": seed,
        "confidence_interval": 0.95,
        "scores": scores,
    }
    return json.dumps(document, indent=2) + "\n"


def write_summary(path: str, rouge_types: Sequence[str], pairs: int, left_out: int, means: Mapping[str, float],
                  intervals: Mapping[str, tallygrams_scorer.Interval] | None, samples: int, seed: int) -> None:
    if path.lower().endswith(".csv"):
        # Only reachable with an interval: the options refuse a CSV summary without one.
        assert intervals is not None
        text = _csv(rouge_types, intervals)
    else:
        text = _json(rouge_types, pairs, left_out, means, intervals, samples, seed)
    with complete_or_absent(path, newline="") as handle:
        handle.write(text)
