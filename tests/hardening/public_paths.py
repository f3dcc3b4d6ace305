"""Every public way into the modules, each as a function that takes it once.

Each path checks its own outcome (a value, or the exception it must raise),
so a path that silently stopped failing, or started failing, is noticed by
whatever repeats it. Used by the reference-leak hunt and the memory soak.
"""

import _interpreters
import atexit
import importlib
import os
import sys
import warnings

import tallygrams

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
from misbehaving import GetItemOnly, LyingLength, Raising, panic_type  # noqa: E402

# The oracle of a few fixed pairs: (reference, prediction) -> rouge1 recall.
PAIRS = [
    ("The cat sat on the mat.", "the cat sat"),
    ("\u0130stanbul \u212aelvin caf\u00e9", "i stanbul kelvin cafe"),
    ("", "anything at all"),
    ("a\x00b c", "a b\x00c"),
] * 8
REFERENCES = [r for r, _ in PAIRS]
PREDICTIONS = [p for _, p in PAIRS]
RECALLS = [tallygrams.score(r, p)["rouge1"].recall for r, p in PAIRS]
COLUMNS = [f"{m}_{s}" for m in ("rouge1", "rouge2", "rougeL") for s in ("precision", "recall", "fmeasure")]


PanicException = panic_type()


def expect(kind, function, *args, **kwargs):
    try:
        function(*args, **kwargs)
    except kind as error:
        if type(error) is not kind:
            raise AssertionError(f"{function.__name__}: expected {kind.__name__}, got {type(error).__name__}")
        return error
    raise AssertionError(f"{function.__name__}{args!r}: no {kind.__name__} raised")


class QuietStderr:
    """Silences both the module's direct writes to descriptor 2 and the
    interpreter's printout of a resumed PanicException."""

    def __init__(self):
        self.null_fd = os.open(os.devnull, os.O_WRONLY)
        self.null_file = open(os.devnull, "w")

    def __enter__(self):
        sys.stderr.flush()
        self.saved_fd = os.dup(2)
        os.dup2(self.null_fd, 2)
        self.saved_file, sys.stderr = sys.stderr, self.null_file

    def __exit__(self, *exc):
        sys.stderr = self.saved_file
        os.dup2(self.saved_fd, 2)
        os.close(self.saved_fd)


quiet = QuietStderr()
atexit.register(quiet.null_file.close)


class Text(str):
    pass


# --- the paths ---------------------------------------------------------------

def score_values():
    for (reference, prediction), recall in zip(PAIRS[:4], RECALLS):
        result = tallygrams.score(reference, prediction)
        assert result["rouge1"].recall == recall
        for s in result.values():
            s.precision, s.recall, s.fmeasure


def score_keywords_and_subclass():
    assert tallygrams.score(prediction=Text("a b"), reference="a b")["rougeL"].fmeasure == 1.0


def score_batch_values(n):
    def path():
        result = tallygrams.score_batch(REFERENCES[:n], tuple(PREDICTIONS[:n]))
        assert [d["rouge1"].recall for d in result] == RECALLS[:n]
    path.__name__ = f"score_batch_{n}"
    return path


def score_batch_flat_values(n):
    def path():
        result = tallygrams.score_batch_flat(REFERENCES[:n], PREDICTIONS[:n])
        assert result.rouge1_recall == RECALLS[:n]
        for name in COLUMNS:
            assert len(getattr(result, name)) == n
    path.__name__ = f"score_batch_flat_{n}"
    return path


def batch_odd_sequences():
    for function in (tallygrams.score_batch, tallygrams.score_batch_flat):
        function(GetItemOnly(["a", "b"]), LyingLength(["a", "b"], RuntimeError("no length")))
        function(range(0), [])


def reimport():
    del sys.modules["tallygrams"]
    fresh = importlib.import_module("tallygrams")
    assert fresh.score("a", "a")["rouge1"].recall == 1.0


def score_binding_errors():
    expect(TypeError, tallygrams.score)
    expect(TypeError, tallygrams.score, "a")
    expect(TypeError, tallygrams.score, "a", "b", "c")
    expect(TypeError, tallygrams.score, "a", reference="b")
    expect(TypeError, tallygrams.score, "a", "b", Reference="c")
    expect(TypeError, tallygrams.score, "a", "b", **{"\ud800": 1})


def batch_binding_errors():
    for function in (tallygrams.score_batch, tallygrams.score_batch_flat):
        expect(TypeError, function)
        expect(TypeError, function, [], [], [])
        expect(TypeError, function, [], references=[])
        expect(TypeError, function, [], [], reference=[])


def score_type_errors():
    expect(TypeError, tallygrams.score, 1, "b")
    expect(TypeError, tallygrams.score, "a", None)
    expect(TypeError, tallygrams.score, b"a", "b")


def score_surrogates():
    expect(UnicodeEncodeError, tallygrams.score, "\ud800", "b")
    expect(UnicodeEncodeError, tallygrams.score, "a", "x \udfff y")


def batch_argument_errors():
    for function in (tallygrams.score_batch, tallygrams.score_batch_flat):
        expect(TypeError, function, "abc", ["x"])
        expect(TypeError, function, ["x"], {"a"})
        expect(TypeError, function, (c for c in "ab"), ["a", "b"])
        expect(TypeError, function, None, [])
        expect(TypeError, function, {"a": 1}, ["a"])
        expect(TypeError, function, b"ab", ["a", "b"])


def batch_element_errors():
    for function in (tallygrams.score_batch, tallygrams.score_batch_flat):
        expect(TypeError, function, ["a", 1], ["b", "c"])
        expect(TypeError, function, ["a"], ["b", None])
        expect(UnicodeEncodeError, function, ["ok", "\ud800"], ["a", "b"])
        expect(UnicodeEncodeError, function, ["a", "b"], ["a", "b\udfff"])


def batch_length_mismatch():
    for function in (tallygrams.score_batch, tallygrams.score_batch_flat):
        expect(ValueError, function, REFERENCES[:3], PREDICTIONS[:4])


def batch_iteration_errors():
    for function in (tallygrams.score_batch, tallygrams.score_batch_flat):
        expect(KeyError, function, Raising(["a"], "__iter__", KeyError("iter")), ["a"])
        expect(KeyError, function, ["a", "b"], Raising(["a", "b"], "__next__", KeyError("next")))
        expect(KeyError, function, GetItemOnly(["a", "b", "c"], 2, KeyError("getitem")), ["a", "b", "c"])


def batch_resumed_panics():
    with quiet:
        for function in (tallygrams.score_batch, tallygrams.score_batch_flat):
            expect(PanicException, function, Raising(["a"], "__iter__", PanicException("iter")), ["a"])
            expect(PanicException, function, ["a", "b"], Raising(["a", "b"], "__next__", PanicException("next")))
            expect(PanicException, function, GetItemOnly(["a", "b"], 1, PanicException("getitem")), ["a", "b"])
            expect(PanicException, function, LyingLength(["a"], PanicException("len")), ["a"])


def class_refusals():
    result = tallygrams.score_batch_flat(["a"], ["a"])
    single = tallygrams.score("a", "a")["rouge1"]
    expect(TypeError, tallygrams.BatchScoreResult)
    expect(TypeError, tallygrams.Score)
    expect(AttributeError, setattr, result, "rouge1_recall", [])
    expect(AttributeError, setattr, single, "precision", 0.5)
    expect(AttributeError, setattr, single, "other", 1)
    for instance in (result, single):
        for protocol in (0, 1, 5):
            expect(TypeError, instance.__reduce_ex__, protocol)


# --- other interpreters and forked children ----------------------------------
#
# These take milliseconds each, not microseconds: the leak hunt calls each
# only `calls` times a round, and the soak takes it only every `every` rounds.

def costly(calls, every):
    def mark(path):
        path.calls, path.every = calls, every
        return path
    return mark


# Every kind of call, run inside a subinterpreter that lives for one path.
IN_SUBINTERPRETER = """
import tallygrams
assert tallygrams.score("a b c", "a b")["rouge1"].recall == 2 / 3
assert tallygrams.score_batch(["a b c"] * 4, ["a b"] * 4)[3]["rouge1"].recall == 2 / 3
assert tallygrams.score_batch_flat(["a b c"] * 4, ["a b"] * 4).rouge1_recall == [2 / 3] * 4
for call in (lambda: tallygrams.score_batch({1}, []), lambda: tallygrams.score(1, "")):
    try:
        call()
    except TypeError as error:
        assert error.__notes__
try:
    tallygrams.score("\\ud800", "")
except UnicodeEncodeError:
    pass
try:
    tallygrams.score_batch_flat([], []).__reduce__()
except TypeError:
    pass
"""


def subinterpreter(config):
    @costly(calls=4, every=250)
    def path():
        interpreter = _interpreters.create(_interpreters.new_config(config))
        try:
            failure = _interpreters.exec(interpreter, IN_SUBINTERPRETER)
        finally:
            _interpreters.destroy(interpreter)
        assert failure is None, failure
    path.__name__ = f"subinterpreter_{config}"
    return path


@costly(calls=4, every=250)
def forked_child():
    # The child makes batch calls on a pool of its own; the parent's part
    # (forking, waiting, the pool's fork handlers) must not grow either.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # fork() with the pool's threads alive
        pid = os.fork()
    if pid == 0:
        try:
            score_batch_flat_values(32)()
            score_batch_values(32)()
            os._exit(0)
        except BaseException:
            os._exit(1)
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0, status


PATHS = [
    score_values,
    score_keywords_and_subclass,
    score_batch_values(0),
    score_batch_values(1),
    score_batch_values(32),
    score_batch_flat_values(0),
    score_batch_flat_values(1),
    score_batch_flat_values(32),
    batch_odd_sequences,
    reimport,
    score_binding_errors,
    batch_binding_errors,
    score_type_errors,
    score_surrogates,
    batch_argument_errors,
    batch_element_errors,
    batch_length_mismatch,
    batch_iteration_errors,
    batch_resumed_panics,
    class_refusals,
    subinterpreter("legacy"),
    subinterpreter("isolated"),
    forked_child,
]

# The companion module's ways in, without the parts that need NumPy or pyarrow.
import scorer_paths  # noqa: E402

PATHS += scorer_paths.PATHS


# --- with a pool that could not be created -----------------------------------

def make_pool_creation_fail():
    """Limits the address space so that the pool's worker stacks cannot be
    mapped (with RAYON_NUM_THREADS set high), and checks that it failed."""
    import resource

    assert int(os.environ.get("RAYON_NUM_THREADS", "0")) >= 1000
    with open("/proc/self/statm") as f:
        pages = int(f.read().split()[0])
    budget = pages * resource.getpagesize() + (256 << 20)
    resource.setrlimit(resource.RLIMIT_AS, (budget, budget))
    with quiet:
        error = expect(PanicException, tallygrams.score_batch, ["a"], ["a"])
    assert str(error).startswith("The global thread pool has not been initialized.: ")


def batch_without_pool():
    with quiet:
        for function in (tallygrams.score_batch, tallygrams.score_batch_flat):
            error = expect(PanicException, function, REFERENCES[:3], PREDICTIONS[:3])
            assert str(error).startswith("The global thread pool has not been initialized.: ")
    score_values()


POOLLESS_PATHS = [batch_without_pool, batch_length_mismatch, batch_element_errors]
