"""Reference-leak hunt: run under the debug interpreter (python3.14-dbg) with
the module built for it.

Each public path is repeated in rounds; after warm-up rounds (which fill
caches, specialise bytecode and create the module's process-wide objects),
the total reference count and the number of allocated memory blocks are read
after every round. As in CPython's own leak hunting, a path leaks when every
measured round grew a counter: genuine leaks grow it each time, while
interpreter noise does not.

    python3.14-dbg tests/hardening/refleaks.py [--pool-fails] [--rounds N]

With --pool-fails the worker pool is first made impossible to create, and
the paths that then fail (every batch call) are hunted instead.
"""

import argparse
import gc
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import public_paths  # noqa: E402


def settle():
    gc.collect()
    sys._clear_internal_caches()


def deltas_of(path, calls, warmups, rounds):
    refs = []
    blocks = []
    before_refs = before_blocks = 0
    for i in range(warmups + rounds):
        for _ in range(calls):
            path()
        settle()
        after_blocks = sys.getallocatedblocks()
        after_refs = sys.gettotalrefcount()
        if i >= warmups:
            refs.append(after_refs - before_refs)
            blocks.append(after_blocks - before_blocks)
        before_refs, before_blocks = after_refs, after_blocks
    return refs, blocks


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pool-fails", action="store_true")
    parser.add_argument("--calls", type=int, default=50, help="calls of a path per round (fewer for costly paths)")
    parser.add_argument("--warmups", type=int, default=4)
    parser.add_argument("--rounds", type=int, default=8)
    args = parser.parse_args()

    if not hasattr(sys, "gettotalrefcount"):
        sys.exit("refleaks: needs a debug build of the interpreter (python3.14-dbg)")
    import tallygrams

    # The debug interpreter only loads extensions built for it (their own
    # suffix), but say so plainly if the path is wrong.
    assert ".cpython-314d-" in os.path.basename(tallygrams.__file__), tallygrams.__file__

    if args.pool_fails:
        public_paths.make_pool_creation_fail()
        paths = public_paths.POOLLESS_PATHS
    else:
        paths = public_paths.PATHS

    leaks = []
    started = time.monotonic()
    for path in paths:
        # Subinterpreters and forks take milliseconds: fewer calls a round.
        refs, blocks = deltas_of(path, getattr(path, "calls", args.calls), args.warmups, args.rounds)
        leaked = all(d >= 1 for d in refs) or all(d >= 1 for d in blocks)
        print(f"{'LEAK' if leaked else 'ok  '} {path.__name__:32} refs {refs} blocks {blocks}", flush=True)
        if leaked:
            leaks.append(path.__name__)
    mode = "without a pool" if args.pool_fails else "all paths"
    print(f"refleaks ({mode}): {len(paths)} paths, {len(leaks)} leaking, {time.monotonic() - started:.1f} s")
    if leaks:
        sys.exit(f"refleaks: leaking paths: {', '.join(leaks)}")


if __name__ == "__main__":
    main()
