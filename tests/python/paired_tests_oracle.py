"""The paired tests in plain Python, draw for draw and addition for addition
those the native engine computes, so that on small inputs the two agree to
the last bit. Builds on the bootstrap's oracle (bootstrap_oracle.py).

For a baseline column b and a system column s of n rows, d_i = s_i - b_i,
each side's mean is math.fsum over n, and the observed difference is
D = mean(s) - mean(b).

* Paired bootstrap: the bootstrap's R resampled means of the d columns.
  p = (1 + #{r : |d*_r - c| >= |D|}) / (R + 1), c = fsum(d*) / R; the
  interval is read from the sorted d* as the bootstrap's is.
* Approximate randomisation: round r's signs are the words of the stream
  keyed by word 2^64 - 1 of resample r's stream (the key of "substream
  2^64 - 1"); bit j of word w swaps row 64 w + j, negating its d. The rows
  fall into blocks of 2048; a block's sum has four lanes, lane l adding rows
  l, l + 4, ... of the block in order from 0.0, joined as (l0 + l1) + (l2 +
  l3); the round's sum adds the block sums in order from 0.0 and divides by
  n. p = (1 + #{r : |d_r| >= |D| - slack}) / (R + 1) with the slack below;
  the interval is the paired bootstrap's with `interval_resamples`.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from typing import NamedTuple

import bootstrap_oracle as bo

SIGN_BLOCK_ROWS = 2048
PIECE_ROWS = 1 << 16
UNIT_ROUNDOFF = 2.0**-53


class Comparison(NamedTuple):
    baseline: float
    system: float
    difference: float
    low: float
    high: float
    p_value: float


def round_means(d: Sequence[float], rounds: int, seed: int) -> list[float]:
    n = len(d)
    means = []
    for r in range(rounds):
        key = bo.splitmix_word(bo.splitmix_word(bo.mix64(seed), r), bo.MASK64)
        total = 0.0
        for begin in range(0, n, SIGN_BLOCK_ROWS):
            lanes = [0.0] * 4
            for i in range(begin, min(n, begin + SIGN_BLOCK_ROWS)):
                word = bo.splitmix_word(key, i // 64)
                value = -d[i] if (word >> (i % 64)) & 1 else d[i]
                lanes[(i - begin) % 4] += value
            total += (lanes[0] + lanes[1]) + (lanes[2] + lanes[3])
        means.append(total / n)
    return means


def slack(d: Sequence[float], baseline_mean: float, system_mean: float) -> float:
    n = len(d)
    magnitude = 0.0
    for begin in range(0, n, PIECE_ROWS):
        piece = 0.0
        for value in d[begin : begin + PIECE_ROWS]:
            piece += abs(value)
        magnitude += piece
    blocks = -(-n // SIGN_BLOCK_ROWS)
    additions = float(SIGN_BLOCK_ROWS // 4 + 2 + blocks + 4)
    return 8 * UNIT_ROUNDOFF * (additions * (magnitude / n) + abs(baseline_mean) + abs(system_mean))


def _interval(resampled: list[float], confidence: float) -> tuple[float, float]:
    if any(math.isnan(value) for value in resampled):
        return math.nan, math.nan
    ordered = sorted(resampled)
    tail = (1 - confidence) / 2
    return bo.percentile(ordered, 100 * tail), bo.percentile(ordered, 100 * (1 - tail))


def compare(baseline: Sequence[Sequence[float]], system: Sequence[Sequence[float]], test: str, samples: int,
            seed: int, confidence: float = 0.95, interval_resamples: int = 1000) -> list[Comparison]:
    differences = [[s - b for b, s in zip(bc, sc)] for bc, sc in zip(baseline, system)]
    resamples = interval_resamples if test == "randomization" else samples
    resampled = bo.resample_means(differences, resamples, seed)
    found = []
    for c, d in enumerate(differences):
        n = len(d)
        b_mean, s_mean = math.fsum(baseline[c]) / n, math.fsum(system[c]) / n
        observed = s_mean - b_mean
        if test == "bootstrap":
            center = math.fsum(resampled[c]) / resamples
            extreme = sum(abs(value - center) >= abs(observed) for value in resampled[c])
        else:
            threshold = abs(observed) - slack(d, b_mean, s_mean)
            extreme = sum(abs(value) >= threshold for value in round_means(d, samples, seed))
        found.append(Comparison(b_mean, s_mean, observed, *_interval(resampled[c], confidence),
                                (extreme + 1) / (samples + 1)))
    return found
