"""Reading texts from line-oriented files, a run of lines at a time.

Every problem with an input file is raised as `InputError`, whose message is
one line that names the file and, where it helps, the line.
"""

from __future__ import annotations

import json
from itertools import islice
from typing import BinaryIO

_BOM = b"\xef\xbb\xbf"
# Bytes per read when only counting the lines that are left.
_COUNT_BLOCK = 1 << 20


class InputError(Exception):
    """A problem the user has to fix in the input files or the options."""


def open_input(path: str) -> BinaryIO:
    try:
        return open(path, "rb")
    except OSError as error:
        raise InputError(f"cannot read {path}: {error.strerror or error}") from None


class LineReader:
    """The lines of a UTF-8 file, taken a run at a time, with their numbers.

    Only the line feed ends a line; a carriage return before it is dropped.
    str.splitlines would also split at form feeds, U+2028 and other
    separators that can occur inside one text, and so silently pair the
    wrong texts. A final line feed ends the last line; it does not start
    another one. An empty line is an empty text and keeps its place.
    """

    def __init__(self, path: str) -> None:
        self.path = path
        self._handle = open_input(path)
        # Lines taken so far; the number of the last one.
        self.lines = 0
        self.bytes_read = 0

    def close(self) -> None:
        self._handle.close()

    def __enter__(self) -> LineReader:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def take(self, count: int) -> list[str]:
        """The next `count` lines (fewer at the end of the file)."""
        try:
            raw = list(islice(self._handle, count))
        except OSError as error:
            raise InputError(f"cannot read {self.path}: {error.strerror or error}") from None
        if not raw:
            return []
        data = b"".join(raw)
        self.bytes_read += len(data)
        if self.lines == 0 and data.startswith(_BOM):
            # A leading byte-order mark is an encoding artefact, not part of the first text.
            data = data[len(_BOM):]
        try:
            text = data.decode("utf-8")
        except UnicodeDecodeError as error:
            line = self.lines + data.count(b"\n", 0, error.start) + 1
            column = error.start - (data.rfind(b"\n", 0, error.start) + 1) + 1
            raise InputError(f"{self.path}, line {line}: invalid UTF-8 at byte {column} of the line") from None
        lines = text.split("\n")
        if data.endswith(b"\n"):
            lines.pop()
        self.lines += len(raw)
        return [line[:-1] if line.endswith("\r") else line for line in lines]

    def count_all(self) -> int:
        """How many lines the whole file has: those taken and those left,
        which are only counted, not decoded."""
        count = self.lines
        last = b"\n"
        try:
            while block := self._handle.read(_COUNT_BLOCK):
                count += block.count(b"\n")
                last = block[-1:]
        except OSError as error:
            raise InputError(f"cannot read {self.path}: {error.strerror or error}") from None
        # A last line without a line feed is a line too.
        return count + (last != b"\n")


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


def _checked_text(value: object, where: str, what: str) -> str:
    if not isinstance(value, str):
        raise InputError(f"{where}: {what} is {_json_type(value)}, not a string")
    try:
        value.encode("utf-8")
    except UnicodeEncodeError:
        # A \ud800-style escape decodes to a lone surrogate, which is not
        # text and cannot be scored.
        raise InputError(f"{where}: {what} holds an unpaired surrogate escape") from None
    return value


def parse_record(line: str, where: str, reference_key: str, prediction_key: str) -> tuple[str | list[str], str]:
    """The reference (one text, or a non-empty array of texts: several
    references) and the prediction of one JSON Lines record."""
    try:
        record = json.loads(line, object_pairs_hook=_unique_keys)
    except _DuplicateKey as error:
        shown = json.dumps(error.key, ensure_ascii=False)
        raise InputError(f"{where}: duplicate key {shown}") from None
    except RecursionError:
        raise InputError(f"{where}: malformed JSON: nested too deeply") from None
    except ValueError as error:
        # JSONDecodeError, and also the interpreter's limit on the digits of
        # an integer, which json reports as a plain ValueError.
        message = getattr(error, "msg", None) or str(error)
        column = getattr(error, "colno", None)
        suffix = f" (column {column})" if column is not None else ""
        raise InputError(f"{where}: malformed JSON: {message}{suffix}") from None
    if not isinstance(record, dict):
        raise InputError(f"{where}: expected a JSON object, found {_json_type(record)}")
    shown = json.dumps(reference_key, ensure_ascii=False)
    if reference_key not in record:
        raise InputError(f"{where}: no key {shown}")
    value = record[reference_key]
    reference: str | list[str]
    if isinstance(value, list):
        if not value:
            raise InputError(f"{where}: the value of {shown} is an empty array; give at least one reference")
        reference = [_checked_text(item, where, f"item {index} of {shown}") for index, item in enumerate(value)]
    elif isinstance(value, str):
        reference = _checked_text(value, where, f"the value of {shown}")
    else:
        raise InputError(f"{where}: the value of {shown} is {_json_type(value)}, not a string or an array of strings")
    shown = json.dumps(prediction_key, ensure_ascii=False)
    if prediction_key not in record:
        raise InputError(f"{where}: no key {shown}")
    prediction = _checked_text(record[prediction_key], where, f"the value of {shown}")
    return reference, prediction
