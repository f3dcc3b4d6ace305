"""Parquet input through pyarrow: the files of a dataset in order, their
pieces (row groups), and the scoring of Arrow batches with the problems
reported as input errors that name the file.

Everything here may also run on a cluster's workers, which send an
InputError back to the tool as it is.
"""

from __future__ import annotations

import os
import re
from collections.abc import Iterator
from dataclasses import dataclass
from typing import Any

import tallygrams_scorer

from .inputs import InputError

# Read buffering per column chunk, so that a row group of any size is read
# a little at a time instead of whole; and no pre-buffering, whose cache
# keeps every range read until the file is closed (memory growing with the
# file, not the batch).
_READ_BUFFER = 1 << 20
# Files and folders that Parquet writers leave beside the data (_SUCCESS,
# _metadata, .crc checksums): skipped, as the common dataset readers do.
_IGNORED_PREFIXES = (".", "_")


def require_pyarrow(what: str) -> None:
    try:
        import pyarrow.parquet  # type: ignore[import-untyped]  # noqa: F401
    except ImportError:
        raise InputError(f"{what} needs pyarrow, which is not installed (pip install pyarrow)") from None


def _natural_key(path: str) -> list[tuple[int, str]]:
    # part.10 after part.9, as the writers that number their parts mean it.
    return [(int(piece), "") if piece.isdigit() else (-1, piece) for piece in re.split(r"(\d+)", path)]


def dataset_files(path: str) -> list[str]:
    """The data files of a Parquet file or folder, in the order of their rows."""
    if not os.path.isdir(path):
        if not os.path.exists(path):
            raise InputError(f"cannot read {path}: No such file or directory")
        return [path]
    found: list[Any] = []
    for folder, subfolders, files in os.walk(path):
        subfolders[:] = [name for name in subfolders if not name.startswith(_IGNORED_PREFIXES)]
        found.extend(os.path.join(folder, name) for name in files if not name.startswith(_IGNORED_PREFIXES))
    if not found:
        raise InputError(f"{path}: no data files in the folder")
    return sorted(found, key=lambda file: _natural_key(os.path.relpath(file, path)))


def _open(path: str, shown: str) -> Any:
    import pyarrow
    import pyarrow.parquet as pq

    try:
        return pq.ParquetFile(path, buffer_size=_READ_BUFFER, pre_buffer=False)
    except OSError as error:
        reason = error.strerror or str(error).replace(path, shown)
        raise InputError(f"cannot read {shown}: {reason}") from None
    except pyarrow.ArrowException as error:
        raise InputError(f"cannot read {shown} as Parquet: {error}") from None


def _is_text(arrow_type: Any) -> bool:
    import pyarrow.types as types  # type: ignore[import-untyped]

    return bool(types.is_string(arrow_type) or types.is_large_string(arrow_type) or types.is_string_view(arrow_type))


@dataclass(frozen=True)
class Piece:
    """One row group of one file: the unit a cluster's worker scores."""

    # Absolute, since a worker's working folder is not the tool's.
    path: str
    # The file as the user named it, for messages.
    shown: str
    row_group: int
    rows: int


@dataclass(frozen=True)
class Columns:
    reference: str
    prediction: str
    # The column of the pairs' ids (--id-column), if any.
    id: str | None = None

    def names(self) -> list[str]:
        return list(dict.fromkeys(name for name in (self.reference, self.prediction, self.id) if name is not None))

    def texts(self) -> list[str]:
        return list(dict.fromkeys((self.reference, self.prediction)))


@dataclass(frozen=True)
class Options:
    batch_pairs: int
    # Stop at a null text instead of leaving its pair out.
    refuse_nulls: bool = False
    # Replaced by a line break in every text before scoring.
    separator: str | None = None


def _checked(path: str, shown: str, columns: Columns) -> Any:
    """The file, once its two columns are known to exist and hold text.
    Messages name it as `shown`."""
    parquet = _open(path, shown)
    schema = parquet.schema_arrow
    options = {columns.reference: "--reference-column", columns.prediction: "--prediction-column"}
    if columns.id is not None:
        options[columns.id] = "--id-column"
    for name in columns.names():
        index = schema.get_field_index(name)
        if index < 0:
            present = ", ".join(f'"{field}"' for field in schema.names)
            raise InputError(f'{shown}: no column "{name}"; its columns are {present} ({options[name]} picks another)')
        arrow_type = schema.field(index).type
        if name != columns.id and not _is_text(arrow_type):
            raise InputError(f'{shown}: column "{name}" holds {arrow_type}, not text (string)')
    return parquet


def pieces(files: list[str], columns: Columns) -> list[Piece]:
    """Every row group of the files, in order; checks each file's columns."""
    found: list[Any] = []
    for path in files:
        metadata = _checked(path, path, columns).metadata
        absolute = os.path.abspath(path)
        found.extend(Piece(absolute, path, group, metadata.row_group(group).num_rows)
                     for group in range(metadata.num_row_groups))
    return found


_INVALID = re.compile(r"invalid UTF-8 in row (\d+), at byte (\d+) of its text")


def _texts(batch: Any, name: str, separator: str | None) -> Any:
    column = batch.column(name)
    if not separator:
        return column
    import pyarrow
    import pyarrow.compute as pc  # type: ignore[import-untyped]

    if pyarrow.types.is_string_view(column.type):
        column = column.cast(pyarrow.large_string())
    return pc.replace_substring(column, pattern=separator, replacement="\n")


def _refuse_nulls(batch: Any, path: str, first_row: int, columns: Columns) -> None:
    for name in columns.texts():
        column = batch.column(name)
        if column.null_count:
            row = column.is_null().index(True).as_py()
            raise InputError(f'{path}, row {first_row + row + 1}: column "{name}" is null (without --nulls error, '
                             "such pairs are left out and counted)")


def score_batch(scorer: tallygrams_scorer.RougeScorer, batch: Any, path: str, first_row: int,
                columns: Columns, options: Options, notes: Any = None) -> tallygrams_scorer.ScoreColumns:
    """The scores of one Arrow batch of the file at `path`, whose first row
    is row `first_row` (from 0) of the file."""
    if options.refuse_nulls:
        _refuse_nulls(batch, path, first_row, columns)
    references = _texts(batch, columns.reference, options.separator)
    predictions = _texts(batch, columns.prediction, options.separator)
    if notes is not None:
        notes.texts(references)
        notes.texts(predictions)
        notes.references(1, 1)
    try:
        return scorer.score_arrow(references, predictions)
    except ValueError as error:
        notes_text = " ".join(getattr(error, "__notes__", ()))
        name = columns.prediction if "'predictions'" in notes_text else columns.reference
        match = _INVALID.search(str(error))
        if match is None:
            raise InputError(f'{path}, column "{name}": {error}') from None
        index = int(match.group(1))
        byte = int(match.group(2))
        if options.separator:
            # The byte as the file holds it, before the separator's replacement.
            import pyarrow

            original = batch.column(name).slice(index, 1).cast(pyarrow.large_binary())[0].as_py()
            try:
                original.decode("utf-8")
            except UnicodeDecodeError as failure:
                byte = failure.start
        rest = str(error)[match.end():]
        raise InputError(f'{path}, row {first_row + index + 1}, column "{name}": invalid UTF-8 at byte '
                         f"{byte + 1} of its text{rest}") from None


def read_file(path: str, shown: str, columns: Columns, batch_pairs: int,
              row_groups: list[int] | None = None) -> Iterator[tuple[Any, int]]:
    """(Arrow batch, the number of its first row in the file, from 0) of a
    file's rows, or of some of its row groups. Messages name the file as
    `shown`."""
    parquet = _checked(path, shown, columns)
    first_row = 0
    if row_groups is not None:
        first_row = sum(parquet.metadata.row_group(group).num_rows for group in range(row_groups[0]))
    import pyarrow

    try:
        for batch in parquet.iter_batches(batch_size=batch_pairs, row_groups=row_groups, columns=columns.names()):
            yield batch, first_row
            first_row += batch.num_rows
    except pyarrow.ArrowException as error:
        raise InputError(f"cannot read {shown} as Parquet: {error}") from None
    except OSError as error:
        raise InputError(f"cannot read {shown}: {error.strerror or error}") from None


def score_file(scorer: tallygrams_scorer.RougeScorer, path: str, shown: str, columns: Columns, options: Options,
               notes: Any = None, row_groups: list[int] | None = None) -> Iterator[tuple[Any, Any]]:
    """(ids or None, scores) of a file's rows (or of some of its row groups),
    a batch at a time."""
    for batch, first_row in read_file(path, shown, columns, options.batch_pairs, row_groups):
        scores = score_batch(scorer, batch, shown, first_row, columns, options, notes)
        yield (batch.column(columns.id) if columns.id is not None else None), scores


def score_piece(scorer: tallygrams_scorer.RougeScorer, piece: Piece, columns: Columns,
                options: Options) -> list[tuple[Any, Any]]:
    """The scores of one row group: the task a cluster's worker runs."""
    return list(score_file(scorer, piece.path, piece.shown, columns, options, None, [piece.row_group]))
