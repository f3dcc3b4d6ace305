"""Where rouge-score accepts something, so do we, with the same result: each
use runs through rouge-score in this process and through ours in a
subprocess (it could crash or hang), and both print the same line."""

import subprocess
import sys
from pathlib import Path

import pytest

import fidelity_cases

HERE = Path(__file__).resolve().parent


@pytest.mark.parametrize("case", fidelity_cases.CASES)
def test_same_outcome_as_rouge_score(case):
    expected = fidelity_cases.run("rouge_score", case)
    assert not expected.startswith(("TypeError", "ValueError")), expected
    ours = subprocess.run([sys.executable, HERE / "fidelity_cases.py", "tallygrams_scorer", case],
                          capture_output=True, text=True, timeout=120)
    assert (ours.returncode, ours.stderr) == (0, "")
    assert ours.stdout == expected + "\n"
