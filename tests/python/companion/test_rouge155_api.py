"""rouge155's surface: the forms a summary and its references may take,
the keywords against the flags they stand for, the result's shape, and bad
input refused with one clear error."""

import subprocess
import sys
import textwrap

import numpy as np
import pytest

import tallygrams_scorer
from tallygrams_scorer import rouge155

PREDICTIONS = ["The cat sat on the mat.\nIt was happy.", "Police killed the gunman."]
REFERENCES = [["A cat was sitting on the mat.\nIt looked happy.", "The cat is on the mat."],
              "The gunman was killed by police."]


def report(*args, **kwargs):
    return rouge155(*args, **kwargs).report()


def test_every_form_of_a_summary_reads_as_the_same_file():
    base = report(PREDICTIONS, REFERENCES, "-n 2 -d")
    sentences = [p.split("\n") for p in PREDICTIONS]
    as_bytes = [p.encode() for p in PREDICTIONS]
    references = [[r.split("\n") for r in REFERENCES[0]], [REFERENCES[1].encode()]]
    assert report(sentences, REFERENCES, "-n 2 -d") == base
    assert report(as_bytes, references, "-n 2 -d") == base
    assert report(tuple(PREDICTIONS), iter(REFERENCES), "-n 2 -d") == base
    # A list of strings is several references; its sentences go in a list of their own.
    assert report(["a b"], [["a b", "c d"]], "-n 1") != report(["a b"], [[["a b", "c d"]]], "-n 1")
    assert report(["a b"], ["a b\nc d"], "-n 1") == report(["a b"], [[["a b", "c d"]]], "-n 1")


@pytest.mark.parametrize("keywords, flags", [
    ({}, "-c 95 -2 4 -U -r 1000 -n 4 -w 1.2 -a"),
    ({"ngrams": 2, "weight": None, "skip_gap": None, "stemming": True}, "-n 2 -m"),
    ({"lcs": False, "skip_gap": -1, "skip_unigrams": True, "weight": 1.5}, "-n 4 -x -2 -1 -u -w 1.5"),
    ({"skip_unigrams": False, "remove_stopwords": True, "word_limit": 7}, "-n 4 -w 1.2 -2 4 -s -l 7"),
    ({"byte_limit": 40, "multi_reference": "best", "alpha": 0.25}, "-n 4 -w 1.2 -2 4 -U -b 40 -f B -p 0.25"),
    ({"units": "tokens", "confidence": 90, "resamples": 50, "per_pair": True}, "-n 4 -w 1.2 -2 4 -U -t 1 -c 90 -r 50 -d"),
    ({"units": "counts", "per_pair": True}, "-n 4 -w 1.2 -2 4 -U -t 2 -d"),
    # Integers of NumPy's, as the resamples take them.
    ({"ngrams": np.int64(3), "skip_gap": np.int32(2), "word_limit": np.uint8(9)}, "-n 3 -w 1.2 -2 2 -U -l 9"),
])
def test_keywords_stand_for_their_flags(keywords, flags):
    assert report(PREDICTIONS, REFERENCES, **keywords) == report(PREDICTIONS, REFERENCES, flags)


def test_the_result_maps_measure_names_to_the_printed_figures():
    result = rouge155(PREDICTIONS, REFERENCES, "-n 2 -2 4 -u -w 1.2 -d")
    assert isinstance(result, dict) and isinstance(result, tallygrams_scorer.Rouge155Result)
    assert list(result) == ["ROUGE-1", "ROUGE-2", "ROUGE-L", "ROUGE-W-1.2", "ROUGE-SU4"]
    recall = result["ROUGE-1"].recall
    assert isinstance(recall, tallygrams_scorer.Rouge155Interval)
    line = next(line for line in result.report().splitlines() if "ROUGE-1 Average_R" in line)
    assert line == f"1 ROUGE-1 Average_R: {recall.average:.5f} (95%-conf.int. {recall.low:.5f} - {recall.high:.5f})"
    assert [tuple(f) for f in result.per_pair["ROUGE-1"]] == [
        tuple(float(x.split(":")[1]) for x in line.split()[4:])
        for line in result.report().splitlines() if line.startswith("1 ROUGE-1 Eval")]
    counted = rouge155(PREDICTIONS, REFERENCES, "-n 1 -x -t 2")
    counts = counted["ROUGE-1"]
    assert isinstance(counts, tallygrams_scorer.Rouge155Counts)
    assert counted.report().splitlines()[1] == "1 ROUGE-1 M_count: 22 P_count: 22 H_count: 16" == (
        f"1 ROUGE-1 M_count: {counts.reference:.0f} P_count: {counts.prediction:.0f} H_count: {counts.hits:.0f}")
    assert rouge155(PREDICTIONS, REFERENCES, "-n 1").per_pair is None
    assert rouge155([], [], "-n 1 -x").report().count("0.00000") == 9


@pytest.mark.parametrize("args, kwargs, error, message", [
    (("a", ["b"]), {}, TypeError, "predictions must be a sequence of summaries, not str"),
    ((["a"], ["b", "c"]), {}, ValueError, "differ in length: 1 and 2"),
    ((["a"], [[]]), {}, ValueError, "references[0] holds no reference"),
    ((["a"], [[1]]), {}, TypeError, "references[0][0] must be a str, bytes or a sequence of sentences"),
    (([["a", 2]], ["b"]), {}, TypeError, "predictions[0][1] must be a sentence"),
    ((["\ud800"], ["b"]), {}, UnicodeEncodeError, ""),
    ((["a"], ["b"], "-n x"), {}, ValueError, "options: -n takes a whole number"),
    ((["a"], ["b"], "-l 5 -b 5"), {}, ValueError, "options: -l and -b cannot be given together"),
    ((["a"], ["b"], "-3 HM"), {}, ValueError, "-3 (Basic Elements) is not supported"),
    ((["a"], ["b"], "config.xml"), {}, ValueError, "unexpected argument 'config.xml'"),
    ((["a"], ["b"]), {"ngrams": True}, ValueError, "ngrams must be a whole number"),
    ((["a"], ["b"]), {"weight": 0}, ValueError, "weight must be None or a weight above 0"),
    ((["a"], ["b"]), {"units": 1}, ValueError, "units must be 'pairs'"),
    ((["a"], ["b"], "-l 5"), {"byte_limit": 9}, ValueError, "cannot be given together"),
    ((["a"], ["b"]), {"nonsense": 1}, TypeError, "nonsense"),
])
def test_bad_input_is_one_clear_error(args, kwargs, error, message):
    with pytest.raises(error) as raised:
        rouge155(*args, **kwargs)
    assert message in str(raised.value)


def test_a_summary_whose_iteration_empties_the_outer_list_reads_what_was_given():
    # The outer lists are read from a snapshot: a nested sequence's __iter__
    # that clears them takes nothing away from under the loop (it crashed).
    code = textwrap.dedent("""
        from tallygrams_scorer import rouge155
        class Emptying:
            def __init__(self, outer): self.outer = outer
            def __iter__(self):
                self.outer.clear()
                yield "a b c"
        predictions, references = [], []
        predictions += [Emptying(predictions)] + ["x y"] * 1000
        references += [Emptying(references)] + ["x z"] * 1000
        pairs = rouge155(predictions, references, "-n 1 -x -r 10 -d").per_pair["ROUGE-1"]
        print(len(pairs), pairs[0].recall, pairs[1].recall)
    """)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0 and done.stdout == "1001 1.0 0.5\n", done.stderr
