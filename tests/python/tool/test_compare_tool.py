"""`tallygrams compare`, run as a user runs it: its numbers are the module's
own paired tests on the module's scores, the same from every input format,
and bad input is one line and status 2 with no report left behind."""

import csv
import html
import io
import json
import os
import random
import re
import subprocess
import sys
from pathlib import Path

import pyarrow as pa
import pyarrow.parquet as pq
import pytest

import tallygrams_scorer
import textgen
from tallygrams_cli.compare_output import holm

TOOL = Path(sys.executable).with_name("tallygrams")
TYPES = ["rouge1", "rougeLsum"]
NAMES = [f"{t}_{m}" for t in TYPES for m in ("precision", "recall", "fmeasure")]


def run_tool(*args, cwd):
    return subprocess.run([str(TOOL), *map(str, args)], cwd=cwd, capture_output=True, text=True,
                          errors="surrogateescape", timeout=300)


def systems_texts(pairs=60, seed=4):
    """References and three systems' predictions: the baseline, one that
    drops words, one that repeats the reference's opening."""
    rng = random.Random(seed)
    texts = textgen.pairs(seed, pairs)
    references = [reference for reference, _ in texts]
    baseline = [prediction for _, prediction in texts]
    dropping = [" ".join(w for w in p.split(" ") if rng.random() < 0.7) for p in baseline]
    copying = [r[: len(r) // 2] + " " + p for r, p in zip(references, baseline)]
    return references, [baseline, dropping, copying]


def write_inputs(folder, references, systems):
    """The same pairs as line files, JSON Lines and Parquet."""
    keys = ["base", "drop", "copy"]
    lines = lambda texts: "".join(t.replace("\n", " ") + "\n" for t in texts)  # noqa: E731
    (folder / "refs.txt").write_text(lines(references))
    for key, texts in zip(keys, systems):
        (folder / f"{key}.txt").write_text(lines(texts))
    flat = [[t.replace("\n", " ") for t in texts] for texts in [references, *systems]]
    with open(folder / "pairs.jsonl", "w") as handle:
        for row in zip(*flat):
            handle.write(json.dumps({"reference": row[0], **dict(zip(keys, row[1:]))}) + "\n")
    pq.write_table(pa.table({"reference": flat[0], **dict(zip(keys, flat[1:]))}), folder / "pairs.parquet")
    return keys


INPUTS = {
    "lines": ["--references", "refs.txt", "base.txt", "drop.txt", "copy.txt"],
    "jsonl": ["--jsonl", "pairs.jsonl", "--prediction-key", "base", "--prediction-key", "drop",
              "--prediction-key", "copy"],
    "parquet": ["--parquet", "pairs.parquet", "--prediction-column", "base", "--prediction-column", "drop",
                "--prediction-column", "copy"],
}
OPTIONS = ["--rouge-types", ",".join(TYPES), "--stemmer", "--test", "both", "--samples", "400", "--seed", "7",
           "--confidence", "0.9"]


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    folder = tmp_path_factory.mktemp("compare")
    references, systems = systems_texts()
    write_inputs(folder, references, systems)
    scorer = tallygrams_scorer.RougeScorer(TYPES, use_stemmer=True)
    flat = lambda texts: [t.replace("\n", " ") for t in texts]  # noqa: E731
    columns = [scorer.score_columns(flat(references), flat(texts)).to_pydict() for texts in systems]
    return folder, columns


def test_every_input_format_gives_the_modules_own_tests_and_holm_adjustment(inputs):
    folder, columns = inputs
    documents = {}
    for layout, arguments in INPUTS.items():
        result = run_tool("compare", *arguments, *OPTIONS, "--format", "json", cwd=folder)
        assert result.returncode == 0, result.stderr
        documents[layout] = json.loads(result.stdout)
    systems = [[s["name"] for s in document["systems"]] for document in documents.values()]
    assert systems == [["base.txt", "drop.txt", "copy.txt"], ["base", "drop", "copy"], ["base", "drop", "copy"]]
    for document in documents.values():
        for system in document["systems"]:
            system.pop("name")
        document.pop("signature")
    assert documents["lines"] == documents["jsonl"] == documents["parquet"]

    document = documents["lines"]
    assert (document["pairs"], document["left_out"], document["correction"]) == (60, 0, "holm-bonferroni")
    expected = {test: [tallygrams_scorer.compare(columns[0], c, test=test, n_samples=400, seed=7,
                                                 confidence_interval=0.9) for c in columns[1:]]
                for test in ("bootstrap", "randomization")}
    for k, system in enumerate(document["systems"]):
        interval = tallygrams_scorer.bootstrap(columns[k], 400, seed=7, confidence_interval=0.9)
        for name in NAMES:
            rouge_type, measure = name.split("_")
            row = system["scores"][rouge_type][measure]
            assert (row["mean"], row["low"], row["high"]) == tuple(interval[name][i] for i in (0, 1, 3))
            if k == 0:
                assert "difference" not in row
                continue
            got = expected["bootstrap"][k - 1][name]
            assert (row["difference"], row["difference_low"], row["difference_high"], row["p_bootstrap"],
                    row["p_randomization"]) == (got.difference, got.low, got.high, got.p_value,
                                                expected["randomization"][k - 1][name].p_value)
            for test in ("bootstrap", "randomization"):
                adjusted = holm([expected[test][j][name].p_value for j in range(2)])[k - 1]
                assert row[f"p_{test}_holm"] == adjusted
            assert row["significant"] == (row["p_bootstrap_holm"] < 0.05 and row["p_randomization_holm"] < 0.05)


def test_text_and_csv_show_the_json_rows(inputs):
    folder, _ = inputs
    outputs = {form: run_tool("compare", *INPUTS["lines"], *OPTIONS, "--format", form, cwd=folder).stdout
               for form in ("json", "csv", "text")}
    document = json.loads(outputs["json"])
    rows = list(csv.DictReader(io.StringIO(outputs["csv"])))
    assert len(rows) == 3 * len(NAMES)
    for row in rows:
        system = next(s for s in document["systems"] if s["name"] == row["system"])
        entry = system["scores"][row["metric"]][row["measure"]]
        assert float(row["mean"]) == entry["mean"]
        assert row["signature"] == document["signature"]
        if "p_bootstrap_holm" in entry:
            assert float(row["p_bootstrap_holm"]) == entry["p_bootstrap_holm"]
            assert (row["significant"] == "true") == entry["significant"]
    text = outputs["text"].splitlines()
    assert text[-1] == document["signature"]
    assert any(line.startswith("correction: Holm-Bonferroni over the 2 systems") for line in text)
    marked = [line for line in text if line.endswith(" *")]
    assert len(marked) == sum(row["significant"] == "true" for row in rows)


@pytest.mark.parametrize("p_values, adjusted", [
    ([0.01, 0.04, 0.03, 0.005], [0.03, 0.06, 0.06, 0.02]),
    ([0.5], [0.5]),
    ([0.2, 0.2, 0.9], [0.6, 0.6, 0.9]),
    ([0.001, 0.8], [0.002, 0.8]),
])
def test_holm_adjustment(p_values, adjusted):
    assert holm(p_values) == pytest.approx(adjusted)


def test_a_null_text_in_one_system_leaves_the_pair_out_of_all(tmp_path):
    references, systems = systems_texts(pairs=20)
    table = pa.table({"reference": references, "a": systems[0], "b": systems[1][:7] + [None] + systems[1][8:]})
    pq.write_table(table, tmp_path / "p.parquet")
    both = run_tool("compare", "--parquet", "p.parquet", "--prediction-column", "a", "--prediction-column", "b",
                    "--format", "json", cwd=tmp_path)
    assert both.returncode == 0, both.stderr
    document = json.loads(both.stdout)
    assert (document["pairs"], document["left_out"]) == (19, 1)
    kept = pa.table({"reference": references[:7] + references[8:], "a": systems[0][:7] + systems[0][8:],
                     "b": systems[1][:7] + systems[1][8:]})
    pq.write_table(kept, tmp_path / "kept.parquet")
    alone = run_tool("compare", "--parquet", "kept.parquet", "--prediction-column", "a", "--prediction-column", "b",
                     "--format", "json", cwd=tmp_path)
    assert json.loads(alone.stdout)["systems"] == document["systems"]


BAD = [
    (["--references", "r.txt", "a.txt", "short.txt"], "but short.txt has 2"),
    (["--references", "r.txt", "a.txt", "a.txt"], "a.txt is given twice (as the baseline and as system 1)"),
    (["--references", "r.txt", "a.txt", "./b.txt", "b.txt"], "is given twice (as system 1 and as system 2)"),
    (["--references", "r1.txt", "a1.txt", "b1.txt"], "needs at least 2 pairs; the input has 1"),
    (["--references", "r.txt", "a.txt", "b.txt", "--test", "permutation"], "invalid choice: 'permutation'"),
    (["--references", "r.txt", "a.txt", "b.txt", "--report", "missing/r.html"], "the folder"),
    (["--references", "r.txt", "a.txt"], "at least one system"),
    (["--jsonl", "p.jsonl", "--prediction-key", "a", "--prediction-key", "a"], "--prediction-key a is given twice"),
    (["--references", "r.txt", "a.txt", "b.txt", "--confidence", "1"], "between 0 and 1"),
    (["--jsonl", "p.jsonl", "a.txt", "b.txt"], "not both"),
    (["--references", "r.txt", "a.txt", "b.txt", "--samples", "9" * 20], f"--samples {'9' * 20} needs "),
    (["--references", "r.txt", "a.txt", "b.txt", "--test", "randomization", "--samples", "1" + "0" * 12],
     "needs 65.5 TiB for the resampled means of 9 score columns"),
]


@pytest.mark.parametrize("arguments, piece", BAD)
def test_bad_input_is_one_line_status_2_and_no_report(tmp_path, arguments, piece):
    for name, lines in {"r.txt": 3, "a.txt": 3, "b.txt": 3, "short.txt": 2, "r1.txt": 1, "a1.txt": 1,
                        "b1.txt": 1}.items():
        (tmp_path / name).write_text("".join(f"text {name} {i}\n" for i in range(lines)))
    (tmp_path / "p.jsonl").write_text('{"reference": "x", "a": "x"}\n{"reference": "y", "a": "z"}\n')
    before = sorted(tmp_path.rglob("*"))
    result = run_tool("compare", *arguments, "--report", "r.html", cwd=tmp_path) if "--report" not in arguments \
        else run_tool("compare", *arguments, cwd=tmp_path)
    assert (result.returncode, result.stdout) == (2, "")
    lines = result.stderr.splitlines()
    assert len(lines) == 1 and lines[0].startswith("tallygrams"), result.stderr
    assert piece in lines[0]
    assert sorted(tmp_path.rglob("*")) == before


def test_a_table_that_cannot_be_written_is_one_line_and_status_2(tmp_path):
    for name in ("r.txt", "a.txt", "b.txt"):
        (tmp_path / name).write_text("a b\nc d\ne f\n")
    with open("/dev/full", "w") as full:
        result = subprocess.run([str(TOOL), "compare", "--references", "r.txt", "a.txt", "b.txt"], cwd=tmp_path,
                                stdout=full, stderr=subprocess.PIPE, text=True, timeout=300)
    assert (result.returncode, result.stderr) == (2, "tallygrams: cannot write standard output: No space left on device\n")


def test_report_without_matplotlib_is_a_clear_error(tmp_path):
    (tmp_path / "r.txt").write_text("a b\nc d\n")
    (tmp_path / "p.txt").write_text("a\nc\n")
    (tmp_path / "q.txt").write_text("b\nd\n")
    for command in (["r.txt", "p.txt"], ["compare", "--references", "r.txt", "p.txt", "q.txt"]):
        code = ("import sys; sys.modules['matplotlib'] = None; from tallygrams_cli.cli import main; "
                f"sys.exit(main({command + ['--report', 'x.html']!r}))")
        result = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True, text=True,
                                timeout=120)
        assert (result.returncode, result.stdout) == (2, "")
        assert result.stderr.endswith("--report needs matplotlib, which is not installed "
                                      "(pip install 'tallygrams[report]')\n")
        assert not (tmp_path / "x.html").exists()


def shown_pairs(page):
    """(position, references, baseline, system) of each row of the report's
    tables of differing pairs."""
    cells = r'<td class="pair">(.*?)</td>'
    found = re.findall(rf"<tr><td>(\d+)</td>{cells}{cells}{cells}", page, re.S)
    return [(int(p), *(html.unescape(text) for text in texts)) for p, *texts in found]


@pytest.mark.parametrize("layout", ["lines", "parquet"])
def test_the_report_shows_each_differing_pair_with_its_own_texts(tmp_path, layout):
    references, systems = systems_texts(pairs=50)
    if layout == "lines":
        keys = write_inputs(tmp_path, references, systems)
        # A system whose file name is not UTF-8 (its bytes arrive as lone
        # surrogates, which neither the page nor the charts' fonts take).
        odd_name = os.fsdecode(b"copy\xff<b>.txt")
        (tmp_path / "copy.txt").rename(tmp_path / odd_name)
        arguments = [*INPUTS["lines"][:-1], odd_name]
    else:
        # A null text shifts the scored rows against the input's: the
        # positions shown must still be the input's.
        systems[1][3] = None
        pq.write_table(pa.table({"reference": references, "base": systems[0], "drop": systems[1],
                                 "copy": systems[2]}), tmp_path / "pairs.parquet")
        keys, arguments = ["base", "drop", "copy"], INPUTS["parquet"]
    result = run_tool("compare", *arguments, "--report", "r.html", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    shown = shown_pairs((tmp_path / "r.html").read_text())
    assert layout != "lines" or "<h2>copy\ufffd&lt;b&gt;.txt against the baseline</h2>" in (tmp_path / "r.html").read_text()
    assert len(shown) == 2 * 20
    # Line files hold each text on one line.
    as_read = (lambda text: text.replace("\n", " ")) if layout == "lines" else (lambda text: text)
    for k, (position, reference, baseline, system) in enumerate(shown):
        row = position - 1
        assert row != 3 or layout == "lines"
        assert (reference, baseline) == (as_read(references[row]), as_read(systems[0][row]))
        assert system == as_read(systems[1 + k // 20][row]), (keys, k)


README = (Path(__file__).resolve().parents[3] / "README.md").read_text(encoding="utf-8")
SECTION = README[README.index("## Is system B really better?"):README.index("## Every configuration")]


def test_the_readme_example_runs_and_lists_every_option(tmp_path):
    references, systems = systems_texts(pairs=30)
    write_inputs(tmp_path, references, systems)
    for source, target in (("base", "baseline"), ("copy", "tuned"), ("drop", "shorter")):
        (tmp_path / f"{source}.txt").rename(tmp_path / f"{target}.txt")
    commands = [c for c in re.findall(r"```sh\n(.*?)```", SECTION, re.S) if c.startswith("tallygrams compare")]
    assert commands
    for command in commands:
        result = subprocess.run(command.replace("tallygrams", str(TOOL), 1), shell=True, cwd=tmp_path,
                                capture_output=True, text=True, timeout=300)
        assert result.returncode == 0, (command, result.stderr)
        assert result.stdout.splitlines()[-1].startswith("tallygrams ")
    from tallygrams_cli.command import BATCH_PAIRS
    from tallygrams_cli.compare import build_parser

    for action in build_parser(BATCH_PAIRS)._actions:
        if action.help != "==SUPPRESS==" and action.option_strings and action.dest != "help":
            assert f"`{action.option_strings[0]}" in SECTION, action.option_strings[0]
