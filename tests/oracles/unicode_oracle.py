"""The tokenizer for every script, written straight from its definition.

A text is lower-cased with `str.lower()`. A token is a maximal run of
characters whose general category begins with L, M or N, except that each
such character in the ranges of the scripts written without spaces is a
token by itself. Everything else separates tokens.

`events` also reports line breaks, as the summary-level metric needs them:
the text is split at "\\n" and each line tokenized alone, with NEWLINE
between the lines' tokens.
"""

from __future__ import annotations

import bisect
import unicodedata

NEWLINE = "\n"  # never a token: a token holds only letters, marks and numbers

# Thai and Lao, Myanmar, Khmer, Hiragana and Katakana, Katakana extensions,
# CJK extension A, CJK unified ideographs, CJK compatibility ideographs, and
# the supplementary and tertiary ideographic planes.
OWN_TOKEN_RANGES = (
    (0x0E00, 0x0EFF),
    (0x1000, 0x109F),
    (0x1780, 0x17FF),
    (0x3040, 0x30FF),
    (0x31F0, 0x31FF),
    (0x3400, 0x4DBF),
    (0x4E00, 0x9FFF),
    (0xF900, 0xFAFF),
    (0x20000, 0x3FFFF),
)


_RANGE_STARTS = [low for low, _ in OWN_TOKEN_RANGES]


def is_token_character(ch: str) -> bool:
    return unicodedata.category(ch)[0] in "LMN"


def in_own_token_range(ch: str) -> bool:
    cp = ord(ch)
    at = bisect.bisect_right(_RANGE_STARTS, cp) - 1
    return at >= 0 and cp <= OWN_TOKEN_RANGES[at][1]


def tokens(text: str) -> list[str]:
    """The tokens of one text (line breaks are ordinary separators here)."""
    found: list[str] = []
    run: list[str] = []
    for ch in text.lower():
        token_character = is_token_character(ch)
        if token_character and not in_own_token_range(ch):
            run.append(ch)
            continue
        if run:
            found.append("".join(run))
            run = []
        if token_character:
            found.append(ch)
    if run:
        found.append("".join(run))
    return found


def events(text: str) -> list[str]:
    """Tokens of each line of `text`, with NEWLINE between lines."""
    out: list[str] = []
    for number, line in enumerate(text.split("\n")):
        if number:
            out.append(NEWLINE)
        out.extend(tokens(line))
    return out
