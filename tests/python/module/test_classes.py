"""The Score class: read-only, created only by the module."""

import copy
import pickle
import weakref

import pytest

import tallygrams


@pytest.fixture
def instance():
    return tallygrams.score("a b c", "a b")["rouge1"]


def test_class_identity_and_docs(instance):
    cls = type(instance)
    assert cls is tallygrams.Score
    assert (cls.__name__, cls.__qualname__, cls.__module__) == ("Score", "Score", "tallygrams")
    assert cls.__doc__ == "Precision, recall, and F-measure values for one ROUGE metric."
    assert cls.__base__ is object
    for name in ("precision", "recall", "fmeasure"):
        assert getattr(cls, name).__doc__ is None
    assert repr(instance).startswith("<tallygrams.Score object at 0x")


def test_values_are_floats_and_stable(instance):
    assert (instance.precision, instance.recall) == (1.0, 2 / 3)
    assert instance.fmeasure == instance.fmeasure == 0.8
    assert all(type(getattr(instance, n)) is float for n in ("precision", "recall", "fmeasure"))


def test_identity_semantics(instance):
    twin = tallygrams.score("a b c", "a b")["rouge1"]
    assert instance != twin
    assert len({instance, twin}) == 2
    assert {instance: 1}[instance] == 1


@pytest.mark.parametrize(
    "attempt, error",
    [
        (lambda s: tallygrams.Score(), TypeError),
        (lambda s: tallygrams.Score(1.0, 1.0, 1.0), TypeError),
        (lambda s: type("Sub", (tallygrams.Score,), {}), TypeError),
        (lambda s: setattr(s, "precision", 0.5), AttributeError),
        (lambda s: delattr(s, "recall"), AttributeError),
        (lambda s: setattr(s, "extra", 1), AttributeError),
        (lambda s: weakref.ref(s), TypeError),
        (lambda s: pickle.dumps(s), TypeError),
        (lambda s: copy.copy(s), TypeError),
    ],
)
def test_refusals(instance, attempt, error):
    with pytest.raises(error):
        attempt(instance)


def test_class_itself_is_not_frozen():
    tallygrams.Score.test_marker = 1
    try:
        assert tallygrams.Score.test_marker == 1
    finally:
        del tallygrams.Score.test_marker


@pytest.mark.parametrize(
    "make, name",
    [
        (lambda: tallygrams.score("a b c", "a b")["rouge1"], "tallygrams.Score"),
        (lambda: tallygrams.score_batch_flat(["a b c"], ["a b"]), "tallygrams.BatchScoreResult"),
    ],
    ids=["Score", "BatchScoreResult"],
)
def test_no_protocol_pickles_or_copies_either_class(make, name):
    # Protocols 0 and 1 would otherwise write a pickle without the values
    # that can never be loaded; every way out is the same TypeError.
    instance = make()
    attempts = [lambda p=p: pickle.dumps(instance, protocol=p) for p in range(pickle.HIGHEST_PROTOCOL + 1)]
    attempts += [lambda: copy.copy(instance), lambda: copy.deepcopy(instance), lambda: instance.__reduce_ex__(0)]
    for attempt in attempts:
        with pytest.raises(TypeError) as caught:
            attempt()
        assert str(caught.value) == f"cannot pickle '{name}' object"
