"""BootstrapAggregator against rouge-score's, which draws its resamples
from NumPy's global generator: from the same generator state, the same
numbers to the last bit."""

import array
import collections
import collections.abc
import copy
import pickle
import random
import subprocess
import sys
import textwrap
from pathlib import Path

import numpy as np
import pytest
from rouge_score import rouge_scorer, scoring

import scorer_texts
import tallygrams_scorer


def hexed(result):
    return {key: [[v.hex() for v in bound] for bound in interval] for key, interval in result.items()}


def aggregate_both(samples, confidence, n_samples, seed):
    np.random.seed(seed)
    peer = scoring.BootstrapAggregator(confidence, n_samples)
    for sample in samples:
        peer.add_scores(sample)
    expected = peer.aggregate()
    np.random.seed(seed)
    ours = tallygrams_scorer.BootstrapAggregator(confidence, n_samples)
    for sample in samples:
        ours.add_scores(sample)
    return ours.aggregate(), expected


@pytest.mark.parametrize("seed", range(6))
def test_same_generator_state_same_numbers(seed):
    rng = random.Random(seed)
    scorer = rouge_scorer.RougeScorer(["rouge1", "rouge3", "rougeLsum"], use_stemmer=True)
    pairs = scorer_texts.pairs(seed, rng.choice([1, 2, 17, 300]))
    samples = [scorer.score(r, p) for r, p in pairs]
    confidence = rng.choice([0.95, 0.9, 0.5, 0.0, 1.0, 0.999])
    ours, theirs = aggregate_both(samples, confidence, rng.choice([1, 2, 100, 1000]), seed)
    assert list(ours) == list(theirs)
    assert hexed(ours) == hexed(theirs)
    assert ours == theirs and all(type(v.low) is scoring.Score for v in ours.values())


Four = collections.namedtuple("Four", "a b c d")


def test_our_scores_and_other_shapes():
    # Our own Scores come back as our Scores; rows of one number are summed
    # pairwise by NumPy, rows of four in order.
    rng = random.Random(4)
    samples = [{"ours": tallygrams_scorer.Score(rng.random(), rng.random(), rng.random()),
                "one": rng.random(), "four": Four(rng.random(), 1, True, rng.random())} for _ in range(3000)]
    ours, theirs = aggregate_both(samples, 0.95, 50, 12)
    assert hexed({k: [[b] if isinstance(b, float) else b for b in v] for k, v in ours.items()}) == \
        hexed({k: [[b] if isinstance(b, float) else b for b in v] for k, v in theirs.items()})
    assert type(ours["ours"].mid) is tallygrams_scorer.Score and type(ours["one"].mid) is float


def test_an_own_seed_repeats_and_leaves_the_global_generator_alone():
    samples = [{"rouge1": tallygrams_scorer.Score(x / 10, x / 20, x / 30)} for x in range(10)]
    aggregator = tallygrams_scorer.BootstrapAggregator(seed=42)
    for sample in samples:
        aggregator.add_scores(sample)
    np.random.seed(1)
    state = np.random.get_state()[1].copy()
    first = aggregator.aggregate()
    assert (np.random.get_state()[1] == state).all()
    assert aggregator.aggregate() == first
    np.random.seed(42)
    peer = scoring.BootstrapAggregator()
    for sample in samples:
        peer.add_scores(sample)
    assert peer.aggregate() == first


@pytest.mark.parametrize("arguments, kind, message", [
    ((1.5,), ValueError, "confidence_interval must be in range [0, 1]"),
    ((float("nan"),), ValueError, "confidence_interval must be in range [0, 1]"),
    ((0.9, 0), ValueError, "n_samples must be positive"),
    ((0.9, 2.5), TypeError, "'float' object is not an instance of 'int'"),
])
def test_bad_arguments(arguments, kind, message):
    with pytest.raises(kind) as info:
        tallygrams_scorer.BootstrapAggregator(*arguments)
    assert str(info.value) == message


def test_a_bad_sample_leaves_the_aggregator_as_it_was():
    aggregator = tallygrams_scorer.BootstrapAggregator(seed=0)
    aggregator.add_scores({"a": (0.5, 0.5), "b": (0.1, 0.2)})
    before = aggregator.aggregate()
    with pytest.raises(ValueError, match="scores for 'b' have 2 values, but this one has 3"):
        aggregator.add_scores({"a": (0.9, 0.9), "b": (1, 2, 3)})
    with pytest.raises(TypeError, match="neither a number nor a sequence of numbers"):
        aggregator.add_scores({"a": (0.9, 0.9), "b": "text"})
    with pytest.raises(TypeError, match="Mapping"):
        aggregator.add_scores([("a", (1, 1))])
    assert aggregator.aggregate() == before
    assert tallygrams_scorer.BootstrapAggregator().aggregate() == {}


def test_pickles_and_copies_with_its_scores():
    aggregator = tallygrams_scorer.BootstrapAggregator(0.9, 40, seed=3)
    aggregator.add_scores({"a": 1.0, "b": tallygrams_scorer.Score(0.5, 0.25, 1 / 3)})
    aggregator.add_scores({"a": 0.5, "b": tallygrams_scorer.Score(0.125, 1.0, 0.2)})
    expected = repr(aggregator.aggregate())
    copies = [pickle.loads(pickle.dumps(aggregator, protocol)) for protocol in range(pickle.HIGHEST_PROTOCOL + 1)]
    for copy_ in [*copies, copy.copy(aggregator), copy.deepcopy(aggregator)]:
        assert repr(copy_.aggregate()) == expected
        copy_.add_scores({"a": 0.0, "b": (0.0, 0.0, 0.0)})  # the copy's own scores
    assert repr(aggregator.aggregate()) == expected


@pytest.mark.parametrize("state", [
    "None", "(None,)", "(None, [('a', float, 0, [1.0])])", "(None, [('a', float, 2, [1.0])])",
    "(None, [('a', float, 1, ['x'])])", "(None, [('a', float, 1, [])])", "(None, [('a', float, 2**70, [1.0])])",
    "(None, [('a', float, 1, [1.0]), ('a', float, 1, [2.0])])", "(-1, [])", "(None, [([], float, 1, [1.0])])",
])
def test_a_tampered_pickled_state_is_refused(state):
    out = run_isolated(f"""
        import tallygrams_scorer
        aggregator = tallygrams_scorer.BootstrapAggregator()
        try:
            aggregator.__setstate__({state})
        except (TypeError, ValueError) as error:
            print(type(error).__name__)
        print(aggregator.aggregate())
    """)
    assert out.split() in (["ValueError", "{}"], ["TypeError", "{}"]), out


def run_isolated(code):
    """Runs `code` in a fresh interpreter, so that a crash or hang is a failure, not a lost run."""
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    return result.stdout


def test_aggregate_survives_the_score_class_adding_scores_to_it():
    # The score class is the caller's: building the bounds with it may add
    # scores, here enough new types to move the aggregator's storage.
    out = run_isolated("""
        import tallygrams_scorer
        aggregator = tallygrams_scorer.BootstrapAggregator(n_samples=5, seed=1)
        made = [0]
        class Row(tuple):
            def __new__(cls, *values):
                made[0] += 1
                for k in range(50):
                    aggregator.add_scores({f"new{made[0]}_{k}": (1.0, 2.0)})
                return tuple.__new__(cls, values)
        for i in range(3):
            aggregator.add_scores({"a": tuple.__new__(Row, (i / 10, 0.2))})
        first = aggregator.aggregate()
        print(list(first), type(first["a"].mid).__name__)
        print(len(aggregator.aggregate()))
    """)
    lines = out.splitlines()
    assert lines[0] == "['a'] Row"
    assert lines[1] == str(1 + 3 * 50)


class ItemsOnly(collections.abc.Mapping):
    """A mapping of the caller's own, which CPython also reports as a sequence."""

    def __init__(self, pairs):
        self.pairs = pairs

    def __getitem__(self, key):
        return dict(self.pairs)[key]

    def __iter__(self):
        return iter(dict(self.pairs))

    def __len__(self):
        return len(self.pairs)

    def items(self):
        return self.pairs


def test_mappings_of_the_callers_own_are_read_as_rouge_score_reads_them():
    aggregator = tallygrams_scorer.BootstrapAggregator(seed=3)
    peer = scoring.BootstrapAggregator()
    for x in range(20):
        sample = {"rouge1": scoring.Score(x / 20, x / 30, x / 40)}
        aggregator.add_scores(collections.UserDict(sample))
        peer.add_scores(sample)
    np.random.seed(3)
    assert aggregator.aggregate() == peer.aggregate()
    values = array.array("d", [0.25, 0.5, 1.0])
    assert tallygrams_scorer.bootstrap(ItemsOnly([("x", values)]), 50) == tallygrams_scorer.bootstrap({"x": values}, 50)


@pytest.mark.parametrize("columns, message", [
    ('ItemsOnly([["x", [1.0, 2.0]]])', "columns.items() must give (key, value) pairs"),
    ('ItemsOnly([("x",)])', "columns.items() must give (key, value) pairs"),
    ('Exported(ItemsOnly([5]))', "columns.to_pydict().items() must give (key, value) pairs"),
    ('[("x", [1.0])]', "'list' object is not an instance of 'Mapping': expected ScoreColumns or a mapping from "
                          "name to a column of floats"),
])
def test_bootstrap_refuses_items_that_are_not_pairs(columns, message):
    out = run_isolated(f"""
        import sys
        sys.path[:0] = [{str(Path(__file__).parent)!r}, {str(Path(__file__).parents[1])!r}]
        import tallygrams_scorer
        from test_aggregator import ItemsOnly

        class Exported:
            def __init__(self, mapping):
                self.mapping = mapping

            def to_pydict(self):
                return self.mapping

        try:
            tallygrams_scorer.bootstrap({columns}, 10)
        except TypeError as error:
            print(str(error).splitlines()[0])
    """)
    assert out.strip() == message


def test_resample_counts_whose_means_overflow_an_array_are_refused():
    # 4 columns x 2**62 resamples, and 2**40 resamples x scores of 2**24
    # values, both wrap to 0 doubles.
    out = run_isolated("""
        import tallygrams_scorer
        try:
            tallygrams_scorer.bootstrap({name: [1.0, 2.0] for name in "abcd"}, 2**62)
        except ValueError as error:
            print(error)
        aggregator = tallygrams_scorer.BootstrapAggregator(n_samples=2**40, seed=0)
        aggregator.add_scores({"wide": (0.0,) * 2**24})
        try:
            aggregator.aggregate()
        except ValueError as error:
            print(error)
    """)
    assert out.splitlines() == ["bootstrap resamples times columns exceed what memory can address",
                                "n_samples is too large for scores of 16777216 values"]


@pytest.mark.parametrize("column, dimensions", [(np.ones((3, 2)), 2), (np.ones((4, 1)), 2), (np.float64(0.5), 0)])
def test_bootstrap_refuses_a_column_that_is_not_one_dimensional(column, dimensions):
    # A list of rows is refused item by item; a buffer must not be flattened instead.
    with pytest.raises(TypeError, match=f"the column x has {dimensions} dimensions; a column has one"):
        tallygrams_scorer.bootstrap({"x": column}, 10)
    strided = np.arange(10.0)[::2]
    assert tallygrams_scorer.bootstrap({"x": strided}, 10) == tallygrams_scorer.bootstrap({"x": list(strided)}, 10)


@pytest.mark.parametrize("arguments", [{"n_samples": 10.0}, {"n_samples": True}, {"seed": 1.5}, {"seed": True}])
def test_bootstrap_counts_and_seeds_must_be_integers(arguments):
    # A float seed used to be refused as out of range, and True read as 1.
    name = next(iter(arguments))
    with pytest.raises(TypeError, match="object is not an instance of 'int'") as info:
        tallygrams_scorer.bootstrap({"x": [0.25, 0.5]}, **arguments)
    assert info.value.__notes__ == [f"while processing '{name}'"]
    numpy_integers = {"n_samples": np.int64(20), "seed": np.uint64(7)}
    assert tallygrams_scorer.bootstrap({"x": [0.25, 0.5]}, **numpy_integers) == \
        tallygrams_scorer.bootstrap({"x": [0.25, 0.5]}, n_samples=20, seed=7)


def test_a_score_list_emptied_while_it_is_read():
    # The first value's __float__ empties the list that holds the rest.
    out = run_isolated("""
        import gc, tallygrams_scorer
        row = []

        class Emptying:
            def __float__(self):
                row.clear()
                gc.collect()
                return 0.25

        row.extend([Emptying(), *(float(k) for k in range(5))])
        aggregator = tallygrams_scorer.BootstrapAggregator(n_samples=10, seed=0)
        aggregator.add_scores({"a": row})
        print(aggregator.aggregate()["a"].mid)
    """)
    assert out.strip() == "[" + ", ".join(f"np.float64({v})" for v in [0.25, 0.0, 1.0, 2.0, 3.0, 4.0]) + "]"


def test_a_replaced_randint_that_draws_out_of_range(monkeypatch):
    # The global generator's randint is looked up at each aggregate(), where
    # the caller may have replaced it: a bad draw is its error, not ours.
    aggregator = tallygrams_scorer.BootstrapAggregator(n_samples=10)
    aggregator.add_scores({"x": 0.5})
    aggregator.add_scores({"x": 0.25})
    randint = np.random.randint
    monkeypatch.setattr(np.random, "randint", lambda low, high, size: randint(high, high + 1, size=size))
    with pytest.raises(ValueError, match="numpy.random.randint returned an index out of range"):
        aggregator.aggregate()
    monkeypatch.undo()
    assert set(aggregator.aggregate()) == {"x"}


@pytest.mark.parametrize("hash_call", [3, 4, 5])
def test_a_key_whose_hash_adds_scores_of_another_width(hash_call):
    # The key's __hash__ adds three-value scores under the same type while
    # the outer call adds a one-value score: refused, never mixed into one
    # column (which misaligned every later row).
    aggregator = tallygrams_scorer.BootstrapAggregator(n_samples=10, seed=0)
    calls = [0]

    class Key(str):
        def __hash__(self):
            calls[0] += 1
            if calls[0] == hash_call:
                aggregator.add_scores({"a": (1.0, 2.0, 3.0)})
            return str.__hash__(self)

        def __eq__(self, other):
            return str.__eq__(self, other)

    with pytest.raises(RuntimeError, match="the aggregator was changed while these scores were added"):
        aggregator.add_scores({Key("a"): (0.5,)})
    aggregator.add_scores({"a": (1.0, 2.0, 3.0)})
    assert aggregator.aggregate() == {"a": ((1.0, 2.0, 3.0),) * 3}
