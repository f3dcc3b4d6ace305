"""Reading reference and prediction texts from files.

Every problem with an input file is raised as `InputError`, whose message is
one line that names the file and, where it helps, the line.
"""

from __future__ import annotations

import json

_BOM = b"\xef\xbb\xbf"


class InputError(Exception):
    """A problem the user has to fix in the input files or the options."""


def _read_bytes(path: str) -> bytes:
    try:
        with open(path, "rb") as handle:
            return handle.read()
    except OSError as error:
        reason = error.strerror or str(error)
        raise InputError(f"cannot read {path}: {reason}") from None


def _decode(path: str, data: bytes) -> str:
    # A leading byte-order mark is an encoding artefact, not part of the first text.
    if data.startswith(_BOM):
        data = data[len(_BOM) :]
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as error:
        line = data.count(b"\n", 0, error.start) + 1
        column = error.start - (data.rfind(b"\n", 0, error.start) + 1) + 1
        raise InputError(f"{path}, line {line}: invalid UTF-8 at byte {column} of the line") from None


def _split_lines(text: str) -> list[str]:
    # Only the line feed ends a line. str.splitlines would also split at form
    # feeds, U+2028 and other separators that can occur inside one text, and
    # so silently pair the wrong texts.
    lines = text.split("\n")
    if lines[-1] == "":
        # A final line feed ends the last line; it does not start another one.
        lines.pop()
    return [line[:-1] if line.endswith("\r") else line for line in lines]


def read_lines(path: str) -> list[str]:
    """One text per line of a UTF-8 file; an empty line is an empty text."""
    return _split_lines(_decode(path, _read_bytes(path)))


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


class _DuplicateKey(Exception):
    def __init__(self, key: str) -> None:
        super().__init__(key)
        self.key = key


def _unique_keys(pairs: list[tuple[str, object]]) -> dict[str, object]:
    # JSON leaves the meaning of a repeated name open; json.loads would keep
    # the last value without a word. A record is refused instead.
    record = dict(pairs)
    if len(record) != len(pairs):
        seen: set[str] = set()
        for key, _ in pairs:
            if key in seen:
                raise _DuplicateKey(key)
            seen.add(key)
    return record


def read_jsonl(path: str, reference_key: str, prediction_key: str) -> tuple[list[str], list[str]]:
    """The two texts of every record of a JSON Lines file; blank lines are skipped."""
    references: list[str] = []
    predictions: list[str] = []
    for number, line in enumerate(_split_lines(_decode(path, _read_bytes(path))), 1):
        if not line.strip():
            continue
        where = f"{path}, line {number}"
        try:
            record = json.loads(line, object_pairs_hook=_unique_keys)
        except _DuplicateKey as error:
            shown = json.dumps(error.key, ensure_ascii=False)
            raise InputError(f"{where}: duplicate key {shown}") from None
        except RecursionError:
            raise InputError(f"{where}: malformed JSON: nested too deeply") from None
        except ValueError as error:
            # JSONDecodeError, and also the interpreter's limit on the digits
            # of an integer, which json reports as a plain ValueError.
            message = getattr(error, "msg", None) or str(error)
            column = getattr(error, "colno", None)
            suffix = f" (column {column})" if column is not None else ""
            raise InputError(f"{where}: malformed JSON: {message}{suffix}") from None
        if not isinstance(record, dict):
            raise InputError(f"{where}: expected a JSON object, found {_json_type(record)}")
        for key, texts in ((reference_key, references), (prediction_key, predictions)):
            shown = json.dumps(key, ensure_ascii=False)
            if key not in record:
                raise InputError(f"{where}: no key {shown}")
            value = record[key]
            if not isinstance(value, str):
                raise InputError(f"{where}: the value of {shown} is {_json_type(value)}, not a string")
            try:
                value.encode("utf-8")
            except UnicodeEncodeError:
                # A \ud800-style escape decodes to a lone surrogate, which is
                # not text and cannot be scored.
                raise InputError(f"{where}: the value of {shown} holds an unpaired surrogate escape") from None
            texts.append(value)
    return references, predictions
