"""The paired significance tests: tallygrams_scorer.compare beside a
straightforward vectorised NumPy implementation of the same tests
(tests/python/paired_tests_numpy.py), and the HTML report of a comparison.

1. Side by side on 100,000 pairs x 9 columns: the paired bootstrap with
   1,000 resamples and approximate randomization with 10,000 rounds (whose
   interval comes from 1,000 bootstrap resamples in both implementations).
2. The sizes the README promises: the paired bootstrap on 1,000,000 pairs x
   1,000 resamples x 9 columns, approximate randomization on 100,000 pairs x
   10,000 rounds x 9 columns.
3. `tallygrams compare --report` on 100,000 summary pairs x 3 systems (line
   files): the whole run, the same run without the report, and the report's
   size.

Timings are wall times, the best of a few rounds; compare the rows of one
run, not runs with each other.

    python benchmarks/paired_tests.py            # everything
    python benchmarks/paired_tests.py --quick    # a smoke run
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tests", "python"))

import numpy as np  # noqa: E402

import corpus  # noqa: E402
import paired_tests_numpy  # noqa: E402
import tallygrams_scorer  # noqa: E402

TOOL = os.path.join(os.path.dirname(sys.executable), "tallygrams")
COLUMNS = [f"{t}_{m}" for t in ("rouge1", "rouge2", "rougeL") for m in ("precision", "recall", "fmeasure")]


def columns(pairs: int, seed: int) -> tuple[dict[str, np.ndarray], dict[str, np.ndarray]]:
    """Two systems' score columns of a kind ROUGE gives: values in [0, 1],
    the system slightly better on average, each pair's two scores related."""
    rng = np.random.default_rng(seed)
    baseline, system = {}, {}
    for name in COLUMNS:
        difficulty = rng.beta(4, 5, pairs)
        baseline[name] = np.clip(difficulty + rng.normal(0, 0.08, pairs), 0, 1)
        system[name] = np.clip(difficulty + rng.normal(0.003, 0.08, pairs), 0, 1)
    return baseline, system


def timed(function, rounds: int) -> tuple[float, float]:
    """The best wall time of `rounds` calls, and the CPU time of all the
    process's threads in that call: on a loaded machine, CPU time over the
    cores is what the call would take alone."""
    found = []
    for _ in range(rounds):
        start, cpu = time.perf_counter(), time.process_time()
        function()
        found.append((time.perf_counter() - start, time.process_time() - cpu))
    return min(found)


def measure(implementation: str, test: str, pairs: int, samples: int, rounds: int) -> tuple[float, float]:
    """(wall, CPU) seconds of one implementation's best call, each in a
    fresh process: NumPy's BLAS threads keep spinning for a while after a
    product, which would slow whatever ran next in the same process."""
    command = [sys.executable, __file__, "--measure", implementation, test, str(pairs), str(samples), str(rounds)]
    result = subprocess.run(command, check=True, capture_output=True, text=True)
    wall, cpu = json.loads(result.stdout)
    return wall, cpu


def measure_here(implementation: str, test: str, pairs: int, samples: int, rounds: int) -> None:
    baseline, system = columns(pairs, 1)
    module = tallygrams_scorer if implementation == "tallygrams" else paired_tests_numpy
    print(json.dumps(timed(lambda: module.compare(baseline, system, test=test, n_samples=samples), rounds)))


def unit(test: str) -> str:
    return "resamples" if test == "bootstrap" else "rounds"


def side_by_side(pairs: int, rounds: int, quick: bool) -> None:
    print(f"1. {pairs:,} pairs x {len(COLUMNS)} columns, wall seconds (best of {rounds}; NumPy once), "
          "CPU seconds in brackets")
    print(f"{'test':<34} {'tallygrams':>17} {'NumPy':>17} {'ratio':>7} {'CPU ratio':>9}")
    for test, samples in (("bootstrap", 1000), ("randomization", 1000 if quick else 10_000)):
        ours = measure("tallygrams", test, pairs, samples, rounds)
        peer = measure("numpy", test, pairs, samples, 1)
        label = f"{test}, {samples:,} {unit(test)}"
        print(f"{label:<34} {ours[0]:7.3f} ({ours[1]:7.3f}) {peer[0]:7.2f} ({peer[1]:7.2f}) "
              f"{peer[0] / ours[0]:6.0f}x {peer[1] / ours[1]:8.0f}x")


def sizes(rounds: int, quick: bool) -> None:
    print(f"\n2. the README's sizes, {len(COLUMNS)} columns, wall seconds (best of {rounds}) and the CPU time of "
          f"that call, {os.cpu_count()} cores, load average {os.getloadavg()[0]:.1f}")
    cases = [("bootstrap", 100_000 if quick else 1_000_000, 1000), ("randomization", 100_000, 1000 if quick else 10_000)]
    for test, pairs, samples in cases:
        wall, cpu = measure("tallygrams", test, pairs, samples, rounds)
        print(f"{test:<14} {pairs:>9,} pairs x {samples:>6,} {unit(test):<9} {wall:7.3f} s   CPU {cpu:7.3f} s")


def report(pairs: int, rounds: int) -> None:
    folder = tempfile.mkdtemp(prefix="tallygrams-report-")
    texts = corpus.summary_pairs(pairs, seed=3)
    paths = [os.path.join(folder, name) for name in ("refs.txt", "a.txt", "b.txt", "c.txt")]
    with open(paths[0], "w", encoding="utf-8") as handle:
        handle.writelines(reference.replace("\n", " ") + "\n" for reference, _ in texts)
    for k, path in enumerate(paths[1:]):
        words_dropped = k  # each system drops a different share of the prediction's words
        with open(path, "w", encoding="utf-8") as handle:
            for _, prediction in texts:
                words = prediction.replace("\n", " ").split(" ")
                handle.write(" ".join(w for i, w in enumerate(words) if (i + words_dropped) % 7) + "\n")
    page = os.path.join(folder, "report.html")
    command = [TOOL, "compare", "--references", paths[0], *paths[1:], "--no-progress"]

    def run(extra):
        subprocess.run(command + extra, check=True, stdout=subprocess.DEVNULL)

    def child_timed(extra):
        """Best wall time over the rounds, and that run's CPU time."""
        found = []
        for _ in range(rounds):
            before, start = os.times(), time.perf_counter()
            run(extra)
            after = os.times()
            cpu = (after.children_user - before.children_user) + (after.children_system - before.children_system)
            found.append((time.perf_counter() - start, cpu))
        return min(found)

    without = child_timed([])
    with_report = child_timed(["--report", page])
    print(f"\n3. tallygrams compare, {pairs:,} pairs x 3 systems (line files), wall seconds (best of {rounds}), "
          f"CPU seconds in brackets")
    print(f"without --report {without[0]:7.2f} ({without[1]:6.2f})")
    print(f"with --report    {with_report[0]:7.2f} ({with_report[1]:6.2f})   the report: "
          f"{with_report[0] - without[0]:.2f} s ({with_report[1] - without[1]:.2f} s CPU), "
          f"{os.path.getsize(page) / 1e6:.2f} MB")


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="smaller workloads")
    parser.add_argument("--measure", nargs=5, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.measure:
        implementation, test, pairs, samples, rounds = args.measure
        measure_here(implementation, test, int(pairs), int(samples), int(rounds))
        return
    rounds = 1 if args.quick else 3
    side_by_side(20_000 if args.quick else 100_000, rounds, args.quick)
    sizes(rounds, args.quick)
    report(10_000 if args.quick else 100_000, rounds)


if __name__ == "__main__":
    main()
