"""The bootstrap of score columns in plain Python, draw for draw and addition
for addition the one the native engine computes, so that on small inputs the
two agree to the last bit.

A run with seed s makes R resamples of the n pairs. Resample r:

* Its random streams. Stream words are SplitMix64 (Steele, Lea and Flood,
  OOPSLA 2014): word j of the stream with key K is mix64(K + (j + 1) * GAMMA)
  modulo 2^64. A stream's 32-bit draws are the low half of word 0, its high
  half, the low half of word 1, and so on. The resample's key is word r of
  the stream keyed by mix64(s); substream p of the resample has as key word p of
  the resample's stream.
* A draw below a bound follows Lemire's method (ACM TOMACS 2019): the high
  half of draw * bound, after rejecting draws whose low half is below
  2^32 mod bound.
* The pairs fall into blocks of 2^block_shift. Substream 0 makes n draws below n;
  each adds one to the total of block (draw >> block_shift). Substream 1 + b then
  makes block b's total of draws below the block's size; each adds one to
  that pair's count. Together the counts are n uniform draws from the pairs.
* A column's block sum adds float(count) * value over the block's pairs in
  order, starting from 0.0; the column's resampled mean adds the block sums
  in block order, starting from 0.0, and divides by n.

Each column's interval is then read from its R resampled means with the
command-line tool's percentile (linear interpolation), and its mean is
math.fsum of the column over n.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from typing import NamedTuple

MASK64 = (1 << 64) - 1
GAMMA = 0x9E3779B97F4A7C15
DEFAULT_BLOCK_SHIFT = 11
MAX_BLOCK_SHIFT = 20
MAX_PAIRS = (1 << 31) - 1


class Summary(NamedTuple):
    mean: float
    low: float
    mid: float
    high: float


def mix64(z: int) -> int:
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK64
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK64
    return z ^ (z >> 31)


def splitmix_word(key: int, index: int) -> int:
    return mix64((key + (index + 1) * GAMMA) & MASK64)


class Draws:
    """The 32-bit draws of the stream with key `key`."""

    def __init__(self, key: int) -> None:
        self.key = key
        self.taken = 0

    def next(self) -> int:
        word = splitmix_word(self.key, self.taken // 2)
        half = word & 0xFFFFFFFF if self.taken % 2 == 0 else word >> 32
        self.taken += 1
        return half

    def below(self, bound: int) -> int:
        threshold = (1 << 32) % bound
        while True:
            product = self.next() * bound
            if product & 0xFFFFFFFF >= threshold:
                return product >> 32


def check_arguments(columns: Sequence[Sequence[float]], resamples: int, confidence: float,
                    block_shift: int) -> None:
    if not columns:
        return
    n = len(columns[0])
    if any(len(column) != n for column in columns):
        raise ValueError("bootstrap columns differ in length")
    if n == 0:
        raise ValueError("bootstrap columns are empty")
    if n > MAX_PAIRS:
        raise ValueError(f"bootstrap columns hold more than {MAX_PAIRS} values")
    if any(not math.isfinite(value) for column in columns for value in column):
        raise ValueError("bootstrap columns hold a value that is not finite")
    if resamples < 1:
        raise ValueError("bootstrap needs at least one resample")
    if not 0.0 <= confidence <= 1.0:
        raise ValueError("bootstrap confidence must lie between 0 and 1")
    if not 0 <= block_shift <= MAX_BLOCK_SHIFT:
        raise ValueError("bootstrap block shift too large")


def resample_means(columns: Sequence[Sequence[float]], resamples: int, seed: int,
                   block_shift: int = DEFAULT_BLOCK_SHIFT) -> list[list[float]]:
    """means[c][r]: the mean of column c over resample r."""
    check_arguments(columns, resamples, 0.5, block_shift)
    if not columns:
        return []
    n = len(columns[0])
    block_size = 1 << block_shift
    blocks = (n + block_size - 1) // block_size
    means = [[0.0] * resamples for _ in columns]
    seeds_key = mix64(seed & MASK64)
    for r in range(resamples):
        resample_key = splitmix_word(seeds_key, r)
        totals = [0] * blocks
        totals_draws = Draws(splitmix_word(resample_key, 0))
        for _ in range(n):
            totals[totals_draws.below(n) >> block_shift] += 1
        sums = [0.0] * len(columns)
        for b in range(blocks):
            first = b * block_size
            size = min(block_size, n - first)
            counts = [0] * size
            block_draws = Draws(splitmix_word(resample_key, 1 + b))
            for _ in range(totals[b]):
                counts[block_draws.below(size)] += 1
            for c, column in enumerate(columns):
                block_sum = 0.0
                for i in range(size):
                    block_sum += float(counts[i]) * column[first + i]
                sums[c] += block_sum
        for c in range(len(columns)):
            means[c][r] = sums[c] / n
    return means


def percentile(sorted_values: Sequence[float], q: float) -> float:
    """The q-th percentile (0 to 100) of ascending values, linearly interpolated
    between order statistics, anchored at the nearer neighbour."""
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


def bootstrap(columns: Sequence[Sequence[float]], resamples: int, seed: int, confidence: float = 0.95,
              block_shift: int = DEFAULT_BLOCK_SHIFT) -> list[Summary]:
    check_arguments(columns, resamples, confidence, block_shift)
    tail = (1 - confidence) / 2
    quantiles = (100 * tail, 50.0, 100 * (1 - tail))
    summaries = []
    for column, means in zip(columns, resample_means(columns, resamples, seed, block_shift)):
        mean = math.fsum(column) / len(column)
        if any(math.isnan(m) for m in means):
            summaries.append(Summary(mean, math.nan, math.nan, math.nan))
            continue
        means.sort()
        summaries.append(Summary(mean, *(percentile(means, q) for q in quantiles)))
    return summaries
