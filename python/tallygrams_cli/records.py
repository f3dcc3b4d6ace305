"""The texts of a line file (or of a file of records with another
delimiter), taken a given number at a time, so that several files can be
read in step.

With pyarrow, a block of bytes becomes one Arrow array of texts by a split
in native code, and goes to the scorer as it is: no Python string per text.
The scorer checks the UTF-8 itself; a problem it finds is traced back to
its record here, in the same words as without pyarrow. Without pyarrow,
a block is decoded and split into Python strings.

Either way, only the delimiter ends a record. With the default line feed,
a carriage return before it is dropped; str.splitlines would also split at
form feeds, U+2028 and other separators that can occur inside one text, and
so silently pair the wrong texts.
"""

from __future__ import annotations

import contextlib
import re
from typing import Any

from .blocks import Block, BlockReader
from .inputs import InputError

_ROW = re.compile(r"\brow (\d+), at byte (\d+)\b")


def decoding_error(name: str, what: str, number: int, record: bytes | bytearray,
                   delimiter: bytes) -> InputError | None:
    """The message for a record that is not UTF-8, or None if it is."""
    try:
        record.decode("utf-8")
    except UnicodeDecodeError as error:
        # Within a record that spans lines, the line and the byte in it.
        line = record.count(b"\n", 0, error.start) if delimiter != b"\n" else 0
        column = error.start - (record.rfind(b"\n", 0, error.start) + 1) + 1
        where = f"{name}, {what} {number}" + (f" (its line {line + 1})" if line else "")
        return InputError(f"{where}: invalid UTF-8 at byte {column} of the line")
    return None


class RecordColumn:
    """Texts from one BlockReader, as an Arrow array (pyarrow) or a list."""

    def __init__(self, reader: BlockReader, pyarrow: Any, separator: str | None, split_sentences: bool = False) -> None:
        self.reader = reader
        self._pa = pyarrow
        self._separator = separator
        # Lines are cut in place with numpy (which pyarrow brings along),
        # each keeping its line feed (see _lines_in_place). Not for NLTK's
        # sentences, which could see it, nor with a separator, whose
        # replacement copies the texts anyway.
        self._numpy = None
        if pyarrow is not None and separator is None and not split_sentences:
            with contextlib.suppress(ImportError):
                import numpy

                self._numpy = numpy
        self._pending: Any = None
        # The number of the first pending record.
        self.next_number = 1

    def _convert(self, block: Block) -> Any:
        data = block.data
        delimiter = self.reader.delimiter
        if self._pa is not None:
            if delimiter == b"\n" and self._numpy is not None:
                return self._lines_in_place(block)
            import pyarrow.compute as pc  # type: ignore[import-untyped]

            if delimiter == b"\n" and b"\r" in data:
                data = data.replace(b"\r\n", b"\n")
            pieces = pc.split_pattern(self._pa.array([data], self._pa.large_binary()), pattern=delimiter)
            # The split leaves an empty piece after the last delimiter.
            return pieces.flatten().slice(0, block.records)
        if delimiter == b"\n" and b"\r" in data:
            data = data.replace(b"\r\n", b"\n")
        try:
            text = data.decode("utf-8")
        except UnicodeDecodeError as error:
            start = data.rfind(delimiter, 0, error.start)
            start = 0 if start < 0 else start + len(delimiter)
            end = data.find(delimiter, error.start)
            number = block.first + data.count(delimiter, 0, start)
            failure = decoding_error(self.reader.name, self.reader.what, number, data[start:end], delimiter)
            assert failure is not None
            raise failure from None
        texts = text.split(delimiter.decode("utf-8", "surrogateescape"))
        texts.pop()
        return texts

    def _lines_in_place(self, block: Block) -> Any:
        """The lines of a block as an Arrow array over the block's own bytes,
        each text with its line feed (and carriage return) still at its end:
        both are separators to every tokenizer the tool offers, and
        rougeLsum drops the empty sentence after them, so the scores are
        those of the bare line."""
        np = self._numpy
        assert np is not None
        ends = np.flatnonzero(np.frombuffer(block.data, np.uint8) == 10)
        offsets = np.empty(len(ends) + 1, np.int64)
        offsets[0] = 0
        offsets[1:] = ends + 1
        pa = self._pa
        return pa.Array.from_buffers(pa.large_binary(), len(ends), [None, pa.py_buffer(offsets),
                                                                     pa.py_buffer(block.data)])

    def take(self, count: int) -> tuple[int, Any, Any]:
        """(the number of the first, the next `count` texts ready to score,
        the same as read) — fewer at the end of the input."""
        first = self.next_number
        parts = []
        have = 0
        while have < count:
            if self._pending is None or len(self._pending) == 0:
                block = self.reader.next_block()
                if block is None:
                    break
                self._pending = self._convert(block)
            piece = self._pending[: count - have]
            self._pending = self._pending[count - have:]
            parts.append(piece)
            have += len(piece)
        self.next_number += have
        if self._pa is not None:
            if not parts:
                read = self._pa.array([], self._pa.large_binary())
            else:
                read = self._pa.chunked_array(parts) if len(parts) != 1 else parts[0]
            texts = read
            if self._separator:
                import pyarrow.compute as pc

                texts = pc.replace_substring(read, pattern=self._separator, replacement="\n")
            if isinstance(texts, self._pa.ChunkedArray):
                return first, self._pa.chunked_array([c.view(self._pa.large_string()) for c in texts.chunks],
                                                     self._pa.large_string()), read
            return first, texts.view(self._pa.large_string()), read
        texts = parts[0] if len(parts) == 1 else [text for part in parts for text in part]
        read = texts
        if self._separator:
            texts = [text.replace(self._separator, "\n") for text in texts]
        return first, texts, read

    def check_text(self, first: int, read: Any) -> None:
        """Raise the message for the first text of `read` (numbered from
        `first`) that is not UTF-8, if any: for batches not scored."""
        if self._pa is None:
            return  # decoded when read
        for row, record in enumerate(read.to_pylist()):
            failure = decoding_error(self.reader.name, self.reader.what, first + row, record, self.reader.delimiter)
            if failure is not None:
                raise failure

    def invalid_text(self, first: int, read: Any, error: ValueError) -> InputError:
        """The message for the invalid UTF-8 the scorer found among the
        texts `read` (numbered from `first`), naming the record and the byte
        as the file holds them."""
        match = _ROW.search(str(error))
        rows = range(len(read)) if match is None else [int(match.group(1))]
        for row in rows:
            failure = decoding_error(self.reader.name, self.reader.what, first + row, read[row].as_py(),
                                     self.reader.delimiter)
            if failure is not None:
                return failure
        return InputError(f"{self.reader.name}: {error}")
