"""Writes the Unicode tables of the tokenizer for every script.

Run at build time with the interpreter the module is built for, so that the
tables hold exactly what that interpreter's `str.lower()` and `unicodedata`
say, and a test oracle run with the same interpreter cannot disagree with
them:

    python generate_unicode_tables.py OUTPUT.hpp

For every code point the tables give one record: how `str.lower()` maps it,
the token class of what it maps to, and the two properties of the original
code point that CPython's final-sigma rule reads. Records are shared, and the
code points are looked up through two stages: the high bits of a code point
select a block, the low bits an entry of that block, and equal blocks are
stored once.

CPython lower-cases U+03A3 GREEK CAPITAL LETTER SIGMA to U+03C2 (final
sigma) when it stands in the Final_Sigma context

    cased case-ignorable* U+03A3 !(case-ignorable* cased)

and to U+03C3 otherwise. `unicodedata` exposes neither property, so they are
read off `str.lower()` itself, with three probes per code point X:

    P1  "A" + X + SIGMA   final iff X is case-ignorable, or cased
        (a case-ignorable X is skipped and "A" is cased; any other X
        decides alone)
    P2  X + SIGMA         final iff X is cased and not case-ignorable
        (a case-ignorable X is skipped and nothing cased precedes it)
    P3  "A" + SIGMA + X   final iff X is case-ignorable, or not cased
        (the look-ahead; only used to confirm the other two)

so X is case-ignorable iff P1 is final and P2 is not, and cased iff P2 is
final. CPython asks whether a character is cased only when it is not
case-ignorable (the scans step over case-ignorable characters first), so
that is all a probe can see and all the rule needs: the tables record
"cased" for characters that are not case-ignorable. The generator checks
that every code point answers P3 as the other two predict, and that U+03A3
is the only code point whose lower case depends on its neighbours.
"""

from __future__ import annotations

import argparse
import math
import sys
import unicodedata
from pathlib import Path

MAX_CODE_POINT = 0x10FFFF
CAPITAL_SIGMA = 0x03A3
SMALL_SIGMA = 0x03C3
FINAL_SIGMA = 0x03C2

# Token classes, as numbered in src/scorer/tokenizing/details/unicode_record.hpp.
SEPARATOR, TOKEN, OWN_TOKEN = 0, 1, 2
CLASS_NAMES = {SEPARATOR: "kSeparator", TOKEN: "kTokenPart", OWN_TOKEN: "kOwnToken"}
# Property bits of a record, same header.
CASE_IGNORABLE, CASED, MULTI_LOWERING = 0x4, 0x8, 0x10
MAX_LOWERING_LENGTH = 3  # Unicode's full case mappings never exceed three code points

# Scripts written without spaces between words: each letter, mark or number
# in these ranges is a token of its own.
OWN_TOKEN_RANGES = (
    (0x0E00, 0x0EFF),    # Thai, Lao
    (0x1000, 0x109F),    # Myanmar
    (0x1780, 0x17FF),    # Khmer
    (0x3040, 0x30FF),    # Hiragana, Katakana
    (0x31F0, 0x31FF),    # Katakana phonetic extensions
    (0x3400, 0x4DBF),    # CJK extension A
    (0x4E00, 0x9FFF),    # CJK unified ideographs
    (0xF900, 0xFAFF),    # CJK compatibility ideographs
    (0x20000, 0x3FFFF),  # supplementary and tertiary ideographic planes
)


def token_class(cp: int) -> int:
    if unicodedata.category(chr(cp))[0] not in "LMN":
        return SEPARATOR
    if any(low <= cp <= high for low, high in OWN_TOKEN_RANGES):
        return OWN_TOKEN
    return TOKEN


def lowers_to_final_sigma(text: str) -> bool:
    # The text ends in U+03A3, whose lower case is always one code point.
    return text.lower()[-1] == chr(FINAL_SIGMA)


def final_sigma_properties(cp: int) -> tuple[bool, bool]:
    """(case-ignorable, cased) of `cp`, read off str.lower() (see above)."""
    x, sigma = chr(cp), chr(CAPITAL_SIGMA)
    p1 = lowers_to_final_sigma("A" + x + sigma)
    p2 = lowers_to_final_sigma(x + sigma)
    p3 = ("A" + sigma + x).lower()[1] == chr(FINAL_SIGMA)
    case_ignorable = p1 and not p2
    cased = p2
    if p2 and not p1:
        raise SystemExit(f"U+{cp:04X}: final after nothing cased but not after 'A'; the probes' model is wrong")
    if p3 != (case_ignorable or not cased):
        raise SystemExit(f"U+{cp:04X}: the look-ahead disagrees with the look-behind; the probes' model is wrong")
    return case_ignorable, cased


def check_lowering_is_local(cp: int, lowered: str) -> None:
    """Only U+03A3 may lower-case differently beside other characters."""
    if cp == CAPITAL_SIGMA:
        return
    x = chr(cp)
    for before, after in (("A", ""), ("", "A"), ("A", "A"), ("\u0391", "\u0391"), (" ", " ")):
        got = (before + x + after).lower()
        if got != before.lower() + lowered + after.lower():
            raise SystemExit(f"U+{cp:04X} lower-cases differently in context {before!r}...{after!r}")


class Tables:
    def __init__(self) -> None:
        self.records: list[tuple[int, int]] = []  # (lowering, flags)
        self.record_ids: dict[tuple[int, int], int] = {}
        self.multi_lowerings: list[tuple[tuple[int, int], ...]] = []  # ((code point, class), ...)
        self.record_of: list[int] = []
        self.max_growth = (1, 1)  # lowered UTF-8 bytes per input byte, as a fraction
        self.case_ignorable = 0
        self.cased = 0
        self.changed = 0

    def add(self, cp: int) -> None:
        x = chr(cp)
        lowered = x.lower()
        if len(lowered) > MAX_LOWERING_LENGTH:
            raise SystemExit(f"U+{cp:04X} lower-cases to {len(lowered)} code points")
        check_lowering_is_local(cp, lowered)
        case_ignorable, cased = final_sigma_properties(cp)
        self.case_ignorable += case_ignorable
        self.cased += cased
        flags = (CASE_IGNORABLE if case_ignorable else 0) | (CASED if cased else 0)
        if len(lowered) == 1:
            lowering = ord(lowered) - cp
            flags |= token_class(ord(lowered))
        else:
            lowering = len(self.multi_lowerings)
            self.multi_lowerings.append(tuple((ord(c), token_class(ord(c))) for c in lowered))
            flags |= MULTI_LOWERING
        if lowered != x:
            self.changed += 1
        if 0xD800 <= cp <= 0xDFFF:
            in_bytes = out_bytes = 3  # never reached from valid UTF-8
        else:
            in_bytes, out_bytes = len(x.encode()), len(lowered.encode())
        if out_bytes * self.max_growth[1] > self.max_growth[0] * in_bytes:
            self.max_growth = (out_bytes, in_bytes)
        key = (lowering, flags)
        if key not in self.record_ids:
            self.record_ids[key] = len(self.records)
            self.records.append(key)
        self.record_of.append(self.record_ids[key])


def check_assumptions(tables: Tables) -> None:
    """What the tokenizer's fast paths take for granted about the tables."""
    for cp in range(0x80):
        c = chr(cp)
        if c.lower() != (chr(cp + 32) if "A" <= c <= "Z" else c):
            raise SystemExit(f"ASCII {c!r} does not lower-case as the ASCII path does")
        if (token_class(cp) == TOKEN) != c.isalnum() or token_class(cp) == OWN_TOKEN:
            raise SystemExit(f"ASCII {c!r} is not classed as the ASCII path classes it")
    # A line break stays where it is and ends any look-around of the sigma
    # rule just as the edge of the text would: it is neither cased nor
    # case-ignorable, and nothing else lower-cases to one.
    if final_sigma_properties(ord("\n")) != (False, False):
        raise SystemExit("'\\n' takes part in the final-sigma context")
    for cp in range(MAX_CODE_POINT + 1):
        lowered = chr(cp).lower()
        if ("\n" in lowered) != (cp == ord("\n")) or (cp == ord("\n") and lowered != "\n"):
            raise SystemExit(f"U+{cp:04X} lower-cases to a line break or moves one")
        if chr(CAPITAL_SIGMA) in lowered:
            raise SystemExit(f"U+{cp:04X} lower-cases to a capital sigma")
    if chr(CAPITAL_SIGMA).lower() != chr(SMALL_SIGMA):
        raise SystemExit("U+03A3 alone does not lower-case to U+03C3")
    if token_class(FINAL_SIGMA) != token_class(SMALL_SIGMA) or len(chr(FINAL_SIGMA).encode()) != 2:
        raise SystemExit("the two small sigmas differ in class or length")


def two_stage(values: list[int], shift: int) -> tuple[list[int], list[int]]:
    size = 1 << shift
    blocks: dict[tuple[int, ...], int] = {}
    stage1: list[int] = []
    stage2: list[int] = []
    for start in range(0, len(values), size):
        block = tuple(values[start:start + size])
        if block not in blocks:
            blocks[block] = len(blocks)
            stage2.extend(block)
        stage1.append(blocks[block])
    return stage1, stage2


def element_type(values: list[int]) -> tuple[str, int]:
    top = max(values)
    if top < 1 << 8:
        return "uint8_t", 1
    if top < 1 << 16:
        return "uint16_t", 2
    return "uint32_t", 4


def smallest_split(values: list[int]) -> tuple[int, list[int], list[int]]:
    best = None
    for shift in range(4, 13):
        stage1, stage2 = two_stage(values, shift)
        size = len(stage1) * element_type(stage1)[1] + len(stage2) * element_type(stage2)[1]
        if best is None or size < best[0]:
            best = (size, shift, stage1, stage2)
    assert best is not None
    return best[1], best[2], best[3]


def c_array(name: str, ctype: str, values: list[int] | list[str], per_line: int = 20) -> str:
    items = [str(v) for v in values]
    lines = [", ".join(items[i:i + per_line]) for i in range(0, len(items), per_line)]
    body = ",\n    ".join(lines)
    return f"inline constexpr {ctype} {name}[] = {{\n    {body},\n}};\n"


def flags_expression(flags: int) -> str:
    # A multi-code-point lowering keeps the class of each code point it
    # lowers to in its own entry.
    parts = [] if flags & MULTI_LOWERING else [CLASS_NAMES[flags & 0x3]]
    if flags & CASE_IGNORABLE:
        parts.append("kCaseIgnorable")
    if flags & CASED:
        parts.append("kCased")
    if flags & MULTI_LOWERING:
        parts.append("kMultiLowering")
    return " | ".join(parts)


def render(tables: Tables) -> str:
    shift, stage1, stage2 = smallest_split(tables.record_of)
    stage1_type, stage1_width = element_type(stage1)
    stage2_type, stage2_width = element_type(stage2)
    records = [f"{{{lowering}, static_cast<uint8_t>({flags_expression(flags)})}}" for lowering, flags in tables.records]
    multi = []
    for entry in tables.multi_lowerings:
        cps = [f"0x{cp:04X}" for cp, _ in entry] + ["0"] * (MAX_LOWERING_LENGTH - len(entry))
        classes = [CLASS_NAMES[c] for _, c in entry] + ["kSeparator"] * (MAX_LOWERING_LENGTH - len(entry))
        multi.append(f"{{{len(entry)}, {{{', '.join(cps)}}}, {{{', '.join(classes)}}}}}")
    record_bytes = 8 * len(tables.records)  # sizeof(CodePointRecord)
    multi_bytes = 20 * len(tables.multi_lowerings)  # sizeof(MultiLowering)
    total = len(stage1) * stage1_width + len(stage2) * stage2_width + record_bytes + multi_bytes
    version = ".".join(str(v) for v in sys.version_info[:3])
    growth_num, growth_den = tables.max_growth
    g = math.gcd(growth_num, growth_den)
    out = [
        f"// Generated at build time by scripts/generate_unicode_tables.py from",
        f"// CPython {version} (Unicode {unicodedata.unidata_version}). Do not edit; do not commit.",
        f"//",
        f"// {tables.changed} code points change when lower-cased; {tables.case_ignorable} are case-ignorable,",
        f"// {tables.cased} cased and not case-ignorable. {len(tables.records)} distinct records;",
        f"// blocks of {1 << shift} code points, {len(stage2) >> shift} distinct.",
        f"// Sizes: block index {len(stage1) * stage1_width} B, blocks {len(stage2) * stage2_width} B,",
        f"// records {record_bytes} B, multi-code-point lowerings {multi_bytes} B; {total} B in all.",
        "#pragma once",
        "",
        "#include <cstddef>",
        "#include <cstdint>",
        "",
        '#include "scorer/tokenizing/details/unicode_record.hpp"',
        "",
        "namespace tallygrams::scorer::unicode {",
        "",
        f'inline constexpr char kUnicodeVersion[] = "{unicodedata.unidata_version}";',
        f'inline constexpr char kGeneratedByPython[] = "{version}";',
        "",
        "// Lower-casing turns at most this many UTF-8 bytes into at most that many.",
        f"inline constexpr size_t kLoweringGrowthNumerator = {growth_num // g};",
        f"inline constexpr size_t kLoweringGrowthDenominator = {growth_den // g};",
        "",
        f"inline constexpr unsigned kBlockShift = {shift};",
        "",
        c_array("kBlockOf", stage1_type, stage1),
        c_array("kRecordIndex", stage2_type, stage2, per_line=32),
        c_array("kRecords", "CodePointRecord", records, per_line=4),
        c_array("kMultiLowerings", "MultiLowering", multi, per_line=1),
        "}  // namespace tallygrams::scorer::unicode",
        "",
    ]
    return "\n".join(out)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", type=Path)
    args = parser.parse_args()
    tables = Tables()
    for cp in range(MAX_CODE_POINT + 1):
        tables.add(cp)
    check_assumptions(tables)
    text = render(tables)
    args.output.parent.mkdir(parents=True, exist_ok=True)
    partial = args.output.with_suffix(".partial")
    partial.write_text(text)
    partial.replace(args.output)


if __name__ == "__main__":
    main()
