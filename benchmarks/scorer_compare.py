"""tallygrams_scorer beside rouge-score with stemming and the summary-level
LCS, the configuration summarisation papers report with.

The summary corpus is made multi-line (2 to 5 sentences per text, one per
line), and both scorers run RougeScorer(["rouge1", "rouge2", "rougeLsum"],
use_stemmer=True) in one process: the same loop over the same pairs, every
result kept. Ratios are the peer's time per pair over ours, measured side
by side; each timing is the best of several rounds.

    python benchmarks/scorer_compare.py            # the full table
    python benchmarks/scorer_compare.py --quick    # a smoke run
"""

import argparse
import os
import random
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import corpus  # noqa: E402
import tallygrams_scorer  # noqa: E402
from rouge_score import rouge_scorer  # noqa: E402

TYPES = ["rouge1", "rouge2", "rougeLsum"]


def multi_line(text, rng):
    """The text cut into 2 to 5 lines at word boundaries."""
    words = text.split(" ")
    cuts = sorted(rng.sample(range(1, len(words)), rng.randint(2, 5) - 1))
    return "\n".join(" ".join(words[a:b]) for a, b in zip([0, *cuts], [*cuts, len(words)]))


def multi_line_pairs(count, seed):
    rng = random.Random(seed)
    return [(multi_line(r, rng), multi_line(p, rng)) for r, p in corpus.summary_pairs(count, seed=seed)]


def best_per_item(function, count, rounds):
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        function()
        best = min(best, time.perf_counter() - start)
    return best / count


def fmt(seconds):
    return f"{seconds * 1e3:8.2f} ms" if seconds >= 1e-3 else f"{seconds * 1e6:8.2f} us"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="smaller workloads")
    args = parser.parse_args()
    scale = 10 if args.quick else 1

    peer = rouge_scorer.RougeScorer(TYPES, use_stemmer=True)
    ours = tallygrams_scorer.RougeScorer(TYPES, use_stemmer=True)
    pairs = multi_line_pairs(2_000 // scale, seed=1)
    # The peer is slow: a fifth of the pairs gives it a steady figure.
    peer_pairs = pairs[: len(pairs) // 5]
    references = [r for r, _ in pairs]
    predictions = [p for _, p in pairs]
    rng = random.Random(5)
    groups = [[r, *rng.sample(references, 3)] for r in references]  # 4 references each

    rows = []
    peer_time = best_per_item(lambda: [peer.score(r, p) for r, p in peer_pairs], len(peer_pairs), 2)
    loop = best_per_item(lambda: [ours.score(r, p) for r, p in pairs], len(pairs), 30)
    rows.append(("score in a loop", peer_time, loop, 300))
    batch = best_per_item(lambda: ours.score_batch(references, predictions), len(pairs), 30)
    rows.append((f"score_batch, {os.process_cpu_count()} cores", peer_time, batch, 600))
    peer_multi = best_per_item(lambda: [peer.score_multi(g, p) for g, (_, p) in zip(groups, peer_pairs)],
                               len(peer_pairs), 2)
    multi = best_per_item(lambda: [ours.score_multi(g, p) for g, p in zip(groups, predictions)], len(pairs), 10)
    rows.append(("score_multi, 4 references", peer_multi, multi, 300))

    # Same numbers, not only the same speed.
    assert [ours.score(r, p) for r, p in peer_pairs] == [peer.score(r, p) for r, p in peer_pairs]

    print(f"tallygrams_scorer {tallygrams_scorer.__version__}, CPython {sys.version.split()[0]}, "
          f"{os.process_cpu_count()} CPUs; RougeScorer({TYPES}, use_stemmer=True), "
          f"{len(pairs):,} multi-line summary pairs")
    print()
    print(f"| {'call':<26} | {'rouge-score':>11} | {'tallygrams':>11} | {'ratio':>7} | {'target':>7} |")
    print(f"|{'-' * 28}|{'-' * 13}|{'-' * 13}|{'-' * 9}|{'-' * 9}|")
    for name, theirs, mine, target in rows:
        print(f"| {name:<26} | {fmt(theirs):>11} | {fmt(mine):>11} | {theirs / mine:>7.0f} | {'>= ' + str(target):>7} |")


if __name__ == "__main__":
    main()
