"""tallygrams rouge155: line files and folders give the Perl ROUGE-1.5.5
script's own output for the same summaries; bad input is one line on
standard error, status 2 and no output file."""

import os
import subprocess
import sys

import pytest

import rouge155_script
import rouge155_texts


def run_tool(*args, cwd, input=b"", stdout=subprocess.PIPE):
    return subprocess.run([sys.executable, "-m", "tallygrams_cli", "rouge155", *args],
                          cwd=cwd, input=input, stdout=stdout, stderr=subprocess.PIPE, timeout=300)


def summaries(count, seed):
    predictions, references, _ = rouge155_texts.evaluation(seed, most_pairs=count)
    def text(summary):
        return "\n".join(summary) if isinstance(summary, list) else summary
    predictions = [text(p) for p in predictions]
    references = [[text(r) for r in ([item] if isinstance(item, str) else item)] for item in references]
    return predictions, references


def test_line_files_with_a_sentence_separator(tmp_path):
    predictions, references = summaries(30, seed=5)
    references = [several[:1] * 2 if len(several) < 2 else several[:2] for several in references]
    # One summary per line, sentences joined by the separator.
    def line(summary):
        return summary.replace("\r\n", "\n").rstrip("\n").replace("\n", "<n>")
    (tmp_path / "p.txt").write_bytes("".join(line(p) + "\n" for p in predictions).encode())
    for k in range(2):
        (tmp_path / f"r{k}.txt").write_bytes("".join(line(r[k]) + "\n" for r in references).encode())
    flags = ["-n", "3", "-m", "-2", "4", "-U", "-w", "1.2", "-r", "100", "-d"]
    done = run_tool(*flags, "--predictions", "p.txt", "--references", "r0.txt", "--references", "r1.txt",
                    "--sentence-separator", "<n>", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    expected = rouge155_script.run_script([line(p).replace("<n>", "\n") for p in predictions],
                                          [[line(r).replace("<n>", "\n") for r in several] for several in references],
                                          " ".join(flags))
    assert done.stdout.decode() == expected


def test_folders_matched_by_name(tmp_path):
    predictions, references = summaries(12, seed=8)
    (tmp_path / "sys").mkdir()
    (tmp_path / "ref").mkdir()
    for i, (prediction, several) in enumerate(zip(predictions, references)):
        (tmp_path / "sys" / f"d{i:02}.txt").write_bytes(prediction.encode())
        for k, reference in enumerate(several):
            (tmp_path / "ref" / f"d{i:02}.{'ABC'[k]}.txt").write_bytes(reference.encode())
    done = run_tool("-n", "2", "-s", "-l", "20", "-d", "--prediction-dir", "sys", "--reference-dir", "ref",
                    "--output", "out.txt", cwd=tmp_path)
    assert done.returncode == 0 and done.stdout == b"", done.stderr
    expected = rouge155_script.run_script(predictions, references, "-n 2 -s -l 20 -d")
    assert (tmp_path / "out.txt").read_text() == expected


@pytest.mark.parametrize("args, message", [
    (["-q", "--predictions", "p.txt", "--references", "r.txt"], "unknown option -q"),
    (["-l", "5", "-b", "5", "--predictions", "p.txt", "--references", "r.txt"], "cannot be given together"),
    (["-t", "9", "--predictions", "p.txt", "--references", "r.txt"], "-t takes 0, 1 or 2"),
    (["--predictions", "p.txt", "--references", "short.txt"], "short.txt has 1 lines but p.txt has 2"),
    (["--predictions", "p.txt", "--references", "missing.txt"], "cannot read missing.txt"),
    (["--predictions", "p.txt"], "needs at least one --references"),
    (["--prediction-dir", "sys", "--reference-dir", "nowhere"], "cannot read the folder nowhere"),
    (["--prediction-dir", "sys", "--reference-dir", "ref"], "no reference for b.txt"),
    (["--predictions", "p.txt", "--references", "r.txt", "--sentence-separator", ""], "must not be empty"),
    (["--frobnicate", "--predictions", "p.txt", "--references", "r.txt"], "unknown option --frobnicate"),
    (["--predictions", "-", "--references", "-"], "only one input can be standard input"),
])
def test_bad_input_gets_one_line_and_status_2(tmp_path, args, message):
    (tmp_path / "p.txt").write_text("a b\nc d\n")
    (tmp_path / "r.txt").write_text("a b\nc e\n")
    (tmp_path / "short.txt").write_text("a b\n")
    (tmp_path / "sys").mkdir()
    (tmp_path / "ref").mkdir()
    (tmp_path / "sys" / "a.txt").write_text("a b")
    (tmp_path / "sys" / "b.txt").write_text("a b")
    (tmp_path / "ref" / "a.1.txt").write_text("a c")
    done = run_tool(*args, "--output", "out.txt", cwd=tmp_path)
    stderr = done.stderr.decode()
    assert done.returncode == 2 and stderr.count("\n") == 1 and message in stderr, stderr
    assert not (tmp_path / "out.txt").exists() and done.stdout == b""


def test_standard_input_a_separator_of_any_bytes_and_a_failed_write(tmp_path):
    # The separator is the command line's bytes, matched in the files' bytes
    # even where they are not UTF-8; - reads the predictions from stdin.
    (tmp_path / "r.txt").write_bytes(b"a b\xffc d\ne f\n")
    args = ["-n", "2", "-r", "10", "--predictions", "-", "--references", "r.txt",
            "--sentence-separator", os.fsdecode(b"\xff")]
    done = run_tool(*args, cwd=tmp_path, input=b"a c\xffb d\ne\n")
    assert done.returncode == 0, done.stderr
    assert done.stdout.decode() == rouge155_script.run_script(["a c\nb d", "e"], ["a b\nc d", "e f"], "-n 2 -r 10")
    # A report that cannot be written (a full disk) is one line and status 2.
    with open("/dev/full", "wb") as full:
        done = run_tool(*args, cwd=tmp_path, input=b"a c\ne\n", stdout=full)
    stderr = done.stderr.decode()
    assert done.returncode == 2 and stderr == "tallygrams rouge155: cannot write standard output: No space left on device\n"
