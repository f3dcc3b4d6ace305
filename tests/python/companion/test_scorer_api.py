"""RougeScorer's surface: the constructor's checks and messages, results as
named tuples that equal the peer's and pickle, and what bad input gets."""

import gc
import pickle
import subprocess
import sys
import textwrap

import pytest
from rouge_score import rouge_scorer, scoring

import tallygrams_scorer
from tallygrams_scorer import RougeScorer, Score


def raises(kind, call, message=None, note=None):
    with pytest.raises(BaseException) as info:
        call()
    assert type(info.value) is kind, repr(info.value)
    if message is not None:
        assert str(info.value) == message
    assert getattr(info.value, "__notes__", None) == ([note] if note else None)
    return info.value


@pytest.mark.parametrize("types, kind, message", [
    (["rouge0"], ValueError, "rougen requires positive n: rouge0"),
    (["rouge10"], ValueError, "Invalid rouge type: rouge10"),
    (["rougeLSum"], ValueError, "Invalid rouge type: rougeLSum"),
    (["rouge1", "bleu"], ValueError, "Invalid rouge type: bleu"),
    ([], ValueError, "rouge_types is empty: name at least one of rouge1 to rouge9, rougeL and rougeLsum"),
])
def test_rouge_types_are_checked_when_the_scorer_is_made(types, kind, message):
    raises(kind, lambda: RougeScorer(types), message)
    if types:  # the peer raises the same, when it scores
        with pytest.raises(kind, match=message):
            rouge_scorer.RougeScorer(types).score("a", "a")


@pytest.mark.parametrize("types, message, note", [
    ("rouge1", 'rouge_types must be a list of rouge type names such as ["rouge1", "rougeL"], not a single str', None),
    (None, "'None' is not an instance of 'list'", "while processing 'rouge_types'"),
    (["rouge1", 2], "'int' object is not an instance of 'str'", "while processing 'rouge_types'"),
])
def test_rouge_types_of_the_wrong_type(types, message, note):
    raises(TypeError, lambda: RougeScorer(types), message, note)


def test_tokenizer_choices():
    choices = ('tokenizer must be None (the default tokenizer), "unicode" (letters, marks and numbers of every '
               'script), an object with a tokenize(text) method, or a callable from text to a list of str')
    raises(ValueError, lambda: RougeScorer(["rouge1"], tokenizer="nltk"), choices)
    raises(TypeError, lambda: RougeScorer(["rouge1"], tokenizer=3), choices)
    raises(ValueError, lambda: RougeScorer(["rouge1"], use_stemmer=True, tokenizer="unicode"))


def test_results_are_named_tuples_equal_to_the_peers():
    ours = RougeScorer(["rouge1", "rougeL"]).score("The cat sat.", "the cat")
    theirs = rouge_scorer.RougeScorer(["rouge1", "rougeL"]).score("The cat sat.", "the cat")
    assert ours == theirs and list(ours) == ["rouge1", "rougeL"]
    score = ours["rouge1"]
    assert type(score) is Score and score._fields == ("precision", "recall", "fmeasure")
    assert score == scoring.Score(1.0, 2 / 3, 0.8) and score.recall == 2 / 3
    precision, recall, fmeasure = score
    assert hash(score) == hash((precision, recall, fmeasure))
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        assert pickle.loads(pickle.dumps(ours, protocol)) == ours
        assert type(pickle.loads(pickle.dumps(score, protocol))) is Score


def test_scores_stay_out_of_the_collector():
    results = RougeScorer(["rouge1", "rouge2"]).score_batch(["a b c", "x"], ["a b", ""])
    score = results[0]["rouge1"]
    # Scores of numbers are built untracked, with the tuple's hash still
    # computed from its items. The dicts are mutable and stay tracked.
    assert not gc.is_tracked(score) and gc.is_tracked(results[0])
    assert hash(score) == hash(tuple(score)) and {score: 1}[tuple(score)] == 1
    assert results[1]["rouge1"] == (0, 0, 0) and not gc.is_tracked(results[1]["rouge1"])
    results[0]["self"] = results[0]
    del results, score
    assert gc.collect() > 0


def test_a_replaced_namedtuple_is_refused_at_import():
    script = textwrap.dedent("""
        import collections
        def fake(name, fields, module=None):
            return type(name, (list,), {})
        collections.namedtuple = fake
        try:
            import tallygrams_scorer
        except TypeError as error:
            print(error)
    """)
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == "collections.namedtuple did not make a plain tuple class for Score"


def test_scorer_pickles_and_reads_back_its_arguments():
    scorer = RougeScorer(["rougeLsum", "rouge2"], use_stemmer=True)
    assert scorer.rouge_types == ["rougeLsum", "rouge2"]
    assert repr(scorer) == "RougeScorer(['rougeLsum', 'rouge2'], use_stemmer=True, split_summaries=False, tokenizer=None)"
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        copy = pickle.loads(pickle.dumps(scorer, protocol))
        assert copy.score("runs a b\nc", "running b c") == scorer.score("runs a b\nc", "running b c")


def test_tokenize_shows_the_counted_tokens():
    assert RougeScorer(["rouge1"]).tokenize("The runners' running, DON'T") == ["the", "runners", "running", "don", "t"]
    assert RougeScorer(["rouge1"], use_stemmer=True).tokenize("The runners' running") == ["the", "runner", "run"]
    assert RougeScorer(["rouge1"], tokenizer=str.split).tokenize("A b  c") == ["A", "b", "c"]


def failing_tokenizer(text):
    raise KeyError("from the tokenizer")


@pytest.mark.parametrize("tokenizer, kind, message", [
    (failing_tokenizer, KeyError, None),
    (lambda text: [1, 2], TypeError, "the tokenizer must return a list of str; it returned one holding a 'int'"),
    (lambda text: None, TypeError, "the tokenizer must return a list of str, not a 'NoneType'"),
    (lambda text: text, TypeError, "the tokenizer must return a list of str, not a 'str'"),
])
def test_a_tokenizer_that_misbehaves(tokenizer, kind, message):
    scorer = RougeScorer(["rouge1", "rougeLsum"], tokenizer=tokenizer)
    error = raises(kind, lambda: scorer.score("a", "b"), message, "while processing 'target'")
    if kind is KeyError:
        assert error.args == ("from the tokenizer",)  # its own exception, passed through
    batch_error = raises(kind, lambda: scorer.score_batch(["x", "a"], ["y", "b"]),
                         message, "while processing 'targets', item 0")
    assert type(batch_error) is kind


@pytest.mark.parametrize("call, kind, message, note", [
    (lambda s: s.score(1, "a"), TypeError, "'int' object is not an instance of 'str'", "while processing 'target'"),
    (lambda s: s.score("a", None), TypeError, "'None' is not an instance of 'str'", "while processing 'prediction'"),
    (lambda s: s.score("a"), TypeError, "RougeScorer.score() missing 1 required positional argument: 'prediction'", None),
    (lambda s: s.score("a", "b", "c"), TypeError, "RougeScorer.score() takes 3 positional arguments but 4 were given", None),
    (lambda s: s.score_multi([], "a"), ValueError, "no references: a prediction needs at least one to be scored against",
     "while processing 'targets'"),
    (lambda s: s.score_multi("a b", "a"), TypeError, "expected a list of reference texts, not a single str",
     "while processing 'targets'"),
    (lambda s: s.score_multi(["a", 2], "a"), TypeError, "'int' object is not an instance of 'str'",
     "while processing 'targets', item 1"),
    (lambda s: s.score_batch(["a"], ["a", "b"]), ValueError, "targets and predictions must have the same length", None),
    (lambda s: s.score_batch("ab", "ab"), TypeError, "expected a sequence of texts, not a single str",
     "while processing 'targets'"),
    (lambda s: s.score_batch(["a", ["b", None]], ["a", "b"]), TypeError, "'None' is not an instance of 'str'",
     "while processing 'targets', item 1"),
    (lambda s: s.score_batch(["a", []], ["a", "b"]), ValueError,
     "no references: a prediction needs at least one to be scored against", "while processing 'targets', item 1"),
    (lambda s: s.score_batch(["a"], [b"a"]), TypeError,
     "texts must be str, not bytes; decode them first, for example text.decode(\"utf-8\")",
     "while processing 'predictions', item 0"),
    (lambda s: s.score(bytearray(b"a"), "a"), TypeError, "texts must be str, not bytearray; decode them first, for example text.decode(\"utf-8\")",
     "while processing 'target'"),
])
def test_bad_input(call, kind, message, note):
    raises(kind, lambda: call(RougeScorer(["rouge1", "rougeLsum"])), message, note)


def test_a_tokenizer_holding_its_scorer_is_collected():
    class Holding:
        def tokenize(self, text):
            return text.split()

    tokenizer = Holding()
    tokenizer.scorer = RougeScorer(["rouge1"], tokenizer=tokenizer)
    assert tokenizer.scorer.score("a b", "a")["rouge1"].recall == 0.5
    del tokenizer
    assert gc.collect() > 0


def test_the_scorer_pickles_with_the_tokenizer_it_was_given():
    scorer = RougeScorer(["rouge1"], tokenizer=str.split)
    assert pickle.loads(pickle.dumps(scorer)).score("A b", "A c")["rouge1"].recall == 0.5


def test_threads_share_one_scorer():
    code = """
        import sys, threading, random
        import tallygrams_scorer
        sys.setswitchinterval(1e-6)
        scorer = tallygrams_scorer.RougeScorer(["rouge1", "rouge2", "rougeLsum"], use_stemmer=True)
        texts = [" ".join(random.Random(i).choices("running runs a b c\\n".split(" "), k=40)) for i in range(50)]
        expected = [scorer.score(t, texts[-1 - i]) for i, t in enumerate(texts)]
        failures = []
        def work():
            for _ in range(20):
                if [scorer.score(t, texts[-1 - i]) for i, t in enumerate(texts)] != expected:
                    failures.append(1)
                if scorer.score_batch(texts, texts[::-1]) != expected:
                    failures.append(2)
        threads = [threading.Thread(target=work) for _ in range(8)]
        for t in threads: t.start()
        for t in threads: t.join()
        print(len(failures))
    """
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=300)
    assert result.stdout.strip() == "0", result.stderr
