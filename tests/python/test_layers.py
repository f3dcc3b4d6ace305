"""The source folders form layers: every include points down, never up or
across (scripts/check-layers.py lists the includes between folders)."""

import subprocess
import sys
from pathlib import Path

SCRIPT = Path(__file__).resolve().parents[2] / "scripts" / "check-layers.py"


def test_includes_point_only_downward():
    result = subprocess.run([sys.executable, str(SCRIPT)], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.rstrip().endswith("layers: ok")
