"""The `tallygrams` command: its entry point, and how every way out of a
run becomes an exit status.

This module imports only what the interpreter starts with: the scorer,
pyarrow and the rest are imported inside `main`, so that Ctrl-C during those
first imports ends the run like any other Ctrl-C, with status 130 and no
traceback. Subcommands are imported the same way, in `main`.
"""

from __future__ import annotations

import signal
import sys
import threading
from collections.abc import Sequence
from types import FrameType


class Terminated(BaseException):
    """SIGTERM arrived. Unwinds like KeyboardInterrupt does for SIGINT, so
    that a half-written output file is removed on the way out."""


def _raise_terminated(signum: int, frame: FrameType | None) -> None:
    raise Terminated


def _failed(text: str) -> int:
    from .output import message

    message(text)
    return 2


def main(argv: Sequence[str] | None = None) -> int:
    # Signal handlers belong to the main thread; elsewhere SIGTERM keeps
    # whatever the caller set up.
    handles_sigterm = threading.current_thread() is threading.main_thread()
    previous = None
    try:
        if handles_sigterm:
            previous = signal.signal(signal.SIGTERM, _raise_terminated)
        words = sys.argv[1:] if argv is None else list(argv)
        if words[:1] == ["rouge155"]:
            from . import rouge155

            return rouge155.main(words[1:])
        from . import command
        from .files import WriteFailure, silence_stdout
        from .inputs import InputError

        try:
            if words[:1] == ["compare"]:
                from . import compare

                return compare.main(words[1:])
            return command.main(words)
        except WriteFailure as error:
            if "standard output" in str(error):
                silence_stdout()
            return _failed(str(error))
        except InputError as error:
            return _failed(str(error))
        except BrokenPipeError:
            # The reader of standard output went away (as with `| head`);
            # the interpreter's last flush must not complain again.
            silence_stdout()
            return _failed("cannot write standard output: Broken pipe")
        except MemoryError:
            return _failed("out of memory: the input needs more memory than this process can get")
    except KeyboardInterrupt:
        _clean_up()
        return 130
    except Terminated:
        _clean_up()
        return 128 + signal.SIGTERM
    finally:
        files = sys.modules.get(f"{__package__}.files")
        if files is not None:
            # Whatever the way out, no file made and not committed stays.
            files.discard_pending()
        if handles_sigterm:
            # None: the previous handler was not set from Python.
            signal.signal(signal.SIGTERM, signal.SIG_DFL if previous is None else previous)


def _clean_up() -> None:
    """After a stopping signal: erase the progress bar (the files are
    removed on the way out of `main`)."""
    output = sys.modules.get(f"{__package__}.output")
    if output is not None:
        output.Progress.erase_all()
