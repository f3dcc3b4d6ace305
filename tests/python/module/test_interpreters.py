"""The module in several interpreters of one process: shared-GIL (legacy)
subinterpreters, interpreters with a GIL of their own, and a second copy of
the shared object in one interpreter. Each case runs in a fresh process with
a timeout."""

import os
import shutil
import textwrap

import pytest

import tallygrams
from test_pool import run_python

NINE = """
COLUMNS = [f"{m}_{s}" for m in ("rouge1", "rouge2", "rougeL") for s in ("precision", "recall", "fmeasure")]
def nine(result):
    return [getattr(result[m], s) for m in ("rouge1", "rouge2", "rougeL") for s in ("precision", "recall", "fmeasure")]
"""


def run_with_nine(code, env=None):
    """Runs indented `code` in a fresh process, with NINE defined."""
    return run_python(NINE + textwrap.dedent(code), env, check=False)


# Run in a subinterpreter: classes of its own that hold every attribute name
# of both classes, each looked up once, so that its attribute cache holds
# entries for the first type version tags it hands out. Then the module's
# values, read there, must be the main interpreter's (EXPECTED).
COLLIDING_CLASSES = NINE + """
import tallygrams
names = ["precision", "recall", "fmeasure"] + COLUMNS
decoys = []
for k in range(200):
    decoy = type(f"Decoy{k}", (), {name: f"FAKE-{name}" for name in names})
    for name in names:
        getattr(decoy, name)
    decoys.append(decoy)
single = tallygrams.score("a b c", "a b")
flat = tallygrams.score_batch_flat(["a b c", "x y"], ["a b", "y"])
assert type(single["rouge1"]) is tallygrams.Score
assert (nine(single), [getattr(flat, c) for c in COLUMNS]) == EXPECTED, (nine(single), flat.rouge1_recall)
"""


def test_subinterpreters_read_their_own_values_despite_colliding_classes():
    code = """
        import _interpreters, tallygrams
        # The main interpreter reads the attributes first, so its classes
        # carry version tags that a fresh interpreter hands out again.
        flat = tallygrams.score_batch_flat(["a b c", "x y"], ["a b", "y"])
        expected = (nine(tallygrams.score("a b c", "a b")), [getattr(flat, c) for c in COLUMNS])
        for config in ("legacy", "isolated"):
            interpreter = _interpreters.create(_interpreters.new_config(config))
            failure = _interpreters.exec(interpreter, COLLIDING.replace("EXPECTED", repr(expected)))
            _interpreters.destroy(interpreter)
            assert failure is None, (config, failure)
        # And the main interpreter still reads its own.
        assert (nine(tallygrams.score("a b c", "a b")), [getattr(flat, c) for c in COLUMNS]) == expected
        print("ok")
    """
    result = run_with_nine(code.replace("COLLIDING", repr(COLLIDING_CLASSES)))
    assert result.stdout.split() == ["ok"], result.stderr


def test_each_interpreter_has_its_own_classes_and_keeps_them_across_imports():
    code = """
        import _interpreters, tallygrams
        PROBE = r'''
        import sys, tallygrams
        score_class, result_class = tallygrams.Score, tallygrams.BatchScoreResult
        del sys.modules["tallygrams"]
        import tallygrams as again
        assert again is not tallygrams
        assert again.Score is score_class and again.BatchScoreResult is result_class
        assert type(again.score("a", "a")["rouge1"]) is score_class
        try:
            again.score("\\ud800", "")
        except UnicodeEncodeError:
            pass
        panics = [c for c in BaseException.__subclasses__()
                      if c.__module__ == "pyo3_runtime" and c.__doc__.startswith("Raised when native code")]
        assert len(panics) == 1, panics
        print(id(score_class), id(result_class), id(panics[0]), flush=True)
        '''
        interpreters = []
        for config in ("legacy", "isolated", "isolated"):
            interpreter = _interpreters.create(_interpreters.new_config(config))
            interpreters.append(interpreter)  # alive together, so no id is reused
            failure = _interpreters.exec(interpreter, PROBE)
            assert failure is None, failure
        print(id(tallygrams.Score), id(tallygrams.BatchScoreResult), flush=True)
        for interpreter in interpreters:
            _interpreters.destroy(interpreter)
    """
    result = run_python(code, check=False)
    ids = result.stdout.split()
    assert len(ids) == 11 and len(set(ids)) == 11, result.stdout + result.stderr


def test_three_own_gil_interpreters_score_at_once_like_the_main_one():
    code = """
        import concurrent.interpreters as interpreters, sys, threading, textgen, tallygrams

        pairs = textgen.pairs(23, 3000)
        references = [r for r, _ in pairs]
        predictions = [p for _, p in pairs]
        main = tallygrams.score_batch_flat(references, predictions)
        expected = [getattr(main, c) for c in COLUMNS]

        def score_rounds(references, predictions, rounds):
            import threading, tallygrams
            COLUMNS = [f"{m}_{s}" for m in ("rouge1", "rouge2", "rougeL") for s in ("precision", "recall", "fmeasure")]
            first = None
            for _ in range(rounds):
                flat = tallygrams.score_batch_flat(references, predictions)
                columns = [getattr(flat, c) for c in COLUMNS]
                if first is None:
                    first = columns
                elif columns != first:
                    return "rounds differ"
            return first

        workers = [interpreters.create() for _ in range(3)]
        results = [None] * 3
        start = threading.Barrier(3)
        def drive(k):
            start.wait()
            results[k] = workers[k].call(score_rounds, references, predictions, 10)
        threads = [threading.Thread(target=drive, args=(k,)) for k in range(3)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for worker in workers:
            worker.close()
        print(*[r == expected for r in results])
    """
    result = run_with_nine(code, {"RAYON_NUM_THREADS": "2"})
    assert result.stdout.split() == ["True"] * 3, result.stderr


def test_interpreters_come_and_go_while_others_score():
    # Interpreters are created, used and destroyed in a loop by one thread
    # while another keeps scoring in the main interpreter; an error inside an
    # interpreter must come back as that interpreter's own exception.
    code = """
        import _interpreters, threading, tallygrams
        stop = threading.Event()
        def keep_scoring():
            while not stop.is_set():
                assert tallygrams.score_batch(["a b c"] * 40, ["a b"] * 40)[39]["rouge1"].recall == 2 / 3
        busy = threading.Thread(target=keep_scoring)
        busy.start()
        USE = '''
        import tallygrams
        assert tallygrams.score_batch_flat(["a b"], ["a"]).rouge1_precision == [1.0]
        try:
            tallygrams.score_batch({1}, [])
        except TypeError as error:
            assert str(error) == "'set' object is not an instance of 'Sequence'"
            assert error.__notes__ == ["while processing 'references'"]
        '''
        for k in range(30):
            interpreter = _interpreters.create(_interpreters.new_config(("legacy", "isolated")[k % 2]))
            failure = _interpreters.exec(interpreter, USE)
            _interpreters.destroy(interpreter)
            assert failure is None, failure
        stop.set()
        busy.join()
        print("ok")
    """
    result = run_python(code, {"RAYON_NUM_THREADS": "2"}, check=False)
    assert result.stdout.split() == ["ok"], result.stderr


def test_a_panic_is_one_class_for_every_shared_object_of_an_interpreter(tmp_path):
    # A second copy of the shared object stands in for any other module that
    # links the same native glue: it has its own code, its own classes and
    # its own table of objects, but must agree on PanicException.
    (tmp_path / "second").mkdir()
    copy = tmp_path / "second" / os.path.basename(tallygrams.__file__)
    shutil.copyfile(tallygrams.__file__, copy)
    code = f"""
        import importlib, sys, tallygrams
        from misbehaving import Raising

        # The copy is imported under the same name from its own folder, then
        # the first module goes back in its place.
        first = sys.modules.pop("tallygrams")
        sys.path.insert(0, {str(copy.parent)!r})
        second = importlib.import_module("tallygrams")
        sys.path.pop(0)
        sys.modules["tallygrams"] = first
        assert second.__file__ == {str(copy)!r}
        assert second.Score is not tallygrams.Score
        assert second.score("a b", "a")["rouge1"].precision == 1.0

        def panic_type(module):
            try:
                module.score("\\ud800", "")
            except UnicodeEncodeError:
                pass
            panics = [c for c in BaseException.__subclasses__()
                      if c.__module__ == "pyo3_runtime" and c.__doc__.startswith("Raised when native code")]
            assert len(panics) == 1, panics
            return panics[0]

        Panic = panic_type(second)
        assert panic_type(tallygrams) is Panic
        sys.excepthook = lambda *exc: None
        for raiser, receiver in ((tallygrams, second), (second, tallygrams)):
            original = Panic("from Python code")
            try:
                receiver.score_batch(Raising(["a"], "__iter__", original), ["a"])
            except Panic as error:
                # Recognised as a panic: resumed as a new one, not passed on.
                assert error is not original and str(error) == "from Python code", error
            else:
                raise AssertionError("no PanicException")
        print("ok")
    """
    result = run_python(code, check=False)
    assert result.stdout.split() == ["ok"], result.stderr
    assert result.stderr.count("resuming an internal failure") == 2, result.stderr


@pytest.mark.parametrize("config", ["legacy", "isolated"])
def test_module_declares_what_it_supports(config):
    # Both kinds of subinterpreter may import it; in an own-GIL one the
    # interpreter checks the module's declaration before running anything.
    code = f"""
        import _interpreters
        interpreter = _interpreters.create(_interpreters.new_config({config!r}))
        print(_interpreters.exec(interpreter, "import tallygrams; assert tallygrams.score('a', 'a')['rouge1'].recall == 1.0"))
        _interpreters.destroy(interpreter)
    """
    result = run_python(code, check=False)
    assert result.stdout.split() == ["None"], result.stdout + result.stderr
