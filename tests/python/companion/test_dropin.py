"""rouge-score's module names, accelerate() and its runner: code written for
rouge-score runs unchanged, with the same output to the byte."""

import json
import pickle
import shutil
import random
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest
import rouge_score.scoring
import rouge_score.tokenizers

import scorer_texts
import tallygrams_scorer
from tallygrams_scorer import rouge_scorer, scoring, tokenizers

HERE = Path(__file__).resolve().parent
SCRIPT = HERE / "evaluation_script.py"


def python(*args, cwd=None, check=True):
    result = subprocess.run([sys.executable, *map(str, args)], capture_output=True, text=True, timeout=300, cwd=cwd)
    if check:
        assert result.returncode == 0, result.stderr
    return result


def test_evaluation_script_prints_the_same_bytes_accelerated_and_switched(tmp_path):
    rng = random.Random(20)
    pairs = [(scorer_texts.text(rng), scorer_texts.text(rng)) for _ in range(60)]
    data = tmp_path / "pairs.json"
    data.write_text(json.dumps(pairs), encoding="utf-8")
    switched = tmp_path / "switched.py"
    source = SCRIPT.read_text(encoding="utf-8")
    switched.write_text(source.replace("from rouge_score import rouge_scorer, scoring",
                                       "from tallygrams_scorer import rouge_scorer, scoring"), encoding="utf-8")
    assert switched.read_text(encoding="utf-8") != source

    plain = python(SCRIPT, data, 7).stdout
    assert "np.float64(" in plain and "AggregateScore(low=Score(" in plain
    assert python("-m", "tallygrams_scorer.accelerate", SCRIPT, data, 7).stdout == plain
    assert python(switched, data, 7).stdout == plain


def test_accelerate_reaches_every_way_a_library_holds_the_names():
    code = textwrap.dedent("""
        import rouge_score.rouge_scorer as early, rouge_score.scoring as scoring
        from rouge_score.scoring import BootstrapAggregator as copied
        made_before = early.RougeScorer(["rouge1"])
        import tallygrams_scorer
        tallygrams_scorer.accelerate()
        tallygrams_scorer.accelerate()
        from rouge_score.rouge_scorer import RougeScorer as later
        import tallygrams_scorer.accelerate   # binds the runner module to the name
        tallygrams_scorer.accelerate()
        ours = tallygrams_scorer
        print({
            "module attribute": early.RougeScorer is ours.RougeScorer,
            "name copied before": copied is ours.BootstrapAggregator,
            "name imported after": later is ours.RougeScorer,
            "Score": scoring.Score is ours.Score and scoring.AggregateScore is ours.AggregateScore,
            "results": type(early.RougeScorer(["rouge1"]).score("a b", "a")["rouge1"]) is scoring.Score,
            "BaseScorer": isinstance(later(["rouge1"]), scoring.BaseScorer),
            "made before stays": type(made_before).__module__ == "rouge_score.rouge_scorer",
        })
    """)
    checks = eval(python("-c", code).stdout)
    assert all(checks.values()), checks


def test_runner_runs_a_script_as_python_does(tmp_path):
    (tmp_path / "sibling.py").write_text("VALUE = 'sibling'\n")
    probe = tmp_path / "probe.py"
    probe.write_text(textwrap.dedent("""
        import os, sys
        import sibling
        print(sys.argv, __name__, __file__, __spec__, sibling.VALUE, sys.path[0] == os.path.dirname(__file__))
        if sys.argv[-1] == "fail":
            sys.exit(3)
    """))
    for args in (["a", "--b"], ["fail"]):
        plain = python(probe, *args, cwd=HERE, check=False)
        accelerated = python("-m", "tallygrams_scorer.accelerate", probe, *args, cwd=HERE, check=False)
        assert (accelerated.returncode, accelerated.stdout) == (plain.returncode, plain.stdout)
    assert plain.returncode == 3

    module = python("-m", "tallygrams_scorer.accelerate", "-m", "probe", "x", cwd=tmp_path)
    assert module.stdout.startswith(f"[{str(probe)!r}, 'x'] __main__ ")


@pytest.mark.parametrize("args, status, message", [
    ([], 2, "usage: python -m tallygrams_scorer.accelerate script.py ARGS..."),
    (["--help"], 0, "usage: python -m tallygrams_scorer.accelerate script.py ARGS..."),
    (["missing.py"], 2, "can't open file"),
])
def test_runner_refuses_with_one_line(args, status, message, tmp_path):
    result = python("-m", "tallygrams_scorer.accelerate", *args, cwd=tmp_path, check=False)
    assert result.returncode == status
    assert message in result.stdout + result.stderr and "Traceback" not in result.stderr


def test_without_rouge_score_accelerate_says_so():
    code = ("import sys; sys.modules['rouge_score'] = None; import tallygrams_scorer\n"
            "try: tallygrams_scorer.accelerate()\n"
            "except ModuleNotFoundError as e: print(e.name, e)")
    name, message = python("-c", code).stdout.split(" ", 1)
    assert name == "rouge_score" and "from tallygrams_scorer import rouge_scorer, scoring" in message


def test_namespaces_hold_rouge_score_names():
    assert rouge_scorer.RougeScorer is tallygrams_scorer.RougeScorer
    assert (scoring.Score, scoring.AggregateScore, scoring.BootstrapAggregator) == (
        tallygrams_scorer.Score, tallygrams_scorer.AggregateScore, tallygrams_scorer.BootstrapAggregator)
    assert isinstance(rouge_scorer.RougeScorer(["rouge1"]), scoring.BaseScorer)
    with pytest.raises(TypeError):
        tokenizers.Tokenizer()

    rng = random.Random(3)
    for _ in range(200):
        precision, recall = rng.choice([0.0, rng.random()]), rng.choice([0.0, rng.random()])
        assert scoring.fmeasure(precision, recall) == rouge_score.scoring.fmeasure(precision, recall)
    for use_stemmer in (False, True):
        ours, theirs = tokenizers.DefaultTokenizer(use_stemmer), rouge_score.tokenizers.DefaultTokenizer(use_stemmer)
        for _ in range(50):
            text = scorer_texts.text(rng)
            assert ours.tokenize(text) == theirs.tokenize(text)
            scorer = rouge_scorer.RougeScorer(["rouge1", "rougeLsum"], tokenizer=ours)
            assert scorer.score(text, "the cat") == rouge_scorer.RougeScorer(
                ["rouge1", "rougeLsum"], use_stemmer=use_stemmer).score(text, "the cat")


def test_pickles_of_release_0_1_12_load():
    # Written by that release: a stemming scorer with rougeLsum, an
    # aggregate, score columns and bootstrap intervals.
    scorer, aggregate, columns, intervals = pickle.loads((HERE / "release-0.1.12.pickle").read_bytes())
    assert scorer.score("the cats ran", "the cat runs") == tallygrams_scorer.RougeScorer(
        ["rouge1", "rougeLsum"], use_stemmer=True).score("the cats ran", "the cat runs")
    assert aggregate["rouge1"].mid == tallygrams_scorer.Score(0.5833333333333333, 0.5833333333333333,
                                                               0.5833333333333333)
    assert columns.column("rouge1_recall") == [0.5, 1.0]
    assert intervals["rouge1_recall"] == tallygrams_scorer.Interval(0.75, 0.5, 0.75, 1.0)
    for loaded in (scorer, aggregate["rouge1"], columns, intervals["rouge1_recall"]):
        assert type(loaded).__module__ == "tallygrams_scorer"


def test_compiled_part_exports_only_its_init_function():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    out = subprocess.run([nm, "-D", "--defined-only", tallygrams_scorer._native.__file__], capture_output=True,
                         text=True, check=True).stdout
    assert [line.split()[-1] for line in out.splitlines()] == ["PyInit__native"]
