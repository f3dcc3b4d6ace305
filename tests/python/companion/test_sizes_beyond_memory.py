"""Sizes a caller gives that the process cannot meet: a MemoryError (or a
ValueError) before any work, never the process ended by a failed
allocation. Resamples beyond any machine; rows, resamples and worker threads
beyond an address-space limit (ulimit -v) set in the child, which makes
modest sizes too large and leaves the rest working. Each case runs in a
subprocess with a timeout."""

import os
import subprocess
import sys
import textwrap

import pytest

PRELUDE = """
import os, resource
import pyarrow as pa
import tallygrams_scorer

def limit_memory(extra):
    # ulimit -v: the address space in use now, and `extra` bytes more.
    in_use = int(open("/proc/self/statm").read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
    resource.setrlimit(resource.RLIMIT_AS, (in_use + extra, resource.getrlimit(resource.RLIMIT_AS)[1]))

def attempt(call):
    try:
        call()
        print("no error")
    except (MemoryError, ValueError) as error:
        print(type(error).__name__, error)
"""

SCORER = 'scorer = tallygrams_scorer.RougeScorer(["rouge1", "rouge2", "rougeL", "rougeLsum"]); scorer.score_batch(["a"] * 3, ["b"] * 3)'

CASES = {
    "bootstrap resamples": (
        'attempt(lambda: tallygrams_scorer.bootstrap({"a": [0.5, 0.7]}, 10**12))',
        "MemoryError the resampled means of 1 column, 1000000000000 resamples each, need 7.3 TiB of memory; "
        "this process can get about "),
    "aggregator resamples": (
        'aggregator = tallygrams_scorer.BootstrapAggregator(n_samples=2**40)\n'
        'aggregator.add_scores({"rouge1": tallygrams_scorer.Score(0.1, 0.2, 0.3)})\n'
        'attempt(aggregator.aggregate)',
        "MemoryError the resampled means of scores of 3 values, 1099511627776 resamples, need 32.0 TiB of memory; "),
    "bootstrap under ulimit": (
        'tallygrams_scorer.bootstrap({"a": [0.5, 0.7]}, 10)\n'
        'limit_memory(256 << 20)\n'
        'attempt(lambda: tallygrams_scorer.bootstrap({"a": [0.5, 0.7], "b": [1.0, 0.0]}, 10**8))\n'
        'attempt(lambda: tallygrams_scorer.bootstrap({"a": [0.5, 0.7], "b": [1.0, 0.0]}, 10**5))',
        "MemoryError the resampled means of 2 columns, 100000000 resamples each, need 1.5 GiB of memory; "),
    "randomization rounds": (
        'attempt(lambda: tallygrams_scorer.compare({"a": [0.5, 0.7]}, {"a": [0.6, 0.7]}, test="randomization",\n'
        '                                          n_samples=2**40))',
        "MemoryError the randomization rounds' means of 1 column, 1099511627776 rounds each, need 8.0 TiB of memory; "),
    "rouge155 resamples": (
        'tallygrams_scorer.rouge155(["a b"], ["a c"], "-n 1 -r 10")\n'
        'limit_memory(256 << 20)\n'
        'attempt(lambda: tallygrams_scorer.rouge155(["a b"] * 2, ["a c"] * 2, "-n 1 -r 10000000"))\n'
        'attempt(lambda: tallygrams_scorer.rouge155(["a b"] * 2, ["a c"] * 2, "-n 1 -r 1000"))',
        "MemoryError the figures of 2 pairs and their 10000000 resamples need 457.8 MiB of memory; "),
    "rows of score_columns": (
        f'{SCORER}\nreferences = ["a b"] * 4_000_000\nlimit_memory(256 << 20)\n'
        'attempt(lambda: scorer.score_columns(references, references))\n'
        'attempt(lambda: scorer.score_columns(references[:1000], references[:1000]))',
        "MemoryError the scores of 4000000 pairs need 747.7 MiB of memory; "),
    "rows of score_batch": (
        f'{SCORER}\nreferences = ["a b"] * 4_000_000\nlimit_memory(256 << 20)\n'
        'attempt(lambda: scorer.score_batch(references, references))',
        "MemoryError the scores of 4000000 pairs need 747.7 MiB of memory; "),
    "rows of score_arrow": (
        f'{SCORER}\nnulls = pa.nulls(4_000_000, pa.string())\nlimit_memory(256 << 20)\n'
        'attempt(lambda: scorer.score_arrow(nulls, nulls))',
        "MemoryError the scores of 4000000 pairs need 747.7 MiB of memory; "),
    "worker threads": (
        'limit_memory(256 << 20)\n'
        'scorer = tallygrams_scorer.RougeScorer(["rouge1"])\n'
        'attempt(lambda: scorer.score_batch(["a"] * 3, ["a"] * 3))\n'
        'attempt(lambda: tallygrams_scorer.bootstrap({"a": [0.5, 0.7]}, 10))\n'
        'print(scorer.score("a b", "a")["rouge1"].recall)',
        "ValueError RAYON_NUM_THREADS=4000 asks for more worker threads than this process can start "
        "(could not start worker thread "),
}


@pytest.mark.parametrize("case", list(CASES))
def test_a_size_that_cannot_be_met_is_refused_before_any_work(case):
    code, first_line = CASES[case]
    environment = {"RAYON_NUM_THREADS": "4000" if case == "worker threads" else "2"}
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(PRELUDE) + code], capture_output=True, text=True,
                            timeout=120, env={**os.environ, **environment})
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0].startswith(first_line), lines
    if case == "worker threads":
        # The same refusal on the next call; a single short pair needs no pool.
        assert lines[1] == lines[0] and lines[2] == "0.5"
    elif len(lines) > 1:
        assert lines[1] == "no error"  # a size that fits still works under the same limit
