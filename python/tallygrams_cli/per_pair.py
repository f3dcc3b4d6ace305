"""The per-pair file: every pair's scores, one row or record per pair, in
input order, written batch by batch as the pairs are scored.

Floats are written in their shortest exact form (CSV, JSON Lines) or as
float64 (Parquet), so reading the file back gives the very values the scorer
returned. A pair with a null text (Arrow input) has null scores: empty CSV
cells, JSON nulls, Parquet nulls.
"""

from __future__ import annotations

import contextlib
import csv
import json
from collections.abc import Iterator
from typing import IO, Any

import tallygrams_scorer

from .files import cannot_write, complete_or_absent

SUFFIXES = (".csv", ".jsonl", ".parquet")


class _Writer:
    def write(self, scored: tallygrams_scorer.ScoreColumns) -> None:
        raise NotImplementedError

    def finish(self) -> None:
        pass

    def abandon(self) -> None:
        """Let go of a file that will be removed."""


class _CsvWriter(_Writer):
    def __init__(self, handle: IO[Any], names: tuple[str, ...]) -> None:
        self._names = names
        self._rows = csv.writer(handle)
        self._rows.writerow(names)

    def write(self, scored: tallygrams_scorer.ScoreColumns) -> None:
        self._rows.writerows(zip(*(scored.column(name) for name in self._names)))


class _JsonLinesWriter(_Writer):
    def __init__(self, handle: IO[Any], names: tuple[str, ...]) -> None:
        self._handle = handle
        self._names = names

    def write(self, scored: tallygrams_scorer.ScoreColumns) -> None:
        names = self._names
        self._handle.writelines(
            json.dumps(dict(zip(names, row))) + "\n" for row in zip(*(scored.column(name) for name in names))
        )


class _ParquetWriter(_Writer):
    def __init__(self, handle: IO[Any], names: tuple[str, ...]) -> None:
        import pyarrow  # type: ignore[import-untyped]
        import pyarrow.parquet  # type: ignore[import-untyped]

        self._pyarrow = pyarrow
        self._schema = pyarrow.schema([(name, pyarrow.float64()) for name in names])
        self._file = pyarrow.parquet.ParquetWriter(handle, self._schema)

    def write(self, scored: tallygrams_scorer.ScoreColumns) -> None:
        batch = self._pyarrow.record_batch(scored)
        self._file.write_batch(self._pyarrow.RecordBatch.from_arrays(batch.columns, schema=self._schema))

    def finish(self) -> None:
        self._file.close()

    def abandon(self) -> None:
        # Closed while its file is still open: left to the garbage
        # collector, it would write to a closed file and complain.
        with contextlib.suppress(Exception):
            self._file.close()


class _WritingErrors(_Writer):
    """A failed write (a full disk) is a problem to report in one line."""

    def __init__(self, writer: _Writer, path: str) -> None:
        self._writer = writer
        self._path = path

    def write(self, scored: tallygrams_scorer.ScoreColumns) -> None:
        try:
            self._writer.write(scored)
        except OSError as error:
            raise cannot_write(self._path, error) from None


@contextlib.contextmanager
def per_pair_file(path: str, names: tuple[str, ...]) -> Iterator[_Writer]:
    """A writer whose file appears under `path` only once it is complete."""
    kind = path.lower().rsplit(".", 1)[-1]
    with complete_or_absent(path, binary=kind == "parquet", newline="" if kind == "csv" else None) as handle:
        writer: _Writer
        if kind == "csv":
            writer = _CsvWriter(handle, names)
        elif kind == "jsonl":
            writer = _JsonLinesWriter(handle, names)
        else:
            writer = _ParquetWriter(handle, names)
        try:
            yield _WritingErrors(writer, path)
        except BaseException:
            writer.abandon()
            raise
        try:
            writer.finish()
        except OSError as error:
            raise cannot_write(path, error) from None
