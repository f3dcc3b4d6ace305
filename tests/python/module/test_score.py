"""score(): values, result shape and argument handling."""

import pytest

import tallygrams
from tallygrams import score

ZERO = (0.0, 0.0, 0.0)
ONE = (1.0, 1.0, 1.0)
FIVE_SIXTHS = (5 / 6,) * 3


def triples(result):
    return tuple((s.precision, s.recall, s.fmeasure) for s in result.values())


@pytest.mark.parametrize(
    "reference, prediction, expected",
    [
        ("The cat sat.", "the cat", ((1.0, 2 / 3, 0.8), (1.0, 0.5, 2 / 3), (1.0, 2 / 3, 0.8))),
        ("", "", (ZERO, ZERO, ZERO)),
        ("the cat", "", (ZERO, ZERO, ZERO)),
        ("", "the cat", (ZERO, ZERO, ZERO)),
        ("the cat", "!!!", (ZERO, ZERO, ZERO)),
        ("Cat", "cat.", (ONE, ZERO, ONE)),
        ("the cat sat on the mat", "the cat lay on the mat", (FIVE_SIXTHS, (0.6,) * 3, FIVE_SIXTHS)),
        ("a a a", "a", ((1.0, 1 / 3, 0.5), ZERO, (1.0, 1 / 3, 0.5))),
        ("a b a", "a a a a", ((0.5, 2 / 3, 0.5714285714285715), ZERO, (0.5, 2 / 3, 0.5714285714285715))),
        ("alpha beta", "gamma delta", (ZERO, ZERO, ZERO)),
        ("a b c d e", "a c e", ((1.0, 0.6, 0.7499999999999999), ZERO, (1.0, 0.6, 0.7499999999999999))),
        ("a\x00b c", "a b\x00c", (ONE, ONE, ONE)),
        ("a\x00b", "a b", (ONE, ONE, ONE)),
        ("a\x00\x00b\x00", "ab", (ZERO, ZERO, ZERO)),
        ("\u0130stanbul \u212aelvin", "i stanbul kelvin", (ONE, ONE, ONE)),
    ],
)
def test_worked_values(reference, prediction, expected):
    assert triples(score(reference, prediction)) == expected


def test_result_is_a_fresh_dict_of_fresh_scores():
    first = score("a b", "a c")
    second = score("a b", "a c")
    assert list(first) == ["rouge1", "rouge2", "rougeL"]
    assert all(type(v) is tallygrams.Score for v in first.values())
    assert first is not second
    assert all(a is not b for a, b in zip(first.values(), second.values()))
    assert triples(first) == triples(second)


def test_swapping_texts_swaps_precision_and_recall():
    forward = triples(score("the quick brown fox", "the fox jumped"))
    backward = triples(score("the fox jumped", "the quick brown fox"))
    assert [(r, p, f) for p, r, f in forward] == list(backward)


def test_keywords_in_any_order():
    assert triples(score(prediction="x y", reference="y x")) == triples(score("y x", "x y"))


class ShoutingStr(str):
    def __str__(self):
        return "something else entirely"


def test_str_subclass_is_scored_by_its_content():
    assert triples(score(ShoutingStr("a b"), "a b")) == (ONE, ONE, ONE)


BINDING_ERRORS = [
    ((), {}, "score() missing 2 required positional arguments: 'reference' and 'prediction'"),
    (("a",), {}, "score() missing 1 required positional argument: 'prediction'"),
    ((), {"prediction": "b"}, "score() missing 1 required positional argument: 'reference'"),
    (("a", "b", "c"), {}, "score() takes 2 positional arguments but 3 were given"),
    (("a", "b", "c"), {"bogus": 1}, "score() takes 2 positional arguments but 3 were given"),
    (("a",), {"reference": "b"}, "score() got multiple values for argument 'reference'"),
    (("a", "b"), {"Reference": "c"}, "score() got an unexpected keyword argument 'Reference'"),
    (("a", "b"), {"other": "c"}, "score() got an unexpected keyword argument 'other'"),
    ((), {"first": 1, "second": 2}, "score() got an unexpected keyword argument 'first'"),
    (("a", "b"), {"\ud800": 1}, "score() got an unexpected keyword argument '\ufffd\ufffd\ufffd'"),
]


@pytest.mark.parametrize("args, kwargs, message", BINDING_ERRORS)
def test_binding_errors(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        score(*args, **kwargs)
    assert str(info.value) == message
    assert not hasattr(info.value, "__notes__")


CONVERSION_ERRORS = [
    ((1, "b"), TypeError, "'int' object is not an instance of 'str'", "reference"),
    ((1, None), TypeError, "'int' object is not an instance of 'str'", "reference"),
    (("x", None), TypeError, "'None' is not an instance of 'str'", "prediction"),
    ((b"x", "y"), TypeError, "'bytes' object is not an instance of 'str'", "reference"),
    (("x", ["y"]), TypeError, "'list' object is not an instance of 'str'", "prediction"),
    (("\ud800", "b"), UnicodeEncodeError, None, "reference"),
    (("a", "ok \udfff"), UnicodeEncodeError, None, "prediction"),
]


@pytest.mark.parametrize("args, kind, message, parameter", CONVERSION_ERRORS)
def test_conversion_errors_carry_a_note(args, kind, message, parameter):
    with pytest.raises(kind) as info:
        score(*args)
    assert type(info.value) is kind
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{parameter}'"]


class Outer:
    class Inner:
        pass


def test_type_mismatch_names_the_qualified_type():
    with pytest.raises(TypeError) as info:
        score(Outer.Inner(), "x")
    assert str(info.value) == "'Outer.Inner' object is not an instance of 'str'"


def test_calls_keep_working_after_errors():
    for _ in range(3):
        with pytest.raises(TypeError):
            score(1, 2)
    assert triples(score("a", "a"))[0] == ONE
