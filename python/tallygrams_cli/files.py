"""Output files that appear under their final name only once complete, and
standard output as a place to write results.

A write can fail at any moment (a full disk, `ulimit -f`, a reader of the
pipe that went away). Each failure becomes one `WriteFailure` that names the
file; the half-written temporary file is removed, and closing it again does
not replace that message with a second failure from the same buffer.
"""

from __future__ import annotations

import contextlib
import os
import sys
from collections.abc import Iterator
from typing import IO, Any

from .inputs import InputError

STDOUT = "-"


class WriteFailure(InputError):
    """Results could not be written."""


def cannot_write(path: str, error: OSError) -> WriteFailure:
    where = "standard output" if path == STDOUT else path
    return WriteFailure(f"cannot write {where}: {error.strerror or error}")


def _close_quietly(handle: IO[Any]) -> None:
    # Closing flushes what is left in the buffer; after a failed write that
    # fails again. The file descriptor is closed all the same.
    with contextlib.suppress(OSError, ValueError):
        handle.close()


# Every file made and neither committed nor discarded yet. A signal can
# land between a file's creation and the moment its caller has registered
# it for clean-up; the tool's last word, `discard_pending`, removes those.
_pending: set[PendingFile] = set()


def discard_pending() -> None:
    for pending in list(_pending):
        pending.discard()


class PendingFile:
    """A file written under a temporary name beside `path`: `commit` puts it
    in place, `discard` removes it. Creation failures are WriteFailures."""

    def __init__(self, path: str, binary: bool = False, newline: str | None = None) -> None:
        self.path = path
        self._temporary = f"{path}.{os.getpid()}.part"
        self._committed = False
        # A file of that name from before can only be the leftover of a
        # killed process that had this process's id.
        with contextlib.suppress(FileNotFoundError, IsADirectoryError):
            os.remove(self._temporary)
        # Registered before it is made: a signal handled just as open()
        # returns still finds it.
        self.handle: IO[Any] | None = None
        _pending.add(self)
        try:
            if binary:
                self.handle = open(self._temporary, "xb")
            else:
                self.handle = open(self._temporary, "x", encoding="utf-8", newline=newline)
        except OSError as error:
            _pending.discard(self)
            raise cannot_write(path, error) from None

    @property
    def file(self) -> IO[Any]:
        assert self.handle is not None
        return self.handle

    def commit(self) -> None:
        self._committed = True
        _pending.discard(self)
        try:
            self.file.flush()
            self.file.close()
            os.replace(self._temporary, self.path)
        except OSError as error:
            self._committed = False
            self.discard()
            raise cannot_write(self.path, error) from None

    def discard(self) -> None:
        """Remove the file, unless it was committed."""
        _pending.discard(self)
        if self.handle is not None:
            _close_quietly(self.handle)
        if self._committed:
            return
        with contextlib.suppress(OSError):
            os.remove(self._temporary)


@contextlib.contextmanager
def complete_or_absent(path: str, binary: bool = False, newline: str | None = None) -> Iterator[IO[Any]]:
    """A file that appears under `path` when the block ends without an
    exception; on any exception, including KeyboardInterrupt and the tool's
    SIGTERM, nothing is left. OSErrors from the block become WriteFailures."""
    pending: PendingFile | None = None
    try:
        pending = PendingFile(path, binary, newline)
        yield pending.file
    except BaseException as error:
        if pending is not None:
            pending.discard()
        if isinstance(error, OSError):
            raise cannot_write(path, error) from None
        raise
    pending.commit()


def stdout_handle(binary: bool) -> IO[Any]:
    return sys.stdout.buffer if binary else sys.stdout


def silence_stdout() -> None:
    """After a failed write to standard output (a closed pipe): point it at
    /dev/null so that the interpreter's last flush has nothing to complain
    about."""
    with contextlib.suppress(OSError, ValueError):
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
