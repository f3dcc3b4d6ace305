"""Seeded summaries and option strings for the tests against the ROUGE-1.5.5
script: words that reach its stemmer, exception lists and stop words,
punctuation, hyphens, digits, $, non-ASCII text, white space of every kind
and empty lines; one or several references; the script's flag matrix."""

from __future__ import annotations

import random

WORDS = [
    "the", "The", "a", "cat", "cats", "sat", "sitting", "on", "mat", "mats", "police", "policeman", "policemen",
    "killed", "killing", "gunman", "was", "were", "is", "be", "best", "better", "comics", "testes", "running", "runs",
    "generalization", "fundamental", "agreed", "feed", "yelling", "syzygy", "happy", "happiness", "relational",
    "25-years", "$500", "3.14", "1990s", "U.S.", "don't", "co-operate", "e-mail", "x1", "I", "of", "and", "to",
    "caf\u00e9", "na\u00efve", "\u4e2d\u6587", "Stra\u00dfe", "--", "-", "(a)", "[b]", "it's", "ab-cd-ef", "AP",
    "Reuters", "reuters", "jan", "mon", "well", "good", "said", "says", "saying", "studies", "studying", "ponies",
    "caresses",
]
SEPARATORS = [" ", " ", " ", " ", "  ", "\t", ", ", ". ", "-", "!", "\u00a0", "/", "\x0b", "\r", " - "]


def sentence(rng: random.Random, most: int = 12) -> str:
    words = []
    for _ in range(rng.randint(0 if rng.random() < 0.1 else 1, most)):
        words += [rng.choice(WORDS), rng.choice(SEPARATORS)]
    text = "".join(words)
    if rng.random() < 0.15:
        text = rng.choice([" ", "\t"]) + text
    return text


def summary(rng: random.Random, most: int = 4):
    """A str with one sentence per line, or a list of sentences."""
    lines = [sentence(rng) for _ in range(rng.randint(0 if rng.random() < 0.05 else 1, most))]
    if rng.random() < 0.1:
        lines.insert(rng.randint(0, len(lines)), "")
    if rng.random() < 0.1:
        lines.insert(rng.randint(0, len(lines)), "   ")
    if rng.random() < 0.3:
        return lines
    text = "\n".join(lines) + ("\n" if rng.random() < 0.5 else "")
    return text.replace("\n", "\r\n") if rng.random() < 0.05 else text


def edited(rng: random.Random, text) -> str:
    """A prediction made from a reference: words dropped and moved."""
    words = [w for w in ("\n".join(text) if isinstance(text, list) else text).split(" ") if rng.random() < 0.8]
    if len(words) > 3 and rng.random() < 0.5:
        words.insert(rng.randrange(len(words)), words.pop(rng.randrange(len(words))))
    return " ".join(words)


def options(rng: random.Random, resamples=(1, 2, 10, 100)) -> str:
    flags = []
    if rng.random() < 0.8:
        flags += ["-n", str(rng.randint(0, 5))]
    if rng.random() < 0.3:
        flags.append("-m")
    if rng.random() < 0.2:
        flags.append("-s")
    roll = rng.random()
    if roll < 0.15:
        flags += ["-l", str(rng.randint(1, 30))]
    elif roll < 0.3:
        flags += ["-b", str(rng.randint(1, 150))]
    if rng.random() < 0.6:
        flags += ["-2", str(rng.choice([-1, 0, 1, 4, 9]))]
        roll = rng.random()
        if roll < 0.3:
            flags.append("-u")
        elif roll < 0.6:
            flags.append("-U")
    if rng.random() < 0.5:
        flags += ["-w", rng.choice(["1.2", "1.5", "2", "0.5"])]
    if rng.random() < 0.15:
        flags.append("-x")
    if rng.random() < 0.3:
        flags += ["-f", rng.choice("AB")]
    if rng.random() < 0.2:
        flags += ["-p", rng.choice(["0", "1", "0.3", "0.75"])]
    if rng.random() < 0.4:
        flags += ["-t", rng.choice("012")]
    if rng.random() < 0.3:
        flags += ["-c", rng.choice(["95", "90", "99.5", "0", "100", "50"])]
    flags += ["-r", str(rng.choice(resamples))]
    if rng.random() < 0.5:
        flags.append("-d")
    return " ".join(flags)


def evaluation(seed: int, most_pairs: int = 25, resamples=(1, 2, 10, 100)):
    """(predictions, references, options) for one run of the script."""
    rng = random.Random(seed)
    predictions, references = [], []
    for _ in range(rng.randint(1, most_pairs)):
        reference = summary(rng)
        count = rng.choice([1, 1, 2, 3])
        several = [reference] + [summary(rng) if rng.random() < 0.5 else edited(rng, reference)
                                 for _ in range(count - 1)]
        prediction = edited(rng, reference) if rng.random() < 0.7 else summary(rng)
        if rng.random() < 0.3 and isinstance(prediction, str):
            prediction = prediction.split("\n")
        predictions.append(prediction)
        # A bare list of sentences would read as several references.
        one = count == 1 and rng.random() < 0.5 and not isinstance(reference, list)
        references.append(reference if one else several)
    return predictions, references, options(rng, resamples)
