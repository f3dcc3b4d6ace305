"""The exact reading of one JSON Lines record, and the error every problem
with the input becomes.

Every problem with an input file is raised as `InputError`, whose message is
one line that names the file and, where it helps, the line. The faster
readers of JSON Lines (jsonl.py) hand every record they are not sure of to
`parse_record`, so that its rules and its words are the only ones:

- a record is a JSON object (RFC 8259; also NaN and Infinity, as Python's
  json reads them); numbers of any length and nesting of any depth are
  read, not refused;
- the reference is a string or a non-empty array of strings (several
  references); the prediction and the id (--id-key) are strings, the id
  may also be an integer;
- null for a text, or within an array of references, makes the pair null:
  it is left out and counted (or stops the run with --nulls error);
- a key the tool reads that is missing, or named twice in the record, is
  an error; the rest of the record is not examined beyond being JSON.
"""

from __future__ import annotations

import json
import re
from typing import Any, BinaryIO, NamedTuple


class InputError(Exception):
    """A problem the user has to fix in the input files or the options."""


def open_input(path: str) -> BinaryIO:
    try:
        return open(path, "rb")
    except OSError as error:
        raise InputError(f"cannot read {path}: {error.strerror or error}") from None


class Keys(NamedTuple):
    reference: str
    prediction: str
    id: str | None = None


class Record(NamedTuple):
    # None for a null: the pair is left out.
    reference: str | list[str] | None
    prediction: str | None
    id: Any = None


# Integers up to this many digits become ints; longer ones (which int()
# refuses beyond the interpreter's limit) are only numbers to the tool.
_INT_DIGITS = 20
_ID_RANGE = range(-(2**63), 2**63)


class _LongNumber(float):
    """A JSON integer too long for an int: a number the tool does not read."""


def _json_int(text: str) -> int | float:
    return int(text) if len(text) <= _INT_DIGITS else _LongNumber()


class _Object(dict):  # type: ignore[type-arg]
    """A JSON object that remembers the keys it names more than once."""

    repeated: frozenset[str] = frozenset()


def _object(pairs: list[tuple[str, object]]) -> _Object:
    record = _Object(pairs)
    if len(record) != len(pairs):
        seen: set[str] = set()
        record.repeated = frozenset(key for key, _ in pairs if key in seen or seen.add(key))  # type: ignore[func-returns-value]
    return record


def _json_type(value: object) -> str:
    if value is None:
        return "null"
    if isinstance(value, bool):
        return "a boolean"
    if isinstance(value, (int, float)):
        return "a number"
    if isinstance(value, list):
        return "an array"
    if isinstance(value, dict):
        return "an object"
    return "a string"


def _checked_text(value: object, where: str, what: str) -> str | None:
    if value is None:
        return None
    if not isinstance(value, str):
        raise InputError(f"{where}: {what} is {_json_type(value)}, not a string")
    try:
        value.encode("utf-8")
    except UnicodeEncodeError:
        # A \ud800-style escape decodes to a lone surrogate, which is not
        # text and cannot be scored.
        raise InputError(f"{where}: {what} holds an unpaired surrogate escape") from None
    return value


def _loads(line: str, where: str) -> Any:
    try:
        return json.loads(line, object_pairs_hook=_object, parse_int=_json_int)
    except RecursionError:
        return _deep_object(line, where)
    except ValueError as error:
        message = getattr(error, "msg", None) or str(error)
        column = getattr(error, "colno", None)
        suffix = f" (column {column})" if column is not None else ""
        raise InputError(f"{where}: malformed JSON: {message}{suffix}") from None


def _shown_key(key: str) -> str:
    return json.dumps(key, ensure_ascii=False)


def _value(record: dict[str, Any], key: str, option: str, where: str) -> Any:
    if key not in record:
        found = ", ".join(_shown_key(name) for name in list(record)[:20])
        found = f"the keys are {found}" if found else "the record is empty"
        raise InputError(f"{where}: no key {_shown_key(key)}; {found} ({option} picks another)")
    return record[key]


def parse_record(line: str, where: str, keys: Keys) -> Record | None:
    """The texts (and id) of one JSON Lines record; None for a blank line."""
    if not line.strip(" \t\r\n"):
        return None
    record = _loads(line, where)
    if not isinstance(record, dict):
        raise InputError(f"{where}: expected a JSON object, found {_json_type(record)}")
    repeated: frozenset[str] = getattr(record, "repeated", frozenset())
    for key in keys:
        if key is not None and key in repeated:
            raise InputError(f"{where}: duplicate key {_shown_key(key)}")
    value = _value(record, keys.reference, "--reference-key", where)
    shown = _shown_key(keys.reference)
    reference: str | list[str] | None
    if isinstance(value, list):
        if not value:
            raise InputError(f"{where}: the value of {shown} is an empty array; give at least one reference")
        items = [_checked_text(item, where, f"item {index} of {shown}") for index, item in enumerate(value)]
        reference = None if None in items else items  # type: ignore[assignment]
    elif value is None or isinstance(value, str):
        reference = _checked_text(value, where, f"the value of {shown}")
    else:
        raise InputError(f"{where}: the value of {shown} is {_json_type(value)}, not a string or an array of strings")
    shown = _shown_key(keys.prediction)
    prediction = _checked_text(_value(record, keys.prediction, "--prediction-key", where), where,
                               f"the value of {shown}")
    pair_id = None
    if keys.id is not None:
        pair_id = _value(record, keys.id, "--id-key", where)
        if isinstance(pair_id, str):
            _checked_text(pair_id, where, f"the value of {_shown_key(keys.id)}")
        elif pair_id is not None and (type(pair_id) is not int or pair_id not in _ID_RANGE):
            raise InputError(f"{where}: the value of {_shown_key(keys.id)} is {_json_type(pair_id)}; "
                             "an id must be a string or an integer of 64 bits")
    return Record(reference, prediction, pair_id)


# --- Records nested too deeply for the json module's recursion -------------

_NUMBER = re.compile(r"-?(?:0|[1-9]\d*)(?:\.\d+)?(?:[eE][-+]?\d+)?|NaN|-?Infinity|true|false|null")
_SPACE = re.compile(r"[ \t\n\r]*")


def _deep_object(line: str, where: str) -> dict[str, Any]:
    """A record json.loads gave up on for its depth: checked to be JSON
    without recursion, its top-level members read; a member's value that is
    itself too deep is only known to be an array or an object."""

    def fail(message: str, position: int) -> InputError:
        return InputError(f"{where}: malformed JSON: {message} (column {position + 1})")

    record = _Object()
    repeated: set[str] = set()
    stack: list[str] = []
    position = _SPACE.match(line, 0).end()  # type: ignore[union-attr]
    if not line.startswith("{", position):
        raise fail("Expecting value", position)
    key: str | None = None
    value_start = 0
    expect_value = True
    while True:
        position = _SPACE.match(line, position).end()  # type: ignore[union-attr]
        if position >= len(line):
            raise fail("Expecting value" if expect_value else "Expecting ',' delimiter", position)
        char = line[position]
        if expect_value:
            if len(stack) == 1 and key is not None:
                value_start = position
            if char in "[{":
                stack.append("]" if char == "[" else "}")
                position += 1
                if stack[-1] == "}":
                    position = _SPACE.match(line, position).end()  # type: ignore[union-attr]
                    if line.startswith("}", position):
                        expect_value = False
                        continue
                    if not line.startswith('"', position):
                        raise fail("Expecting property name enclosed in double quotes", position)
                    name, position = _member_name(line, position, fail)
                    if len(stack) == 1:
                        key = name
                    continue
                position = _SPACE.match(line, position).end()  # type: ignore[union-attr]
                if line.startswith("]", position):
                    expect_value = False
                continue
            if char == '"':
                try:
                    _, position = json.decoder.scanstring(line, position + 1)  # type: ignore[attr-defined]
                except ValueError as error:
                    raise fail(getattr(error, "msg", str(error)), position) from None
            else:
                match = _NUMBER.match(line, position)
                if match is None:
                    raise fail("Expecting value", position)
                position = match.end()
            expect_value = False
            if len(stack) == 1 and key is not None:
                _keep_member(record, repeated, key, line[value_start:position])
            continue
        # After a value: a comma, or the end of the innermost container.
        if char == "," and stack:
            position += 1
            if stack[-1] == "}":
                position = _SPACE.match(line, position).end()  # type: ignore[union-attr]
                if not line.startswith('"', position):
                    raise fail("Expecting property name enclosed in double quotes", position)
                name, position = _member_name(line, position, fail)
                if len(stack) == 1:
                    key = name
            expect_value = True
            continue
        if stack and char == stack[-1]:
            stack.pop()
            position += 1
            if len(stack) == 1 and key is not None:
                _keep_member(record, repeated, key, line[value_start:position])
            if not stack:
                if _SPACE.match(line, position).end() != len(line):  # type: ignore[union-attr]
                    raise fail("Extra data", position)
                record.repeated = frozenset(repeated)
                return record
            continue
        raise fail("Expecting ',' delimiter", position)


def _member_name(line: str, position: int, fail: Any) -> tuple[str, int]:
    try:
        name, position = json.decoder.scanstring(line, position + 1)  # type: ignore[attr-defined]
    except ValueError as error:
        raise fail(getattr(error, "msg", str(error)), position) from None
    position = _SPACE.match(line, position).end()  # type: ignore[union-attr]
    if not line.startswith(":", position):
        raise fail("Expecting ':' delimiter", position)
    return name, position + 1


def _keep_member(record: _Object, repeated: set[str], key: str, text: str) -> None:
    if key in record:
        repeated.add(key)
    try:
        record[key] = json.loads(text, parse_int=_json_int)
    except RecursionError:
        record[key] = [] if text.startswith("[") else {}
        if text.startswith("["):
            # Deep, so not a list of strings; any non-string item says so.
            record[key] = [{}]
