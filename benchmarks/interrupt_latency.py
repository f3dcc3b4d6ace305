"""How soon Ctrl-C stops a long call of tallygrams_scorer.

Two calls, each run in a child process that a SIGINT is sent to while the
call works, at several points of it (a tenth of the way through, three
tenths, ...):

  lsum    one pair of two 250,000-token texts, RougeScorer(["rougeLsum"]):
          the summary-level LCS of two one-line texts, whose work grows with
          the product of their lengths (tens of seconds uninterrupted);
  split   300,000 summary pairs with tokenizer=str.split, a tokenizer written
          in C that the scorer calls for every text with the lock held.

The latency is the time from the signal to the child's `except
KeyboardInterrupt`, both read from the system's monotonic clock. The target
is 200 ms.

    python benchmarks/interrupt_latency.py            # both calls, five points each
    python benchmarks/interrupt_latency.py --quick    # smaller calls, three points
"""

import argparse
import os
import random
import signal
import statistics
import subprocess
import sys
import time

WORDS = [f"w{i}" for i in range(2000)]


def workload(case, quick):
    import tallygrams_scorer

    rng = random.Random(7)
    if case == "lsum":
        tokens = 60_000 if quick else 250_000
        a = " ".join(rng.choice(WORDS) for _ in range(tokens))
        b = " ".join(rng.choice(WORDS) for _ in range(tokens))
        scorer = tallygrams_scorer.RougeScorer(["rougeLsum"])
        return lambda: scorer.score_batch([a], [b])
    pairs = 30_000 if quick else 300_000
    texts = [" ".join(rng.choice(WORDS) for _ in range(rng.randint(20, 60))) for _ in range(2000)]
    # Distinct str objects, as texts read from a file are.
    refs = [texts[i % 2000] + f" r{i}" for i in range(pairs)]
    preds = [texts[(i * 7) % 2000] + f" p{i}" for i in range(pairs)]
    scorer = tallygrams_scorer.RougeScorer(["rouge1", "rouge2", "rougeL"], tokenizer=str.split)
    return lambda: scorer.score_batch(refs, preds)


def child(case, quick):
    call = workload(case, quick)
    print("ready", flush=True)
    start = time.monotonic()
    try:
        call()
    except KeyboardInterrupt:
        print(f"interrupted {time.monotonic()!r}", flush=True)
        return
    print(f"finished {time.monotonic() - start!r}", flush=True)


def run_child(case, quick, delay):
    """(outcome, seconds): the latency after a signal `delay` seconds into
    the call, or, without a delay, how long the whole call takes."""
    process = subprocess.Popen([sys.executable, __file__, "--child", case] + (["--quick"] if quick else []),
                               stdout=subprocess.PIPE, text=True)
    try:
        assert process.stdout.readline().strip() == "ready"
        sent = None
        if delay is not None:
            time.sleep(delay)
            sent = time.monotonic()
            process.send_signal(signal.SIGINT)
        outcome, value = process.stdout.readline().split()
        process.wait(timeout=600)
    finally:
        process.kill()
    if outcome == "interrupted":
        return outcome, float(value) - sent
    return outcome, float(value)


def measure(case, quick, points):
    outcome, whole = run_child(case, quick, None)
    assert outcome == "finished"
    print(f"{case}: the call takes {whole:.2f} s uninterrupted")
    latencies = []
    for k in range(points):
        fraction = (2 * k + 1) / (2 * points)
        outcome, latency = run_child(case, quick, fraction * whole)
        if outcome != "interrupted":
            print(f"  signal at {fraction:.0%}: the call finished first")
            continue
        latencies.append(latency)
        print(f"  signal at {fraction:4.0%} of the call: KeyboardInterrupt after {latency * 1e3:7.1f} ms")
    if latencies:
        print(f"  median {statistics.median(latencies) * 1e3:.1f} ms, worst {max(latencies) * 1e3:.1f} ms")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="smaller calls, fewer points")
    parser.add_argument("--child", choices=["lsum", "split"], help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.child, args.quick)
        return
    for case in ("lsum", "split"):
        measure(case, args.quick, 3 if args.quick else 5)


if __name__ == "__main__":
    main()
