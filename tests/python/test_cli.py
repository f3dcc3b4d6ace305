"""The `tallygrams` console script, run as a user runs it."""

import csv
import json
import math
import os
import random
import signal
import subprocess
import sys
import time
from pathlib import Path

import numpy as np
import pyarrow as pa
import pyarrow.parquet as pq
import pytest
from rouge_score import rouge_scorer, scoring

import tallygrams
import textgen
from tallygrams_cli.cli import LONG_INPUT
from tallygrams_cli.stats import percentile

TOOL = Path(sys.executable).with_name("tallygrams")
EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
METRICS = ("rouge1", "rouge2", "rougeL")
MEASURES = ("precision", "recall", "fmeasure")
COLUMNS = [f"{m}_{s}" for m in METRICS for s in MEASURES]


def run_tool(*args, cwd=None):
    return subprocess.run([str(TOOL), *map(str, args)], cwd=cwd, capture_output=True, text=True, timeout=120)


def table_rows(stdout):
    """{(metric, measure): [the row's numbers as printed]}"""
    rows = {}
    for line in stdout.splitlines():
        fields = line.split()
        if fields and fields[0] in METRICS:
            rows[fields[0], fields[1]] = fields[2:]
    assert list(rows) == [(m, s) for m in METRICS for s in MEASURES], stdout
    return rows


def nine(result):
    return [getattr(result[m], s) for m in METRICS for s in MEASURES]


def read_per_pair(path, columns=COLUMNS):
    """The rows of a per-pair file of any kind; None for a null score."""
    if path.suffix == ".parquet":
        table = pq.read_table(path)
        assert table.column_names == columns
        assert all(field.type == pa.float64() for field in table.schema)
        return [list(row.values()) for row in table.to_pylist()]
    if path.suffix == ".csv":
        with open(path, newline="", encoding="utf-8") as handle:
            rows = list(csv.reader(handle))
        assert rows[0] == columns
        return [[float(v) if v else None for v in row] for row in rows[1:]]
    records = [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines()]
    assert all(list(record) == columns for record in records)
    return [list(record.values()) for record in records]


def write_lines(path, texts):
    path.write_bytes("".join(text + "\n" for text in texts).encode("utf-8"))


@pytest.fixture(scope="module")
def oracle():
    return rouge_scorer.RougeScorer(list(METRICS), use_stemmer=False)


def test_example_table_shows_the_oracle_means_inside_their_intervals(oracle):
    result = run_tool(EXAMPLES / "references.txt", EXAMPLES / "predictions.txt")
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout.startswith("7 pairs; 95% confidence interval from 1000 bootstrap resamples (seed 0)")
    texts = [(EXAMPLES / name).read_text(encoding="utf-8").splitlines() for name in ("references.txt", "predictions.txt")]
    expected = [oracle.score(r, p) for r, p in zip(*texts)]
    for (metric, measure), row in table_rows(result.stdout).items():
        values = [getattr(scores[metric], measure) for scores in expected]
        assert row[0] == f"{math.fsum(values) / len(values):.4f}", (metric, measure)
        mean, low, mid, high = map(float, row)
        assert low <= mid <= high and low <= mean <= high and low < high, (metric, measure, row)
    # Seeded: the same run prints the same interval.
    assert run_tool(EXAMPLES / "references.txt", EXAMPLES / "predictions.txt").stdout == result.stdout


def test_interval_agrees_with_the_reference_bootstrap(tmp_path, oracle):
    # Different random draws, so only agreement within resampling noise: a
    # small fraction of the interval's width.
    pairs = [(r.replace("\n", " "), p.replace("\n", " ")) for r, p in textgen.pairs(5, 300)]
    write_lines(tmp_path / "r.txt", [r for r, _ in pairs])
    write_lines(tmp_path / "p.txt", [p for _, p in pairs])
    rows = table_rows(run_tool(tmp_path / "r.txt", tmp_path / "p.txt").stdout)

    aggregator = scoring.BootstrapAggregator()
    for reference, prediction in pairs:
        aggregator.add_scores(oracle.score(reference, prediction))
    np.random.seed(0)
    theirs = aggregator.aggregate()
    for (metric, measure), row in rows.items():
        bounds = [getattr(getattr(theirs[metric], bound), measure) for bound in ("low", "mid", "high")]
        width = bounds[2] - bounds[0]
        assert width > 0.02
        for ours, reference_bound in zip(map(float, row[1:]), bounds):
            assert abs(ours - reference_bound) < 0.15 * width, (metric, measure, row, bounds)


# Texts with characters that some line splitters treat as line ends.
AWKWARD_TEXTS = ["form\x0cfeed cat", "file\x1cseparator", "next\x85line", "line\u2028separator the", ""]


@pytest.mark.parametrize("suffix", [".csv", ".jsonl"])
@pytest.mark.parametrize("source", ["lines", "jsonl"])
def test_per_pair_file_holds_the_oracle_values_exactly(tmp_path, oracle, source, suffix):
    pairs = [(r.replace("\n", " "), p.replace("\n", " ")) for r, p in textgen.pairs(11, 150)]
    pairs += list(zip(AWKWARD_TEXTS, reversed(AWKWARD_TEXTS)))
    if source == "lines":
        write_lines(tmp_path / "r.txt", [r for r, _ in pairs])
        write_lines(tmp_path / "p.txt", [p for _, p in pairs])
        inputs = [tmp_path / "r.txt", tmp_path / "p.txt"]
    else:
        records = [json.dumps({"id": i, "ref": r, "hyp": p}) for i, (r, p) in enumerate(pairs)]
        (tmp_path / "d.jsonl").write_text("\n".join(records) + "\n", encoding="utf-8")
        inputs = ["--jsonl", tmp_path / "d.jsonl", "--reference-key", "ref", "--prediction-key", "hyp"]
    out = tmp_path / f"per-pair{suffix}"
    result = run_tool(*inputs, "--per-pair", out, "--bootstrap-samples", "10")
    assert result.returncode == 0, result.stderr
    assert read_per_pair(out) == [nine(oracle.score(r, p)) for r, p in pairs]
    assert not list(tmp_path.glob("*.part"))


@pytest.mark.parametrize(
    "encode",
    [
        pytest.param(lambda texts: "\n".join(texts) + "\n", id="line feeds"),
        pytest.param(lambda texts: "\r\n".join(texts) + "\r\n", id="carriage returns and line feeds"),
        pytest.param(lambda texts: "\n".join(texts), id="no final line feed"),
        pytest.param(lambda texts: "\ufeff" + "\n".join(texts) + "\n", id="byte-order mark"),
    ],
)
def test_line_layouts_pair_the_same_texts(tmp_path, encode):
    # Empty lines are empty texts and keep their place.
    references = ["The cat sat.", "", "a b c", "", "on the mat"]
    predictions = ["the cat", "anything", "", "x", "the mat"]
    (tmp_path / "r.txt").write_bytes(encode(references).encode("utf-8"))
    (tmp_path / "p.txt").write_bytes(encode(predictions).encode("utf-8"))
    result = run_tool("r.txt", "p.txt", "--per-pair", "out.jsonl", "--bootstrap-samples", "0", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("5 pairs; no confidence interval")
    expected = [nine(tallygrams.score(r, p)) for r, p in zip(references, predictions)]
    assert read_per_pair(tmp_path / "out.jsonl") == expected


GOOD_JSONL = b'{"reference": "a b", "prediction": "a"}\n'


def parquet_bytes(columns, row_group_size=None):
    sink = pa.BufferOutputStream()
    pq.write_table(pa.table(columns), sink, row_group_size=row_group_size)
    return sink.getvalue().to_pybytes()


def invalid_utf8_column(texts, bad_row):
    """A string column whose row `bad_row` holds bytes that are not UTF-8."""
    data = [text.encode() for text in texts]
    data[bad_row] = b"ok \xff\xfe"
    offsets = [0]
    for piece in data:
        offsets.append(offsets[-1] + len(piece))
    return pa.Array.from_buffers(pa.string(), len(data),
                                 [None, pa.py_buffer(np.array(offsets, np.int32).tobytes()), pa.py_buffer(b"".join(data))])


GOOD_PARQUET = parquet_bytes({"reference": ["a b", "c"], "prediction": ["a", "c d"]})

# (files to create, arguments, pieces the one-line message must contain)
BAD_INPUTS = [
    pytest.param({"r.txt": b"a\nb\nc\n", "p.txt": b"a\nb\n"}, ["r.txt", "p.txt"],
                 ["r.txt has 3 lines", "p.txt has 2"], id="line counts differ"),
    pytest.param({"p.txt": b"a\n"}, ["missing.txt", "p.txt"],
                 ["cannot read missing.txt", "No such file"], id="references missing"),
    pytest.param({"r.txt": b"a\n", "folder/x": b""}, ["r.txt", "folder"],
                 ["cannot read folder", "Is a directory"], id="a directory"),
    pytest.param({"r.txt": b"ok\nok\nok\n", "p.txt": b"ok\nbad \xff byte\nok\n"}, ["r.txt", "p.txt"],
                 ["p.txt, line 2", "invalid UTF-8"], id="invalid UTF-8"),
    pytest.param({"r.txt": b"", "p.txt": b""}, ["r.txt", "p.txt"], ["no pairs"], id="empty files"),
    pytest.param({"d.jsonl": GOOD_JSONL + b'{"reference": "a"}\n'}, ["--jsonl", "d.jsonl"],
                 ["d.jsonl, line 2", 'no key "prediction"'], id="JSONL record without the key"),
    pytest.param({"d.jsonl": GOOD_JSONL + b"\n" + b'{"reference": "a",}\n'}, ["--jsonl", "d.jsonl"],
                 ["d.jsonl, line 3", "malformed JSON"], id="malformed JSON after a blank line"),
    pytest.param({"d.jsonl": b'{"reference": "a", "prediction": "b", "n": ' + b"1" * 5000 + b"}\n"},
                 ["--jsonl", "d.jsonl"], ["line 1", "malformed JSON"], id="JSON integer too long"),
    pytest.param({"d.jsonl": b"[" * 100_000 + b"\n"}, ["--jsonl", "d.jsonl"],
                 ["line 1", "malformed JSON"], id="JSON nested too deeply"),
    pytest.param({"d.jsonl": b'["a", "b"]\n'}, ["--jsonl", "d.jsonl"],
                 ["line 1", "expected a JSON object, found an array"], id="JSONL line not an object"),
    pytest.param({"d.jsonl": b'{"reference": null, "prediction": "b"}\n'}, ["--jsonl", "d.jsonl"],
                 ['the value of "reference" is null'], id="JSONL text not a string"),
    pytest.param({"d.jsonl": b'{"reference": "a", "prediction": "\\ud800"}\n'}, ["--jsonl", "d.jsonl"],
                 ['"prediction" holds an unpaired surrogate'], id="JSONL lone surrogate escape"),
    pytest.param({"d.jsonl": GOOD_JSONL}, ["--jsonl", "d.jsonl", "--per-pair", "d.jsonl"],
                 ["would overwrite the input file d.jsonl"], id="per-pair file is the input"),
    pytest.param({"r.txt": b"a\n", "p.txt": b"b\n"}, ["r.txt", "p.txt", "--per-pair", "nowhere/out.csv"],
                 ["cannot write nowhere/out.csv"], id="per-pair directory missing"),
    pytest.param({"d.jsonl": GOOD_JSONL + b'{"reference": "a", "prediction": "b", "reference": "c"}\n'},
                 ["--jsonl", "d.jsonl"], ["d.jsonl, line 2", 'duplicate key "reference"'], id="JSONL duplicate key"),
    pytest.param({"d.jsonl": b'{"reference": "a", "prediction": "b", "meta": {"\xc3\xa9": 1, "\\u00e9": 2}}\n'},
                 ["--jsonl", "d.jsonl"], ["line 1", 'duplicate key "\u00e9"'], id="JSONL duplicate nested key"),
    # Problems with the options: one line too, with a pointer to --help.
    pytest.param({}, [], ["expected two files", "(see tallygrams --help)"], id="no arguments"),
    pytest.param({}, ["--bogus", "r.txt", "p.txt"], ["unrecognized arguments: --bogus", "(see tallygrams --help)"],
                 id="unknown option"),
    pytest.param({}, ["r.txt", "p.txt", "--seed", "x"], ["argument --seed: invalid int value: 'x'", "--help"],
                 id="option value of the wrong kind"),
    pytest.param({}, ["r.txt", "p.txt", "--bootstrap-samples", "-1"], ["must not be negative: -1", "--help"],
                 id="negative resample count"),
    pytest.param({}, ["r.txt", "p.txt", "--per-pair", "out.txt"], ["must end in .csv, .jsonl or .parquet", "--help"],
                 id="per-pair file of unknown kind"),
    pytest.param({"d.jsonl": GOOD_JSONL}, ["r.txt", "p.txt", "--jsonl", "d.jsonl"], ["not both", "--help"],
                 id="two sources"),
    # Streaming: a file that ends first is found when it ends, with the
    # counts of the whole files.
    pytest.param({"r.txt": b"a\n" * 50, "p.txt": b"b\n" * 20}, ["r.txt", "p.txt", "--batch-pairs", "7",
                                                                 "--per-pair", "out.csv"],
                 ["r.txt has 50 lines but p.txt has 20;"], id="predictions end first"),
    pytest.param({"r.txt": b"a\n" * 20, "p.txt": b"b\n" * 20 + b"last"}, ["r.txt", "p.txt", "--batch-pairs", "7"],
                 ["r.txt has 20 lines but p.txt has 21;"], id="references end first"),
    pytest.param({"r1.txt": b"a\n" * 20, "r2.txt": b"a\n" * 19, "p.txt": b"b\n" * 20},
                 ["--references", "r1.txt", "--references", "r2.txt", "--predictions", "p.txt", "--batch-pairs", "8"],
                 ["r2.txt has 19 lines but p.txt has 20;"], id="second references file short"),
    pytest.param({"r.txt": b"a\n" * 30, "p.txt": b"b\n" * 25 + b"\xc3(\n"}, ["r.txt", "p.txt", "--batch-pairs", "4",
                                                                              "--per-pair", "out.parquet"],
                 ["p.txt, line 26: invalid UTF-8 at byte 1 of the line"], id="invalid UTF-8 in a later batch"),
    # Several references.
    pytest.param({"d.jsonl": b'{"reference": [], "prediction": "b"}\n'}, ["--jsonl", "d.jsonl"],
                 ["line 1", '"reference" is an empty array'], id="JSONL empty array of references"),
    pytest.param({"d.jsonl": b'{"reference": ["a", 3], "prediction": "b"}\n'}, ["--jsonl", "d.jsonl"],
                 ["line 1", 'item 1 of "reference" is a number, not a string'], id="JSONL reference array with a number"),
    pytest.param({"d.jsonl": b'{"reference": "a", "prediction": ["b"]}\n'}, ["--jsonl", "d.jsonl"],
                 ['the value of "prediction" is an array, not a string'], id="JSONL array of predictions"),
    pytest.param({"r.txt": b"a\n", "p.txt": b"b\n"}, ["--references", "r.txt"],
                 ["go together", "--help"], id="named references without named predictions"),
    pytest.param({"r.txt": b"a\n", "p.txt": b"b\n"}, ["r.txt", "p.txt", "--predictions", "p.txt"],
                 ["not both", "--help"], id="positional and named files"),
    # Parquet.
    pytest.param({"d.parquet": GOOD_PARQUET}, ["--parquet", "d.parquet", "--reference-column", "ref"],
                 ['d.parquet: no column "ref"; its columns are "reference", "prediction"'], id="Parquet column missing"),
    pytest.param({"d.parquet": parquet_bytes({"reference": ["a"], "prediction": [1]})}, ["--parquet", "d.parquet"],
                 ['d.parquet: column "prediction" holds int64, not text'], id="Parquet column not text"),
    pytest.param({"data/part.0.parquet": GOOD_PARQUET,
                  "data/part.1.parquet": parquet_bytes(
                      {"reference": ["a"] * 6, "prediction": invalid_utf8_column(["b"] * 6, 4)}, row_group_size=2)},
                 ["--parquet", "data", "--batch-pairs", "3", "--per-pair", "out.jsonl"],
                 ['data/part.1.parquet, column "prediction": invalid UTF-8 in row 4,'], id="Parquet invalid UTF-8"),
    pytest.param({"d.parquet": b"PAR1 not really"}, ["--parquet", "d.parquet"],
                 ["cannot read d.parquet as Parquet"], id="not a Parquet file"),
    pytest.param({"data/_SUCCESS": b""}, ["--parquet", "data"], ["data: no data files in the folder"],
                 id="Parquet folder without data"),
    pytest.param({"d.parquet": parquet_bytes({"reference": pa.array([None], pa.string()), "prediction": ["b"]})}, ["--parquet", "d.parquet"],
                 ["no pairs to score: every pair has a null text"], id="Parquet only null texts"),
    pytest.param({"data/part.0.parquet": GOOD_PARQUET}, ["--parquet", "data", "--per-pair", "data/scores.parquet"],
                 ["is inside the input folder data"], id="per-pair file inside the Parquet folder"),
    pytest.param({"r.txt": b"a\n", "p.txt": b"b\n"}, ["r.txt", "p.txt", "--summary", "r.txt"],
                 ["must end in .csv or .json", "--help"], id="summary file of unknown kind"),
    pytest.param({"r.csv": b"a\n", "p.txt": b"b\n"}, ["r.csv", "p.txt", "--summary", "r.csv"],
                 ["--summary r.csv would overwrite the input file r.csv"], id="summary file is the input"),
    pytest.param({"r.txt": b"a\n", "p.txt": b"b\n"}, ["r.txt", "p.txt", "--summary", "s.json", "--per-pair", "s.json"],
                 ["must end in .csv, .jsonl or .parquet"], id="per-pair file of the summary's kind"),
    pytest.param({"r.txt": b"a\n", "p.txt": b"b\n"}, ["r.txt", "p.txt", "--summary", "s.csv", "--per-pair", "s.csv"],
                 ["--per-pair and --summary name the same file"], id="per-pair file is the summary"),
    # Options that do not go together, and values out of range.
    pytest.param({}, ["r.txt", "p.txt", "--stemmer", "--tokenizer", "unicode"], ["cannot be combined", "--help"],
                 id="stemmer with the unicode tokenizer"),
    pytest.param({}, ["r.txt", "p.txt", "--summary", "s.csv", "--bootstrap-samples", "0"],
                 ["--bootstrap-samples 0 skips", "--help"], id="CSV summary without an interval"),
    pytest.param({}, ["r.txt", "p.txt", "--rouge-types", "rouge1,rougeLSum"], ["not a ROUGE type: 'rougeLSum'", "--help"],
                 id="unknown ROUGE type"),
    pytest.param({}, ["r.txt", "p.txt", "--rouge-types", "rouge1,,rouge2"], ["not a ROUGE type: ''", "--help"],
                 id="empty ROUGE type"),
    pytest.param({}, ["r.txt", "p.txt", "--rouge-types", "rouge2,rouge2"], ["named twice", "--help"],
                 id="ROUGE type twice"),
    pytest.param({}, ["r.txt", "p.txt", "--tokenizer", "icu"], ["invalid choice: 'icu'", "--help"],
                 id="unknown tokenizer"),
    pytest.param({}, ["r.txt", "p.txt", "--seed", str(2**64)], ["must be below 2**64", "--help"], id="seed too large"),
    pytest.param({}, ["r.txt", "p.txt", "--scheduler", "local:2"], ["--scheduler applies only with --parquet", "--help"],
                 id="scheduler without Parquet"),
    pytest.param({}, ["--parquet", "d", "--scheduler", "local:0"], ["must be at least 1", "--help"],
                 id="local cluster without workers"),
    pytest.param({}, ["r.txt", "p.txt", "--reference-column", "x"], ["apply only with --parquet", "--help"],
                 id="column without Parquet"),
]


@pytest.mark.parametrize("files, args, pieces", BAD_INPUTS)
def test_bad_input_gets_one_line_and_status_2(tmp_path, files, args, pieces):
    for name, content in files.items():
        (tmp_path / name).parent.mkdir(exist_ok=True)
        (tmp_path / name).write_bytes(content)
    before = {p: p.read_bytes() for p in tmp_path.rglob("*") if p.is_file()}
    result = run_tool(*args, cwd=tmp_path)
    assert result.returncode == 2
    assert result.stdout == ""
    lines = result.stderr.splitlines()
    assert len(lines) == 1 and lines[0].startswith("tallygrams: "), result.stderr
    assert all(piece in lines[0] for piece in pieces), lines[0]
    # Nothing written, nothing changed, no half-written file left behind.
    assert {p: p.read_bytes() for p in tmp_path.rglob("*") if p.is_file()} == before


@pytest.mark.parametrize("signum, status", [(signal.SIGINT, 130), (signal.SIGTERM, 143)], ids=["SIGINT", "SIGTERM"])
def test_a_stopping_signal_while_the_per_pair_file_is_written_leaves_no_file(tmp_path, signum, status):
    pairs = 400_000
    write_lines(tmp_path / "r.txt", ["the cat sat on the mat"] * pairs)
    write_lines(tmp_path / "p.txt", ["a cat sat there"] * pairs)
    tool = subprocess.Popen([str(TOOL), "r.txt", "p.txt", "--per-pair", "out.jsonl", "--bootstrap-samples", "0"],
                            cwd=tmp_path, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        # The temporary file appears once scoring is done and writing starts.
        deadline = time.monotonic() + 120
        while not list(tmp_path.glob("out.jsonl.*.part")) and tool.poll() is None and time.monotonic() < deadline:
            time.sleep(0.002)
        tool.send_signal(signum)
        stdout, stderr = tool.communicate(timeout=120)
    finally:
        tool.kill()
    assert tool.returncode == status, stderr
    assert (stdout, stderr) == ("", "")
    assert sorted(p.name for p in tmp_path.iterdir()) == ["p.txt", "r.txt"]


def run_with_terminal_stderr(args, cwd):
    """(status, stdout, what a terminal on standard error received)"""
    controller, terminal = os.openpty()
    with subprocess.Popen([str(TOOL), *args], cwd=cwd, stdout=subprocess.PIPE, stderr=terminal) as process:
        os.close(terminal)
        stdout = process.communicate(timeout=120)[0].decode()
    received = b""
    try:
        while chunk := os.read(controller, 65536):
            received += chunk
    except OSError:  # the other side is closed and everything has been read
        pass
    os.close(controller)
    return process.returncode, stdout, received.decode()


@pytest.mark.parametrize(
    "pairs, terminal, extra, shown",
    [
        pytest.param(LONG_INPUT, True, [], True, id="long input on a terminal"),
        pytest.param(LONG_INPUT, True, ["--no-progress"], False, id="long input, turned off"),
        pytest.param(LONG_INPUT, False, [], False, id="long input into a pipe"),
        pytest.param(50, True, [], False, id="short input on a terminal"),
    ],
)
def test_progress_bar_only_for_long_input_on_a_terminal(tmp_path, pairs, terminal, extra, shown):
    write_lines(tmp_path / "r.txt", ["the cat sat on the mat"] * pairs)
    write_lines(tmp_path / "p.txt", ["a cat on a mat"] * pairs)
    args = ["r.txt", "p.txt", "--bootstrap-samples", "20", *extra]
    if terminal:
        status, stdout, stderr = run_with_terminal_stderr(args, tmp_path)
    else:
        result = run_tool(*args, cwd=tmp_path)
        status, stdout, stderr = result.returncode, result.stdout, result.stderr
    assert status == 0 and stdout.startswith(f"{pairs} pairs;") and "\r" not in stdout
    if shown:
        assert "scoring" in stderr and f"100% {pairs} pairs" in stderr and "resampling" in stderr
        assert stderr.endswith("\r\x1b[K")  # the bar erases itself
    else:
        assert stderr == ""


@pytest.mark.parametrize("n", [1, 2, 3, 10, 1000])
def test_percentile_matches_numpy_to_the_last_bit(n):
    rng = random.Random(n)
    values = sorted(rng.random() for _ in range(n))
    for q in (0.0, 100 * ((1 - 0.95) / 2), 2.5, 33.3, 50.0, 97.5, 100 * (1 - (1 - 0.95) / 2), 100.0):
        assert percentile(values, q) == float(np.percentile(values, q)), q
