"""Batch scoring in a child of os.fork(), which inherits no worker threads."""

import pytest

from test_pool import address_sanitizer_loaded, run_python

FORKED = """
    import os, sys, time, warnings, tallygrams, textgen
    warnings.simplefilter("ignore", DeprecationWarning)  # fork() with threads alive

    pairs = textgen.pairs(11, 300)
    refs = [r for r, _ in pairs]
    preds = [p for _, p in pairs]
    nine = lambda d: [getattr(d[m], s) for m in ("rouge1", "rouge2", "rougeL") for s in ("precision", "recall", "fmeasure")]
    expected = [nine(tallygrams.score(r, p)) for r, p in pairs]

    def check():
        assert [nine(d) for d in tallygrams.score_batch(refs, preds)] == expected
        flat = tallygrams.score_batch_flat(refs, preds)
        rows = zip(*(getattr(flat, f"{m}_{s}") for m in ("rouge1", "rouge2", "rougeL") for s in ("precision", "recall", "fmeasure")))
        assert [list(r) for r in rows] == expected
        return len(os.listdir("/proc/self/task"))

    def in_child(generations):
        # Returns the child's exit status, or None if it had to be killed.
        pid = os.fork()
        if pid == 0:
            try:
                threads = check()
                assert threads == 3, threads  # this thread and a pool of its own
                if generations > 1 and in_child(generations - 1) != 0:
                    os._exit(2)
                os._exit(0)
            except BaseException:
                import traceback; traceback.print_exc()
                os._exit(1)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                return os.waitstatus_to_exitcode(status)
            time.sleep(0.02)
        os.kill(pid, 9)
        os.waitpid(pid, 0)
        return None

    if POOL_BEFORE_FORK:
        check()
    if BUSY:
        # Forks land while another thread has batches on the pool.
        import threading
        stop = threading.Event()
        def keep_scoring():
            while not stop.is_set():
                check()
        busy = threading.Thread(target=keep_scoring)
        busy.start()
        statuses = {in_child(GENERATIONS) for _ in range(20)}
        stop.set()
        busy.join()
        print(*statuses, check())
    else:
        print(in_child(GENERATIONS), check())
"""


@pytest.mark.parametrize(
    "pool_before_fork, generations, busy",
    [(True, 1, False), (True, 2, False), (False, 1, False), (True, 1, True)],
    ids=["pool-exists", "grandchild", "no-pool-yet", "pool-busy"],
)
def test_batches_in_a_forked_child_complete(pool_before_fork, generations, busy):
    if busy and address_sanitizer_loaded():
        pytest.skip("clang 14's AddressSanitizer allocator may be forked while locked by another thread")
    code = FORKED
    for name, value in (("POOL_BEFORE_FORK", pool_before_fork), ("GENERATIONS", generations), ("BUSY", busy)):
        code = code.replace(name, str(value))
    result = run_python(code, {"RAYON_NUM_THREADS": "2"}, check=False)
    assert result.stdout.split() == ["0", "3"], result.stderr
