"""Scoring pairs held in a pyarrow table: score_arrow, which reads the text
in place, beside what users did before it existed, to_pylist() and then
score_batch_flat, end to end, on the same 1,000,000 summary pairs.

Each way runs in a fresh process, in turns, the best of a few rounds; the
table gives pairs per second, their ratio, and the memory the call adds to
the process at its peak beyond the loaded table (read from the kernel's
high-water mark, reset before the call), next to the nine result columns'
own 72 bytes per pair.

    python benchmarks/arrow_throughput.py [--pairs N] [--rounds R]
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

CHILD = r"""
import gc, json, sys, time
sys.path.insert(0, {here!r})
import pyarrow as pa
import corpus, tallygrams, tallygrams_scorer

def high_water_kib():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))

pairs = corpus.summary_pairs({pairs}, seed=21)
table = pa.table({{"reference": [r for r, _ in pairs], "prediction": [p for _, p in pairs]}})
del pairs
gc.collect()
way = {way!r}
if way == "to_pylist + score_batch_flat":
    def call():
        result = tallygrams.score_batch_flat(table["reference"].to_pylist(), table["prediction"].to_pylist())
        return result
else:
    def call():
        return tallygrams_scorer.score_arrow(table["reference"], table["prediction"])
call()  # the pool exists, the pages are warm
best = float("inf")
extra = 0
for _ in range({rounds}):
    gc.collect()
    with open("/proc/self/clear_refs", "w") as reset:
        reset.write("5")
    before = high_water_kib()
    start = time.perf_counter()
    result = call()
    best = min(best, time.perf_counter() - start)
    extra = max(extra, high_water_kib() - before)
    del result
print(json.dumps({{"seconds": best, "extra_kib": extra}}))
"""


def run(way: str, pairs: int, rounds: int) -> dict[str, float]:
    code = CHILD.format(here=HERE, pairs=pairs, way=way, rounds=rounds)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    return json.loads(out.stdout)


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--pairs", type=int, default=1_000_000)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    ways = ["to_pylist + score_batch_flat", "score_arrow"]
    results = {way: run(way, args.pairs, args.rounds) for way in ways}
    columns_bytes = 72 * args.pairs
    print(f"{args.pairs:,} summary pairs in a pyarrow table, {os.process_cpu_count()} CPUs")
    print()
    print("| way | seconds | pairs/s | extra peak memory | beyond the result columns |")
    print("|---|---:|---:|---:|---:|")
    for way in ways:
        r = results[way]
        beyond = max(0, r["extra_kib"] * 1024 - columns_bytes)
        print(f"| {way} | {r['seconds']:.2f} | {args.pairs / r['seconds']:,.0f} | "
              f"{r['extra_kib'] / 1024:,.0f} MiB | {beyond / args.pairs:.0f} B/pair |")
    ratio = results[ways[0]]["seconds"] / results[ways[1]]["seconds"]
    print()
    print(f"score_arrow / (to_pylist + score_batch_flat) throughput: {ratio:.2f}x (target >= 1.3)")


if __name__ == "__main__":
    main()
