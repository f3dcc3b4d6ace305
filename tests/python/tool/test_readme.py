"""The README's examples of the tool run as written, on the example files and
on small data made here under the names the README uses."""

import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pyarrow as pa
import pyarrow.parquet as pq

import scorer_texts

ROOT = Path(__file__).resolve().parents[3]
README = (ROOT / "README.md").read_text(encoding="utf-8")
SECTION = README[README.index("## Quick start: the command-line tool"):README.index("## Quick start: the module")]


def blocks(kind, text=SECTION):
    return re.findall(rf"```{kind}\n(.*?)```", text, re.S)


def test_the_readme_examples_of_the_tool_run_as_written(tmp_path):
    shutil.copytree(ROOT / "examples", tmp_path / "examples")
    pairs = scorer_texts.pairs(3, 50)
    flat = [(r.replace("\n", "<n>"), p.replace("\n", "<n>")) for r, p in pairs]
    (tmp_path / "refs.txt").write_text("".join(r + "\n" for r, _ in flat))
    (tmp_path / "preds.txt").write_text("".join(p + "\n" for _, p in flat))
    (tmp_path / "outputs.jsonl").write_text(
        "".join(json.dumps({"target": r, "generated": p}) + "\n" for r, p in flat))
    (tmp_path / "data").mkdir()
    for part in range(2):
        chunk = pairs[part * 25:(part + 1) * 25]
        pq.write_table(pa.table({"target": [r for r, _ in chunk], "generated": [p for _, p in chunk]}),
                       tmp_path / "data" / f"part.{part}.parquet")
    tool = Path(sys.executable).with_name("tallygrams")
    # The one command the README leaves to the reader: something that
    # prints predictions.
    prelude = f'tallygrams() {{ "{tool}" "$@"; }}\ngenerate-summaries() {{ cat preds.txt; }}\nset -e\n'
    commands = blocks("sh")
    assert len(commands) >= 5
    outputs = []
    for command in commands:
        result = subprocess.run(["bash", "-c", prelude + command], cwd=tmp_path, capture_output=True, text=True,
                                timeout=120, env={**os.environ, "LC_ALL": "C.UTF-8"})
        assert result.returncode == 0, (command, result.stderr)
        assert "Traceback" not in result.stderr, result.stderr
        outputs.append(result.stdout)
    # The first example prints the table the README shows, signature included.
    assert outputs[0] == blocks("text")[0]
    assert (tmp_path / "scores.csv").read_text().startswith("score_type,low,mid,high,mean,pairs,left_out,signature\n")
    assert r"\begin{tabular}" in outputs[-1]


def test_the_readme_lists_every_option_of_the_tool():
    from tallygrams_cli.command import BATCH_PAIRS
    from tallygrams_cli.options import build_parser

    table = SECTION[SECTION.index("| option | effect | needs |"):]
    for action in build_parser(BATCH_PAIRS)._actions:
        if action.help == "==SUPPRESS==" or not action.option_strings or action.dest in ("help", "version"):
            continue
        assert f"`{action.option_strings[0]}" in table, action.option_strings[0]
