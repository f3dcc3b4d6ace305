"""tallygrams_scorer against rouge-score itself, bit for bit: every rouge
type from rouge1 to rouge9, rougeL and rougeLsum, with and without stemming,
one or several references, the caller's own tokenizer, and batches.

Scores are compared as the exact tuples rouge-score returns, types included
(rougeL and rougeLsum give the integers 0 when a text has no tokens)."""

import itertools
import random

import pyarrow as pa
import pytest
from rouge_score import rouge_scorer

import scorer_texts
import tallygrams_scorer

ALL_TYPES = [f"rouge{n}" for n in range(1, 10)] + ["rougeL", "rougeLsum"]


def exact(scores):
    """A dict of scores as comparable values that keep each number's type."""
    return [(key, tuple((type(v), v.hex() if isinstance(v, float) else v) for v in score))
            for key, score in scores.items()]


def assert_same(ours, theirs, context):
    assert exact(ours) == exact(theirs), context


def type_sets(seed, count):
    rng = random.Random(seed)
    sets = [[t] for t in ALL_TYPES] + [ALL_TYPES]
    sets += [rng.sample(ALL_TYPES, rng.randrange(1, len(ALL_TYPES) + 1)) for _ in range(count)]
    return sets


@pytest.mark.parametrize("use_stemmer", [False, True], ids=["plain", "stemmed"])
@pytest.mark.parametrize("maker", [scorer_texts.text, scorer_texts.repetitive], ids=["mixed", "repetitive"])
def test_score_equals_the_peer(use_stemmer, maker):
    texts = scorer_texts.pairs(7, 300, maker)
    for types in type_sets(11, 6):
        peer = rouge_scorer.RougeScorer(types, use_stemmer=use_stemmer)
        ours = tallygrams_scorer.RougeScorer(types, use_stemmer=use_stemmer)
        for reference, prediction in texts:
            assert_same(ours.score(reference, prediction), peer.score(reference, prediction),
                        (types, reference, prediction))


def test_summary_lcs_ties_on_repetitive_text():
    # Where many LCSs exist, the one the peer's traceback picks decides the
    # hits; thousands of such pairs.
    peer = rouge_scorer.RougeScorer(["rougeLsum"])
    ours = tallygrams_scorer.RougeScorer(["rougeLsum"])
    for reference, prediction in scorer_texts.pairs(23, 4000, scorer_texts.repetitive):
        assert_same(ours.score(reference, prediction), peer.score(reference, prediction), (reference, prediction))


@pytest.mark.parametrize("use_stemmer", [False, True])
def test_score_multi_equals_the_peer(use_stemmer):
    rng = random.Random(5)
    types = ["rouge1", "rouge2", "rouge4", "rougeL", "rougeLsum"]
    peer = rouge_scorer.RougeScorer(types, use_stemmer=use_stemmer)
    ours = tallygrams_scorer.RougeScorer(types, use_stemmer=use_stemmer)
    for _ in range(400):
        prediction = scorer_texts.repetitive(rng)
        references = [scorer_texts.repetitive(rng) for _ in range(rng.randrange(1, 5))]
        if rng.random() < 0.3:
            references.append(rng.choice(references))  # equal maxima: the first one wins
        if rng.random() < 0.1:
            references.insert(0, "")
        assert_same(ours.score_multi(references, prediction), peer.score_multi(references, prediction),
                    (references, prediction))


def test_score_batch_equals_score_and_score_multi():
    rng = random.Random(9)
    ours = tallygrams_scorer.RougeScorer(["rouge1", "rouge3", "rougeL", "rougeLsum"], use_stemmer=True)
    targets, predictions = [], []
    for reference, prediction in scorer_texts.pairs(3, 500):
        targets.append(reference if rng.random() < 0.7 else [reference, scorer_texts.text(rng)])
        predictions.append(prediction)
    expected = [ours.score_multi(t, p) if isinstance(t, list) else ours.score(t, p)
                for t, p in zip(targets, predictions)]
    assert [exact(d) for d in ours.score_batch(targets, predictions)] == [exact(d) for d in expected]
    assert ours.score_batch([], []) == []


class WhitespaceTokenizer:
    """The peer's tokenizer contract: an object with tokenize(text). Keeps
    case and punctuation, and gives empty tokens for doubled spaces."""

    def tokenize(self, text):
        return text.split(" ")


@pytest.mark.parametrize("tokenizer", [WhitespaceTokenizer(), lambda text: list(text.lower())],
                         ids=["object", "callable"])
def test_own_tokenizer_equals_the_peer(tokenizer):
    peer_tokenizer = tokenizer if hasattr(tokenizer, "tokenize") else type("T", (), {"tokenize": staticmethod(tokenizer)})()
    types = ["rouge1", "rouge2", "rougeL", "rougeLsum"]
    # use_stemmer is ignored with a tokenizer of one's own, as in the peer.
    peer = rouge_scorer.RougeScorer(types, use_stemmer=True, tokenizer=peer_tokenizer)
    ours = tallygrams_scorer.RougeScorer(types, use_stemmer=True, tokenizer=tokenizer)
    texts = scorer_texts.pairs(31, 300)
    for reference, prediction in texts:
        assert_same(ours.score(reference, prediction), peer.score(reference, prediction), (reference, prediction))
    batch = ours.score_batch([r for r, _ in texts], [p for _, p in texts])
    assert [exact(d) for d in batch] == [exact(peer.score(r, p)) for r, p in texts]


def test_duplicate_and_quirky_type_names_keep_the_peers_keys():
    types = ["rougeL", "rouge2", "rougeL", "rouge2\n", "rouge1"]
    peer = rouge_scorer.RougeScorer(types)
    ours = tallygrams_scorer.RougeScorer(types)
    for reference, prediction in scorer_texts.pairs(2, 50):
        assert_same(ours.score(reference, prediction), peer.score(reference, prediction), (reference, prediction))


def test_tokens_longer_than_a_copy_block_equal_the_peer():
    # A caller's tokens are copied into 64 KiB blocks; a longer token gets a
    # block of its own, and the tokens after it go on in a fresh one.
    tokenizer = WhitespaceTokenizer()
    long_a, long_b = "a" * 100_000, "é" * 40_000
    texts = [(f"x {long_a} y  {long_b}\nz {long_a}", f"{long_b} x\n{long_a} {long_a[:-1]} z"),
             (" ".join(["w"] * 30_000), f"w {long_a} w")]
    types = ["rouge1", "rouge2", "rougeL", "rougeLsum"]
    peer = rouge_scorer.RougeScorer(types, tokenizer=tokenizer)
    ours = tallygrams_scorer.RougeScorer(types, tokenizer=tokenizer)
    batch = ours.score_batch([r for r, _ in texts], [p for _, p in texts])
    assert [exact(d) for d in batch] == [exact(peer.score(r, p)) for r, p in texts]


@pytest.mark.parametrize("tokenizer", [None, str.split], ids=["built-in", "caller's"])
def test_batches_of_several_chunks_equal_pair_by_pair(tokenizer):
    # Batches are prepared and scored 16,384 pairs at a time.
    rng = random.Random(3)
    words = ["a", "b", "c", "d", "e"]
    texts = [" ".join(rng.choices(words, k=rng.randrange(0, 9))) for _ in range(2 * 16_384 + 7)]
    references, predictions = texts, texts[1:] + texts[:1]
    ours = tallygrams_scorer.RougeScorer(["rouge2", "rougeL"], tokenizer=tokenizer)
    expected = [exact(ours.score(r, p)) for r, p in zip(references, predictions)]
    assert [exact(d) for d in ours.score_batch(references, predictions)] == expected
    columns = ours.score_arrow(pa.array(references), pa.array(predictions)).column("rougeL_fmeasure")
    assert columns == [ours.score(r, p)["rougeL"].fmeasure for r, p in zip(references, predictions)]
