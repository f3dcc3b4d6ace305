"""Children of os.fork(): batch scoring in a child, which inherits no worker
threads, and forks that land while another thread sets something up."""

import textwrap

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


# --- forks that land while another thread is setting something up ----------

# The first use of everything the module creates lazily: the worker pool,
# the note name of an argument error, the PanicException type (made when an
# exception first comes back from the interpreter), a resumed panic's
# diagnostic.
FIRST_USES = """
    import os, sys, tallygrams
    from misbehaving import Raising, panic_type

    def first_uses():
        assert tallygrams.score("a b c", "a b")["rouge1"].recall == 2 / 3
        try:
            tallygrams.score_batch({1}, [])
        except TypeError as error:
            assert error.__notes__ == ["while processing 'references'"]
        try:
            tallygrams.score("\\ud800", "")
        except UnicodeEncodeError:
            pass
        assert tallygrams.score_batch_flat(["a b"] * 64, ["a"] * 64).rouge1_recall == [0.5] * 64
        panic = panic_type()
        try:
            tallygrams.score_batch(Raising(["a"], "__iter__", panic("again")), ["a"])
        except panic:
            pass

    def wait_for(pid, seconds):
        # The child's exit status, or None if it had to be killed.
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                return os.waitstatus_to_exitcode(status)
            time.sleep(0.002)
        os.kill(pid, 9)
        os.waitpid(pid, 0)
        return None
"""


def run_fork_case(code, env=None):
    # Diagnostics and resumed panics print on standard error; the cases
    # report on standard output.
    prelude = "import time, warnings\nwarnings.simplefilter('ignore', DeprecationWarning)\n"
    return run_python(prelude + textwrap.dedent(FIRST_USES) + textwrap.dedent(code), env, check=False)


def test_first_uses_racing_a_fork_never_leave_the_child_waiting():
    # One thread makes the process's first calls while the main thread
    # forks at a random moment; the child makes its own first calls. Each
    # round starts from a process that has imported the module and done
    # nothing else, forked off a parent that stays in that state.
    code = """
        import random, threading
        sys.excepthook = lambda *exc: None
        outcomes = {"ok": 0, "child failed": 0, "child hung": 0, "round hung": 0}
        for round in range(ROUNDS):
            pid = os.fork()
            if pid == 0:
                null = os.open(os.devnull, os.O_WRONLY)
                os.dup2(null, 2)
                random.seed(round)
                sys.setswitchinterval(random.choice([1e-6, 1e-5, 1e-4, 5e-3]))
                racer = threading.Thread(target=first_uses)
                racer.start()
                time.sleep(random.random() * 0.003)
                child = os.fork()
                if child == 0:
                    try:
                        first_uses()
                    except BaseException:
                        os._exit(1)
                    os._exit(0)
                status = wait_for(child, 10)
                racer.join()
                os._exit(0 if status == 0 else 2 if status is None else 1)
            status = wait_for(pid, 30)
            outcomes[{0: "ok", 2: "child hung", None: "round hung"}.get(status, "child failed")] += 1
            if status != 0:
                break  # one is enough, and a hang costs seconds
        print(outcomes)
    """
    if address_sanitizer_loaded():
        pytest.skip("clang 14's AddressSanitizer allocator may be forked while locked by another thread")
    result = run_fork_case(code.replace("ROUNDS", "300"), {"RAYON_NUM_THREADS": "2"})
    assert result.stdout.strip() == str({"ok": 300, "child failed": 0, "child hung": 0, "round hung": 0}), (
        result.stdout + result.stderr
    )


def test_fork_while_another_thread_is_stopped_in_an_import_hook():
    # An import hook holds every import of another thread until released.
    # That thread makes its first batch call with a set, whose type error
    # names Sequence: the module must not import anything to say so, and a
    # child forked meanwhile makes the same first calls without waiting.
    code = """
        import builtins, threading
        held, release, done = threading.Event(), threading.Event(), threading.Event()
        original_import = builtins.__import__
        def holding_import(name, *args, **kwargs):
            if threading.current_thread() is racer and os.getpid() == parent:
                held.set()
                release.wait()
            return original_import(name, *args, **kwargs)
        def race():
            builtins.__import__ = holding_import
            try:
                tallygrams.score_batch_flat({1}, [])
            except TypeError:
                pass
            done.set()
        parent = os.getpid()
        racer = threading.Thread(target=race)
        racer.start()
        while not (held.is_set() or done.is_set()):
            time.sleep(0.001)
        pid = os.fork()
        if pid == 0:
            os.dup2(os.open(os.devnull, os.O_WRONLY), 2)
            first_uses()
            os._exit(0)
        status = wait_for(pid, 30)
        release.set()
        racer.join()
        print(status, "held" if held.is_set() else "not held")
    """
    result = run_fork_case(code, {"RAYON_NUM_THREADS": "2"})
    assert result.stdout.split() == ["0", "not", "held"], result.stdout + result.stderr
