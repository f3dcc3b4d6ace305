"""Checks the native Porter stemmer word for word against NLTK's.

Usage: porter_stem_check.py PATH/TO/porter_stem_words

Feeds the stemmer executable every token of Debian's English word lists (as
rouge-score's tokenizer splits them) and a generated set of tokens, and
compares each stem with NLTK's PorterStemmer in its default mode, the one
rouge-score uses. The stems of every token are compared, whatever its length:
rouge-score stems only tokens longer than three characters, but that rule is
its caller's, not the stemmer's.

The generated set is meant to reach every branch of NLTK's stemmer, and the
check holds it to that: NLTK's branches are traced while it stems the
generated tokens, and a branch never taken fails the check (a branch that
only another mode of the stemmer can take is not counted).

Exit status 0 when every stem matches, 1 otherwise.
"""

import itertools
import pathlib
import random
import subprocess
import sys
import time

EXPECTED_NLTK = "3.10.4"

WORD_LISTS = {
    "wamerican": pathlib.Path("/usr/share/dict/american-english"),
    "wbritish": pathlib.Path("/usr/share/dict/british-english"),
    "wamerican-huge": pathlib.Path("/usr/share/dict/american-english-huge"),
}

MAX_MISMATCHES_SHOWN = 20


def fail(message):
    print(f"porter_stem_check: {message}", file=sys.stderr)
    sys.exit(1)


def load_nltk_stemmer():
    try:
        import nltk
        from nltk.stem import porter
    except ImportError as error:
        fail(f"cannot import NLTK ({error}); run this with the project's .venv/bin/python")
    if nltk.__version__ != EXPECTED_NLTK:
        fail(
            f"this check expects NLTK {EXPECTED_NLTK}, whose Porter stemmer the native one "
            f"reproduces, but found NLTK {nltk.__version__}; the stemmer has changed between "
            f"releases, so install the version pinned in requirements-dev.txt"
        )
    return porter


def word_list_tokens():
    """The distinct tokens of each word list after rouge-score's tokenization."""
    from rouge_score import tokenize

    tokens = {}
    for package, path in WORD_LISTS.items():
        if not path.exists():
            fail(f"{path} is missing; install the Debian package {package} (scripts/setup-dev.sh does)")
        found = set()
        with path.open(encoding="utf-8") as lines:
            for line in lines:
                found.update(tokenize.tokenize(line, None))
        tokens[package] = found
    return tokens


# Every suffix a rule of NLTK's stemmer looks at, and letters around them.
RULE_SUFFIXES = (
    # step 1a, 1b, 1c
    "sses ies ss s eed ed ing ied at bl iz y "
    # step 2
    "ational tional enci anci izer bli alli entli eli ousli ization ation ator alism "
    "iveness fulness ousness aliti iviti biliti fulli logi "
    # step 3
    "icate ative alize iciti ical ful ness "
    # step 4
    "al ance ence er ic able ible ant ement ment ent ion sion tion ou ism ate iti ous ive ize "
    # step 5a, 5b, and endings the tidying-up of step 1b produces
    "e ll l z bb ff ss zz tt yy ww xx 11"
).split()

# Endings that put one rule's suffix in front of another's.
INFLECTIONS = "s es ed ing ies ied eed y ly li e ness ful al ic ation izing alli ll".split()

# Stem fragments with the shapes the conditions ask about: measures 0 to 3,
# consonant-vowel-consonant ends with w, x and y, runs of y, digits.
REAL_STEMS = (
    "r n sens rel condit valen hesit digit conform radic differ vil analog vietnam predic oper feud "
    "decis hope callous form sensit sensib trip electr good reviv allow infer airlin gyroscop adjust "
    "defens irrit replac depend adopt homolog commun activ angular effect bowdler prob ceas control "
    "fil hop tann fall hiss fizz fail conflat troubl siz plaster bl motor s car pon ti spi agr fe "
    "geo theo archaeo philo happ enjo tr sp fl gener nation ration hyp tax show tr1 b4 2f"
).split()

SHAPE_ALPHABET = "abeilsty1wx"


def short_strings(alphabet, max_length):
    for length in range(0, max_length + 1):
        for letters in itertools.product(alphabet, repeat=length):
            yield "".join(letters)


def generated_tokens():
    """Tokens meant to reach every rule and branch, by kind."""
    from nltk.stem import porter

    kinds = {}
    alphabet = "abcdefghijklmnopqrstuvwxyz0123456789"
    # Every token of up to three characters: the short-word rule and the
    # smallest stems of every step.
    kinds["every token of 1-3 characters"] = set(short_strings(alphabet, 3)) - {""}
    # Four and five characters over letters that decide conditions.
    kinds["4-5 characters over 'aeybsdlt1'"] = {
        w for w in itertools.chain(short_strings("aeybsdlt1", 5)) if len(w) >= 4
    }
    # Each rule suffix after stems of every shape.
    shapes = list(short_strings(SHAPE_ALPHABET, 3)) + REAL_STEMS
    kinds["stem shapes x rule suffixes"] = {p + s for p in shapes for s in RULE_SUFFIXES}
    # Two suffixes in a row, so that one step's output feeds the next.
    few_shapes = list(short_strings("abey1", 2)) + REAL_STEMS[:12]
    kinds["stems x suffix x inflection"] = {
        p + s + i for p in few_shapes for s in RULE_SUFFIXES for i in INFLECTIONS
    }
    # The irregular forms, exactly and with a letter more or less.
    irregular = set()
    for word in porter.PorterStemmer().pool:
        irregular.update({word, word + "s", "s" + word, word[:-1], word[1:], word + "ly"})
    kinds["irregular forms and neighbours"] = irregular
    # Random tokens with English letter weights, y and digits.
    rng = random.Random(20240607)
    weighted = "eeeeeeeaaaaiiiioooouuttttnnnsssrrrhhlllddccmmffppggwwyyybbvkxjqz0123456789"
    kinds["random 1-16 characters"] = {
        "".join(rng.choice(weighted) for _ in range(rng.randint(1, 16))) for _ in range(40000)
    }
    # Tokens around 64 characters, where a stemmer might change how it keeps
    # track of a word.
    kinds["random 50-80 characters with rule suffixes"] = {
        "".join(rng.choice(weighted) for _ in range(rng.randint(50, 80) - len(suffix))) + suffix
        for suffix in RULE_SUFFIXES + INFLECTIONS
        for _ in range(60)
    }
    # Around 64 characters again, with measures near the thresholds (0, 1, 2)
    # so that the stems' vowels and consonants decide every condition.
    kinds["55-70 characters, few vowels, rule suffixes"] = {
        body + suffix
        for n in range(55, 71)
        for body in ("b" * n, "y" * n, "b" * (n - 1) + "a", "a" + "b" * (n - 1), "b" * (n - 2) + "ab",
                     "y" * (n - 1) + "a", "by" * (n // 2), "b" * (n - 3) + "eab", "b" * (n - 4) + "abab")
        for suffix in [""] + RULE_SUFFIXES + INFLECTIONS
    }
    # Very long tokens: whole runs of y (whose classes alternate), digits,
    # vowels, consonants and random letters, with rule suffixes after them.
    long_tokens = set()
    for length in (100, 1000, 20000):
        bodies = ["y" * length, "ay" * (length // 2), "by" * (length // 2), "1" * length,
                  "a" * length, "b" * length,
                  "".join(rng.choice(weighted) for _ in range(length))]
        for body in bodies:
            for suffix in ("", "s", "ies", "ied", "eed", "ing", "ed", "ational", "alli", "logi", "ement",
                           "ion", "e", "ll", "y", "izing", "ness"):
                long_tokens.add(body + suffix)
    long_tokens.add("y" * 300000)
    long_tokens.add("ab" * 150000 + "ational")
    kinds["long tokens (100 to 300,000 characters)"] = long_tokens
    for name, tokens in kinds.items():
        bad = [t for t in tokens if not t or not t.isascii() or not t.isalnum() or t != t.lower()]
        assert not bad, f"{name}: not tokens: {bad[:5]}"
    return kinds


def traced_branches(porter_module):
    """Starts tracing the branches of NLTK's stemmer; returns a function that
    stops and lists (line, source of the condition) of branches never taken."""
    monitoring = sys.monitoring
    events = monitoring.events
    tool = monitoring.COVERAGE_ID
    source = pathlib.Path(porter_module.__file__).read_text(encoding="utf-8").splitlines()

    def nested(code):
        yield code
        for constant in code.co_consts:
            if isinstance(constant, type(code)):
                yield from nested(constant)

    skipped_functions = {"__init__", "__repr__", "demo", "original_condition"}
    codes = [
        code
        for value in vars(porter_module.PorterStemmer).values()
        if callable(value) and hasattr(value, "__code__") and value.__name__ not in skipped_functions
        for code in nested(value.__code__)
        if code.co_name not in skipped_functions
    ]
    taken = set()

    def on_branch(code, offset, destination):
        taken.add((code, offset, destination))
        return monitoring.DISABLE

    monitoring.use_tool_id(tool, "porter_stem_check")
    monitoring.register_callback(tool, events.BRANCH_LEFT, on_branch)
    monitoring.register_callback(tool, events.BRANCH_RIGHT, on_branch)
    for code in codes:
        monitoring.set_local_events(tool, code, events.BRANCH_LEFT | events.BRANCH_RIGHT)

    def condition_text(code, offset):
        line, end_line, column, end_column = list(code.co_positions())[offset // 2]
        if line is None:
            return line, ""
        if line == end_line and column is not None:
            return line, source[line - 1][column:end_column]
        return line, source[line - 1].strip()

    def stop():
        for code in codes:
            monitoring.set_local_events(tool, code, 0)
        monitoring.free_tool_id(tool)
        missed, counted = [], 0
        for code in codes:
            for offset, left, right in code.co_branches():
                line, text = condition_text(code, offset)
                if line is None or cannot_branch_both_ways(line, text):
                    continue
                for destination in (left, right):
                    counted += 1
                    if (code, offset, destination) not in taken:
                        missed.append(
                            f"line {line} ({code.co_name}): '{text}' never went on to line "
                            f"{line_of(code, destination)}"
                        )
        return counted, missed

    def line_of(code, offset):
        return list(code.co_positions())[offset // 2][0]

    def cannot_branch_both_ways(line, text):
        # Only another mode of the stemmer takes one side of a mode test; an
        # assertion never fails; every call lower-cases; the one rule for a
        # double consonant has a condition, so its `condition is None` is
        # never true.
        return (
            "self.mode" in text
            or source[line - 1].strip().startswith("assert")
            or "to_lowercase" in text
            or (text == "condition is None" and '"*d"' in "".join(source[line - 4 : line - 1]))
        )

    return stop


def rule_recording_stemmer(porter_module):
    """An NLTK stemmer that records, for each rule of each step's table,
    whether it decided a word with its condition holding or failing. Returns
    the stemmer and a function listing the outcomes never seen."""
    seen = set()
    tables = {}

    class RecordingStemmer(porter_module.PorterStemmer):
        def _apply_rule_list(self, word, rules):
            result = super()._apply_rule_list(word, rules)
            step = sys._getframe(1).f_code.co_name
            if step not in tables:
                tables[step] = [(suffix, condition is not None) for suffix, _, condition in rules]
            for suffix, _, condition in rules:
                if suffix == "*d" and self._ends_double_consonant(word) or word.endswith(suffix):
                    # A rule with a condition changes the word exactly when
                    # the condition holds.
                    seen.add((step, suffix, condition is None or result != word))
                    break
            return result

    def never_seen():
        counted, missed = 0, []
        for step, rules in tables.items():
            for suffix, conditional in rules:
                for holds in (True, False) if conditional else (True,):
                    # Step 2 takes -alli off before its table whenever the
                    # table's own -alli rule would apply.
                    if (step, suffix, holds) == ("_step2", "alli", True):
                        continue
                    counted += 1
                    if (step, suffix, holds) not in seen:
                        missed.append(f"{step} -{suffix}: condition {'holding' if holds else 'failing'}")
        return counted, missed

    return RecordingStemmer(), never_seen


def run_native(executable, words):
    started = time.perf_counter()
    result = subprocess.run(
        [executable],
        input="".join(w + "\n" for w in words),
        capture_output=True,
        text=True,
        timeout=120,
    )
    if result.returncode != 0:
        fail(f"{executable} exited with status {result.returncode}: {result.stderr.strip()}")
    stems = result.stdout.split("\n")
    if stems[-1] != "" or len(stems) - 1 != len(words):
        fail(f"{executable} wrote {len(stems) - 1} lines for {len(words)} words")
    return stems[:-1], time.perf_counter() - started


def main():
    if len(sys.argv) != 2:
        fail("usage: porter_stem_check.py PATH/TO/porter_stem_words")
    porter = load_nltk_stemmer()
    started = time.perf_counter()
    kinds = {f"word list {name}": tokens for name, tokens in word_list_tokens().items()}
    generated = generated_tokens()
    kinds.update({f"generated: {name}": tokens for name, tokens in generated.items()})

    everything = sorted(set().union(*kinds.values()))
    native, native_seconds = run_native(sys.argv[1], everything)
    native_stem = dict(zip(everything, native))

    expected = {}
    recording, rules_never_seen = rule_recording_stemmer(porter)
    stop_tracing = traced_branches(porter)
    try:
        for word in set().union(*generated.values()):
            expected[word] = recording.stem(word)
    finally:
        branches_counted, branches_missed = stop_tracing()
    rule_outcomes, rule_outcomes_missed = rules_never_seen()
    stemmer = porter.PorterStemmer()
    for word in everything:
        if word not in expected:
            expected[word] = stemmer.stem(word)

    print(f"NLTK {EXPECTED_NLTK}, {len(everything):,} distinct tokens, native stemmer {native_seconds:.2f} s "
          f"(process and pipe included)")
    mismatched = set()
    for name, tokens in kinds.items():
        wrong = {w for w in tokens if native_stem[w] != expected[w]}
        mismatched |= wrong
        print(f"  {name}: {len(tokens):,} tokens, {len(wrong)} mismatches")
    ok = True
    if mismatched:
        ok = False
        print(f"FAIL: {len(mismatched)} tokens stem differently; the first (shortest) ones:")
        for word in sorted(mismatched, key=lambda w: (len(w), w))[:MAX_MISMATCHES_SHOWN]:
            shown = word if len(word) <= 60 else f"{word[:30]}...{word[-20:]} ({len(word)} chars)"
            print(f"  {shown}: NLTK {expected[word][:60]!r}, native {native_stem[word][:60]!r}")
    print(f"NLTK branches taken by the generated tokens: {branches_counted - len(branches_missed)} "
          f"of {branches_counted}")
    if branches_missed:
        ok = False
        print("FAIL: the generated tokens never take these branches of NLTK's stemmer:")
        for missed in branches_missed:
            print(f"  {missed}")
    print(f"Rule outcomes (a table's rule deciding a word, its condition holding or failing) reached by "
          f"the generated tokens: {rule_outcomes - len(rule_outcomes_missed)} of {rule_outcomes}")
    if rule_outcomes_missed:
        ok = False
        print("FAIL: the generated tokens never reach these rule outcomes:")
        for missed in rule_outcomes_missed:
            print(f"  {missed}")
    print(f"{'ok' if ok else 'FAILED'} in {time.perf_counter() - started:.1f} s")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
