"""Throughput and memory of score_batch_flat on 1,000,000 summary pairs.

For each worker count (one process each, since the pool is sized once per
process) this reports pairs per second and the native side's extra peak
memory during the call: the peak resident size reached inside the call minus
the resident size just before it. That extra is bounded by the inputs'
UTF-8 copy plus a fixed cost per pair (string headers and the nine result
columns); the bound checked here is UTF-8 size + 128 bytes per pair.

A second table shows that memory does not grow with the number of workers:
the same call on about 15 MB of text per side, passed as a list subclass
(which is read item by item, with spare string blocks warmed by the
workers) and as a plain list, with 2, 64 and 256 workers.

    python benchmarks/batch_throughput.py [--pairs N] [--memory-pairs N]
"""

import argparse
import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

# Resident sizes of the measuring process, from the kernel's own accounting.
STATUS = r"""
def status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise KeyError(field)
"""

MEASURE = r"""
import gc, json, sys, time
sys.path.insert(0, %(here)r)
import corpus, tallygrams

%(status)s
pairs = corpus.summary_pairs(%(pairs)d, seed=5)
references = [r for r, _ in pairs]
predictions = [p for _, p in pairs]
del pairs
utf8 = sum(len(t.encode()) for t in references) + sum(len(t.encode()) for t in predictions)
tallygrams.score_batch_flat(references[:1000], predictions[:1000])  # starts the pool
gc.collect()
before = status("VmRSS")
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # resets the peak resident size to the current one
start = time.perf_counter()
result = tallygrams.score_batch_flat(references, predictions)
elapsed = time.perf_counter() - start
peak = status("VmHWM")
assert len(result.rougeL_fmeasure) == len(references)
print(json.dumps({"pairs": len(references), "seconds": elapsed, "utf8": utf8,
                  "extra": peak - before, "peak": peak}))
"""


BY_WORKERS = r"""
import gc, json, sys
sys.path.insert(0, %(here)r)
import corpus, tallygrams

class Texts(list):
    pass

%(status)s
pairs = corpus.summary_pairs(%(pairs)d, seed=5)
kind = Texts if %(subclass)r else list
references = kind(r for r, _ in pairs)
predictions = kind(p for _, p in pairs)
del pairs
per_side = sum(len(t.encode()) for t in references)
tallygrams.score_batch_flat(references[:100], predictions[:100])  # starts the pool
gc.collect()
before = status("VmRSS")
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
result = tallygrams.score_batch_flat(references, predictions)
peak = status("VmHWM")
print(json.dumps({"per_side": per_side, "before": before, "extra": peak - before}))
"""


def by_workers(workers, pairs, subclass):
    env = dict(os.environ, RAYON_NUM_THREADS=str(workers))
    code = BY_WORKERS % {"status": STATUS, "here": HERE, "pairs": pairs, "subclass": subclass}
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
    return json.loads(out.stdout)


def run(workers, pairs):
    env = dict(os.environ, RAYON_NUM_THREADS=str(workers))
    code = MEASURE % {"status": STATUS, "here": HERE, "pairs": pairs}
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
    return json.loads(out.stdout)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pairs", type=int, default=1_000_000)
    parser.add_argument("--memory-pairs", type=int, default=40_000)
    args = parser.parse_args()

    results = {workers: run(workers, args.pairs) for workers in (1, 2)}
    print(f"| workers | pairs/s | seconds | peak RSS | native extra peak | bound (UTF-8 + 128 B/pair) |")
    print(f"|---|---|---|---|---|---|")
    for workers, r in results.items():
        bound = r["utf8"] + 128 * r["pairs"]
        print(f"| {workers} | {r['pairs'] / r['seconds']:,.0f} | {r['seconds']:.2f} | {r['peak'] / 2**20:,.0f} MiB | "
              f"{r['extra'] / 2**20:,.1f} MiB (UTF-8 + {(r['extra'] - r['utf8']) / r['pairs']:.0f} B/pair) | "
              f"{bound / 2**20:,.1f} MiB {'ok' if r['extra'] <= bound else 'EXCEEDED'} |")
    speedup = results[1]["seconds"] / results[2]["seconds"]
    print(f"\nT=2 / T=1 throughput: {speedup:.2f}x (expected >= 1.7)")
    r = results[2]
    print(f"UTF-8 input: {r['utf8'] / 2**20:,.1f} MiB for {r['pairs']:,} pairs "
          f"({r['utf8'] / r['pairs']:.0f} bytes per pair)")


    print()
    rows = {(workers, subclass): by_workers(workers, args.memory_pairs, subclass)
            for subclass in (True, False) for workers in (2, 64, 256)}
    per_side = rows[(2, True)]["per_side"]
    print(f"Extra peak memory of one call by worker count, {per_side / 2**20:,.1f} MiB of UTF-8 per side "
          f"({args.memory_pairs:,} pairs); resident size before the call, workers started, in brackets")
    print()
    print("| argument | T=2 | T=64 | T=256 | spread | target |")
    print("|---|---|---|---|---|---|")
    for subclass, name in ((True, "list subclass"), (False, "list")):
        extras = [rows[(w, subclass)]["extra"] for w in (2, 64, 256)]
        cells = " | ".join(f"{rows[(w, subclass)]['extra'] / 2**20:,.1f} MiB ({rows[(w, subclass)]['before'] / 2**20:,.0f})"
                           for w in (2, 64, 256))
        spread = (max(extras) - min(extras)) / 2**20
        print(f"| {name} | {cells} | {spread:,.1f} MiB | <= 16 MiB |")


if __name__ == "__main__":
    main()
