"""What the tool writes: the summary in every format, the signature, the
per-pair file in both layouts, standard input and output, sentences, nulls
and warnings."""

import csv
import io
import json
import subprocess
import sys
from pathlib import Path

import pyarrow as pa
import pyarrow.parquet as pq
import pytest
from rouge_score import io as rouge_io
from rouge_score import rouge_scorer

import scorer_texts
import tallygrams_scorer
from tallygrams_cli.cli import main

TOOL = Path(sys.executable).with_name("tallygrams")
VERSION = tallygrams_scorer.__version__


def run(capsys, *args):
    status = main([str(arg) for arg in args])
    out, err = capsys.readouterr()
    return status, out, err


@pytest.fixture
def pairs_files(tmp_path):
    pairs = [(r.replace("\n", " "), p.replace("\n", " ")) for r, p in scorer_texts.pairs(5, 60)]
    (tmp_path / "r.txt").write_text("".join(r + "\n" for r, _ in pairs), encoding="utf-8")
    (tmp_path / "p.txt").write_text("".join(p + "\n" for _, p in pairs), encoding="utf-8")
    return pairs


SIGNATURES = [
    ([], f"tallygrams {VERSION}|rouge1,rouge2,rougeL|stem:none|tok:default|sent:lines|refs:1|ci:95%,1000,seed:0"),
    (["--rouge-types", "ROUGE-1,rouge-2,rouge-Lsum", "--stemmer", "--confidence", "0.9", "--seed", "7",
      "--bootstrap-samples", "200"],
     f"tallygrams {VERSION}|rouge1,rouge2,rougeLsum|stem:porter|tok:default|sent:lines|refs:1|ci:90%,200,seed:7"),
    (["--tokenizer", "unicode", "--sentence-separator", "<n>", "--bootstrap-samples", "0"],
     f"tallygrams {VERSION}|rouge1,rouge2,rougeL|stem:none|tok:unicode|sent:sep=<n>|refs:1|ci:none"),
    (["--references", "r.txt", "--confidence", "0.999"],
     f"tallygrams {VERSION}|rouge1,rouge2,rougeL|stem:none|tok:default|sent:lines|refs:2|ci:99.9%,1000,seed:0"),
]


@pytest.mark.parametrize("extra, signature", SIGNATURES)
def test_the_signature_names_the_settings_in_every_output(tmp_path, capsys, pairs_files, extra, signature):
    inputs = ["--references", "r.txt", "--predictions", "p.txt"] if "--references" in extra else ["r.txt", "p.txt"]
    args = [*inputs, *extra, "--quiet"]
    with pytest.MonkeyPatch.context() as patch:
        patch.chdir(tmp_path)
        assert run(capsys, *args, "--signature-only") == (0, signature + "\n", "")
        status, text, _ = run(capsys, *args, "--per-pair", "pairs.parquet", "--summary", "s.json")
        assert status == 0 and text.endswith(f"\n\n{signature}\n")
        assert json.loads(Path("s.json").read_text())["signature"] == signature
        assert pq.read_metadata("pairs.parquet").metadata[b"tallygrams.signature"] == signature.encode()
        for kind in ("json", "csv", "latex"):
            if kind == "csv" and "ci:none" in signature:
                continue
            assert signature in run(capsys, *args, "--format", kind)[1], kind


def test_every_format_shows_the_same_numbers(tmp_path, capsys, pairs_files):
    args = [tmp_path / "r.txt", tmp_path / "p.txt", "--confidence", "0.8", "--bootstrap-samples", "300",
            "--rouge-types", "rougeL,rouge1"]
    document = json.loads(run(capsys, *args, "--format", "json")[1])
    scaled = json.loads(run(capsys, *args, "--format", "json", "--scale", "100")[1])
    assert (document["confidence_interval"], document["pairs"], scaled["scale"]) == (0.8, 60, 100)
    rows = list(csv.DictReader(io.StringIO(run(capsys, *args, "--format", "csv")[1])))
    assert [row["score_type"] for row in rows] == [f"{t}-{m}" for t in ("rouge1", "rougeL") for m in "RPF"]
    text = run(capsys, *args, "--digits", "6")[1]
    latex = run(capsys, *args, "--format", "latex", "--scale", "100")[1]
    assert "80% confidence interval" in text and "10th, 50th and 90th percentiles" in text
    assert latex.count(r"\\") == 3 and r"\begin{tabular}" in latex and r"\end{tabular}" in latex
    letters = {"recall": "R", "precision": "P", "fmeasure": "F"}
    for rouge_type, measures in document["scores"].items():
        for measure, numbers in measures.items():
            row = next(r for r in rows if r["score_type"] == f"{rouge_type}-{letters[measure]}")
            assert [float(row[k]) for k in ("mean", "low", "mid", "high")] == [numbers[k] for k in
                                                                                 ("mean", "low", "mid", "high")]
            assert scaled["scores"][rouge_type][measure]["mean"] == numbers["mean"] * 100
            shown = [f"{numbers[k]:.6f}" for k in ("mean", "low", "mid", "high")]
            assert f"{rouge_type:<7} {measure:<10} " + " ".join(f"{v:>8}" for v in shown) in text
            mean, low, high = (f"{100 * numbers[k]:.2f}" for k in ("mean", "low", "high"))
            assert f"{mean} {{\\scriptsize [{low}, {high}]}}" in latex


def test_rouge_score_layout_is_byte_for_byte_that_of_rouge_score(tmp_path, capsys, pairs_files):
    rouge_types = ["rougeLsum", "rouge1", "rouge2"]
    scorer = rouge_scorer.RougeScorer(rouge_types, use_stemmer=True)
    rouge_io._write_scores_to_csv(str(tmp_path / "theirs.csv"), [scorer.score(r, p) for r, p in pairs_files])
    status, _, err = run(capsys, tmp_path / "r.txt", tmp_path / "p.txt", "--rouge-types", ",".join(rouge_types),
                         "--stemmer", "--per-pair", tmp_path / "ours.csv", "--per-pair-layout", "rouge-score",
                         "--quiet")
    assert (status, err) == (0, "")
    assert (tmp_path / "ours.csv").read_bytes() == (tmp_path / "theirs.csv").read_bytes()


def test_standard_input_and_output(tmp_path, pairs_files):
    def tool(*args, stdin):
        return subprocess.run([str(TOOL), *args, "--bootstrap-samples", "0"], cwd=tmp_path, input=stdin,
                              capture_output=True, timeout=120)

    predictions = (tmp_path / "p.txt").read_bytes()
    references = (tmp_path / "r.txt").read_bytes()
    alone = tool("r.txt", "p.txt", "--per-pair", "out.csv", stdin=b"")
    assert alone.returncode == 0 and alone.stderr == b""
    assert tool("r.txt", "-", stdin=predictions).stdout == alone.stdout
    assert tool("--references", "-", "--predictions", "p.txt", stdin=references).stdout == alone.stdout
    to_stdout = tool("-", "p.txt", "--per-pair", "-", stdin=references)
    # The rows on standard output, the summary on standard error.
    assert to_stdout.stdout == (tmp_path / "out.csv").read_bytes() and to_stdout.stderr == alone.stdout
    records = b"".join(json.dumps({"reference": r, "prediction": p}).encode() + b"\n" for r, p in pairs_files)
    assert tool("--jsonl", "-", stdin=records).stdout == alone.stdout
    both = tool("-", "-", stdin=b"")
    assert both.returncode == 2 and b"only one input can be standard input" in both.stderr


def test_sentences_marked_by_a_separator_or_split_by_a_delimiter(tmp_path, capsys):
    pairs = scorer_texts.pairs(9, 40)
    oracle = rouge_scorer.RougeScorer(["rougeLsum"])
    expected = [oracle.score(r, p)["rougeLsum"] for r, p in pairs]
    marked = [(r.replace("\n", "<n>"), p.replace("\n", "<n>")) for r, p in pairs]
    (tmp_path / "r.txt").write_text("".join(r + "\n" for r, _ in marked))
    (tmp_path / "p.txt").write_text("".join(p + "\n" for _, p in marked))
    (tmp_path / "r.rec").write_text("".join(r + "@@" for r, _ in pairs))
    (tmp_path / "p.rec").write_text("".join(p + "@@" for _, p in pairs))
    (tmp_path / "d.jsonl").write_text("".join(json.dumps({"reference": r, "prediction": p}) + "\n" for r, p in marked))
    runs = {
        "separator": [tmp_path / "r.txt", tmp_path / "p.txt", "--sentence-separator", "<n>"],
        "delimiter": [tmp_path / "r.rec", tmp_path / "p.rec", "--delimiter", "@@"],
        "JSON Lines": ["--jsonl", tmp_path / "d.jsonl", "--sentence-separator", "<n>"],
    }
    for name, inputs in runs.items():
        out = tmp_path / f"{name}.csv"
        status, _, err = run(capsys, *inputs, "--rouge-types", "rougeLsum", "--per-pair", out, "--bootstrap-samples", "0")
        assert (status, err) == (0, ""), name
        rows = [list(map(float, row[1:])) for row in csv.reader(out.read_text().splitlines()[1:])]
        assert rows == [list(score) for score in expected], name
    # Without marks, rougeLsum of one-line texts is rougeL: one warning says so.
    status, _, err = run(capsys, tmp_path / "r.txt", tmp_path / "p.txt", "--rouge-types", "rougeLsum",
                         "--bootstrap-samples", "0")
    assert status == 0 and err.count("\n") == 1 and "rougeLsum equals rougeL" in err


def test_nulls_are_skipped_and_counted_or_stop_the_run(tmp_path, capsys):
    references = ["the cat sat", None, "a b c", "x y"]
    predictions = ["the cat", "a", "b c", None]
    pq.write_table(pa.table({"reference": references, "prediction": predictions, "key": ["k1", "k2", "k3", "k4"]}),
                   tmp_path / "d.parquet")
    (tmp_path / "d.jsonl").write_text("".join(json.dumps({"reference": r, "prediction": p, "key": f"k{i + 1}"}) + "\n"
                                              for i, (r, p) in enumerate(zip(references, predictions))))
    for inputs in (["--parquet", tmp_path / "d.parquet", "--id-column", "key"],
                   ["--jsonl", tmp_path / "d.jsonl", "--id-key", "key"]):
        status, text, err = run(capsys, *inputs, "--per-pair", tmp_path / "out.jsonl", "--format", "json")
        assert (status, err) == (0, "")
        assert (json.loads(text)["pairs"], json.loads(text)["left_out"]) == (2, 2)
        rows = [json.loads(line) for line in (tmp_path / "out.jsonl").read_text().splitlines()]
        assert [(row["id"], row["rouge1_recall"] is None) for row in rows] == [
            ("k1", False), ("k2", True), ("k3", False), ("k4", True)]
        status, text, err = run(capsys, *inputs, "--nulls", "error")
        assert status == 2 and text == "" and err.count("\n") == 1 and ("row 2" in err or "line 2" in err), err


@pytest.mark.parametrize("quiet", [False, True])
def test_a_tokenizer_that_drops_most_letters_is_warned_about(tmp_path, capsys, quiet):
    texts = ["\u041c\u043e\u0441\u043a\u0432\u0430 \u0433\u043e\u0440\u043e\u0434 big", "\u4eca\u5929\u5929\u6c14 ok"]
    (tmp_path / "d.jsonl").write_text("".join(json.dumps({"reference": t, "prediction": t}) + "\n" for t in texts))
    args = ["--jsonl", tmp_path / "d.jsonl", "--bootstrap-samples", "0", *(["--quiet"] if quiet else [])]
    status, _, err = run(capsys, *args)
    assert status == 0
    assert err == ("" if quiet else "tallygrams: warning: the default tokenizer dropped 75% of the letters (it keeps "
                   "only a-z, A-Z and 0-9, as rouge-score); --tokenizer unicode keeps the words of every script\n")
    assert run(capsys, *args, "--tokenizer", "unicode")[2] == ""


WITHOUT_PYARROW = ("import sys; sys.modules['pyarrow'] = None; from tallygrams_cli.cli import main; "
                   "sys.exit(main(sys.argv[1:]))")


@pytest.mark.parametrize("args, error", [
    (["r.txt", "p.txt", "--per-pair", "out.parquet"],
     "tallygrams: --per-pair in Parquet needs pyarrow, which is not installed (pip install pyarrow)\n"),
    (["--parquet", "d.parquet"], "tallygrams: --parquet needs pyarrow, which is not installed (pip install pyarrow)\n"),
    (["r.txt", "p.txt", "--per-pair", "out.csv"], None),
    (["--jsonl", "d.jsonl", "--per-pair", "out.csv"], None),
])
def test_without_pyarrow_the_tool_reads_alike_or_says_what_it_needs(tmp_path, pairs_files, args, error):
    (tmp_path / "d.jsonl").write_text("".join(json.dumps({"reference": r, "prediction": p}) + "\n"
                                              for r, p in pairs_files))
    (tmp_path / "d.parquet").write_bytes(b"PAR1")
    outputs = []
    for code in (["-c", WITHOUT_PYARROW], ["-m", "tallygrams_cli"]):
        result = subprocess.run([sys.executable, *code, *args], cwd=tmp_path, capture_output=True, text=True,
                                timeout=120)
        if error is not None:
            assert (result.returncode, result.stdout, result.stderr) == (2, "", error)
            return
        assert (result.returncode, result.stderr) == (0, "")
        outputs.append((result.stdout, (tmp_path / "out.csv").read_text()))
    assert outputs[0] == outputs[1]
