"""The console script's entry point: Ctrl-C from the very start of the
tool ends it with status 130 and no traceback.

Until the tool has imported what it catches Ctrl-C with, a SIGINT is only
noted; `main` then exits with 130 at once. This module installs that note
taker when imported, so only the console script (and `python -m
tallygrams_cli`) imports it; `_signal` is built into the interpreter and
imports nothing, which keeps the unguarded moment as short as it can be.
"""

import _signal  # type: ignore[import-not-found]

_noted: list[int] = []


def _note(signum: int, frame: object) -> None:
    _noted.append(signum)


_signal.signal(_signal.SIGINT, _note)


def main() -> int:
    try:
        from .cli import main as run

        _signal.signal(_signal.SIGINT, _signal.default_int_handler)
        if _noted:
            return 130
        return run()
    except KeyboardInterrupt:
        return 130
    finally:
        # A run that failed leaves reference cycles behind (an exception,
        # its traceback and the frames holding it, and through them the
        # batch being read), and the interpreter does not look for cycles
        # as it exits: collect them here, so that what they hold is
        # finalized in order and a leak checker sees a clean exit.
        import gc

        gc.collect()
