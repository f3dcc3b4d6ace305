"""Every public way into tallygrams_scorer that needs neither NumPy nor
pyarrow (the debug interpreter loads neither), each as a function that takes
it once and checks its own outcome. public_paths adds them to its list."""

import gc
import importlib
import os
import pickle
import sys

import tallygrams_scorer
from tallygrams_scorer import RougeScorer

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
from arrow_exporter import CountingExporter  # noqa: E402
# Imported by public_paths once these two are defined there.
from public_paths import costly, expect  # noqa: E402

TYPES = ["rouge1", "rouge3", "rougeL", "rougeLsum"]
STEMMING = RougeScorer(TYPES, use_stemmer=True)
UNICODE = RougeScorer(["rouge1", "rougeLsum"], tokenizer="unicode")
TARGETS = ["The cats were running.\nThey stopped.", ["a b c", "the cat ran fast"], "", "Größe straße\nkafé"] * 8
PREDICTIONS = ["the cat runs\nit stopped", "the cat runs", "anything", "grösse strasse"] * 8
FIRST = STEMMING.score(TARGETS[0], PREDICTIONS[0])
BATCH = STEMMING.score_batch(TARGETS, PREDICTIONS)
RECALLS = [d["rouge1"].recall for d in BATCH]


def scorer_score_values():
    assert STEMMING.score(TARGETS[0], PREDICTIONS[0]) == FIRST
    assert STEMMING.score_multi(TARGETS[1], PREDICTIONS[1]) == BATCH[1]
    assert UNICODE.score(TARGETS[3], PREDICTIONS[3])["rouge1"].recall == 0.0
    assert STEMMING.tokenize("The cats were running") == ["the", "cat", "were", "run"]


def scorer_batch_values(n):
    def path():
        assert [d["rouge1"].recall for d in STEMMING.score_batch(TARGETS[:n], PREDICTIONS[:n])] == RECALLS[:n]
        columns = STEMMING.score_columns(TARGETS[:n], PREDICTIONS[:n])
        assert columns.column("rouge1_recall") == RECALLS[:n] and len(columns.to_pydict()) == 12
    path.__name__ = f"scorer_batch_{n}"
    return path


class Splitting:
    def tokenize(self, text):
        return text.split()


def own_tokenizers():
    assert RougeScorer(["rouge2"], tokenizer=Splitting()).score("A b c", "A b")["rouge2"].recall == 0.5
    assert RougeScorer(["rougeLsum"], tokenizer=str.split).score_batch(["a b\nc"], ["c a"])[0]["rougeLsum"].recall
    expect(ZeroDivisionError, RougeScorer(["rouge1"], tokenizer=lambda text: 1 / 0).score, "a", "b")
    expect(TypeError, RougeScorer(["rouge1"], tokenizer=lambda text: [1]).score_batch, ["a"], ["b"])


def scorer_bad_inputs():
    expect(ValueError, RougeScorer, [])
    expect(ValueError, RougeScorer, ["rouge10"])
    expect(TypeError, RougeScorer, "rouge1")
    expect(ValueError, RougeScorer, ["rouge1"], tokenizer="klingon")
    expect(TypeError, STEMMING.score, 1, "a")
    expect(ValueError, STEMMING.score_multi, [], "a")
    expect(TypeError, STEMMING.score_multi, [1], "a")
    expect(ValueError, STEMMING.score_batch, ["a"], [])
    expect(TypeError, STEMMING.score_columns, ["a", 2], ["a", "b"])
    expect(TypeError, STEMMING.score, b"\xed\xa0\x80", "a")
    assert STEMMING.score("\ud800a", "a")["rouge1"].recall == 1.0
    expect(TypeError, tallygrams_scorer.bootstrap, {"x": [1.0, "y"]}, 10)
    expect(ValueError, tallygrams_scorer.bootstrap, {"x": [1.0]}, 10, confidence_interval=2.0)


def scorer_pickling():
    again = pickle.loads(pickle.dumps(STEMMING))
    assert again.score(TARGETS[0], PREDICTIONS[0]) == FIRST
    columns = STEMMING.score_columns(TARGETS[:4], PREDICTIONS[:4])
    assert pickle.loads(pickle.dumps(columns)).to_pydict() == columns.to_pydict()
    assert pickle.loads(pickle.dumps(FIRST)) == FIRST
    # A subclass's instance: through copyreg and __setstate__, with its attributes.
    derived = pickle.loads(pickle.dumps(DerivedScorer(["rouge1", "rougeLsum"], "x")))
    assert (derived.label, derived.score(TARGETS[0], PREDICTIONS[0])["rouge1"]) == ("x", FIRST["rouge1"])
    expect(RuntimeError, DerivedScorer.__new__(DerivedScorer).score, "a", "b")


class DerivedScorer(RougeScorer):
    def __init__(self, rouge_types, label):
        super().__init__(rouge_types, use_stemmer=True)
        self.label = label


def columns_exported():
    columns = STEMMING.score_columns(TARGETS[:4], PREDICTIONS[:4])
    # Capsules dropped unread: their destructors release what they hold.
    columns.__arrow_c_schema__()
    columns.__arrow_c_array__()
    columns.__arrow_c_stream__()
    del columns


def arrow_in_place():
    references, predictions = CountingExporter([b"the cat sat", b"a b c"]), CountingExporter([b"the cat", b"a c"])
    assert tallygrams_scorer.score_arrow(references, predictions).column("rouge1_recall") == [2 / 3, 2 / 3]
    bad = CountingExporter([b"x\xff"])
    expect(ValueError, tallygrams_scorer.score_arrow, bad, CountingExporter([b"y"]))
    expect(TypeError, tallygrams_scorer.score_arrow, STEMMING.score_columns(["a"], ["a"]), CountingExporter([b"y"]))
    assert references.released == predictions.released == bad.released == {"schema": 1, "array": 1}


def native_bootstrap():
    columns = STEMMING.score_columns(TARGETS, PREDICTIONS)
    intervals = tallygrams_scorer.bootstrap(columns, 50, seed=7)
    assert intervals == tallygrams_scorer.bootstrap(columns.to_pydict(), 50, seed=7)


def sizes_beyond_memory():
    # Refused before any work: nothing of the call may stay behind.
    expect(MemoryError, tallygrams_scorer.bootstrap, {"x": [0.5, 0.7]}, 10**12)
    expect(MemoryError, tallygrams_scorer.bootstrap, STEMMING.score_columns(TARGETS, PREDICTIONS), 10**12)


def reimport_scorer():
    # A second module object with classes of its own (the package and its
    # compiled part imported afresh); the first goes back into sys.modules,
    # so that the other paths' objects still pickle.
    names = [name for name in sys.modules if name == "tallygrams_scorer" or name.startswith("tallygrams_scorer.")]
    first = {name: sys.modules.pop(name) for name in names}
    try:
        fresh = importlib.import_module("tallygrams_scorer")
        assert fresh.RougeScorer(["rouge1"]).score("a", "a")["rouge1"].recall == 1.0
        assert fresh.RougeScorer is not first["tallygrams_scorer"].RougeScorer
    finally:
        for name in [name for name in sys.modules if name.startswith("tallygrams_scorer")]:
            del sys.modules[name]
        sys.modules.update(first)
    del fresh
    gc.collect()


PATHS = [
    scorer_score_values,
    scorer_batch_values(0),
    scorer_batch_values(1),
    costly(calls=50, every=10)(scorer_batch_values(32)),
    own_tokenizers,
    scorer_bad_inputs,
    scorer_pickling,
    columns_exported,
    costly(calls=50, every=10)(arrow_in_place),
    costly(calls=50, every=20)(native_bootstrap),
    sizes_beyond_memory,
    costly(calls=4, every=250)(reimport_scorer),
]
