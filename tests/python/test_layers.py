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


def test_readme_shows_the_current_layers():
    result = subprocess.run([sys.executable, str(SCRIPT)], capture_output=True, text=True, timeout=60)
    readme = (SCRIPT.parents[1] / "README.md").read_text(encoding="utf-8")
    layout = readme[readme.index("## Layout"):]
    block = layout[layout.index("```text\n") + len("```text\n"):]
    assert block[:block.index("```")] == result.stdout
