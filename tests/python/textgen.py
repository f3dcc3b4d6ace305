"""Seeded generators of awkward reference/prediction pairs for tests."""

import random

# Small vocabulary so that pairs share tokens; pieces exercise case folding,
# digits, separators and the non-ASCII characters that behave specially.
WORDS = [
    "the", "The", "THE", "cat", "Cat", "sat", "on", "mat", "a", "b", "ab", "ba",
    "x1", "1x", "2020s", "3.14", "don't", "snake_case", "COVID-19",
    "\u0130stanbul", "\u212aelvin", "a\u212ab", "\u03a3\u03bf\u03c6\u03af\u03b1\u03a3",
    "caf\u00e9", "cafe\u0301", "na\u00efve", "Stra\u00dfe", "\u4e2d\u6587", "\U0001F600",
    "x\u00b2", "\uff21\uff11", "\u0130", "\u212a",
]
SEPARATORS = [" ", " ", " ", "  ", "\t", "\n", ", ", ". ", "\x00", "-", "_", "!", "\u00a0", "\u3000"]


def text(rng: random.Random, max_words: int = 25) -> str:
    pieces = []
    for _ in range(rng.randrange(max_words + 1)):
        pieces.append(rng.choice(WORDS))
        pieces.append(rng.choice(SEPARATORS))
    if pieces and rng.random() < 0.5:
        pieces.pop()
    return "".join(pieces)


def pairs(seed: int, count: int, max_words: int = 25) -> list[tuple[str, str]]:
    rng = random.Random(seed)
    out = []
    for _ in range(count):
        reference = text(rng, max_words)
        # Half the predictions are edits of the reference, for real overlap.
        if rng.random() < 0.5:
            words = reference.split(" ")
            rng.shuffle(words[: rng.randrange(len(words) + 1)])
            prediction = " ".join(w for w in words if rng.random() < 0.8)
        else:
            prediction = text(rng, max_words)
        out.append((reference, prediction))
    return out
