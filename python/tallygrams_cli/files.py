"""Output files that appear under their final name only once complete."""

from __future__ import annotations

import contextlib
import os
from collections.abc import Iterator
from typing import IO, Any

from .inputs import InputError


def cannot_write(path: str, error: OSError) -> InputError:
    return InputError(f"cannot write {path}: {error.strerror or error}")


@contextlib.contextmanager
def complete_or_absent(path: str, binary: bool = False, newline: str | None = None) -> Iterator[IO[Any]]:
    """A file written under a temporary name beside `path` and renamed to it
    when the block ends without an exception; on any exception, including
    KeyboardInterrupt and the tool's SIGTERM, the temporary file is removed.
    So a failed run never leaves a truncated file that looks like a result.

    Failures to create, close or rename the file become InputErrors; an
    exception from the block passes through as it is.
    """
    temporary = f"{path}.{os.getpid()}.part"
    in_block = False
    # The file's creation is inside the protected part: a signal handled
    # just as open() returns (Ctrl-C, SIGTERM) must not strand it. A file of
    # that name from before can only be the leftover of a killed process
    # that had this process's id, and goes the same way.
    try:
        if binary:
            handle: IO[Any] = open(temporary, "xb")
        else:
            handle = open(temporary, "x", encoding="utf-8", newline=newline)
        with handle:
            in_block = True
            yield handle
            in_block = False
        os.replace(temporary, path)
    except BaseException as error:
        with contextlib.suppress(FileNotFoundError):
            os.remove(temporary)
        if isinstance(error, OSError) and not in_block:
            raise cannot_write(path, error) from None
        raise
