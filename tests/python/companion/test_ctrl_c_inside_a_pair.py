"""Ctrl-C where nothing between pairs would see it: inside one long pair (the
quadratic LCS metrics), and while a tokenizer written in C runs for every
text with the lock held. Each case runs in a subprocess that is interrupted
just after its call begins; a call whose whole work the child would have to
finish first takes minutes, and fails the test through the timeout."""

import signal
import subprocess
import sys
import textwrap
import time

import pytest

CHILD = """
import functools, random, time
import tallygrams_scorer

rng = random.Random(5)
words = [f"w{{i}}" for i in range(2000)]
def text(tokens, lines=1):
    return "\\n".join(" ".join(rng.choices(words, k=tokens // lines)) for _ in range(lines))

case = {case!r}
if case == "rougeLsum":
    # Eight lines of 250,000 tokens each side: 64 sentence pairs as long as
    # the one of a single 250,000-token line.
    a, b = text(2_000_000, 8), text(2_000_000, 8)
    call = lambda: tallygrams_scorer.RougeScorer(["rougeLsum"]).score_batch([a], [b])
elif case == "rougeL":
    a, b = text(4_000_000), text(4_000_000)
    call = lambda: tallygrams_scorer.RougeScorer(["rougeL"]).score(a, b)
elif case == "rouge155":
    # The script's ROUGE-L over the same eight long sentences a side.
    a, b = text(2_000_000, 8), text(2_000_000, 8)
    call = lambda: tallygrams_scorer.rouge155([a], [b], "-n 1 -a")
else:
    # str.split behind lru_cache: both in C, and the cache counts the calls.
    split = functools.lru_cache(maxsize=1)(str.split)
    texts = [text(40) + f" {{i}}" for i in range(600_000)]
    scorer = tallygrams_scorer.RougeScorer(["rouge1", "rouge2", "rougeL"], tokenizer=split)
    call = lambda: scorer.score_batch(texts[::2], texts[1::2])
print("ready", flush=True)
try:
    call()
    print("finished", flush=True)
except KeyboardInterrupt:
    print("interrupted", flush=True)
if case == "split":
    print("tokenizer calls", split.cache_info().misses, flush=True)
# The pool and the scorer work on.
print(tallygrams_scorer.RougeScorer(["rougeLsum"]).score_batch(["a b\\nc d"] * 2, ["a b\\nd"] * 2)[1])
"""


@pytest.mark.parametrize("case", ["rougeLsum", "rougeL", "rouge155", "split"])
def test_ctrl_c_stops_the_call_inside_its_work(case):
    child = subprocess.Popen([sys.executable, "-c", textwrap.dedent(CHILD.format(case=case))],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline().strip() == "ready"
        time.sleep(0.3)
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=90)
    finally:
        child.kill()
    lines = out.splitlines()
    assert lines[0] == "interrupted", (out, err)
    if case == "split":
        assert lines[1].startswith("tokenizer calls")
        assert int(lines[1].split()[-1]) < 600_000  # not every text was tokenized
    assert lines[-1] == "{'rougeLsum': Score(precision=1.0, recall=0.75, fmeasure=0.8571428571428571)}"
    assert child.returncode == 0, err
