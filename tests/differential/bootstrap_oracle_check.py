"""The engine's bootstrap, through the test-only bootstrap_tool, against the
pure-Python oracle (tests/python/bootstrap_oracle.py): every resampled mean,
mean and interval bit for bit on small random inputs, the same refusals, the
oracle's percentile against NumPy's, and, loosely, the same intervals as a
bootstrap drawing from Python's own generator (tests/python/random_bootstrap.py)
within Monte Carlo error.

Usage: bootstrap_oracle_check.py PATH_TO_BOOTSTRAP_TOOL
"""

from __future__ import annotations

import math
import random
import statistics
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "python"))

import bootstrap_oracle  # noqa: E402
import random_bootstrap  # noqa: E402

TOOL = sys.argv[1]
failures: list[str] = []


def check(condition: bool, message: str) -> None:
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def run_tool(columns, resamples, seed, confidence, block_shift, workers, want_means=True):
    n = len(columns[0]) if columns else 0
    header = f"{n} {len(columns)} {resamples} {seed} {confidence.hex()} {block_shift} {workers} {int(want_means)}"
    body = "\n".join(" ".join(value.hex() for value in column) for column in columns)
    done = subprocess.run([TOOL], input=header + "\n" + body + "\n", capture_output=True, text=True, timeout=120)
    if done.returncode == 2:
        return done.stdout.strip()
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    summaries = [tuple(float.fromhex(t) for t in line.split()) for line in lines[: len(columns)]]
    means = [[float.fromhex(t) for t in line.split()] for line in lines[len(columns):]]
    return summaries, means


def same_bits(a: float, b: float) -> bool:
    return a.hex() == b.hex()


def random_column(rng: random.Random, n: int, kind: str) -> list[float]:
    if kind == "scores":
        return [rng.choice([0.0, 1.0, rng.randrange(7) / (1 + rng.randrange(9)), rng.random()]) for _ in range(n)]
    if kind == "constant":
        value = rng.random()
        return [value] * n
    # Magnitudes far apart, both signs: hard cases for the mean's rounding.
    return [rng.choice([-1, 1]) * rng.random() * 2.0 ** rng.randrange(-1074, 1000) for _ in range(n)]


def exact_cases() -> None:
    rng = random.Random(20240611)
    shapes = [  # pairs, columns, resamples, block_shift
        (1, 3, 7, 11), (2, 1, 33, 0), (3, 2, 16, 1), (17, 2, 9, 2), (64, 1, 5, 3),
        (100, 3, 21, 3), (300, 9, 10, 11), (513, 2, 12, 4), (2500, 2, 4, 11), (1000, 1, 2, 0),
    ]
    for case, (n, k, resamples, block_shift) in enumerate(shapes):
        seed = rng.choice([0, 1, 2**64 - 1, rng.getrandbits(64)])
        confidence = rng.choice([0.0, 0.5, 0.9, 0.95, 1.0, rng.random()])
        workers = 1 + case % 3
        kinds = ["scores"] * k if case % 3 else ["scores", "magnitudes", "constant"][:k] + ["scores"] * (k - 3)
        columns = [random_column(rng, n, kind) for kind in kinds]
        label = f"case {case}: n={n} k={k} R={resamples} shift={block_shift} seed={seed} conf={confidence}"
        summaries, means = run_tool(columns, resamples, seed, confidence, block_shift, workers)
        expected_means = bootstrap_oracle.resample_means(columns, resamples, seed, block_shift)
        expected = bootstrap_oracle.bootstrap(columns, resamples, seed, confidence, block_shift)
        for c in range(k):
            differing = sum(not same_bits(a, b) for a, b in zip(means[c], expected_means[c]))
            check(len(means[c]) == resamples and differing == 0,
                  f"{label}: column {c}: {differing} of {resamples} resampled means differ")
            check(all(same_bits(a, b) for a, b in zip(summaries[c], expected[c])),
                  f"{label}: column {c}: {summaries[c]} != {expected[c]}")
            check(same_bits(summaries[c][0], math.fsum(columns[c]) / n), f"{label}: column {c}: mean != fsum / n")


def refusals() -> None:
    good = [[0.25, 0.5, 0.75], [0.0, 1.0, 0.5]]
    cases = [
        ("a NaN value", [[0.25, math.nan, 0.75], [0.0, 1.0, 0.5]], 10, 0.95),
        ("an infinite value", [[0.25, 0.5, 0.75], [0.0, 1.0, -math.inf]], 10, 0.95),
        ("no resamples", good, 0, 0.95),
        ("confidence above 1", good, 10, 1.5),
        ("empty columns", [[], []], 10, 0.95),
    ]
    for label, columns, resamples, confidence in cases:
        outcome = run_tool(columns, resamples, 0, confidence, 11, 2)
        try:
            bootstrap_oracle.bootstrap(columns, resamples, 0, confidence)
            oracle_refused = ""
        except ValueError as error:
            oracle_refused = str(error)
        check(isinstance(outcome, str) and outcome == f"invalid: {oracle_refused}",
              f"{label}: engine says {outcome!r}, oracle {oracle_refused!r}")


def percentile_agrees_with_numpy() -> None:
    """The oracle's percentile is NumPy's default one, to the last bit."""
    try:
        import numpy
    except ImportError:
        numpy = None
    rng = random.Random(5)
    for _ in range(300):
        values = sorted(rng.random() for _ in range(rng.randrange(1, 60)))
        for q in (0.0, 2.5, 50.0, 97.5, 100.0, rng.uniform(0, 100)):
            ours = bootstrap_oracle.percentile(values, q)
            if numpy is not None:
                check(same_bits(ours, float(numpy.percentile(values, q))), f"numpy percentile {q}")


def agrees_with_a_bootstrap_of_other_draws() -> None:
    """Within Monte Carlo error of a bootstrap drawing from Python's generator."""
    rng = random.Random(77)
    n, resamples = 1500, 1500
    base = [rng.betavariate(2, 3) for _ in range(n)]
    columns = [[min(1.0, max(0.0, b + rng.gauss(0, 0.1 * (c + 1)))) for b in base] for c in range(9)]
    summaries, means = run_tool(columns, resamples, 0, 0.95, 11, 2)
    theirs = random_bootstrap.bootstrap(columns, resamples, 0)
    for c in range(9):
        # The spread of the resampled means, and from it the standard error of
        # a percentile estimated from R of them (normal approximation), for
        # the difference of two independent estimates; allow five of those.
        spread = statistics.pstdev(means[c])
        density_tail = math.exp(-1.96**2 / 2) / math.sqrt(2 * math.pi) / spread
        density_mid = 1 / math.sqrt(2 * math.pi) / spread
        se_tail = math.sqrt(0.025 * 0.975 / resamples) / density_tail * math.sqrt(2)
        se_mid = math.sqrt(0.25 / resamples) / density_mid * math.sqrt(2)
        _, low, mid, high = summaries[c]
        check(abs(low - theirs[c].low) < 5 * se_tail, f"column {c}: low {low} vs {theirs[c].low}")
        check(abs(mid - theirs[c].mid) < 5 * se_mid, f"column {c}: mid {mid} vs {theirs[c].mid}")
        check(abs(high - theirs[c].high) < 5 * se_tail, f"column {c}: high {high} vs {theirs[c].high}")
        # And the spread is the one theory gives for a mean of n pairs.
        expected_spread = statistics.pstdev(columns[c]) / math.sqrt(n)
        check(abs(spread / expected_spread - 1) < 0.1, f"column {c}: spread {spread} vs {expected_spread}")


exact_cases()
refusals()
percentile_agrees_with_numpy()
agrees_with_a_bootstrap_of_other_draws()
print(f"{len(failures)} failures")
sys.exit(1 if failures else 0)
