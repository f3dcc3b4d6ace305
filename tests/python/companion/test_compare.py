"""tallygrams_scorer.compare: the paired bootstrap and approximate
randomization tests, against a plain-Python oracle of the same draws (to the
last bit), a NumPy implementation with its own draws (in distribution), and
what the tests must give by construction."""

import math
import os
import pickle
import subprocess
import sys
import threading
import time
from array import array

import numpy as np
import pytest

import paired_tests_numpy
import paired_tests_oracle
import tallygrams_scorer
from tallygrams_scorer import compare

TESTS = ("bootstrap", "randomization")


def paired_columns(pairs, seed, gain=0.0, names=("f",)):
    """Two systems scoring the same pairs: each pair has a difficulty both
    systems share, plus each system's own noise."""
    rng = np.random.default_rng(seed)
    baseline, system = {}, {}
    for name in names:
        difficulty = rng.beta(4, 5, pairs)
        baseline[name] = np.clip(difficulty + rng.normal(0, 0.1, pairs), 0, 1)
        system[name] = np.clip(difficulty + rng.normal(gain, 0.1, pairs), 0, 1)
    return baseline, system


@pytest.mark.parametrize("test, pairs, samples, seed", [
    ("bootstrap", 300, 300, 5),
    ("randomization", 300, 200, 6),
    ("bootstrap", 1, 50, 7),
])
def test_both_tests_agree_with_the_oracle_to_the_last_bit(test, pairs, samples, seed):
    baseline, system = paired_columns(pairs, seed, gain=0.01, names=("a", "b"))
    # Rows where the systems agree, and one where they differ in sign only.
    for name in baseline:
        system[name][: pairs // 3] = baseline[name][: pairs // 3]
    ours = compare(baseline, system, test=test, n_samples=samples, seed=seed, confidence_interval=0.9)
    expected = paired_tests_oracle.compare([list(c) for c in baseline.values()], [list(c) for c in system.values()],
                                           test, samples, seed, confidence=0.9)
    assert list(ours) == ["a", "b"]
    assert [tuple(c) for c in ours.values()] == [tuple(c) for c in expected]


def test_randomization_rounds_over_several_blocks_agree_with_the_oracle():
    # 4101 rows: two whole blocks of signs and a short one, whose last
    # group of four rows is cut short.
    baseline, system = paired_columns(4101, 11, gain=0.004, names=("a", "b"))
    ours = compare(baseline, system, test="randomization", n_samples=40, seed=3)
    expected = paired_tests_oracle.compare([list(c) for c in baseline.values()], [list(c) for c in system.values()],
                                           "randomization", 40, 3, interval_resamples=1)
    assert [c.p_value for c in ours.values()] == [c.p_value for c in expected]


@pytest.mark.parametrize("gain, seed", [(0.02, 1), (0.015, 2), (-0.025, 3)])
def test_p_values_agree_with_a_numpy_implementation_at_20000_samples(gain, seed):
    baseline, system = paired_columns(300, seed, gain=gain, names=("a", "b", "c"))
    for test in TESTS:
        ours = compare(baseline, system, test=test, n_samples=20_000, seed=seed)
        theirs = paired_tests_numpy.compare(baseline, system, test=test, n_samples=20_000, seed=seed)
        for name in baseline:
            assert abs(ours[name].p_value - theirs[name].p_value) <= 0.01, (test, name, ours[name], theirs[name])
            assert ours[name].difference == pytest.approx(theirs[name].difference, abs=1e-15)


def test_p_values_are_calibrated_when_both_systems_come_from_one_distribution():
    # Over many data sets drawn under the null hypothesis, p < 0.05 about
    # one time in twenty: between 3% and 7% of 1000.
    rejected = dict.fromkeys(TESTS, 0)
    for seed in range(1000):
        baseline, system = paired_columns(100, 10_000 + seed)
        for test in TESTS:
            rejected[test] += compare(baseline, system, test=test, n_samples=400, seed=seed)["f"].p_value < 0.05
    assert all(30 <= count <= 70 for count in rejected.values()), rejected


@pytest.mark.parametrize("test", TESTS)
def test_a_constant_gain_and_identical_systems_give_the_extreme_p_values(test):
    baseline, _ = paired_columns(64, 4, names=("a", "b"))
    gained = {name: column + 0.05 for name, column in baseline.items()}
    for name, result in compare(baseline, gained, test=test, n_samples=999, seed=1).items():
        # No resample or round is as far from the null as the observed gain.
        assert result.p_value == 1 / 1000
        assert result.low == pytest.approx(0.05) == result.high
    for result in compare(baseline, baseline, test=test, n_samples=999, seed=1).values():
        assert (result.difference, result.low, result.high, result.p_value) == (0.0, 0.0, 0.0, 1.0)
        assert result.baseline == result.system


def test_a_handful_of_differing_rows_counts_every_tied_round():
    # Three rows gain 0.25, the rest are equal: exactly the rounds that keep
    # or flip all three together are as extreme as the observation, 1 in 4,
    # however the additions round.
    baseline = {"f": [0.1 * (i % 7) for i in range(50)]}
    system = {"f": [x + (0.25 if i < 3 else 0.0) for i, x in enumerate(baseline["f"])]}
    result = compare(baseline, system, test="randomization", n_samples=20_000, seed=8)["f"]
    assert abs(result.p_value - 0.25) < 0.01


def test_the_interval_is_the_bootstrap_of_the_differences_and_the_same_for_both_tests():
    baseline, system = paired_columns(500, 12, gain=0.01, names=("a", "b"))
    differences = {name: system[name] - baseline[name] for name in baseline}
    intervals = tallygrams_scorer.bootstrap(differences, 1000, seed=5, confidence_interval=0.8)
    resampled = tallygrams_scorer.resample_means(differences, 1000, seed=5)
    for test in TESTS:
        for name, result in compare(baseline, system, test=test, seed=5, confidence_interval=0.8).items():
            assert (result.low, result.high) == (intervals[name].low, intervals[name].high)
            # The resampled means are the draws the interval is read from.
            tail = (1 - 0.8) / 2
            percentiles = np.percentile(resampled[name], [100 * tail, 100 * (1 - tail)])
            assert tuple(percentiles) == (result.low, result.high)
            assert result.baseline == math.fsum(baseline[name]) / 500
            assert result.system == math.fsum(system[name]) / 500


def test_results_are_comparisons_that_pickle_and_read_any_column_kind():
    baseline = {"x": array("d", [0.1, 0.5, 0.9]), "y": [0.0, 1.0, 0.5]}
    system = {"y": np.array([0.5, 1.0, 0.5]), "x": memoryview(array("d", [0.2, 0.6, 0.8]))}
    result = compare(baseline, system, n_samples=10)
    assert list(result) == ["x", "y"]
    assert type(result["x"]) is tallygrams_scorer.Comparison
    assert result["x"]._fields == ("baseline", "system", "difference", "low", "high", "p_value")
    assert all(type(value) is float for value in result["x"])
    assert pickle.loads(pickle.dumps(result)) == result
    scorer = tallygrams_scorer.RougeScorer(["rouge1"])
    scored = [scorer.score_columns(["a b c", "d e", "f"], predictions) for predictions in (["a", "d", "x"], ["a b", "d e", "f"])]
    assert set(compare(*scored, n_samples=10)) == set(scored[0].column_names)


def test_null_rows_leave_the_pair_out_on_both_sides():
    baseline = {"f": [0.1, None, 0.3, 0.4, 0.9]}
    system = {"f": [0.2, 0.5, 0.3, None, 0.1]}
    kept = compare(baseline, system, n_samples=50)["f"]
    expected = compare({"f": [0.1, 0.3, 0.9]}, {"f": [0.2, 0.3, 0.1]}, n_samples=50)["f"]
    assert kept == expected


@pytest.mark.parametrize("baseline, system, kwargs, error, message", [
    ({"f": [0.1, math.nan]}, {"f": [0.1, 0.2]}, {}, ValueError, "row 1 of the baseline's column 'f' is nan"),
    ({"f": [0.1, 0.2], "g": [0.0, 0.0]}, {"f": [0.1, 0.2], "g": [0.0, math.inf]}, {}, ValueError,
     "row 1 of the system's column 'g' is inf"),
    ({"f": [0.1, 0.2]}, {"f": [0.1]}, {}, ValueError, "2 rows but the system 1"),
    ({"f": [0.1]}, {"g": [0.1]}, {}, ValueError, "different columns"),
    ({"f": []}, {"f": []}, {}, ValueError, "no rows"),
    ({"f": [0.1]}, {"f": [0.2]}, {"test": "permutation"}, ValueError, "'bootstrap' or 'randomization'"),
    ({"f": [0.1]}, {"f": [0.2]}, {"test": 1}, TypeError, "str"),
    ({"f": [0.1]}, {"f": [0.2]}, {"n_samples": 0}, ValueError, "n_samples must be positive"),
    ({"f": [0.1]}, {"f": [0.2]}, {"n_samples": 10.0}, TypeError, "int"),
    ({"f": [0.1]}, {"f": [0.2]}, {"seed": -1}, ValueError, "seed"),
    ({"f": [0.1]}, {"f": [0.2]}, {"confidence_interval": 1.5}, ValueError, "confidence_interval"),
    ([0.1], {"f": [0.2]}, {}, TypeError, "Mapping"),
])
def test_bad_arguments_are_clear_errors(baseline, system, kwargs, error, message):
    with pytest.raises(error, match=message.replace("(", r"\(")):
        compare(baseline, system, **kwargs)


def test_the_lock_is_released_and_the_result_does_not_depend_on_the_workers():
    baseline, system = paired_columns(200_000, 3, gain=0.001, names=("a", "b", "c"))
    ticks, stop = [0], threading.Event()

    def ticker():
        while not stop.is_set():
            ticks[0] += 1
            time.sleep(0)

    thread = threading.Thread(target=ticker)
    thread.start()
    try:
        result = compare(baseline, system, test="randomization", n_samples=2000, seed=4)
    finally:
        stop.set()
        thread.join()
    assert ticks[0] > 0, "the interpreter lock was held while testing"
    code = ("import numpy as np, tallygrams_scorer\n"
            "rng = np.random.default_rng(1)\n"
            "b = {n: rng.random(5000) for n in 'abc'}\ns = {n: rng.random(5000) for n in 'abc'}\n"
            "print([tuple(tallygrams_scorer.compare(b, s, test=t, n_samples=300, seed=9).values())"
            " for t in ('bootstrap', 'randomization')])")
    outputs = set()
    for workers in ("1", "2", "3", "8"):
        env = {**os.environ, "RAYON_NUM_THREADS": workers}
        outputs.add(subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                                   check=True, timeout=120).stdout)
    assert len(outputs) == 1 and result
