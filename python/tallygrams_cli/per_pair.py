"""The per-pair file: every pair's scores, one row or record per pair, in
input order, written batch by batch as the pairs are scored, to a file or
to standard output.

The first column, `id`, names the pair: its number in the input (a line of
a text file or of JSON Lines, a row of Parquet counted across the files,
from 1), or its value under --id-key / --id-column. Then the score columns,
`<type>_<measure>`. Floats are written in their shortest exact form (CSV,
JSON Lines) or as float64 (Parquet), so reading the file back gives the
very values the scorer returned. A pair with a null text has null scores:
empty CSV cells, JSON nulls, Parquet nulls. A Parquet file carries the
run's signature in its metadata under `tallygrams.signature`.

The `rouge-score` layout is that package's own per-pair CSV: the header
`id,<type>-P,<type>-R,<type>-F` with the types sorted, each row the pair's
index from 0 (or its id) and six-decimal values.
"""

from __future__ import annotations

import csv
import json
from collections.abc import Sequence
from typing import IO, Any

import tallygrams_scorer

from .files import STDOUT, PendingFile, cannot_write, stdout_handle
from .output import MEASURES, column_names

SUFFIXES = (".csv", ".jsonl", ".parquet")
FORMATS = ("csv", "jsonl", "parquet")
LAYOUTS = ("tallygrams", "rouge-score")
SIGNATURE_KEY = "tallygrams.signature"


def format_of(path: str, given: str | None) -> str:
    """The format named by --per-pair-format, else by the file's suffix
    (CSV for standard output)."""
    if given is not None:
        return given
    if path == STDOUT:
        return "csv"
    return path.lower().rsplit(".", 1)[-1]


class _Writer:
    def __init__(self, handle: IO[Any], rouge_types: Sequence[str]) -> None:
        self._handle = handle
        self._names = column_names(rouge_types)

    def write(self, ids: Sequence[Any], scored: tallygrams_scorer.ScoreColumns) -> None:
        raise NotImplementedError

    def finish(self, signature: str) -> None:
        pass

    def abandon(self) -> None:
        """Let go of a file that will be removed."""


class _CsvWriter(_Writer):
    def __init__(self, handle: IO[Any], rouge_types: Sequence[str]) -> None:
        super().__init__(handle, rouge_types)
        self._rows = csv.writer(handle, lineterminator="\n")
        self._rows.writerow(("id", *self._names))

    def write(self, ids: Sequence[Any], scored: tallygrams_scorer.ScoreColumns) -> None:
        self._rows.writerows(zip(ids, *(scored.column(name) for name in self._names)))


class _RougeScoreCsvWriter(_Writer):
    def __init__(self, handle: IO[Any], rouge_types: Sequence[str]) -> None:
        super().__init__(handle, rouge_types)
        self._order = [f"{rouge_type}_{measure}" for rouge_type in sorted(rouge_types) for measure in MEASURES]
        header = "".join(f",{t}-P,{t}-R,{t}-F" for t in sorted(rouge_types))
        handle.write(f"id{header}\n")

    def write(self, ids: Sequence[Any], scored: tallygrams_scorer.ScoreColumns) -> None:
        columns = [scored.column(name) for name in self._order]
        self._handle.writelines(
            str(pair_id) + "".join("," if value is None else f",{value:f}" for value in row) + "\n"
            for pair_id, *row in zip(ids, *columns)
        )


class _JsonLinesWriter(_Writer):
    def write(self, ids: Sequence[Any], scored: tallygrams_scorer.ScoreColumns) -> None:
        keys = ("id", *self._names)
        self._handle.writelines(
            json.dumps(dict(zip(keys, row)), ensure_ascii=False) + "\n"
            for row in zip(ids, *(scored.column(name) for name in self._names))
        )


class _ParquetWriter(_Writer):
    def __init__(self, handle: IO[Any], rouge_types: Sequence[str]) -> None:
        super().__init__(handle, rouge_types)
        import pyarrow  # type: ignore[import-untyped]

        self._pyarrow = pyarrow
        self._file: Any = None

    def write(self, ids: Sequence[Any], scored: tallygrams_scorer.ScoreColumns) -> None:
        pa = self._pyarrow
        batch = pa.record_batch(scored)
        id_column = ids if isinstance(ids, (pa.Array, pa.ChunkedArray)) else pa.array(ids)
        if isinstance(id_column, pa.ChunkedArray):
            id_column = id_column.combine_chunks()
        if self._file is None:
            import pyarrow.parquet  # type: ignore[import-untyped]

            fields = [pa.field("id", id_column.type), *((name, pa.float64()) for name in self._names)]
            self._schema = pa.schema(fields)
            self._file = pyarrow.parquet.ParquetWriter(self._handle, self._schema)
        elif id_column.type != self._schema.field(0).type:
            id_column = id_column.cast(self._schema.field(0).type)
        self._file.write_batch(pa.RecordBatch.from_arrays([id_column, *batch.columns], schema=self._schema))

    def finish(self, signature: str) -> None:
        if self._file is None:
            return
        self._file.add_key_value_metadata({SIGNATURE_KEY: signature})
        self._file.close()

    def abandon(self) -> None:
        # Closed while its file is still open: left to the garbage
        # collector, it would write to a closed file and complain.
        if self._file is not None:
            try:
                self._file.close()
            except Exception:  # noqa: BLE001 - the file is being removed anyway
                pass


def _writer_class(file_format: str, layout: str) -> type[_Writer]:
    if layout == "rouge-score":
        return _RougeScoreCsvWriter
    return {"csv": _CsvWriter, "jsonl": _JsonLinesWriter, "parquet": _ParquetWriter}[file_format]


class PerPairOutput:
    """Per-pair rows for a file that appears whole at `commit`, or for
    standard output. Every failed write is a WriteFailure naming the file."""

    def __init__(self, path: str, file_format: str, layout: str, rouge_types: Sequence[str]) -> None:
        self.path = path
        self._committed = False
        binary = file_format == "parquet"
        self._pending = None if path == STDOUT else PendingFile(path, binary, "" if file_format == "csv" else None)
        handle = stdout_handle(binary) if self._pending is None else self._pending.file
        try:
            self._writer = _writer_class(file_format, layout)(handle, rouge_types)
        except OSError as error:
            self.discard()
            raise cannot_write(path, error) from None
        except BaseException:
            self.discard()
            raise

    def write(self, ids: Any, scored: tallygrams_scorer.ScoreColumns) -> None:
        if not isinstance(self._writer, _ParquetWriter) and hasattr(ids, "to_pylist"):
            ids = ids.to_pylist()
        try:
            self._writer.write(ids, scored)
        except OSError as error:
            raise cannot_write(self.path, error) from None

    def commit(self, signature: str) -> None:
        try:
            self._writer.finish(signature)
            if self._pending is None:
                stdout_handle(False).flush()
        except OSError as error:
            self.discard()
            raise cannot_write(self.path, error) from None
        if self._pending is not None:
            self._pending.commit()
        self._committed = True

    def discard(self) -> None:
        """Let go of the rows, unless they were committed."""
        if self._committed:
            return
        writer = getattr(self, "_writer", None)
        if writer is not None:
            writer.abandon()
        if self._pending is not None:
            self._pending.discard()
