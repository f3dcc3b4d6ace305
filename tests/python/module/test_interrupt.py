"""Ctrl-C in the middle of a long call of tallygrams_scorer: KeyboardInterrupt
on the calling thread soon after, the pool stopped and still usable, and the
next call right. Each case runs in a subprocess that is interrupted while
its call is under way; a hang fails the test through the timeout."""

import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))

CHILD = """
import os, sys, time, threading
import pyarrow as pa
import tallygrams_scorer

texts = [" ".join(f"w{{(i * 7 + k) % 500}}" for k in range(400)) + "\\nend line" for i in range(4000)]
scorer = tallygrams_scorer.RougeScorer(["rouge1", "rouge4", "rougeLsum"], use_stemmer=True)
references, predictions = texts * 60, texts[::-1] * 60
arrow_references, arrow_predictions = pa.array(references), pa.array(predictions)
columns = {{"a": [0.5] * 2_000_000, "b": [0.25] * 2_000_000}}
calls = {{
    "score_columns": lambda: scorer.score_columns(references, predictions),
    "score_batch": lambda: scorer.score_batch(references, predictions),
    "score_arrow": lambda: scorer.score_arrow(arrow_references, arrow_predictions),
    "bootstrap": lambda: tallygrams_scorer.bootstrap(columns, 100_000),
    "compare": lambda: tallygrams_scorer.compare(columns, {{"a": [0.75] * 2_000_000, "b": columns["b"]}},
                                                 test="randomization", n_samples=1_000_000),
    "rouge155": lambda: tallygrams_scorer.rouge155(predictions[:30000], references[:30000],
                                                   "-n 4 -w 1.2 -2 4 -U -m -r 1000"),
}}
call = calls[{name!r}]
print("ready", flush=True)
started = time.monotonic()
try:
    call()
    print("finished", time.monotonic() - started, flush=True)
except KeyboardInterrupt:
    print("interrupted", time.monotonic(), time.monotonic() - started, flush=True)
# The pool and the module still work.
print(scorer.score_columns(["a b c", "x"], ["a b", "y"]).column("rouge1_recall"), flush=True)
"""


@pytest.mark.parametrize("name", ["score_columns", "score_batch", "score_arrow", "bootstrap", "compare",
                                  "rouge155"])
def test_ctrl_c_stops_a_long_call(name):
    child = subprocess.Popen([sys.executable, "-c", textwrap.dedent(CHILD.format(name=name))],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline().strip() == "ready"
        time.sleep(0.5)  # well inside the call, which takes many seconds
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=120)
    finally:
        child.kill()
    lines = out.splitlines()
    assert lines[0].startswith("interrupted"), (out, err)
    latency = float(lines[0].split()[1]) - sent
    # Generous for a loaded machine: the point is that it stops, not when.
    assert latency < 5, latency
    assert lines[1] == "[0.6666666666666666, 0.0]"
    assert child.returncode == 0, err
