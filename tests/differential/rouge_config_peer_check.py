"""The configurable scorer against rouge-score itself.

Generates cases like the native differential tests do (repetitive small
vocabularies over lines with blank lines, "\\r\\n" and lines without tokens;
random metric lists with duplicates, every n from 1 to 9 and the
trailing-newline spelling; several references with tied maxima), has the
scorer's driver score them, and compares every result with
RougeScorer.score_multi: the same floats bit for bit, and ints exactly where
the peer gives ints. This checks the C++ transcription the native tests rely
on against the real thing, and the Porter stemmer through the tokenizer's
transform hook against use_stemmer=True.

    python rouge_config_peer_check.py DRIVER [CASES] [SEED]
"""

import random
import subprocess
import sys

import nltk
from rouge_score import rouge_scorer, tokenize, tokenizers

EXPECTED_NLTK = "3.10.4"

LINES, SPLIT_SENTENCES, OWN_TOKENS = 0, 1, 2  # Tokenization in rouge_config_checks.hpp
NO_STEMMING, TOY, PORTER = 0, 1, 2  # Stemming

NAMES = ["rouge1", "rouge2", "rouge3", "rouge4", "rouge5", "rouge6", "rouge7", "rouge8", "rouge9",
         "rougeL", "rougeLsum", "rouge2\n"]
VOCABULARIES = [
    ["a", "b"], ["a", "b", "c"], ["a", "A", "b", "c", "d"], ["the", "cat", "sat", "on", "mat", "a"],
    ["bomb", "bombs", "cats", "catsup", "zebra", "zz", "abc", "abcd", "abcde"],
    ["x", "\u0130", "\u212a", "k", "i", "caf\u00e9", "cafe"],
    ["running", "runs", "ran", "generously", "generous", "flies", "fly", "a"],
]
SEPARATORS = [" ", " ", " ", "  ", ", ", ". ", "\n", "\n", "\n\n", "\r\n", "\n!!\n", " ?\n", ".\n", "\n \n"]


class ToyStemmer:
    """The stand-in stemmer of tests/oracles/rouge_config_checks.hpp."""

    def stem(self, word):
        if word[0] == "z":
            return ""
        if word[-1] == "b":
            return word + "e"
        return word[:4]


class ToyStemTokenizer(tokenizers.Tokenizer):
    def tokenize(self, text):
        return tokenize.tokenize(text, ToyStemmer())


class SpaceTokenizer(tokenizers.Tokenizer):
    def tokenize(self, text):
        return text.split(" ")


class PeriodSplitter:
    """Stands in for NLTK's sentence splitter when split_summaries is set."""

    sent_tokenize = staticmethod(lambda text: text.split("."))


def generate(rng, count):
    def text(vocabulary, longest):
        tokens = rng.randint(0, longest)
        out = "\n" if rng.random() < 0.15 else ""
        separators = SEPARATORS[:7] if longest > 30 else SEPARATORS
        for i in range(tokens):
            out += rng.choice(vocabulary)
            if i + 1 < tokens or rng.random() < 0.25:
                out += rng.choice(separators)
        return out

    for _ in range(count):
        tokenization = rng.randrange(3)
        stemming = rng.randrange(3) if tokenization != OWN_TOKENS else NO_STEMMING
        names = ["rougeLsum"] if rng.random() < 0.12 else [rng.choice(NAMES) for _ in range(rng.randint(1, 6))]
        vocabulary = rng.choice(VOCABULARIES)
        longest = rng.choice([30] * 17 + [120] * 2 + [300])
        prediction = text(vocabulary, longest)
        references = []
        for _ in range(rng.randint(1, 4)):
            roll = rng.random()
            if roll < 0.1 and references:
                references.append(rng.choice(references))
            elif roll < 0.2:
                references.append(prediction)
            else:
                references.append(text(vocabulary, longest))
        yield tokenization, stemming, names, prediction, references


def peer_scores(tokenization, stemming, names, prediction, references):
    tokenizer = None
    if tokenization == OWN_TOKENS:
        tokenizer = SpaceTokenizer()
    elif stemming == TOY:
        tokenizer = ToyStemTokenizer()
    scorer = rouge_scorer.RougeScorer(names, use_stemmer=stemming == PORTER,
                                      split_summaries=tokenization == SPLIT_SENTENCES, tokenizer=tokenizer)
    saved = rouge_scorer.nltk
    rouge_scorer.nltk = PeriodSplitter if tokenization == SPLIT_SENTENCES else saved
    try:
        return scorer.score_multi(references, prediction)
    finally:
        rouge_scorer.nltk = saved


def main():
    if nltk.__version__ != EXPECTED_NLTK:
        sys.exit(f"rouge_config_peer_check: NLTK {EXPECTED_NLTK} expected (its stemmer changes between "
                 f"releases), found {nltk.__version__}")
    driver = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 6000
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 2024)
    cases = list(generate(rng, count))

    def hex_of(text):
        return text.encode("utf-8").hex()

    lines = []
    for tokenization, stemming, names, prediction, references in cases:
        fields = [str(tokenization), str(stemming), ",".join(hex_of(n) for n in names), hex_of(prediction)]
        lines.append("\t".join(fields + [hex_of(r) for r in references]) + "\n")
    output = subprocess.run([driver], input="".join(lines).encode(), capture_output=True, check=True)
    results = output.stdout.decode().split("\n")

    mismatches = 0
    nonzero_summary = 0
    for case, line in zip(cases, results):
        expected = peer_scores(*case)
        actual = [entry.split(" ") for entry in line.split("\t")] if line else []
        same = len(actual) == len(expected)
        for (name, score), fields in zip(expected.items(), actual):
            integers = fields[4] == "1"
            same &= (bytes.fromhex(fields[0]).decode() == name
                     and [float(x) for x in fields[1:4]] == [score.precision, score.recall, score.fmeasure]
                     and all(type(x) is (int if integers else float) for x in score))
            nonzero_summary += name == "rougeLsum" and score.fmeasure > 0
        if not same:
            mismatches += 1
            if mismatches <= 3:
                print(f"MISMATCH {case!r}\n  rouge-score: {dict(expected)}\n  scorer: {actual}")
    print(f"{len(cases)} cases, {mismatches} mismatches; {nonzero_summary} non-zero rougeLsum results")
    sys.exit(1 if mismatches or len(results) < len(cases) else 0)


if __name__ == "__main__":
    main()
