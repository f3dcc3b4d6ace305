"""What each kind of bad input gets: one test per row of the README's table
"What bad input gets", in the same order."""

import re
import signal
import threading
import time

import pytest

import tallygrams
from misbehaving import HOOKS, LyingLength, panic_type, raising_from
from test_pool import address_sanitizer_loaded, run_python
from tallygrams import score, score_batch, score_batch_flat

BATCH_FUNCTIONS = pytest.mark.parametrize("function", [score_batch, score_batch_flat], ids=lambda f: f.__name__)


def raises(kind, call, message=None, note=None):
    with pytest.raises(BaseException) as info:
        call()
    error = info.value
    assert type(error) is kind, repr(error)
    if message is not None:
        assert str(error) == message
    assert getattr(error, "__notes__", None) == ([f"while processing '{note}'"] if note else None)
    return error


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: score("a"), "score() missing 1 required positional argument: 'prediction'"),
        (lambda: score("a", "b", Reference="c"), "score() got an unexpected keyword argument 'Reference'"),
        (lambda: score_batch([], [], []), "score_batch() takes 2 positional arguments but 3 were given"),
    ],
)
def test_wrong_number_or_names_of_arguments(call, message):
    raises(TypeError, call, message)


@pytest.mark.parametrize(
    "args, message, note",
    [
        ((1, "b"), "'int' object is not an instance of 'str'", "reference"),
        (("a", None), "'None' is not an instance of 'str'", "prediction"),
        ((b"a", "b"), "'bytes' object is not an instance of 'str'", "reference"),
    ],
)
def test_text_argument_of_another_type(args, message, note):
    raises(TypeError, lambda: score(*args), message, note)


def test_text_with_a_lone_surrogate():
    error = raises(UnicodeEncodeError, lambda: score("ok", "x\udc80y"), note="prediction")
    assert error.reason == "surrogates not allowed"


@BATCH_FUNCTIONS
@pytest.mark.parametrize(
    "references, message",
    [
        ("abc", "Can't extract `str` to `Vec`"),
        ({"a"}, "'set' object is not an instance of 'Sequence'"),
        ({"a": 1}, "'dict' object is not an instance of 'Sequence'"),
        ((t for t in ["a"]), "'generator' object is not an instance of 'Sequence'"),
        (None, "'None' is not an instance of 'Sequence'"),
    ],
    ids=["str", "set", "dict", "generator", "None"],
)
def test_batch_argument_that_is_not_a_sequence_of_str(function, references, message):
    raises(TypeError, lambda: function(references, ["a"]), message, "references")


@BATCH_FUNCTIONS
@pytest.mark.parametrize(
    "references, predictions, kind, note",
    [
        (["a", 1], ["a", "b"], TypeError, "references"),
        (b"ab", ["a", "b"], TypeError, "references"),
        (["a", "b"], ["a", "\ud83d"], UnicodeEncodeError, "predictions"),
    ],
    ids=["int", "bytes", "surrogate"],
)
def test_batch_element_that_is_not_usable_text(function, references, predictions, kind, note):
    raises(kind, lambda: function(references, predictions), note=note)


@BATCH_FUNCTIONS
@pytest.mark.parametrize("hook", ["__iter__", "__next__", "__getitem__"])
def test_sequence_whose_iteration_raises(function, hook):
    error = LookupError("from " + hook)
    sequence = raising_from(hook, error)
    assert raises(LookupError, lambda: function(["a", "b"], sequence), note="predictions") is error


@BATCH_FUNCTIONS
@pytest.mark.parametrize("length", [RuntimeError("no length"), 0, 10**12])
def test_sequence_whose_length_raises_or_lies(function, length):
    both = function(LyingLength(["a b", "c"], length), ["a b", "d"])
    recalls = [d["rouge1"].recall for d in both] if function is score_batch else both.rouge1_recall
    assert recalls == [1.0, 0.0]


@BATCH_FUNCTIONS
@pytest.mark.parametrize("hook", HOOKS)
def test_sequence_raising_panic_exception(function, hook, capfd):
    panic = panic_type()
    original = panic("raised in " + hook)
    sequence = raising_from(hook, original)
    error = raises(panic, lambda: function(sequence, ["a", "b"]), "raised in " + hook)
    assert error is not original and error.__context__ is None
    assert "PanicException: raised in " + hook in capfd.readouterr().err


@BATCH_FUNCTIONS
def test_sequences_of_different_lengths(function):
    raises(ValueError, lambda: function(["a", "b"], ["a"]), "references and predictions must have the same length")


def runs_with_the_lock_released(call):
    """Calls `call` while another Python thread counts; returns the call's
    result and how often the other thread got to run meanwhile."""
    ticks = [0]
    running = threading.Event()
    stop = threading.Event()

    def ticker():
        running.set()
        while not stop.is_set():
            ticks[0] += 1
            time.sleep(0)

    thread = threading.Thread(target=ticker)
    thread.start()
    running.wait()
    before = ticks[0]
    try:
        result = call()
    finally:
        during = ticks[0] - before
        stop.set()
        thread.join()
    return result, during


def test_huge_texts():
    huge = "Ab" * (1 << 25)  # 64 MiB, a single token
    result, ticks = runs_with_the_lock_released(lambda: score(huge + " x", huge))
    assert (result["rouge1"].precision, result["rouge1"].recall) == (1.0, 0.5)
    assert ticks > 0, "the interpreter lock was held while scoring"
    flat = score_batch_flat([huge, "a b"], ["x " + huge, "a b"])
    assert flat.rougeL_recall == [1.0, 1.0] and flat.rougeL_precision == [0.5, 1.0]


# The address space is limited so that the pairs' entries still fit and the
# nine result columns (8 bytes per pair each) do not.
OUT_OF_MEMORY = """
    import resource, signal, tallygrams
    tallygrams.score_batch_flat(["a", "b"], ["a", "b"])  # the pool, before the limit
    n = 10_000_000
    references = [""] * n
    predictions = [""] * n
    with open("/proc/self/statm") as statm:
        mapped = int(statm.read().split()[0]) * resource.getpagesize()
    resource.setrlimit(resource.RLIMIT_AS, (mapped + BYTES_PER_PAIR * n,) * 2)
    try:
        tallygrams.score_batch_flat(references, predictions)
    except BaseException as error:
        print("raised", type(error).__name__, error)
    else:
        print("scored")
"""


def test_result_columns_that_cannot_be_had_end_the_process_like_any_allocation():
    # Not a PanicException to carry on from: one behaviour for every
    # allocation, as documented. Where the limit falls among the module's
    # allocations varies a little, so a few are tried; at least one must
    # catch the columns.
    if address_sanitizer_loaded():
        pytest.skip("AddressSanitizer reserves far more address space than any limit here allows")
    columns_failed = False
    for bytes_per_pair in (80, 90, 100, 110):
        result = run_python(OUT_OF_MEMORY.replace("BYTES_PER_PAIR", str(bytes_per_pair)),
                            {"RAYON_NUM_THREADS": "2"}, check=False)
        if result.stdout.strip() == "scored":
            continue
        assert result.returncode == -signal.SIGABRT, result.stdout + result.stderr
        assert re.fullmatch(r"memory allocation of \d+ bytes failed\n", result.stderr), result.stderr
        columns_failed |= result.stderr == f"memory allocation of {8 * 10_000_000} bytes failed\n"
    assert columns_failed


@pytest.mark.parametrize("nul_text", ["a\x00b", "\x00a\x00\x00b\x00", "a\x00" * 1000 + "b"])
def test_nul_bytes_are_separators(nul_text):
    spaced = " ".join(nul_text.replace("\x00", " ").split())
    assert score(nul_text, spaced)["rouge2"].fmeasure == 1.0
    assert score_batch([nul_text], [spaced])[0]["rougeL"].fmeasure == 1.0


def test_millions_of_tokens_in_one_text():
    tokens = 2_000_000
    reference = " ".join(["w%d" % (i % 5000) for i in range(tokens)])
    prediction = " ".join(["w%d" % i for i in range(40)])
    result, ticks = runs_with_the_lock_released(lambda: score(reference, prediction))
    assert ticks > 0, "the interpreter lock was held while scoring"
    assert result["rouge1"].precision == 1.0
    assert result["rouge1"].recall == 40 / tokens
    assert result["rouge2"].recall == 39 / (tokens - 1)
    assert result["rougeL"].recall == 40 / tokens
    assert score_batch_flat([prediction, reference], [reference, prediction]).rougeL_recall == [1.0, 40 / tokens]


def test_str_subclass_with_its_own_str():
    class Loud(str):
        def __str__(self):
            raise AssertionError("never called")

    assert score(Loud("a b"), Loud("a b"))["rouge2"].fmeasure == 1.0
    assert score_batch([Loud("a")], [Loud("a")])[0]["rouge1"].recall == 1.0
