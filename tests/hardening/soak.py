"""Memory soak: many rounds of every public path, errors included, with the
process's resident memory required to stay flat.

A round takes every path once. After warm-up rounds (pools, caches and
interpreter free lists reach their working size), resident memory is read,
the measured rounds run, and it is read again. Anything a path keeps per
call, a Python object or a few native bytes, adds up over the rounds to far
more than the tolerance.

    python tests/hardening/soak.py [--rounds N] [--pool-fails]
"""

import argparse
import gc
import os
import resource
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import public_paths  # noqa: E402

PAGE = resource.getpagesize()


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def mib(n):
    return f"{n / (1 << 20):.1f} MiB"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=100_000)
    parser.add_argument("--warmup", type=int, default=5_000)
    parser.add_argument("--tolerance-mib", type=float, default=2.0)
    parser.add_argument("--pool-fails", action="store_true")
    parser.add_argument("--path", help="soak only the path of this name")
    args = parser.parse_args()

    if args.pool_fails:
        public_paths.make_pool_creation_fail()
        paths = public_paths.POOLLESS_PATHS
    else:
        paths = public_paths.PATHS
    if args.path:
        paths = [p for p in paths if p.__name__ == args.path]
        if not paths:
            sys.exit(f"soak: no path named {args.path}")

    # A resumed PanicException is printed through sys.excepthook. The default
    # hook's source-line formatting would take most of the soak's time; this
    # one still receives and reads every exception.
    sys.excepthook = lambda kind, value, traceback: str(value)

    # Subinterpreters and forks take milliseconds: only every `every` rounds.
    schedule = [(path, getattr(path, "every", 1)) for path in paths]
    taken = 0

    def run(rounds):
        nonlocal taken
        for _ in range(rounds):
            for path, every in schedule:
                if taken % every == 0:
                    path()
            taken += 1

    started = time.monotonic()
    run(args.warmup)
    gc.collect()
    baseline = resident_bytes()
    samples = []
    step = max(1, args.rounds // 10)
    done = 0
    while done < args.rounds:
        count = min(step, args.rounds - done)
        run(count)
        done += count
        gc.collect()
        samples.append(resident_bytes() - baseline)
    growth = samples[-1]
    mode = "without a pool" if args.pool_fails else f"{len(paths)} paths"
    print(f"soak ({mode}): {args.rounds} rounds after {args.warmup} warm-up rounds, "
          f"{time.monotonic() - started:.1f} s; resident {mib(baseline)} after warm-up, growth by tenths: "
          + " ".join(f"{s / 1024:+.0f}K" for s in samples))
    if growth > args.tolerance_mib * (1 << 20):
        sys.exit(f"soak: resident memory grew by {mib(growth)} (tolerance {args.tolerance_mib} MiB)")


if __name__ == "__main__":
    main()
