"""The summary file: the summary in the format its name ends in, `.csv` or
`.json` (see output.py), with every digit, written whole or not at all."""

from __future__ import annotations

from .files import PendingFile, cannot_write
from .output import Figures, Summary, render

SUFFIXES = (".csv", ".json")


def pending_summary(path: str, summary: Summary, figures: Figures) -> PendingFile:
    """The summary written under a temporary name, for the caller to commit."""
    text = render(summary, "csv" if path.lower().endswith(".csv") else "json", figures)
    pending = PendingFile(path, newline="")
    try:
        pending.file.write(text)
    except OSError as error:
        pending.discard()
        raise cannot_write(path, error) from None
    except BaseException:
        pending.discard()
        raise
    return pending
