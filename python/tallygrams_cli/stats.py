"""Means and bootstrap confidence intervals of score columns, in pure Python.

The interval follows the usual percentile bootstrap for ROUGE: draw as many
pairs as there are, with replacement, take the mean of each column over the
draw, repeat, and read the 2.5th, 50th and 97.5th percentiles (for a 95%
interval) of those means with linear interpolation between order statistics.
The same draw of pairs serves all nine columns, so the columns of one
resample describe the same texts.
"""

from __future__ import annotations

import math
import random
from array import array
from collections.abc import Callable, Sequence
from typing import NamedTuple


class Interval(NamedTuple):
    low: float
    mid: float
    high: float


def mean(values: Sequence[float]) -> float:
    return math.fsum(values) / len(values)


def percentile(sorted_values: Sequence[float], q: float) -> float:
    """The q-th percentile (0 to 100) of ascending values, interpolated linearly.

    The arithmetic is arranged as in the common numerical libraries (the
    virtual index (n - 1) * q / 100, and the interpolation anchored at the
    nearer neighbour), so the results agree with theirs to the last bit.
    """
    n = len(sorted_values)
    position = (n - 1) * (q / 100)
    below = math.floor(position)
    above = min(below + 1, n - 1)
    fraction = position - below
    a, b = sorted_values[below], sorted_values[above]
    difference = b - a
    if fraction >= 0.5:
        return b - difference * (1 - fraction)
    return a + difference * fraction


def bootstrap(
    columns: Sequence[Sequence[float]],
    samples: int,
    seed: int,
    confidence: float = 0.95,
    on_sample: Callable[[int], None] | None = None,
) -> list[Interval]:
    """One interval per column from `samples` resamples of the pairs.

    `columns` are equally long and not empty; `on_sample` is told how many
    resamples are done after each one.
    """
    n = len(columns[0])
    rng = random.Random(seed)
    population = range(n)
    # Packed doubles: the random reads of a resample stay within a few
    # megabytes instead of hopping between scattered float objects.
    packed = [array("d", column) for column in columns]
    means: list[list[float]] = [[] for _ in columns]
    for done in range(1, samples + 1):
        drawn = rng.choices(population, k=n)
        for column, sink in zip(packed, means):
            sink.append(sum(map(column.__getitem__, drawn)) / n)
        if on_sample is not None:
            on_sample(done)
    tail = (1 - confidence) / 2
    quantiles = (100 * tail, 50.0, 100 * (1 - tail))
    intervals = []
    for column_means in means:
        column_means.sort()
        intervals.append(Interval(*(percentile(column_means, q) for q in quantiles)))
    return intervals
