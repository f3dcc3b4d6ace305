"""The native tokenizer for every script against the Python oracle.

    python unicode_differential.py PATH/TO/unicode_tokens

Run with the interpreter that generated the tables (CMake passes the same
one), so both sides read the same Unicode data. Compares, token for token
and line break for line break:

- every code point, alone as a whole text and in contexts: between ASCII
  letters, between other letters, in front of and behind a capital sigma
  (the final-sigma rule looks past case-ignorable characters both ways);
- real sentences in many scripts, as written and upper-cased;
- random texts made of the tricky pieces, with and without malformed bytes
  (which must behave as Python's errors="replace" decoding).

The oracle tokenizes each line separately, the native tokenizer the whole
text, so any text with a line break also checks that lower-casing the whole
text never moves or looks across one.
"""

from __future__ import annotations

import random
import subprocess
import sys
import unicodedata
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "oracles"))
import unicode_oracle  # noqa: E402

SIGMA = "\u03a3"
TIMEOUT = 300  # seconds for one run of the native tool; it takes well under one


def frame(texts: list[bytes]) -> bytes:
    return b"".join(len(t).to_bytes(4, "little") + t for t in texts)


def native_events(tool: str, texts: list[bytes]) -> list[list[str]]:
    done = subprocess.run([tool], input=frame(texts), capture_output=True, timeout=TIMEOUT, check=True)
    chunks = done.stdout.split(b"\x1e")
    assert chunks[-1] == b"" and len(chunks) == len(texts) + 1, "the tool lost or added texts"
    return [[e.decode() for e in chunk.split(b"\x1f")[:-1]] for chunk in chunks[:-1]]


def first_difference(a: list[str], b: list[str]) -> int:
    return next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))


class Mismatches:
    def __init__(self) -> None:
        self.count = 0

    def check(self, tool: str, what: str, texts: list[str], raw: list[bytes] | None = None,
              report: bool = True) -> int:
        """Texts as str (or as raw bytes, read with errors='replace'); returns
        how many differ, and describes the first few."""
        if raw is None:
            raw = [t.encode() for t in texts]
        differing = 0
        for text, data, events in zip(texts, raw, native_events(tool, raw)):
            expected = unicode_oracle.events(text)
            if events == expected:
                continue
            differing += 1
            if report:
                self.count += 1
                if self.count <= 20:
                    at = first_difference(events, expected)
                    print(f"MISMATCH ({what}) for {data[:200]!r}: from event {at}\n"
                          f"  native {events[at:at + 5]!r}\n  oracle {expected[at:at + 5]!r}")
        return differing


def code_points() -> list[str]:
    return [chr(cp) for cp in range(sys.maxunicode + 1) if not 0xD800 <= cp <= 0xDFFF]


def contexts(x: str) -> list[str]:
    return [
        x,
        "a" + x + "b",               # joins or splits ASCII
        "\u00e9" + x + "\u4e2d",     # after a non-ASCII letter, before an own token
        "A" + x + SIGMA,             # look-behind through x
        x + SIGMA,                   # x decides alone, nothing cased before it
        "A" + SIGMA + x,             # look-ahead through x to the edge
        "A" + SIGMA + x + "b",       # look-ahead through x to a cased letter
        "0123456789abcdef" + x.upper() + "XYZ",  # a case pair inside a long ASCII run
    ]


def check_every_code_point(tool: str, mismatches: Mismatches) -> int:
    everything = code_points()
    # Each alone, as a whole text: the edges of the text.
    for start in range(0, len(everything), 1 << 17):
        batch = everything[start:start + (1 << 17)]
        mismatches.check(tool, "alone", batch)
    # In contexts, many per text: a space is neither cased nor
    # case-ignorable, so contexts separated by spaces do not interact.
    group = 256
    texts = [" ".join(c for x in everything[i:i + group] for c in contexts(x))
             for i in range(0, len(everything), group)]
    for start in range(0, len(texts), 256):
        batch = texts[start:start + 256]
        if mismatches.check(tool, "contexts", batch, report=False):
            # Pin the failures down to single contexts.
            first = start * group
            singles = [c for x in everything[first:first + len(batch) * group] for c in contexts(x)]
            mismatches.check(tool, "single context", singles)
    return len(everything)


SENTENCES = [
    "The quick brown fox jumps over the lazy dog. It's 2024-05-01, isn't it?",
    "\u092d\u093e\u0930\u0924 \u090f\u0915 \u0935\u093f\u0936\u093e\u0932 \u0926\u0947\u0936 \u0939\u0948\u0964\n"
    "\u092f\u0939 \u0926\u0942\u0938\u0930\u0940 \u092a\u0902\u0915\u094d\u0924\u093f \u0939\u0948",
    "\u6211\u7231\u5317\u4eac\u5929\u5b89\u95e8\u3002\u4eca\u5929\u5929\u6c14\u5f88\u597d\uff01",
    "\u6771\u4eac\u306f\u65e5\u672c\u306e\u9996\u90fd\u3067\u3059\u3002\u30ab\u30bf\u30ab\u30ca\u3068"
    "\u3072\u3089\u304c\u306a\u3001\uff21\uff22\uff23\uff11\uff12\uff13\u3002",
    "\u0e20\u0e32\u0e29\u0e32\u0e44\u0e17\u0e22\u0e44\u0e21\u0e48\u0e21\u0e35\u0e01\u0e32\u0e23"
    "\u0e40\u0e27\u0e49\u0e19\u0e27\u0e23\u0e23\u0e04",
    "\u039f\u0394\u03a5\u03a3\u03a3\u0395\u03a5\u03a3 \u039a\u0391\u0399 \u03a0\u0397\u039d\u0395\u039b\u039f"
    "\u03a0\u0397. \u0397 \u0398\u0391\u039b\u0391\u03a3\u03a3\u0391, \u039f\u039b\u039f\u03a3 \u039f "
    "\u039a\u039f\u03a3\u039c\u039f\u03a3.\n\u03a3'\u0391\u0393\u0391\u03a0\u03a9 \u0391\u03a3' \u03a3\u0391\u03a3",
    "\u0130STANBUL'DA \u0130Y\u0130 G\u00dcNLER, \u0131\u0131\u0131I \u0130i",
    "\u0645\u0631\u062d\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645\u060c \u0643\u064a\u0641 "
    "\u062d\u0627\u0644\u0643\u061f \u0661\u0662\u0663 \u064e\u0628\u064f",
    "\uc548\ub155\ud558\uc138\uc694 \uc138\uacc4! \ud55c\uad6d\uc5b4 \ubb38\uc7a5\uc785\ub2c8\ub2e4.",
    "I \u2764\ufe0f NY \U0001F469\u200d\U0001F4BB coding \U0001F1EB\U0001F1F7 flags \U0001F44D\U0001F3FD ok",
    "e\u0301te\u0301, n\u0303, Z\u0335\u0321A\u0336LGO \u1e9b\u0323",
    "\u0645\u06cc\u200c\u062e\u0648\u0627\u0647\u0645 \u0915\u094d\u200d\u0937",
    "\u0e9e\u0eb2\u0eaa\u0eb2\u0ea5\u0eb2\u0ea7 \u1797\u17b6\u179f\u17b6\u1781\u17d2\u1798\u17c2\u179a "
    "\u1019\u103c\u1014\u103a\u1019\u102c\u1005\u1000\u102c\u1038",
    "\u041c\u041e\u0421\u041a\u0412\u0410 \u2014 \u0441\u0442\u043e\u043b\u0438\u0446\u0430 "
    "\u0420\u043e\u0441\u0441\u0438\u0438.\r\n\u05e9\u05b8\u05c1\u05dc\u05d5\u05b9\u05dd",
    "Ti\u1ebfng Vi\u1ec7t c\u00f3 d\u1ea5u. STRA\u1e9eE Stra\u00dfe \u0540\u0531\u0545\u0535\u0550\u0535\u0546",
    "\U00010400\U00010401 \u13a3\u13b3\u13a9 \u2160\u2161\u2162 \u2460\u2461 x\u00b2+y\u00b3",
    "\u0391\u03a3\u0301\u0345 \u0391\u0345\u03a3 \u03a3\u00ad\u03a3 A\u2019\u03a3 A:\u03a3:B \u212a\u212b",
    "mixed\u4e2d\u6587and\u3072\u3089\u304c\u306aand\u0e44\u0e17\u0e22 \U00020000\U0002A6D6x",
    "line one\nline two\n\n\u03a3\nA\u03a3\n\u03a3B\nend",
]


def check_sentences(tool: str, mismatches: Mismatches) -> int:
    texts = SENTENCES + [s.upper() for s in SENTENCES] + ["\n".join(SENTENCES)]
    mismatches.check(tool, "sentence", texts)
    return len(texts)


PIECES = [
    "a", "Z", "0", "9", " ", "\n", "\r", "'", ".", ":", "^", "`", "-", "\t",
    SIGMA, "\u03c3", "\u0391", "\u0301", "\u0345", "\u00ad", "\u2019", "\u0130", "\u212a",
    "\u00e9", "\u00c9", "\u4e2d", "\u3042", "\u0e01", "\u0e34", "\u1780", "\U00020000",
    "\U0001F600", "\u200d", "\ufe0f", "\u00a0", "\u2028", "\u0663", "\u00b2", "\u023a",
    "\u10a0", "\u1e9e", "\u05d0", "\u0928\u094d", "\uac00", "\u3000", "\U00010400",
    "abcdefghijklmnopq", "HELLO WORLD ",
]


def check_random_texts(tool: str, mismatches: Mismatches) -> int:
    rng = random.Random(20240501)
    texts = ["".join(rng.choice(PIECES) for _ in range(rng.randrange(60))) for _ in range(20000)]
    mismatches.check(tool, "random", texts)
    # Malformed bytes: stray, truncated and overlong sequences spliced in.
    bad = [b"\x80", b"\xbf", b"\xc0\x8a", b"\xc3", b"\xe4\xb8", b"\xed\xa0\x80", b"\xf4\x90\x80\x80",
           b"\xf0\x9f", b"\xff", b"\xfe"]
    raw = []
    for text in texts[:5000]:
        data = bytearray(text.encode())
        for _ in range(rng.randrange(1, 4)):
            at = rng.randrange(len(data) + 1)
            data[at:at] = rng.choice(bad)
        raw.append(bytes(data))
    mismatches.check(tool, "malformed", [r.decode("utf-8", "replace") for r in raw], raw)
    return len(texts) + len(raw)


def main() -> None:
    tool = sys.argv[1]
    version = subprocess.run([tool, "--version"], capture_output=True, text=True, check=True,
                             timeout=TIMEOUT).stdout.split()
    if version[0] != unicodedata.unidata_version:
        sys.exit(f"the tables hold Unicode {version[0]} (from Python {version[1]}), but this interpreter "
                 f"({sys.version.split()[0]}) has {unicodedata.unidata_version}: rebuild with this interpreter")
    mismatches = Mismatches()
    points = check_every_code_point(tool, mismatches)
    sentences = check_sentences(tool, mismatches)
    random_texts = check_random_texts(tool, mismatches)
    print(f"Unicode {version[0]}: {points} code points, each alone and in {len(contexts('x'))} contexts; "
          f"{sentences} sentences; {random_texts} random texts")
    if mismatches.count:
        sys.exit(f"{mismatches.count} texts tokenized differently")


if __name__ == "__main__":
    main()
