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

import functools
import os
import sys
from typing import Any, NamedTuple

from .inputs import InputError, open_input

_BOM = b"\xef\xbb\xbf"
BLOCK_BYTES = 4 << 20
MAX_RECORD = 256 << 20
STDIN = "-"


class Block(NamedTuple):
    # Whole records, each followed by the delimiter (bytes' methods).
    data: bytearray
    # The number of the first record, from 1.
    first: int
    records: int


@functools.cache
def _zeros(size: int) -> bytes:
    return bytes(size)


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
            self._handle: Any = os.fdopen(os.dup(sys.stdin.fileno()), "rb", buffering=0)
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

    def next_block(self) -> Block | None:
        """The next run of whole records; None at the end of the input."""
        delimiter = self.delimiter
        while not self._ended:
            # The records end in a buffer that starts with the unfinished
            # record, so that the block is that buffer cut short, not a copy.
            kept = len(self._partial)
            buffer = self._partial
            buffer += _zeros(self._block_bytes)
            got = self._read_into(memoryview(buffer)[kept:])
            del buffer[kept + got:]
            if got == 0:
                self._ended = True
                self._partial = bytearray()
                if not buffer:
                    return None
                # The last record, without its delimiter.
                buffer += delimiter
                return self._block(buffer)
            # A delimiter may straddle the previous read and this one.
            cut = buffer.rfind(delimiter, max(kept - len(delimiter) + 1, 0))
            if cut < 0:
                self._partial = buffer
                self._check_partial()
                continue
            cut += len(delimiter)
            self._partial = buffer[cut:]
            del buffer[cut:]
            self._check_partial()
            return self._block(buffer)
        return None

    def _read_into(self, target: memoryview) -> int:
        try:
            got = self._handle.readinto(target)
        except OSError as error:
            raise InputError(f"cannot read {self.name}: {error.strerror or error}") from None
        got = got or 0
        self.bytes_read += got
        if self._at_start and got:
            self._at_start = False
            while got < len(_BOM) and _BOM.startswith(bytes(target[:got])):
                # A start shorter than the mark, from a pipe: read on until
                # it is known whether the mark is there.
                more = self._read_into_more(target[got:])
                if more == 0:
                    break
                got += more
            if bytes(target[:len(_BOM)]) == _BOM and got >= len(_BOM):
                # The mark is an encoding artefact, not part of the first text.
                target[:got - len(_BOM)] = target[len(_BOM):got]
                got -= len(_BOM)
        return got

    def _read_into_more(self, target: memoryview) -> int:
        try:
            more = self._handle.readinto(target) or 0
        except OSError as error:
            raise InputError(f"cannot read {self.name}: {error.strerror or error}") from None
        self.bytes_read += more
        return more

    def _keep(self, piece: bytes) -> None:
        self._partial += piece
        self._check_partial()

    def _check_partial(self) -> None:
        if len(self._partial) > self._max_record:
            limit = f"{self._max_record >> 20} MiB"
            ending = "line break" if self.delimiter == b"\n" else "delimiter"
            raise InputError(f"{self.name}, {self.what} {self.records + 1}: longer than {limit} without a "
                             f"{ending}; is it a text file?")

    def _block(self, data: bytearray) -> Block:
        # As str.split counts: overlapping delimiters ("aa" in "aaa") once.
        count = data.count(self.delimiter)
        block = Block(data, self.records + 1, count)
        self.records += count
        return block

    def count_rest(self) -> int:
        """How many records the whole input has: those taken and those
        left, which are only counted, not kept."""
        while self.next_block() is not None:
            pass
        return self.records
