"""Paired significance tests of two systems' score columns, written the
straightforward way with NumPy: the benchmark peer of the native tests and
an independent oracle for their p-values (its random draws are NumPy's own,
so it agrees with the native tests in distribution, not draw for draw).

`baseline` and `system` are mappings from a column name to a 1-D array of
floats, row i of both being the same input. Each function returns, per
column, (baseline mean, system mean, difference, low, high, p-value).

* Paired bootstrap (Koehn 2004): a resample draws n rows with replacement;
  its difference is the mean over them of system - baseline. The interval is
  the percentile interval of those differences; the p-value is two-sided
  with the differences shifted to the null hypothesis:
  (1 + #{b : |d_b - mean(d)| >= |D|}) / (R + 1), D the observed difference.
* Approximate randomisation (Noreen 1989; Riezler and Maxwell 2005): a round
  swaps each row's two values with probability 1/2, which negates the row's
  difference; p = (1 + #{r : |d_r| >= |D|}) / (R + 1).
"""

from __future__ import annotations

from collections.abc import Mapping
from typing import NamedTuple

import numpy as np

# Resamples or rounds drawn at once: enough for NumPy's loops to run long,
# few enough that an (m, n) array of draws stays within tens of megabytes.
_ROWS_PER_CHUNK = 4_000_000


class Row(NamedTuple):
    baseline: float
    system: float
    difference: float
    low: float
    high: float
    p_value: float


def _matrices(baseline: Mapping[str, np.ndarray], system: Mapping[str, np.ndarray]):
    names = list(baseline)
    if list(system) != names:
        raise ValueError("baseline and system differ in their columns")
    b = np.column_stack([np.asarray(baseline[name], dtype=np.float64) for name in names])
    s = np.column_stack([np.asarray(system[name], dtype=np.float64) for name in names])
    if b.shape != s.shape or b.shape[0] < 1:
        raise ValueError("baseline and system need the same number of rows, at least one")
    return names, b, s


def _chunks(total: int, n: int):
    per_chunk = max(1, _ROWS_PER_CHUNK // n)
    for first in range(0, total, per_chunk):
        yield first, min(total, first + per_chunk)


def bootstrap_differences(d: np.ndarray, n_samples: int, rng: np.random.Generator) -> np.ndarray:
    """(n_samples, k): each resample's mean of the row differences d (n, k)."""
    n = d.shape[0]
    out = np.empty((n_samples, d.shape[1]))
    for first, end in _chunks(n_samples, n):
        rows = rng.integers(0, n, size=(end - first, n))
        out[first:end] = d[rows].mean(axis=1)
    return out


def randomization_differences(d: np.ndarray, n_samples: int, rng: np.random.Generator) -> np.ndarray:
    """(n_samples, k): each round's mean of the row differences with random signs."""
    n = d.shape[0]
    out = np.empty((n_samples, d.shape[1]))
    for first, end in _chunks(n_samples, n):
        signs = rng.integers(0, 2, size=(end - first, n)).astype(np.float64) * 2 - 1
        out[first:end] = signs @ d / n
    return out


def _interval(deltas: np.ndarray, confidence: float) -> tuple[np.ndarray, np.ndarray]:
    tail = (1 - confidence) / 2
    return np.percentile(deltas, 100 * tail, axis=0), np.percentile(deltas, 100 * (1 - tail), axis=0)


def compare(baseline: Mapping[str, np.ndarray], system: Mapping[str, np.ndarray], *, test: str = "bootstrap",
            n_samples: int | None = None, confidence_interval: float = 0.95, seed: int = 0,
            interval_samples: int = 1000) -> dict[str, Row]:
    names, b, s = _matrices(baseline, system)
    d = s - b
    base_means, system_means = b.mean(axis=0), s.mean(axis=0)
    observed = system_means - base_means
    rng = np.random.default_rng(seed)
    if test == "bootstrap":
        deltas = bootstrap_differences(d, n_samples or 1000, rng)
        extreme = np.abs(deltas - deltas.mean(axis=0)) >= np.abs(observed)
        low, high = _interval(deltas, confidence_interval)
        samples = deltas.shape[0]
    elif test == "randomization":
        samples = n_samples or 10_000
        extreme = np.abs(randomization_differences(d, samples, rng)) >= np.abs(observed)
        low, high = _interval(bootstrap_differences(d, interval_samples, rng), confidence_interval)
    else:
        raise ValueError(f"unknown test {test!r}")
    p = (1 + extreme.sum(axis=0)) / (samples + 1)
    return {
        name: Row(*(float(v) for v in (base_means[c], system_means[c], observed[c], low[c], high[c], p[c])))
        for c, name in enumerate(names)
    }
