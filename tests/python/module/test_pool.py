"""The process-wide worker pool, observed from outside in fresh processes."""

import os
import subprocess
import sys
import textwrap

import pytest

import tallygrams

# The shared test helpers (misbehaving.py) sit one folder up.
HELPERS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def address_sanitizer_loaded():
    """True in the hardening run that preloads AddressSanitizer's runtime."""
    with open("/proc/self/maps") as maps:
        return "libclang_rt.asan" in maps.read()


def run_python(code, env_overrides=None, check=True):
    env = {k: v for k, v in os.environ.items() if k not in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")}
    env.update(env_overrides or {})
    env["PYTHONPATH"] = HELPERS + os.pathsep + env.get("PYTHONPATH", "")
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True, text=True, check=check, timeout=120
    )


COUNT_THREADS = """
    import os, tallygrams
    before = len(os.listdir("/proc/self/task"))
    tallygrams.score_batch_flat([], [])
    after = len(os.listdir("/proc/self/task"))
    tallygrams.score_batch(["a"] * 50, ["a"] * 50)
    print(after - before, len(os.listdir("/proc/self/task")) - after)
"""

CPUS = os.process_cpu_count()


@pytest.mark.parametrize(
    "env, expected",
    [
        ({}, CPUS),
        ({"RAYON_NUM_THREADS": "3"}, 3),
        ({"RAYON_NUM_THREADS": "+3"}, 3),
        ({"RAYON_NUM_THREADS": "1"}, 1),
        ({"RAYON_NUM_THREADS": "0", "RAYON_RS_NUM_CPUS": "5"}, CPUS),
        ({"RAYON_NUM_THREADS": "abc", "RAYON_RS_NUM_CPUS": "5"}, 5),
        ({"RAYON_NUM_THREADS": "-2", "RAYON_RS_NUM_CPUS": "4"}, 4),
        ({"RAYON_NUM_THREADS": " 3", "RAYON_RS_NUM_CPUS": "2"}, 2),
        ({"RAYON_NUM_THREADS": "99999999999999999999", "RAYON_RS_NUM_CPUS": "2"}, 2),
        ({"RAYON_RS_NUM_CPUS": "+6"}, 6),
        ({"RAYON_RS_NUM_CPUS": "0"}, CPUS),
        ({"RAYON_RS_NUM_CPUS": "many"}, CPUS),
    ],
)
def test_worker_count_from_environment(env, expected):
    started, later = run_python(COUNT_THREADS, env).stdout.split()
    assert int(started) == expected, "the first batch call, even an empty one, starts every worker"
    assert int(later) == 0, "the pool is created once"


VERIFY_AGAINST_SCORE = """
    import tallygrams, textgen
    pairs = textgen.pairs(7, 3000)
    refs = [r for r, _ in pairs]
    preds = [p for _, p in pairs]
    nine = lambda d: [getattr(d[m], s) for m in ("rouge1", "rouge2", "rougeL") for s in ("precision", "recall", "fmeasure")]
    expected = [nine(tallygrams.score(r, p)) for r, p in pairs]
    assert [nine(d) for d in tallygrams.score_batch(refs, preds)] == expected
    flat = tallygrams.score_batch_flat(refs, preds)
    columns = [getattr(flat, f"{m}_{s}") for m in ("rouge1", "rouge2", "rougeL") for s in ("precision", "recall", "fmeasure")]
    assert [list(row) for row in zip(*columns)] == expected
    print("ok")
"""


@pytest.mark.parametrize("workers", ["1", "2", "7"])
def test_results_do_not_depend_on_worker_count(workers):
    assert run_python(VERIFY_AGAINST_SCORE, {"RAYON_NUM_THREADS": workers}).stdout.strip() == "ok"


POOL_CREATION_FAILS = """
    import resource, tallygrams
    # Leave the interpreter room to work, but not for 4000 worker stacks.
    with open("/proc/self/statm") as f:
        pages = int(f.read().split()[0])
    budget = pages * resource.getpagesize() + (256 << 20)
    resource.setrlimit(resource.RLIMIT_AS, (budget, budget))
    messages = []
    for function in (tallygrams.score_batch, tallygrams.score_batch_flat, tallygrams.score_batch):
        try:
            function(["a b"], ["a"])
        except BaseException as e:
            messages.append((type(e).__name__, type(e).__module__, isinstance(e, Exception), str(e)))
    print(repr(messages))
    print(tallygrams.score("a b", "a")["rouge1"].recall)
    # Empty and parallel-sized batches fail the same way; errors found while
    # reading the arguments still come first.
    outcomes = []
    for function, args in ((tallygrams.score_batch_flat, ([], [])), (tallygrams.score_batch, (["a"] * 9, ["b"] * 9)),
                           (tallygrams.score_batch, (["a"], [])), (tallygrams.score_batch_flat, ([1], ["a"]))):
        try:
            function(*args)
        except BaseException as e:
            outcomes.append(type(e).__name__ + ("" if type(e).__name__ != "PanicException" else ":" + str(e)))
    print(repr(outcomes))
"""


@pytest.mark.skipif(address_sanitizer_loaded(), reason="the sanitizer's own mappings may hit the address-space limit first")
def test_pool_creation_failure_is_reported_and_survivable():
    result = run_python(POOL_CREATION_FAILS, {"RAYON_NUM_THREADS": "4000"})
    lines = result.stdout.splitlines()
    messages = eval(lines[0])
    assert len(messages) == 3
    prefix = "The global thread pool has not been initialized.: "
    for name, module, is_exception, text in messages:
        assert (name, module, is_exception) == ("PanicException", "pyo3_runtime", False)
        assert text.startswith(prefix)
    assert "os error" in messages[0][3]
    assert messages[1][3] == messages[2][3] != messages[0][3]
    assert lines[1] == "0.5", "single-pair scoring keeps working"
    assert "internal failure" in result.stderr
    later = "PanicException:" + messages[1][3]
    assert eval(lines[2]) == [later, later, "ValueError", "TypeError"]


RESUMED_PANIC_EVERYWHERE = """
    import tallygrams
    try:
        tallygrams.score("\\ud800", "x")
    except UnicodeEncodeError:
        pass
    Panic = next(c for c in BaseException.__subclasses__() if c.__name__ == "PanicException")

    from misbehaving import HOOKS, raising_from

    for function in (tallygrams.score_batch, tallygrams.score_batch_flat):
        for where in HOOKS:
            for position in (0, 1):
                args = [["a", "b"], ["a", "b"]]
                args[position] = raising_from(where, Panic("from " + where))
                try:
                    function(*args)
                    print("no exception")
                except BaseException as e:
                    print(function.__name__, where, position, type(e) is Panic, e.args, hasattr(e, "__notes__"))
    print(tallygrams.score_batch_flat(["a", "b"], ["a", "c"]).rouge1_fmeasure)
"""


def test_panics_from_every_sequence_hook_are_resumed():
    result = run_python(RESUMED_PANIC_EVERYWHERE)
    lines = result.stdout.splitlines()
    expected = [
        f"{function} {where} {position} True ('from {where}',) False"
        for function in ("score_batch", "score_batch_flat")
        for where in ("__len__", "__iter__", "__next__", "__getitem__")
        for position in (0, 1)
    ]
    assert lines == expected + ["[1.0, 0.0]"]
    for where in ("__len__", "__iter__", "__next__", "__getitem__"):
        assert result.stderr.count(f"PanicException: from {where}") == 4, where
    assert result.stderr.count("Traceback") == 16


RESUMED_PANIC = """
    import tallygrams
    try:
        tallygrams.score("\\ud800", "x")       # an exception taken from the interpreter
    except UnicodeEncodeError:
        pass
    Panic = next(c for c in BaseException.__subclasses__() if c.__name__ == "PanicException")
    assert Panic.__module__ == "pyo3_runtime" and not issubclass(Panic, Exception)
    original = Panic("raised by Python code")

    class Exploding(list):
        def __iter__(self):
            raise original

    try:
        tallygrams.score_batch(Exploding(["a"]), ["b"])
    except BaseException as e:
        print(type(e) is Panic, e is not original, e.args, getattr(e, "__notes__", None), e.__cause__, e.__context__)
    print(tallygrams.score_batch(["a"], ["a"])[0]["rouge1"].fmeasure)
"""


def test_panic_from_python_code_is_resumed_as_a_new_panic():
    result = run_python(RESUMED_PANIC)
    first, second = result.stdout.splitlines()
    assert first == "True True ('raised by Python code',) None None None"
    assert second == "1.0"
    assert "PanicException" in result.stderr and "raised by Python code" in result.stderr
    assert "Traceback" in result.stderr, "the original exception is printed with its traceback"


def test_module_keeps_the_pool_across_reimport():
    code = """
        import os, sys, importlib, tallygrams
        tallygrams.score_batch(["a"] * 4, ["a"] * 4)
        threads = len(os.listdir("/proc/self/task"))
        del sys.modules["tallygrams"]
        again = importlib.import_module("tallygrams")
        again.score_batch(["a"] * 4, ["a"] * 4)
        print(len(os.listdir("/proc/self/task")) - threads, again.BatchScoreResult is tallygrams.BatchScoreResult)
    """
    assert run_python(code, {"RAYON_NUM_THREADS": "2"}).stdout.split() == ["0", "True"]
