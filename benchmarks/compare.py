"""Side-by-side speed of tallygrams and the pure-Python rouge-score package.

Both scorers run the same loop over the same generated pairs in one process,
keeping every result; the table shows per-pair times and their ratio (peer
time / our time). Absolute times drift on shared machines; ratios measured
side by side hold. Each timing is the best of several rounds (more rounds for
the faster scorer, to steady its much shorter timings).

    python benchmarks/compare.py            # the full table
    python benchmarks/compare.py --quick    # fewer pairs, for a smoke run
"""

import argparse
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import corpus  # noqa: E402
import tallygrams  # noqa: E402
from rouge_score import rouge_scorer  # noqa: E402

PEER = rouge_scorer.RougeScorer(["rouge1", "rouge2", "rougeL"], use_stemmer=False)


def best_time(function, rounds):
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        function()
        best = min(best, time.perf_counter() - start)
    return best


def per_pair(function, count, rounds):
    return best_time(function, rounds) / count


def peer_loop(pairs):
    return lambda: [PEER.score(r, p) for r, p in pairs]


def ours_loop(pairs):
    score = tallygrams.score
    return lambda: [score(r, p) for r, p in pairs]


def ours_flat(pairs):
    references = [r for r, _ in pairs]
    predictions = [p for _, p in pairs]
    return lambda: tallygrams.score_batch_flat(references, predictions)


def flat_in_subprocess(workers, count):
    """Per-pair time of score_batch_flat with a given pool size (fixed per process)."""
    code = (
        "import sys, time; sys.path.insert(0, %r)\n"
        "import corpus, tallygrams\n"
        "pairs = corpus.summary_pairs(%d, seed=11)\n"
        "refs = [r for r, _ in pairs]; preds = [p for _, p in pairs]\n"
        "tallygrams.score_batch_flat(refs[:100], preds[:100])\n"
        "best = min((lambda t: (tallygrams.score_batch_flat(refs, preds), time.perf_counter() - t)[1])"
        "(time.perf_counter()) for _ in range(5))\n"
        "print(best / len(pairs))\n"
    ) % (os.path.dirname(os.path.abspath(__file__)), count)
    env = dict(os.environ, RAYON_NUM_THREADS=str(workers))
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
    return float(out.stdout.strip())


def fmt(seconds):
    if seconds >= 1e-3:
        return f"{seconds * 1e3:8.2f} ms"
    return f"{seconds * 1e6:8.2f} us"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="smaller workloads")
    args = parser.parse_args()
    scale = 10 if args.quick else 1

    rows = []
    summaries = corpus.summary_pairs(5_000 // scale, seed=1)
    peer = per_pair(peer_loop(summaries), len(summaries), 3)
    ours = per_pair(ours_loop(summaries), len(summaries), 30)
    rows.append(("summary pairs (40-90 tokens)", "score in a loop", peer, ours, 200))
    ours = per_pair(ours_flat(summaries), len(summaries), 30)
    rows.append(("summary pairs (40-90 tokens)", "score_batch_flat", peer, ours, 300))

    longs = corpus.long_pairs(max(4, 24 // scale), tokens=1000)
    peer = per_pair(peer_loop(longs), len(longs), 2)
    ours = per_pair(ours_loop(longs), len(longs), 30)
    rows.append(("long pairs (1000 tokens)", "score in a loop", peer, ours, 2000))

    huge = corpus.long_pairs(1, tokens=100_000, seed=3)
    huge_time = best_time(lambda: tallygrams.score(*huge[0]), 3)

    count = 100_000 // scale
    one = flat_in_subprocess(1, count)
    two = flat_in_subprocess(2, count)

    print(f"tallygrams {tallygrams.__version__}, CPython {sys.version.split()[0]}, {os.process_cpu_count()} CPUs")
    print()
    print(f"| {'workload':<30} | {'ours':<17} | {'rouge-score':>11} | {'tallygrams':>11} | {'ratio':>7} | {'target':>6} |")
    print(f"|{'-' * 32}|{'-' * 19}|{'-' * 13}|{'-' * 13}|{'-' * 9}|{'-' * 8}|")
    for workload, ours_kind, peer_time, ours_time, target in rows:
        ratio = peer_time / ours_time
        print(f"| {workload:<30} | {ours_kind:<17} | {fmt(peer_time):>11} | {fmt(ours_time):>11} | "
              f"{ratio:>7.0f} | {'>= ' + str(target):>6} |")
    print(f"| {'two 100,000-token texts':<30} | {'score':<17} | {'':>11} | {fmt(huge_time):>11} | {'':>7} | {'< 1 s':>6} |")
    print(f"| {f'{count:,} summary pairs':<30} | {'flat, T=2 vs T=1':<17} | {fmt(one):>11} | {fmt(two):>11} | "
          f"{one / two:>7.2f} | {'>= 1.7':>6} |")


if __name__ == "__main__":
    main()
