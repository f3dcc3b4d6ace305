"""The tool under hostile conditions, each in a subprocess with a timeout:
sizes it cannot meet, writes that fail, a reader that goes away, endless
lines, Ctrl-C from the first moment, and messages on a terminal."""

import os
import resource
import signal
import subprocess
import sys
import time
from pathlib import Path

import pyarrow as pa
import pyarrow.parquet as pq
import pytest

from tallygrams_cli import output

TOOL = Path(sys.executable).with_name("tallygrams")
PAIRS = 60_000


@pytest.fixture(scope="module")
def big(tmp_path_factory):
    folder = tmp_path_factory.mktemp("big")
    (folder / "r.txt").write_text("the cat sat on the mat today\n" * PAIRS)
    (folder / "p.txt").write_text("a cat sat on a mat\n" * PAIRS)
    return folder


def tool(*args, cwd, timeout=120, **popen):
    return subprocess.run([str(TOOL), *map(str, args)], cwd=cwd, capture_output=True, text=True, timeout=timeout,
                          **popen)


def one_line(result, *pieces):
    assert result.returncode == 2, (result.returncode, result.stderr)
    lines = result.stderr.splitlines()
    assert len(lines) == 1 and lines[0].startswith("tallygrams: "), result.stderr
    assert all(piece in lines[0] for piece in pieces), lines[0]


SIZES = [
    (["--bootstrap-samples", "1000000000000"], ["--bootstrap-samples 1000000000000 needs", "at most about"]),
    (["--bootstrap-samples", "99999999999999999999"], ["--bootstrap-samples 99999999999999999999 needs"]),
    (["--batch-pairs", str(10**30)], ["at most 10000000"]),
    (["--digits", "400"], ["at most 17"]),
    (["--confidence", "nan"], ["between 0 and 1"]),
    (["--confidence", "1"], ["between 0 and 1"]),
]


@pytest.mark.parametrize("extra, pieces", SIZES)
def test_sizes_that_cannot_be_met_are_refused_before_any_work(tmp_path, extra, pieces):
    # The inputs are pipes that nobody writes: reading them would hang.
    os.mkfifo(tmp_path / "r.txt")
    os.mkfifo(tmp_path / "p.txt")
    one_line(tool("r.txt", "p.txt", "--per-pair", "out.csv", *extra, cwd=tmp_path, timeout=60), *pieces)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["p.txt", "r.txt"]


def test_more_local_workers_than_the_machine_holds_are_refused(tmp_path):
    os.mkfifo(tmp_path / "d.parquet")
    one_line(tool("--parquet", "d.parquet", "--scheduler", "local:100000000000", cwd=tmp_path, timeout=60),
             "local:100000000000 asks for 100000000000 worker processes", "can hold about")


def limit_file_size():
    resource.setrlimit(resource.RLIMIT_FSIZE, (200 * 1024, resource.RLIM_INFINITY))


@pytest.mark.parametrize("suffix", [".csv", ".jsonl", ".parquet"])
def test_a_write_that_fails_midway_is_one_line_and_leaves_nothing(tmp_path, big, suffix):
    environment = dict(os.environ)
    if suffix == ".parquet" and "ASAN_OPTIONS" in environment:
        # pyarrow keeps the text it makes of the Python error behind a
        # failed write; under the sanitizer run only its leak check is off.
        environment["ASAN_OPTIONS"] += ":detect_leaks=0"
    result = tool(big / "r.txt", big / "p.txt", "--per-pair", f"out{suffix}", "--summary", "s.json",
                  cwd=tmp_path, preexec_fn=limit_file_size, env=environment)
    one_line(result, f"cannot write out{suffix}: File too large")
    assert result.stdout == "" and list(tmp_path.iterdir()) == []


def test_a_reader_of_standard_output_that_goes_away(tmp_path, big):
    process = subprocess.Popen([str(TOOL), big / "r.txt", big / "p.txt", "--per-pair", "-"], cwd=tmp_path,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        process.stdout.read(100)
        process.stdout.close()
        stderr = process.stderr.read()
        process.wait(timeout=120)
    finally:
        process.kill()
    assert process.returncode == 2 and stderr == "tallygrams: cannot write standard output: Broken pipe\n"


@pytest.mark.parametrize("args, where", [
    (["r.txt", "/dev/zero"], "/dev/zero, line 1: longer than 256 MiB without a line break"),
    (["--jsonl", "/dev/zero"], "/dev/zero, line 1: longer than 256 MiB without a line break"),
    (["r.txt", "p.txt", "--delimiter", "@@"], "p.txt, record 2: longer than 256 MiB without a delimiter"),
])
def test_an_endless_record_is_one_line_naming_file_and_record(tmp_path, args, where):
    (tmp_path / "r.txt").write_text("a b\n")
    with open(tmp_path / "p.txt", "wb") as handle:
        handle.write(b"x@@")
        handle.truncate(257 << 20)  # a sparse file: no disk space
    one_line(tool(*args, cwd=tmp_path), where)


def mapped(pid, piece):
    try:
        return piece in Path(f"/proc/{pid}/maps").read_text()
    except OSError:
        return False


# Libraries the tool loads during its first imports, in this order.
@pytest.mark.parametrize("loaded", ["tallygrams_scorer", "libarrow", "_compute", "numpy"])
def test_ctrl_c_during_the_first_imports_exits_130_without_a_traceback(big, loaded):
    process = subprocess.Popen([str(TOOL), "r.txt", "p.txt"], cwd=big, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
    try:
        deadline = time.monotonic() + 60
        while not mapped(process.pid, loaded) and process.poll() is None and time.monotonic() < deadline:
            time.sleep(0.0005)
        process.send_signal(signal.SIGINT)
        stdout, stderr = process.communicate(timeout=120)
    finally:
        process.kill()
    assert (process.returncode, stdout, stderr) == (130, "", "")


def test_an_error_on_a_terminal_erases_the_progress_bar_first(tmp_path):
    (tmp_path / "r.txt").write_text("the cat\n" * 40_000)
    (tmp_path / "p.txt").write_bytes(b"a cat\n" * 30_000 + b"bad \xff\n" + b"a cat\n" * 9_999)
    controller, terminal = os.openpty()
    with subprocess.Popen([str(TOOL), "r.txt", "p.txt", "--batch-pairs", "1000"], cwd=tmp_path,
                          stdout=subprocess.PIPE, stderr=terminal) as process:
        os.close(terminal)
        process.communicate(timeout=120)
    received = b""
    try:
        while chunk := os.read(controller, 65536):
            received += chunk
    except OSError:  # the other side is closed and everything has been read
        pass
    os.close(controller)
    assert process.returncode == 2 and b"pairs" in received
    assert received.endswith(b"\r\x1b[Ktallygrams: p.txt, line 30001: invalid UTF-8 at byte 5 of the line\r\n")


def test_a_library_message_that_ends_in_a_line_break_stays_one_line(capsys):
    output.message("cannot read x as Parquet: Parquet magic bytes not found\n")
    output.message("two\nlines\n")
    assert capsys.readouterr().err == ("tallygrams: cannot read x as Parquet: Parquet magic bytes not found\n"
                                       "tallygrams: two lines\n")


@pytest.mark.cluster
def test_a_local_cluster_reports_a_workers_error_in_one_line(tmp_path):
    good = pa.array(["a b"] * 100)
    bad = pa.Array.from_buffers(pa.string(), 1, [None, pa.py_buffer(b"\0\0\0\0\2\0\0\0"), pa.py_buffer(b"\xff\xfe")])
    pq.write_table(pa.table({"reference": good, "prediction": good}), tmp_path / "a.parquet")
    os.mkdir(tmp_path / "data")
    pq.write_table(pa.table({"reference": good, "prediction": good}), tmp_path / "data" / "part.0.parquet")
    pq.write_table(pa.table({"reference": pa.array(["a"]), "prediction": bad}), tmp_path / "data" / "part.1.parquet")
    result = tool("--parquet", "data", "--scheduler", "local:2", cwd=tmp_path, timeout=300)
    assert result.stderr == ('tallygrams: data/part.1.parquet, row 1, column "prediction": invalid UTF-8 at byte 1 '
                             "of its text (bytes ff fe)\n")
    assert result.returncode == 2
