"""The three JSON Lines readers (pyarrow, orjson, json) give the same scores,
ids and errors on every kind of record, and line files read through Arrow
give the texts the exact reader gives."""

import json

import pytest
from rouge_score import rouge_scorer

from tallygrams_cli.cli import main

pytest.importorskip("orjson")

READERS = ("pyarrow", "orjson", "json")
GOOD = b'{"reference": "the cat sat", "prediction": "a cat sat"}'

# (lines of the file, extra options); every reader must agree on each.
RECORDS = {
    "plain": [GOOD, b'{"prediction": "x y", "reference": "y x z", "n": 1}'],
    "blank and indented lines": [GOOD, b"", b"   ", b'  {"reference": "a", "prediction": "a"}', b"\t"],
    "two records on a line": [GOOD + b" " + GOOD],
    "a record over two lines": [b'{"reference": "a",', b'"prediction": "b"}'],
    "duplicate key read": [b'{"reference": "a", "prediction": "b", "reference": "c"}'],
    "duplicate key spelled with an escape": [b'{"reference": "a", "prediction": "b", "refer\\u0065nce": "c"}'],
    "duplicate key not read": [b'{"reference": "a", "prediction": "b", "m": {"x": 1, "x": 2}, "y": 1, "y": 2}'],
    "missing key": [GOOD, b'{"reference": "a", "target": "b"}'],
    "null text": [GOOD, b'{"reference": null, "prediction": "b"}', b'{"reference": "a", "prediction": null}'],
    "null among references": [GOOD, b'{"reference": ["a", null], "prediction": "b"}'],
    "arrays of references": [b'{"reference": ["a b", "the cat"], "prediction": "the cat"}', GOOD],
    "empty array": [b'{"reference": [], "prediction": "b"}'],
    "number for a text": [GOOD, b'{"reference": 3, "prediction": "b"}'],
    "not an object": [b'["a", "b"]'],
    "malformed": [GOOD, b'{"reference": "a", "prediction": "b",}'],
    "trailing data": [GOOD + b" x"],
    "lone surrogate read": [b'{"reference": "a", "prediction": "\\ud800"}'],
    "lone surrogate not read": [b'{"reference": "a b", "prediction": "b", "m": "\\ud800"}'],
    "escaped texts": [b'{"reference": "caf\\u00e9 \\"quoted\\"\\nline", "prediction": "caf\\u00e9 line"}'],
    "invalid UTF-8 in a text": [GOOD, b'{"reference": "a \xff", "prediction": "b"}'],
    "invalid UTF-8 not read": [GOOD, b'{"reference": "a", "prediction": "b", "m": "\xfe"}'],
    "raw control character": [b'{"reference": "a\x01", "prediction": "b"}'],
    "NaN and huge numbers not read": [b'{"reference": "a", "prediction": "a", "x": NaN, "y": 1e400, "z": '
                                      + b"1" * 5000 + b"}"],
    "nested deeper than recursion": [b'{"reference": "a b", "prediction": "b", "d": ' + b"[" * 200_000
                                     + b"]" * 200_000 + b"}"],
    "nested deep and broken": [b'{"reference": "a", "prediction": "b", "d": ' + b"[" * 200_000 + b"}"],
    "byte-order mark": [b"\xef\xbb\xbf" + GOOD, GOOD],
    "no final line feed": [GOOD, b'{"reference": "x", "prediction": "x"}\n'.rstrip()],
}
WITH_IDS = {
    "ids": [b'{"id": "a-1", "reference": "x", "prediction": "x y"}', b'{"id": "b", "reference": "y", "prediction": "y"}'],
    "integer ids": [b'{"id": 7, "reference": "x", "prediction": "x y"}', b'{"id": -3, "reference": "y", "prediction": "y"}'],
    "ids of two kinds": [b'{"id": 7, "reference": "x", "prediction": "x"}', b'{"id": "7", "reference": "y", "prediction": "y"}'],
    "id of another type": [b'{"id": 1.5, "reference": "x", "prediction": "x"}'],
    "id missing": [b'{"id": 1, "reference": "x", "prediction": "x"}', b'{"reference": "x", "prediction": "x"}'],
}
CASES = [pytest.param(lines, [], id=name) for name, lines in RECORDS.items()]
CASES += [pytest.param(lines, ["--id-key", "id"], id=name) for name, lines in WITH_IDS.items()]
CASES += [pytest.param(RECORDS["null text"], ["--nulls", "error"], id="null text, --nulls error"),
          pytest.param(RECORDS["plain"], ["--reference-key", "target"], id="wrong key")]


def run(capsys, args):
    status = main([str(arg) for arg in args])
    out, err = capsys.readouterr()
    return status, out, err


@pytest.mark.parametrize("lines, extra", CASES)
def test_the_three_json_readers_agree(tmp_path, capsys, lines, extra):
    (tmp_path / "d.jsonl").write_bytes(b"\n".join(lines) + b"\n")
    outcomes = {}
    for reader in READERS:
        out = tmp_path / f"{reader}.jsonl"
        status, stdout, stderr = run(capsys, ["--jsonl", tmp_path / "d.jsonl", "--json-reader", reader,
                                              "--bootstrap-samples", "10", "--per-pair", out, "--batch-pairs", "2",
                                              *extra])
        rows = out.read_text() if out.exists() else None
        outcomes[reader] = (status, stdout, stderr.replace(str(tmp_path), "DIR"), rows)
        assert status != 0 or (stderr == "" and rows), outcomes[reader]
        assert len(stderr.splitlines()) <= 1, stderr
    assert outcomes["pyarrow"] == outcomes["orjson"] == outcomes["json"]


def test_many_blocks_of_records_read_alike_and_score_as_rouge_score(tmp_path, capsys, monkeypatch):
    # Small blocks: records straddle reads, and blocks of either kind (fast
    # or exact) follow each other.
    import tallygrams_cli.blocks as blocks

    monkeypatch.setattr(blocks, "BLOCK_BYTES", 300)
    pairs = [(f"the cat {i} sat on the mat", f"a cat {i % 7} sat") for i in range(400)]
    lines = [json.dumps({"reference": r, "prediction": p}).encode() for r, p in pairs]
    lines[57] = b""  # a blank line in one block only
    lines[90] = json.dumps({"reference": [pairs[90][0], "x"], "prediction": pairs[90][1]}).encode()
    (tmp_path / "d.jsonl").write_bytes(b"\n".join(lines) + b"\n")
    oracle = rouge_scorer.RougeScorer(["rouge1", "rougeL"])
    expected = [None if k == 57 else oracle.score_multi([r, "x"], p) if k == 90 else oracle.score(r, p)
                for k, (r, p) in enumerate(pairs)]
    for reader in READERS:
        out = tmp_path / f"{reader}.csv"
        status, _, stderr = run(capsys, ["--jsonl", tmp_path / "d.jsonl", "--json-reader", reader, "--rouge-types",
                                         "rouge1,rougeL", "--per-pair", out, "--bootstrap-samples", "0"])
        assert (status, stderr) == (0, "")
        rows = [line.split(",") for line in out.read_text().splitlines()[1:]]
        assert [int(row[0]) for row in rows] == [k + 1 for k in range(400) if k != 57]
        assert [list(map(float, row[1:])) for row in rows] == [
            [getattr(s[t], m) for t in ("rouge1", "rougeL") for m in ("precision", "recall", "fmeasure")]
            for s in expected if s is not None]


LINE_FILES = {
    "line feeds": b"a b c\nthe cat\n\nx",
    "carriage returns": b"a b c\r\nthe cat\r\n\r\nx\r\n",
    "lone carriage returns": b"a\rb c\r\r\nthe\x0ccat" + "\u2028".encode() + b"\n\nx",
    "a long line": b"word " * 200_000 + b"\nthe cat\n\nx\n",
}


@pytest.mark.parametrize("content", LINE_FILES.values(), ids=LINE_FILES.keys())
def test_line_files_through_arrow_equal_the_exact_reader(tmp_path, capsys, monkeypatch, content):
    import tallygrams_cli.blocks as blocks

    monkeypatch.setattr(blocks, "BLOCK_BYTES", 64)
    (tmp_path / "r.txt").write_bytes(content)
    (tmp_path / "p.txt").write_bytes(content.replace(b"cat", b"the dog").replace(b"b c", b"c"))
    results = []
    for reader in ("pyarrow", "json"):  # "json": no pyarrow for the texts
        out = tmp_path / f"{reader}.jsonl"
        status, stdout, stderr = run(capsys, [tmp_path / "r.txt", tmp_path / "p.txt", "--json-reader", reader,
                                              "--rouge-types", "rouge1,rougeLsum", "--per-pair", out,
                                              "--bootstrap-samples", "0", "--quiet"])
        assert (status, stderr) == (0, "")
        results.append((stdout, out.read_text()))
    assert results[0] == results[1]
