"""The installed type stubs: strict type checking of real use, and agreement with the module."""

import shutil
import subprocess
import sys
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
EXAMPLES = [HERE / "stubs_example.py", HERE / "stubs_example_scorer.py"]


def run(args, cwd):
    # Outside the source tree, so that only the installed stubs can be found.
    return subprocess.run(
        [sys.executable, *args], cwd=cwd, capture_output=True, text=True, timeout=300
    )


@pytest.fixture(params=EXAMPLES, ids=lambda path: path.stem)
def example(request, tmp_path):
    return Path(shutil.copy(request.param, tmp_path))


def test_strict_check_accepts_the_example_and_rejects_each_misuse(example, tmp_path):
    result = run(["-m", "mypy", "--strict", "--cache-dir", str(tmp_path / "cache"), example.name], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_example_runs_against_the_module(example, tmp_path):
    # The stubs' parameter names and return shapes hold at run time too.
    result = run([example.name], tmp_path)
    assert result.returncode == 0, result.stderr


@pytest.mark.parametrize("module, allowlist", [("tallygrams", ["--allowlist", str(HERE / "stubtest_allowlist.txt")]),
                                               ("tallygrams_scorer", [])])
def test_stubs_match_the_runtime_module(module, allowlist, tmp_path):
    result = run(["-m", "mypy.stubtest", module, *allowlist], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_command_line_tool_passes_the_strict_check(tmp_path):
    package = HERE.parents[1] / "python" / "tallygrams_cli"
    result = run(["-m", "mypy", "--strict", "--cache-dir", str(tmp_path / "cache"), str(package)], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr
