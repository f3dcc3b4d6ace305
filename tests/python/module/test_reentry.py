"""Python code that calls back into the module from inside one of its calls,
on the same thread, while the module is still making its first objects: an
import hook, a garbage-collector callback, a __del__. The module runs no
Python code while it makes them, so every call, outer and nested, completes
with its own result. Each case runs in a fresh process with a timeout."""

from test_pool import run_python

REENTRY = """
    import builtins, gc, sys, tallygrams
    from misbehaving import Raising, panic_type

    nested = []
    def call_back(where):
        # A batch call of every first-use kind, from inside another call.
        if len(nested) >= 200:
            return
        try:
            tallygrams.score_batch({1}, [])
        except TypeError as error:
            assert error.__notes__ == ["while processing 'references'"]
        nested.append((where, tallygrams.score_batch_flat(["a b c"] * 3, ["a b"] * 3).rouge1_recall))

    original_import = builtins.__import__
    def calling_import(name, *args, **kwargs):
        call_back("import")
        return original_import(name, *args, **kwargs)
    builtins.__import__ = calling_import
    gc.callbacks.append(lambda phase, info: call_back("gc"))
    gc.set_threshold(1)

    class CallsBackWhenCollected:
        def __del__(self):
            call_back("__del__")

    class Sequence(list):
        # Runs Python code in the middle of the module's extraction.
        def __iter__(self):
            CallsBackWhenCollected()
            __import__("json")
            gc.collect()
            return list.__iter__(self)

    outer = []
    try:
        tallygrams.score_batch(Sequence([1]), ["a"])
    except TypeError as error:
        outer.append(str(error))
    try:
        tallygrams.score("\\ud800", "")
    except UnicodeEncodeError:
        outer.append("surrogate")
    outer.append(tallygrams.score_batch_flat(Sequence(["a b c"]), ["a b"]).rouge1_recall)
    panic = panic_type()
    sys.excepthook = lambda *exc: None
    try:
        tallygrams.score_batch(Raising(["a"], "__iter__", panic("from a hook")), Sequence(["a"]))
    except panic as error:
        outer.append(str(error))
    builtins.__import__ = original_import
    gc.callbacks.clear()
    assert outer == ["'int' object is not an instance of 'str'", "surrogate", [2 / 3], "from a hook"], outer
    kinds = {where for where, _ in nested}
    assert kinds == {"import", "gc", "__del__"}, kinds
    assert all(recalls == [2 / 3] * 3 for _, recalls in nested)
    print("ok")
"""


def test_calls_back_into_the_module_during_its_first_calls_complete():
    result = run_python(REENTRY, {"RAYON_NUM_THREADS": "2"}, check=False)
    assert result.stdout.split() == ["ok"], result.stdout + result.stderr
