"""Reading a file (or standard input) of records a block of bytes at a time.

A record ends at a delimiter, a line feed unless --delimiter says
otherwise. Each block holds whole records only, each with its delimiter,
so that it can be split, parsed or handed to a native reader as it is,
with no Python object per record. A final record without a delimiter is a
record too; a final delimiter does not start another one. A byte-order
mark at the start of the file is an encoding artefact and is dropped.

A record longer than MAX_RECORD (as /dev/zero or a binary file would give)
is refused with the number of the record, instead of growing without bound.
"""

from __future__ import annotations

import os
import sys
from typing import BinaryIO, NamedTuple

from .inputs import InputError, open_input

_BOM = b"\xef\xbb\xbf"
BLOCK_BYTES = 4 << 20
MAX_RECORD = 256 << 20
STDIN = "-"


class Block(NamedTuple):
    # Whole records, each followed by the delimiter.
    data: bytes
    # The number of the first record, from 1.
    first: int
    count: int


def shown_name(path: str) -> str:
    return "standard input" if path == STDIN else path


class BlockReader:
    def __init__(self, path: str, delimiter: bytes = b"\n", block_bytes: int = BLOCK_BYTES,
                 max_record: int = MAX_RECORD, what: str = "line") -> None:
        self.path = path
        self.name = shown_name(path)
        self.delimiter = delimiter
        self.what = what
        self._block_bytes = block_bytes
        self._max_record = max_record
        if path == STDIN:
            self._handle: BinaryIO = os.fdopen(os.dup(sys.stdin.fileno()), "rb", buffering=0)
        else:
            self._handle = open_input(path)
        # The start of a record whose end has not been read yet.
        self._partial = bytearray()
        self._at_start = True
        self._ended = False
        self.records = 0
        self.bytes_read = 0

    def close(self) -> None:
        self._handle.close()

    def __enter__(self) -> BlockReader:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def size(self) -> int | None:
        """The file's size, for the progress bar; None for a pipe."""
        try:
            stat = os.fstat(self._handle.fileno())
        except OSError:
            return None
        return stat.st_size if stat.st_size > 0 and os.path.isfile(self.path) else None

    def _read(self) -> bytes:
        try:
            data = self._handle.read(self._block_bytes)
        except OSError as error:
            raise InputError(f"cannot read {self.name}: {error.strerror or error}") from None
        except MemoryError:
            raise InputError(f"cannot read {self.name}: out of memory") from None
        self.bytes_read += len(data)
        if self._at_start and data:
            if len(data) < len(_BOM) and _BOM.startswith(data):
                more = self._read_more(data)
                data = more
            if data.startswith(_BOM):
                data = data[len(_BOM):]
            self._at_start = False
        return data

    def _read_more(self, data: bytes) -> bytes:
        # A start shorter than the byte-order mark, from a pipe: read on
        # until it is known whether the mark is there.
        while len(data) < len(_BOM):
            try:
                more = self._handle.read(len(_BOM) - len(data))
            except OSError as error:
                raise InputError(f"cannot read {self.name}: {error.strerror or error}") from None
            if not more:
                break
            self.bytes_read += len(more)
            data += more
        return data

    def next_block(self) -> Block | None:
        """The next run of whole records; None at the end of the input."""
        delimiter = self.delimiter
        while not self._ended:
            data = self._read()
            if not data:
                self._ended = True
                if not self._partial:
                    return None
                # The last record, without its delimiter.
                last = bytes(self._partial) + delimiter
                self._partial = bytearray()
                return self._block(last)
            # A delimiter may straddle the previous read and this one.
            overlap = min(len(delimiter) - 1, len(self._partial))
            searched = bytes(self._partial[len(self._partial) - overlap:]) + data if overlap else data
            cut = searched.rfind(delimiter)
            if cut < 0:
                self._keep(data)
                continue
            cut += len(delimiter) - overlap
            head = bytes(self._partial) + data[:cut] if self._partial else data[:cut]
            self._partial = bytearray(data[cut:])
            self._check_partial()
            return self._block(head)
        return None

    def _keep(self, piece: bytes) -> None:
        self._partial += piece
        self._check_partial()

    def _check_partial(self) -> None:
        if len(self._partial) > self._max_record:
            limit = f"{self._max_record >> 20} MiB"
            ending = "line break" if self.delimiter == b"\n" else "delimiter"
            raise InputError(f"{self.name}, {self.what} {self.records + 1}: longer than {limit} without a "
                             f"{ending}; is it a text file?")

    def _block(self, data: bytes) -> Block:
        # As str.split counts: overlapping delimiters ("aa" in "aaa") once.
        count = data.count(self.delimiter)
        block = Block(data, self.records + 1, count)
        self.records += count
        return block

    def count_rest(self) -> int:
        """How many records the whole input has: those taken and those
        left, which are only counted, not kept."""
        while (block := self.next_block()) is not None:
            del block
        return self.records
