"""Side-by-side speed of tallygrams and the pure-Python rouge-score package.

Both scorers run the same loop over the same generated pairs in one process,
keeping every result; the table shows per-pair times and their ratio (peer
time / our time). Absolute times drift on shared machines; ratios measured
side by side hold. Each timing is the best of several rounds (more rounds for
the faster scorer, to steady its much shorter timings).

Two more tables follow: the per-pair time of the batch functions by batch
size next to `score` in a loop (a batch call should never cost more per pair
than the loop), and token sets built to defeat partial hashes next to random
tokens of the same lengths (they should cost about the same).

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


def interleaved(functions, turns):
    """The best time of each function, run in turns, so that a change in the
    machine's load affects all of them alike. `functions` maps a name to the
    function and how many times it runs per turn."""
    best = {name: float("inf") for name in functions}
    for _ in range(turns):
        for name, (function, repeats) in functions.items():
            for _ in range(repeats):
                start = time.perf_counter()
                function()
                best[name] = min(best[name], time.perf_counter() - start)
    return best


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


BATCH_SIZES = (1, 2, 8, 32, 128, 1024, 100_000)


def batch_size_table(pairs, rounds):
    """Per-pair time of both batch functions by batch size, next to `score` in a loop.

    Every size scores the same pairs, cut into consecutive batches; each call's
    result is kept, as the loop keeps each dict.
    """
    small = pairs[: 20 * 1024]
    loops = []
    rows = []
    for size in BATCH_SIZES:
        chosen = pairs if size > len(small) else small
        batches = [([r for r, _ in chosen[i:i + size]], [p for _, p in chosen[i:i + size]])
                   for i in range(0, len(chosen), size)]

        def calls(function, batches=batches):
            return lambda: [function(r, p) for r, p in batches]

        best = interleaved({"loop": (ours_loop(small), 1),
                            "flat": (calls(tallygrams.score_batch_flat), 1),
                            "records": (calls(tallygrams.score_batch), 1)}, rounds)
        loop = best["loop"] / len(small)
        loops.append(loop)
        rows.append((size, best["flat"] / len(chosen) / loop, best["records"] / len(chosen) / loop))
    return min(loops), rows


def adversarial_table(count, rounds):
    """`score` of a text of `count` tokens of each adversarial set, next to random
    tokens of the same lengths, each against a prediction of 200 tokens: half drawn
    from the set, half alike but absent from it."""
    rows = []
    for name, tokens in corpus.adversarial_token_sets(count).items():
        runs = {}
        for kind, chosen in (("hostile", tokens), ("ordinary", corpus.ordinary_like(tokens))):
            step = len(chosen) // 100
            absent = corpus.ordinary_like(chosen[:100], seed=9)
            reference = " ".join(chosen)
            prediction = " ".join(chosen[::step][:100] + absent)
            runs[kind] = ((lambda r=reference, p=prediction: tallygrams.score(r, p)), 1)
        best = interleaved(runs, rounds)
        rows.append((name, best["hostile"], best["ordinary"]))
    return rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="smaller workloads")
    args = parser.parse_args()
    scale = 10 if args.quick else 1

    rows = []
    summaries = corpus.summary_pairs(5_000 // scale, seed=1)
    best = interleaved({"peer": (peer_loop(summaries), 1), "ours": (ours_loop(summaries), 10)}, 3)
    peer, ours = best["peer"] / len(summaries), best["ours"] / len(summaries)
    rows.append(("summary pairs (40-90 tokens)", "score in a loop", peer, ours, 300))
    count = 100_000 // scale
    one = flat_in_subprocess(1, count)
    two = flat_in_subprocess(2, count)
    rows.append((f"{count:,} summary pairs", "flat, 2 workers", peer, two, 600))

    longs = corpus.long_pairs(max(4, 24 // scale), tokens=1000)
    best = interleaved({"peer": (peer_loop(longs), 1), "ours": (ours_loop(longs), 15)}, 2)
    peer_long, ours = best["peer"] / len(longs), best["ours"] / len(longs)
    rows.append(("long pairs (1000 tokens)", "score in a loop", peer_long, ours, 4000))

    huge = corpus.long_pairs(1, tokens=100_000, seed=3)
    huge_time = best_time(lambda: tallygrams.score(*huge[0]), 3)

    many = corpus.summary_pairs(count, seed=11)
    loop, size_rows = batch_size_table(many, 5)
    adversarial = adversarial_table(40_000 // scale, 5)

    print(f"tallygrams {tallygrams.__version__}, CPython {sys.version.split()[0]}, {os.process_cpu_count()} CPUs, "
          f"load average {os.getloadavg()[0]:.1f} at the end")
    print()
    print(f"| {'workload':<30} | {'ours':<17} | {'rouge-score':>11} | {'tallygrams':>11} | {'ratio':>7} | {'target':>7} |")
    print(f"|{'-' * 32}|{'-' * 19}|{'-' * 13}|{'-' * 13}|{'-' * 9}|{'-' * 9}|")
    for workload, ours_kind, peer_time, ours_time, target in rows:
        ratio = peer_time / ours_time
        print(f"| {workload:<30} | {ours_kind:<17} | {fmt(peer_time):>11} | {fmt(ours_time):>11} | "
              f"{ratio:>7.0f} | {'>= ' + str(target):>7} |")
    print(f"| {'two 100,000-token texts':<30} | {'score':<17} | {'':>11} | {fmt(huge_time):>11} | {'':>7} | {'< 1 s':>7} |")
    print(f"| {f'{count:,} summary pairs':<30} | {'flat, T=2 vs T=1':<17} | {fmt(one):>11} | {fmt(two):>11} | "
          f"{one / two:>7.2f} | {'>= 1.7':>7} |")

    print()
    print(f"Per pair by batch size (summary pairs, {os.process_cpu_count()} workers); "
          f"`score` in a loop: {fmt(loop).strip()} per pair at best")
    print()
    print("Each batch size is timed in turns with the loop; the columns are its per-pair time over the loop's.")
    print()
    print(f"| {'pairs per call':>14} | {'score_batch_flat / loop':>23} | {'score_batch / loop':>18} | {'target':>6} |")
    print(f"|{'-' * 16}|{'-' * 25}|{'-' * 20}|{'-' * 8}|")
    for size, flat, records in size_rows:
        print(f"| {size:>14,} | {flat:>23.2f} | {records:>18.2f} | {'<= 1.1':>6} |")

    print()
    print(f"`score` of {40_000 // scale:,} tokens against 200 (half of them absent), adversarial token sets "
          f"next to random tokens of the same lengths and repeats")
    print()
    print(f"| {'token set':<32} | {'adversarial':>11} | {'random':>11} | {'ratio':>5} | {'target':>6} |")
    print(f"|{'-' * 34}|{'-' * 13}|{'-' * 13}|{'-' * 7}|{'-' * 8}|")
    for name, hostile, ordinary in adversarial:
        print(f"| {name:<32} | {fmt(hostile):>11} | {fmt(ordinary):>11} | {hostile / ordinary:>5.2f} | {'<= 2':>6} |")


if __name__ == "__main__":
    main()
