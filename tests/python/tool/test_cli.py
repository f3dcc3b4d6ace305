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
from array import array
from pathlib import Path

import numpy as np
import pyarrow as pa
import pyarrow.parquet as pq
import pytest
from rouge_score import rouge_scorer, scoring

import scorer_texts
import tallygrams
import tallygrams_scorer
import textgen
from bootstrap_oracle import percentile
from tallygrams_cli.command import LONG_INPUT

TOOL = Path(sys.executable).with_name("tallygrams")
EXAMPLES = Path(__file__).resolve().parents[3] / "examples"
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


def read_per_pair(path, columns=COLUMNS, ids=None):
    """The rows of a per-pair file of any kind without their id, which must
    be `ids` (default: 1, 2, ...); None for a null score."""
    if path.suffix == ".parquet":
        table = pq.read_table(path)
        assert table.column_names == ["id", *columns]
        assert all(field.type == pa.float64() for field in list(table.schema)[1:])
        rows = [list(row.values()) for row in table.to_pylist()]
    elif path.suffix == ".csv":
        with open(path, newline="", encoding="utf-8") as handle:
            text_rows = list(csv.reader(handle))
        assert text_rows[0] == ["id", *columns]
        rows = [[int(row[0]), *(float(v) if v else None for v in row[1:])] for row in text_rows[1:]]
    else:
        records = [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines()]
        assert all(list(record) == ["id", *columns] for record in records)
        rows = [list(record.values()) for record in records]
    assert [row[0] for row in rows] == (list(range(1, len(rows) + 1)) if ids is None else ids)
    return [row[1:] for row in rows]


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
    pytest.param({"d.jsonl": b"[" * 100_000 + b"\n"}, ["--jsonl", "d.jsonl"],
                 ["line 1", "malformed JSON"], id="JSON nested too deeply"),
    pytest.param({"d.jsonl": b'["a", "b"]\n'}, ["--jsonl", "d.jsonl"],
                 ["line 1", "expected a JSON object, found an array"], id="JSONL line not an object"),
    pytest.param({"d.jsonl": b'{"reference": null, "prediction": "b"}\n'}, ["--jsonl", "d.jsonl"],
                 ["no pairs to score: every pair has a null text"], id="JSONL only null texts"),
    pytest.param({"d.jsonl": b'{"reference": 7, "prediction": "b"}\n'}, ["--jsonl", "d.jsonl"],
                 ['the value of "reference" is a number, not a string'], id="JSONL text not a string"),
    pytest.param({"d.jsonl": b'{"reference": "a", "prediction": "\\ud800"}\n'}, ["--jsonl", "d.jsonl"],
                 ['"prediction" holds an unpaired surrogate'], id="JSONL lone surrogate escape"),
    pytest.param({"d.jsonl": GOOD_JSONL}, ["--jsonl", "d.jsonl", "--per-pair", "d.jsonl"],
                 ["would overwrite the input file d.jsonl"], id="per-pair file is the input"),
    pytest.param({"r.txt": b"a\n", "p.txt": b"b\n"}, ["r.txt", "p.txt", "--per-pair", "nowhere/out.csv"],
                 ["cannot write nowhere/out.csv"], id="per-pair directory missing"),
    pytest.param({"d.jsonl": GOOD_JSONL + b'{"reference": "a", "prediction": "b", "reference": "c"}\n'},
                 ["--jsonl", "d.jsonl"], ["d.jsonl, line 2", 'duplicate key "reference"'], id="JSONL duplicate key"),
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
                 ['data/part.1.parquet, row 5, column "prediction": invalid UTF-8 at byte 4 of its text'],
                 id="Parquet invalid UTF-8"),
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
    pytest.param({}, ["r.txt", "p.txt", "--rouge-types", "rouge1,rougeS"], ["not a ROUGE type: 'rougeS'", "--help"],
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
    # A command line that is not UTF-8 (its bytes arrive as lone surrogates).
    pytest.param({}, ["r.txt", "p.txt", "--sentence-separator", "\udcff"], ["must be UTF-8 text", "--help"],
                 id="separator not UTF-8"),
    pytest.param({"d.jsonl": GOOD_JSONL}, ["--jsonl", "d.jsonl", "--prediction-key", "\udcff"],
                 ["--prediction-key: must be UTF-8 text", "--help"], id="key not UTF-8"),
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


@pytest.mark.parametrize(
    "signum, status, layout, suffix",
    [
        pytest.param(signal.SIGINT, 130, "text", ".jsonl", id="SIGINT"),
        pytest.param(signal.SIGTERM, 143, "text", ".jsonl", id="SIGTERM"),
        pytest.param(signal.SIGINT, 130, "parquet", ".parquet", id="SIGINT, Parquet in and out"),
    ],
)
def test_a_stopping_signal_while_the_per_pair_file_is_written_leaves_no_file(tmp_path, signum, status, layout, suffix):
    pairs = 400_000
    if layout == "text":
        write_lines(tmp_path / "r.txt", ["the cat sat on the mat"] * pairs)
        write_lines(tmp_path / "p.txt", ["a cat sat there"] * pairs)
        inputs = ["r.txt", "p.txt"]
    else:
        table = pa.table({"reference": ["the cat sat on the mat"] * pairs, "prediction": ["a cat sat there"] * pairs})
        pq.write_table(table, tmp_path / "d.parquet")
        inputs = ["--parquet", "d.parquet"]
    before = sorted(p.name for p in tmp_path.iterdir())
    tool = subprocess.Popen([str(TOOL), *inputs, "--per-pair", f"out{suffix}", "--summary", "s.json",
                             "--batch-pairs", "5000"],
                            cwd=tmp_path, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        # The temporary file appears as scoring starts; the signal comes
        # while batches are scored and written.
        deadline = time.monotonic() + 120
        while not list(tmp_path.glob(f"out{suffix}.*.part")) and tool.poll() is None and time.monotonic() < deadline:
            time.sleep(0.002)
        time.sleep(0.05)
        tool.send_signal(signum)
        stdout, stderr = tool.communicate(timeout=120)
    finally:
        tool.kill()
    assert tool.returncode == status, stderr
    assert (stdout, stderr) == ("", "")
    assert sorted(p.name for p in tmp_path.iterdir()) == before


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


# The percentile that the bootstrap oracles read their intervals with.
@pytest.mark.parametrize("n", [1, 2, 3, 10, 1000])
def test_percentile_matches_numpy_to_the_last_bit(n):
    rng = random.Random(n)
    values = sorted(rng.random() for _ in range(n))
    for q in (0.0, 100 * ((1 - 0.95) / 2), 2.5, 33.3, 50.0, 97.5, 100 * (1 - (1 - 0.95) / 2), 100.0):
        assert percentile(values, q) == float(np.percentile(values, q)), q


# --- Options, several references, summaries -------------------------------------------------------

def names_of(rouge_types):
    return [f"{t}_{m}" for t in rouge_types for m in MEASURES]


def oracle_rows(rouge_types, stemmer, targets, predictions):
    scorer = rouge_scorer.RougeScorer(rouge_types, use_stemmer=stemmer)
    rows = []
    for target, prediction in zip(targets, predictions):
        scores = scorer.score_multi(target, prediction) if isinstance(target, list) else scorer.score(target, prediction)
        rows.append([getattr(scores[t], m) for t in rouge_types for m in MEASURES])
    return rows


def write_jsonl(path, targets, predictions, reference_key="reference"):
    records = [json.dumps({reference_key: t, "prediction": p}) for t, p in zip(targets, predictions)]
    path.write_text("\n".join(records) + "\n", encoding="utf-8")


@pytest.mark.parametrize(
    "rouge_types, stemmer, layout",
    [
        pytest.param(["rouge1", "rouge2", "rougeLsum"], True, "jsonl", id="summary setting, multi-line texts"),
        pytest.param(["rouge9", "rougeL", "rouge3", "rouge1"], False, "jsonl lists", id="rouge3-9, reference arrays"),
        pytest.param(["rougeLsum", "rouge2"], True, "three text files", id="stemming, three references files"),
    ],
)
def test_options_give_rouge_score_values_to_the_last_bit(tmp_path, rouge_types, stemmer, layout):
    rng = random.Random(len(layout))
    pairs = scorer_texts.pairs(21, 120) + scorer_texts.pairs(22, 40, scorer_texts.repetitive)
    predictions = [p for _, p in pairs]
    if layout == "jsonl":
        targets = [r for r, _ in pairs]
        write_jsonl(tmp_path / "d.jsonl", targets, predictions)
        inputs = ["--jsonl", "d.jsonl"]
    elif layout == "jsonl lists":
        # One to three references, sometimes the same twice (equal maxima).
        targets = [[r] + rng.sample([r, p, predictions[0]], rng.randrange(3)) for r, p in pairs]
        write_jsonl(tmp_path / "d.jsonl", targets, predictions)
        inputs = ["--jsonl", "d.jsonl"]
    else:
        # One text per line: the line breaks inside the generated texts become spaces.
        predictions = [p.replace("\r", " ").replace("\n", " ") for p in predictions]
        files = [[r.replace("\r", " ").replace("\n", " ") for r, _ in scorer_texts.pairs(seed, len(pairs))]
                 for seed in (31, 32, 33)]
        targets = [list(group) for group in zip(*files)]
        inputs = []
        for k, texts in enumerate(files):
            write_lines(tmp_path / f"r{k}.txt", texts)
            inputs += ["--references", f"r{k}.txt"]
        write_lines(tmp_path / "p.txt", predictions)
        inputs += ["--predictions", "p.txt"]
    options = ["--rouge-types", ",".join(rouge_types), *(["--stemmer"] if stemmer else [])]
    result = run_tool(*inputs, *options, "--per-pair", "out.jsonl", "--batch-pairs", "50", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert read_per_pair(tmp_path / "out.jsonl", names_of(rouge_types)) == oracle_rows(
        rouge_types, stemmer, targets, predictions)
    # One block of three rows per type, in the order given.
    rows = [line.split()[:2] for line in result.stdout.splitlines()[4:-2]]
    assert rows == [[t, m] for t in rouge_types for m in MEASURES]


def test_unicode_tokenizer_scores_texts_of_every_script(tmp_path):
    texts = ["\u4eca\u5929\u5929\u6c14\u5f88\u597d", "\u041c\u043e\u0441\u043a\u0432\u0430 \u0433\u043e\u0440\u043e\u0434",
             "\u0e2a\u0e27\u0e31\u0e2a\u0e14\u0e35", "Caf\u00e9 CR\u00c8ME br\u00fbl\u00e9e"]
    predictions = [texts[0][:4], texts[1].upper(), texts[2], "caf\u00e9 cr\u00e8me"]
    write_jsonl(tmp_path / "d.jsonl", texts, predictions)
    default = run_tool("--jsonl", "d.jsonl", "--per-pair", "ascii.csv", "--bootstrap-samples", "0", cwd=tmp_path)
    unicode = run_tool("--jsonl", "d.jsonl", "--tokenizer", "unicode", "--per-pair", "unicode.csv",
                       "--bootstrap-samples", "0", cwd=tmp_path)
    assert default.returncode == unicode.returncode == 0, default.stderr + unicode.stderr
    # ASCII tokens only: three texts without a token, and accents split words.
    assert [row[2] for row in read_per_pair(tmp_path / "ascii.csv")] == [0.0, 0.0, 0.0, 2 / 3]
    scorer = tallygrams_scorer.RougeScorer(list(METRICS), tokenizer="unicode")
    assert read_per_pair(tmp_path / "unicode.csv") == [nine(scorer.score(r, p)) for r, p in zip(texts, predictions)]
    assert [row[2] for row in read_per_pair(tmp_path / "unicode.csv")] == [0.8, 1.0, 1.0, 0.8]


def test_summary_files_hold_the_table_with_every_digit(tmp_path):
    rouge_types = ["rougeLsum", "rouge1", "rougeL", "rouge2"]
    pairs = scorer_texts.pairs(41, 300)
    write_jsonl(tmp_path / "d.jsonl", [r for r, _ in pairs], [p for _, p in pairs])
    common = ["--jsonl", "d.jsonl", "--rouge-types", ",".join(rouge_types), "--seed", "3"]
    runs = {name: run_tool(*common, "--summary", name, "--per-pair", f"{name}.jsonl", cwd=tmp_path)
            for name in ("s.csv", "s.json")}
    no_interval = run_tool(*common, "--summary", "means.json", "--bootstrap-samples", "0", cwd=tmp_path)
    assert all(r.returncode == 0 for r in [*runs.values(), no_interval]), [r.stderr for r in runs.values()]
    assert runs["s.csv"].stdout == runs["s.json"].stdout

    per_pair = read_per_pair(tmp_path / "s.csv.jsonl", names_of(rouge_types))
    columns = {name: [row[k] for row in per_pair] for k, name in enumerate(names_of(rouge_types))}
    expected = tallygrams_scorer.bootstrap({n: array("d", c) for n, c in columns.items()}, 1000, seed=3)

    document = json.loads((tmp_path / "s.json").read_text())
    assert {k: document[k] for k in ("pairs", "left_out", "bootstrap_samples", "seed", "confidence_interval")} == {
        "pairs": 300, "left_out": 0, "bootstrap_samples": 1000, "seed": 3, "confidence_interval": 0.95}
    assert list(document["scores"]) == rouge_types
    for name, column in columns.items():
        rouge_type, measure = name.split("_")
        numbers = document["scores"][rouge_type][measure]
        # The exact mean, whether or not an interval was computed.
        assert numbers["mean"] == math.fsum(column) / len(column), name
        assert json.loads((tmp_path / "means.json").read_text())["scores"][rouge_type][measure] == {
            "mean": numbers["mean"], "low": None, "mid": None, "high": None}
        assert [numbers[k] for k in ("mean", "low", "mid", "high")] == list(expected[name]), name

    # The CSV: rouge-score's header and rows, types sorted, R before P before F.
    lines = (tmp_path / "s.csv").read_text().splitlines()
    assert lines[0].startswith("score_type,low,mid,high,")
    assert [line.split(",")[0] for line in lines[1:]] == [
        f"{t}-{letter}" for t in sorted(rouge_types) for letter in "RPF"]
    letters = {"R": "recall", "P": "precision", "F": "fmeasure"}
    for line in lines[1:]:
        score_type, *bounds = line.split(",")[:4]
        rouge_type, letter = score_type.split("-")
        numbers = document["scores"][rouge_type][letters[letter]]
        assert [float(b) for b in bounds] == [numbers["low"], numbers["mid"], numbers["high"]], line

    # The table shows the same numbers, rounded.
    for line in runs["s.json"].stdout.splitlines()[4:-2]:
        rouge_type, measure, *shown = line.split()
        numbers = document["scores"][rouge_type][measure]
        assert shown == [f"{numbers[k]:.4f}" for k in ("mean", "low", "mid", "high")], line


# --- Streaming -------------------------------------------------------------------------------------

def make_inputs(tmp_path, layout, pairs):
    """Files holding `pairs` in one layout, and the tool's arguments for them."""
    references = [r.replace("\n", " ") for r, _ in pairs]
    predictions = [p.replace("\n", " ") for _, p in pairs]
    if layout == "text":
        write_lines(tmp_path / "r1.txt", references)
        write_lines(tmp_path / "r2.txt", predictions[::-1])
        write_lines(tmp_path / "p.txt", predictions)
        return ["--references", "r1.txt", "--references", "r2.txt", "--predictions", "p.txt"]
    if layout == "jsonl":
        lines = [json.dumps({"reference": r, "prediction": p}) for r, p in pairs]
        # Blank lines between records do not count as pairs.
        (tmp_path / "d.jsonl").write_text("\n\n".join(lines) + "\n", encoding="utf-8")
        return ["--jsonl", "d.jsonl"]
    (tmp_path / "data").mkdir()
    # Natural order of names: part.2 before part.10; writer leftovers skipped.
    cuts = [0, 40, 41, 150, len(pairs)]
    types = [pa.string(), pa.large_string(), pa.string_view(), pa.string()]
    for part, (start, end, kind) in zip((0, 2, 10, 11), zip(cuts, cuts[1:], types)):
        table = pa.table({"r": pa.array(references[start:end], kind), "p": pa.array(predictions[start:end], kind)})
        pq.write_table(table, tmp_path / "data" / f"part.{part}.parquet", row_group_size=30)
    (tmp_path / "data" / "_SUCCESS").write_bytes(b"")
    (tmp_path / "data" / ".part.0.parquet.crc").write_bytes(b"\x00")
    return ["--parquet", "data", "--reference-column", "r", "--prediction-column", "p"]


@pytest.mark.parametrize("layout", ["text", "jsonl", "parquet"])
def test_many_small_batches_give_the_one_batch_result(tmp_path, layout):
    pairs = textgen.pairs(51, 230)
    inputs = make_inputs(tmp_path, layout, pairs)
    outputs = {}
    for batch in (7, 1000):
        result = run_tool(*inputs, "--batch-pairs", batch, "--per-pair", f"{batch}.csv", "--summary", f"{batch}.json",
                          cwd=tmp_path)
        assert result.returncode == 0, result.stderr
        outputs[batch] = [result.stdout, *((tmp_path / f"{batch}{s}").read_bytes() for s in (".csv", ".json"))]
    assert outputs[7] == outputs[1000]
    assert outputs[7][0].startswith("230 pairs;")
    oracle = rouge_scorer.RougeScorer(list(METRICS))
    expected = [nine(oracle.score(r.replace("\n", " "), p.replace("\n", " "))) for r, p in pairs]
    if layout == "text":
        expected = [nine(oracle.score_multi([r.replace("\n", " "), q.replace("\n", " ")], p.replace("\n", " ")))
                    for (r, p), (_, q) in zip(pairs, pairs[::-1])]
    # The id is the line number: the JSON Lines records are on every other line.
    ids = list(range(1, 2 * len(pairs), 2)) if layout == "jsonl" else None
    assert read_per_pair(tmp_path / "7.csv", ids=ids) == expected


@pytest.mark.parametrize("suffix", [".csv", ".jsonl", ".parquet"])
def test_parquet_nulls_are_null_in_the_per_pair_file_and_left_out_of_the_table(tmp_path, suffix):
    references = ["the cat sat", None, "a b c", "x y", None, "on the mat"]
    predictions = ["the cat", "a", None, "x", None, "the mat"]
    pq.write_table(pa.table({"reference": references, "prediction": predictions}), tmp_path / "d.parquet")
    result = run_tool("--parquet", "d.parquet", "--per-pair", f"out{suffix}", "--summary", "s.json",
                      "--batch-pairs", "4", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[:2] == [
        "3 pairs; 95% confidence interval from 1000 bootstrap resamples (seed 0)",
        "left out: 3 pairs with a null text",
    ]
    rows = read_per_pair(tmp_path / f"out{suffix}")
    assert rows == [[None] * 9 if r is None or p is None else nine(tallygrams.score(r, p))
                    for r, p in zip(references, predictions)]
    document = json.loads((tmp_path / "s.json").read_text())
    assert (document["pairs"], document["left_out"]) == (3, 3)
    kept = [row for row in rows if row[0] is not None]
    assert document["scores"]["rouge1"]["recall"]["mean"] == math.fsum(row[1] for row in kept) / 3


def test_parquet_without_pyarrow_is_a_clear_error(tmp_path):
    (tmp_path / "d.parquet").write_bytes(GOOD_PARQUET)
    # The tool as the console script runs it, with pyarrow made unimportable.
    code = ("import sys; sys.modules['pyarrow'] = None; sys.argv = ['tallygrams', '--parquet', 'd.parquet'];"
            "from tallygrams_cli.cli import main; sys.exit(main())")
    result = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr == "tallygrams: --parquet needs pyarrow, which is not installed (pip install pyarrow)\n"


# --- On a dask.distributed cluster (loopback only) --------------------------------------------------

def cluster_dataset(folder):
    """Three files of several row groups, every kind of text column, some nulls."""
    folder.mkdir()
    pairs = scorer_texts.pairs(61, 420)
    types = [pa.string(), pa.string_view(), pa.large_string()]
    for part, kind in enumerate(types):
        chunk = pairs[part * 140:(part + 1) * 140]
        references = [None if k % 37 == 5 else r for k, (r, _) in enumerate(chunk)]
        table = pa.table({"ref": pa.array(references, kind), "pred": pa.array([p for _, p in chunk], kind)})
        pq.write_table(table, folder / f"part.{part}.parquet", row_group_size=50)


def assert_same_results(tmp_path, runs):
    """Every run printed the same table, and wrote the same summary and per-pair scores."""
    first, *others = runs
    for name in others:
        assert (tmp_path / f"{name}.json").read_bytes() == (tmp_path / f"{first}.json").read_bytes(), name
        assert pq.read_table(tmp_path / f"{name}.parquet").equals(pq.read_table(tmp_path / f"{first}.parquet")), name


CLUSTER_ARGS = ["--parquet", "data", "--reference-column", "ref", "--prediction-column", "pred",
                "--rouge-types", "rouge1,rougeLsum", "--stemmer", "--batch-pairs", "32"]


# Tests that start dask worker processes. The sanitizer run leaves them out:
# its runtime, inherited by every worker process, reports the interpreter's
# own allocations left at exit there.
cluster = pytest.mark.cluster


@cluster
def test_a_local_cluster_gives_the_single_process_result(tmp_path):
    cluster_dataset(tmp_path / "data")
    outputs = {}
    for name, extra in (("alone", []), ("cluster", ["--scheduler", "local:2"])):
        result = subprocess.run([str(TOOL), *CLUSTER_ARGS, *extra, "--per-pair", f"{name}.parquet",
                                 "--summary", f"{name}.json"], cwd=tmp_path, capture_output=True, text=True,
                                timeout=300)
        assert (result.returncode, result.stderr) == (0, ""), result.stderr
        outputs[name] = result.stdout
    assert outputs["cluster"] == outputs["alone"]
    assert outputs["alone"].startswith("408 pairs;") and "left out: 12 pairs with a null text" in outputs["alone"]
    assert_same_results(tmp_path, ["alone", "cluster"])


def test_a_scheduler_address_gives_the_single_process_result_and_errors(tmp_path):
    from dask.distributed import LocalCluster

    cluster_dataset(tmp_path / "data")
    (tmp_path / "bad").mkdir()
    good = pa.array(["a b"] * 120)
    pq.write_table(pa.table({"ref": good, "pred": good}), tmp_path / "bad" / "part.0.parquet", row_group_size=50)
    pq.write_table(pa.table({"ref": good, "pred": invalid_utf8_column(["a"] * 120, 77)}),
                   tmp_path / "bad" / "part.1.parquet", row_group_size=50)
    bad_args = ["--parquet", "bad", "--reference-column", "ref", "--prediction-column", "pred",
                "--per-pair", "bad.csv", "--batch-pairs", "16"]

    alone = run_tool(*CLUSTER_ARGS, "--per-pair", "alone.parquet", "--summary", "alone.json", cwd=tmp_path)
    refused = run_tool(*bad_args, cwd=tmp_path)
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster:
        address = cluster.scheduler_address
        assert address.startswith("tcp://127.0.0.1:")
        remote = run_tool(*CLUSTER_ARGS, "--scheduler", address, "--per-pair", "remote.parquet",
                          "--summary", "remote.json", cwd=tmp_path)
        refused_remotely = run_tool(*bad_args, "--scheduler", address, cwd=tmp_path)
    assert (alone.returncode, remote.returncode, remote.stderr) == (0, 0, "")
    assert remote.stdout == alone.stdout
    assert_same_results(tmp_path, ["alone", "remote"])
    # The worker's error reaches the tool as the one it gives alone, with
    # the row counted from the file's start; nothing is left behind.
    assert refused.returncode == refused_remotely.returncode == 2
    assert refused.stderr == refused_remotely.stderr == (
        'tallygrams: bad/part.1.parquet, row 78, column "pred": invalid UTF-8 at byte 4 of its text '
        "(bytes ff fe)\n")
    assert not list(tmp_path.glob("bad.csv*"))


@cluster
@pytest.mark.parametrize("delay", [0.0, 1.5, 3.0])
def test_ctrl_c_stops_a_local_cluster_run_cleanly(tmp_path, delay):
    # Wherever the signal lands (starting the cluster, scoring on it, the
    # interval after the per-pair file is complete), the run ends with 130,
    # nothing on the terminal and no partial file left behind. On a fast
    # machine the longest delay can land after the run.
    (tmp_path / "data").mkdir()
    table = pa.table({"ref": ["the cat sat on the mat " * 20] * 50_000, "pred": ["a cat sat there " * 20] * 50_000})
    for part in range(6):
        pq.write_table(table, tmp_path / "data" / f"part.{part}.parquet", row_group_size=10_000)
    before = sorted(p.name for p in tmp_path.iterdir())
    tool = subprocess.Popen([str(TOOL), *CLUSTER_ARGS[:6], "--scheduler", "local:2", "--per-pair", "out.csv"],
                            cwd=tmp_path, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        deadline = time.monotonic() + 120
        while not list(tmp_path.glob("out.csv.*.part")) and tool.poll() is None and time.monotonic() < deadline:
            time.sleep(0.002)
        time.sleep(delay)
        tool.send_signal(signal.SIGINT)
        stdout, stderr = tool.communicate(timeout=120)
    finally:
        tool.kill()
    if stdout:
        # The run was over before the signal landed, which then met the
        # interpreter's own exit: the table is whole, and so is the file.
        assert tool.returncode in (0, 130, -signal.SIGINT) and stderr == "", (tool.returncode, stderr)
        assert "rouge1" in stdout and "rougeL" in stdout
        assert (tmp_path / "out.csv").exists()
    else:
        assert (tool.returncode, stderr) == (130, "")
    left = sorted(p.name for p in tmp_path.iterdir())
    if "out.csv" in left:
        # Written in full before the signal came: every pair is in it.
        with open(tmp_path / "out.csv") as written:
            assert sum(1 for _ in written) == 1 + 6 * 50_000
        left.remove("out.csv")
    assert left == before


@cluster
def test_the_readme_dask_example_gives_the_tools_interval(tmp_path):
    # The README's Python form of scoring on dask, run as written against a
    # local cluster, equals the tool's own run with the same options.
    from dask.distributed import LocalCluster

    readme = (Path(__file__).resolve().parents[3] / "README.md").read_text(encoding="utf-8")
    section = readme[readme.index("## Beyond one machine"):]
    code = section[section.index("```python\n") + len("```python\n"):]
    code = code[:code.index("```")]
    assert 'Client("tcp://scheduler-host:8786")' in code and '"/shared/data"' in code
    (tmp_path / "data").mkdir()
    pairs = scorer_texts.pairs(71, 300)
    for part in range(3):
        chunk = pairs[part * 100:(part + 1) * 100]
        references = [None if k == 7 else r for k, (r, _) in enumerate(chunk)]
        pq.write_table(pa.table({"reference": pa.array(references, pa.string()), "prediction": [p for _, p in chunk]}),
                       tmp_path / "data" / f"part.{part}.parquet", row_group_size=40)
    tool = run_tool("--parquet", "data", "--rouge-types", "rouge1,rouge2,rougeLsum", "--stemmer", "--summary", "s.json",
                    "--per-pair", "tool.parquet", cwd=tmp_path)
    assert tool.returncode == 0, tool.stderr
    check = ("\nimport json, sys\n"
             "assert pyarrow.Table.from_pandas(frame, preserve_index=False).equals(scores)\n"
             "pyarrow.parquet.write_table(scores, 'readme.parquet')\n"
             "json.dump({name: list(interval) for name, interval in intervals.items()}, sys.stdout)\n")
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster:
        script = code.replace('"tcp://scheduler-host:8786"', repr(cluster.scheduler_address))
        script = script.replace('"/shared/data"', repr(str(tmp_path / "data"))) + check
        result = subprocess.run([sys.executable, "-c", script], cwd=tmp_path, capture_output=True, text=True,
                                timeout=300)
    assert result.returncode == 0, result.stderr
    assert pq.read_table(tmp_path / "readme.parquet").equals(pq.read_table(tmp_path / "tool.parquet").drop(["id"]))
    summary = json.loads((tmp_path / "s.json").read_text())
    for name, numbers in json.loads(result.stdout).items():
        rouge_type, measure = name.split("_")
        expected = summary["scores"][rouge_type][measure]
        assert numbers == [expected[k] for k in ("mean", "low", "mid", "high")], name
