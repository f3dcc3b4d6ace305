"""A second percentile bootstrap of score columns in plain Python, drawing
its resamples from Python's own generator (random.Random) instead of the
engine's streams: draw as many pairs as there are, with replacement, take
the mean of each column over the draw, repeat, and read the low, mid and
high percentiles of those means. The same draw serves every column.

Its intervals are not the engine's bit for bit, since the draws differ, but
they must agree within Monte Carlo error: a check that the engine's draws are
uniform, which a same-draws oracle cannot give.
"""

from __future__ import annotations

import random
from array import array
from collections.abc import Sequence
from typing import NamedTuple

from bootstrap_oracle import percentile


class Interval(NamedTuple):
    low: float
    mid: float
    high: float


def bootstrap(
    columns: Sequence[Sequence[float]],
    samples: int,
    seed: int,
    confidence: float = 0.95,
) -> list[Interval]:
    """One interval per column from `samples` resamples of the pairs; the
    columns are equally long and not empty."""
    n = len(columns[0])
    rng = random.Random(seed)
    population = range(n)
    # Packed doubles: the random reads of a resample stay within a few
    # megabytes instead of hopping between scattered float objects.
    packed = [array("d", column) for column in columns]
    means: list[list[float]] = [[] for _ in columns]
    for _ in range(samples):
        drawn = rng.choices(population, k=n)
        for column, sink in zip(packed, means):
            sink.append(sum(map(column.__getitem__, drawn)) / n)
    tail = (1 - confidence) / 2
    quantiles = (100 * tail, 50.0, 100 * (1 - tail))
    intervals = []
    for column_means in means:
        column_means.sort()
        intervals.append(Interval(*(percentile(column_means, q) for q in quantiles)))
    return intervals
