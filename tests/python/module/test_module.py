"""Module attributes, docstrings and re-import."""

import importlib
import subprocess
import sys

import tallygrams


def test_version_and_all():
    assert tallygrams.__version__ == "0.1.12"
    expected = ["__version__", "Score", "BatchScoreResult", "score", "score_batch", "score_batch_flat"]
    present = [name for name in expected if hasattr(tallygrams, name)]
    assert tallygrams.__all__ == present
    assert "stemming" in tallygrams.__doc__


def test_score_function_metadata():
    f = tallygrams.score
    assert f.__text_signature__ == "(reference, prediction)"
    assert f.__doc__.startswith("Score one reference/prediction pair with ROUGE-1, ROUGE-2, and ROUGE-L.\n\n")
    assert f.__module__ == "tallygrams"
    assert f.__self__ is None
    assert repr(f) == "<built-in function score>"


def test_reimport_shares_classes_but_not_functions():
    old = sys.modules.pop("tallygrams")
    try:
        new = importlib.import_module("tallygrams")
        assert new is not old
        assert new.Score is old.Score
        assert new.score is not old.score
        assert new.__all__ == old.__all__
        assert new.score("a", "a")["rouge1"].precision == 1.0
    finally:
        sys.modules["tallygrams"] = old


def test_star_import_binds_exactly_all():
    code = "from tallygrams import *; import tallygrams; " \
           "print(sorted(k for k in dir() if not k.startswith('__') or k == '__version__'))"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert eval(out) == sorted(set(tallygrams.__all__) | {"tallygrams"})


def test_only_the_init_function_is_exported():
    import shutil

    nm = shutil.which("nm")
    if nm is None:
        import pytest

        pytest.skip("nm is not installed")
    out = subprocess.run([nm, "-D", "--defined-only", tallygrams.__file__], capture_output=True, text=True, check=True)
    assert [line.split()[-1] for line in out.stdout.splitlines()] == ["PyInit_tallygrams"]
