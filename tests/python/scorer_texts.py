"""Seeded texts for the differential tests of tallygrams_scorer: several
lines (blank lines, "\\r\\n", lines without tokens), words that stem, and
small vocabularies that repeat, where many LCSs of equal length exist."""

import random

from textgen import SEPARATORS, WORDS

# Words with suffixes the Porter stemmer strips, in several forms.
STEMMED = [
    "running", "runs", "ran", "runner", "connection", "connected", "connecting", "generously", "generous",
    "happiness", "happily", "relational", "conditional", "rationalization", "hopeful", "goodness", "agreed",
    "plastered", "motoring", "sing", "skies", "dying", "lying", "news", "innings", "proceed", "exceed",
    "cats", "ponies", "caresses", "ties", "feed", "bled", "sized", "filing", "falling", "hissing",
]
LINE_BREAKS = ["\n", "\n", "\r\n", "\n\n", "\n \n", "\n.\n"]


def line(rng, vocabulary, max_words):
    pieces = []
    for _ in range(rng.randrange(max_words + 1)):
        pieces.append(rng.choice(vocabulary))
        pieces.append(rng.choice(SEPARATORS[:6]))
    return "".join(pieces).strip(" ")


def text(rng, vocabulary=None, max_lines=5, max_words=12):
    vocabulary = vocabulary or (WORDS + STEMMED)
    lines = [line(rng, vocabulary, max_words) for _ in range(rng.randrange(max_lines + 1))]
    out = ""
    for k, piece in enumerate(lines):
        if k:
            out += rng.choice(LINE_BREAKS)
        out += piece
    return out


def repetitive(rng, max_lines=4, max_words=14):
    """Two or three distinct tokens: LCS ties everywhere."""
    vocabulary = rng.sample(["a", "b", "c", "A", "b."], rng.randrange(2, 4))
    return text(rng, vocabulary, max_lines, max_words)


def pairs(seed, count, maker=text):
    rng = random.Random(seed)
    out = []
    for _ in range(count):
        reference = maker(rng)
        if rng.random() < 0.4:
            # An edit of the reference, for real overlap.
            words = reference.split(" ")
            prediction = " ".join(w for w in words if rng.random() < 0.85)
        else:
            prediction = maker(rng)
        out.append((reference, prediction))
    return out
