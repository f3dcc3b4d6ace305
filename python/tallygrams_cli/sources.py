"""The inputs the tool scores, each read and scored a batch at a time, so
that memory does not grow with the input: text files read in step, a JSON
Lines file, a Parquet file or folder.

A source's `score` yields, for each batch in input order, its score
columns, the ids of its pairs and the share of the input read so far (for
the progress bar).
"""

from __future__ import annotations

import contextlib
import dataclasses
from collections.abc import Generator
from typing import Any, NamedTuple, NoReturn, Protocol, cast

import tallygrams_scorer

from . import parquet
from .blocks import STDIN, BlockReader
from .inputs import InputError, Keys
from .jsonl import JsonLines as JsonLinesReader
from .notices import TextNotes
from .prefetch import prefetched
from .records import RecordColumn
from .scoring import with_nulls


class Scored(NamedTuple):
    columns: Any
    # The share of the input read so far, from 0 to 1; None if unknown.
    done: float | None
    # The id of each pair (an Arrow array, a list or a range).
    ids: Any


@dataclasses.dataclass
class Reading:
    """How every source reads: the settings that are not about one input."""

    batch_pairs: int
    notes: TextNotes
    # Stop at a null text instead of leaving its pair out.
    refuse_nulls: bool = False
    # Replaced by a line break in every text before scoring.
    separator: str | None = None
    # Ends a record of a line file.
    delimiter: str = "\n"
    # The JSON Lines reader: "pyarrow", "orjson" or "json".
    json_reader: str = "json"
    # pyarrow, if installed.
    pyarrow: Any = None
    # rougeLsum's sentences from NLTK (--split-summaries).
    split_sentences: bool = False


class Source(Protocol):
    def input_paths(self) -> list[str]:
        """The files read, to guard them against being overwritten."""
        ...

    def score(self, scorer: tallygrams_scorer.RougeScorer, reading: Reading) -> Generator[Scored]: ...


def _done(reader: BlockReader, size: int | None) -> float | None:
    return None if size is None else min(reader.bytes_read / size, 1.0)


def _which(error: ValueError) -> str:
    notes = " ".join(getattr(error, "__notes__", ()))
    return "predictions" if "'predictions'" in notes else "references"


class TextFiles:
    """Record N of the predictions file against record N of each references
    file (several files: several references for each prediction)."""

    def __init__(self, reference_paths: list[str], prediction_path: str) -> None:
        self.reference_paths = reference_paths
        self.prediction_path = prediction_path

    def input_paths(self) -> list[str]:
        return [path for path in (*self.reference_paths, self.prediction_path) if path != STDIN]

    def score(self, scorer: tallygrams_scorer.RougeScorer, reading: Reading) -> Generator[Scored]:
        # Several references go to the scorer as lists of texts, one list a pair.
        arrow = reading.pyarrow if len(self.reference_paths) == 1 else None
        count = len(self.reference_paths)
        if reading.delimiter == "\n" and reading.separator is None:
            reading.notes.without_breaks()
        columns: list[RecordColumn] = []
        with contextlib.closing(prefetched(self._read(reading, arrow, columns))) as batches:
            for taken, done in batches:
                first, batch, _ = taken[-1]
                targets = taken[0][1] if count == 1 else [list(group) for group in zip(*(t for _, t, _ in taken[:-1]))]
                reading.notes.texts(targets)
                reading.notes.texts(batch)
                reading.notes.references(count, count)
                if arrow is not None:
                    try:
                        scores = scorer.score_arrow(cast(Any, targets), batch)
                    except ValueError as error:
                        index = -1 if _which(error) == "predictions" else 0
                        raise columns[index].invalid_text(taken[index][0], taken[index][2], error) from None
                else:
                    scores = scorer.score_columns(targets, batch)
                yield Scored(scores, done, range(first, first + len(batch)))

    def _read(self, reading: Reading, arrow: Any, columns: list[RecordColumn]) -> Generator[tuple[list[Any], Any]]:
        """The texts of each batch, from every file in step; `columns` gets
        the files' readers, for messages."""
        delimiter = reading.delimiter.encode("utf-8")
        what = "line" if delimiter == b"\n" else "record"
        with contextlib.ExitStack() as stack:
            readers = [stack.enter_context(BlockReader(path, delimiter, what=what))
                       for path in (*self.reference_paths, self.prediction_path)]
            columns.extend(RecordColumn(reader, arrow, reading.separator, reading.split_sentences)
                           for reader in readers)
            size = readers[-1].size()
            while True:
                taken = [column.take(reading.batch_pairs) for column in columns]
                lengths = {len(texts) for _, texts, _ in taken}
                if len(lengths) > 1:
                    # Text that is not UTF-8 is reported first, as a batch
                    # of the same length would have it.
                    for column, (number, _, read) in zip(columns, taken):
                        column.check_text(number, read)
                    self._unequal_lengths(readers)
                if lengths == {0}:
                    return
                yield taken, _done(readers[-1], size)

    @staticmethod
    def _unequal_lengths(readers: list[BlockReader]) -> NoReturn:
        # One file has ended before another: the rest of each is counted
        # (not read as text) for the message.
        *references, predictions = readers
        predicted = predictions.count_rest()
        for reader in references:
            count = reader.count_rest()
            if count != predicted:
                noun = "lines" if reader.what == "line" else "records"
                raise InputError(
                    f"{reader.name} has {count} {noun} but {predictions.name} has {predicted}; "
                    f"each {reader.what} of one must pair with the same {reader.what} of the other"
                )
        # Records were taken in step, so the counts can only agree if a file
        # grew or shrank meanwhile.
        raise InputError(f"{predictions.name} or a references file changed while it was read")


def _replace(texts: Any, separator: str | None, pyarrow: Any) -> Any:
    if not separator:
        return texts
    if isinstance(texts, list):
        return [[t.replace(separator, "\n") for t in text] if isinstance(text, list) else text.replace(separator, "\n")
                for text in texts]
    import pyarrow.compute as pc  # type: ignore[import-untyped]

    if pyarrow.types.is_string_view(texts.type):
        texts = texts.cast(pyarrow.large_string())
    return pc.replace_substring(texts, pattern=separator, replacement="\n")


class JsonLines:
    """One record per line, with the two texts under two keys; blank lines
    are skipped. A reference may be an array of texts (several references)."""

    def __init__(self, path: str, keys: Keys) -> None:
        self.path = path
        self.keys = keys

    def input_paths(self) -> list[str]:
        return [] if self.path == STDIN else [self.path]

    def score(self, scorer: tallygrams_scorer.RougeScorer, reading: Reading) -> Generator[Scored]:
        with contextlib.closing(prefetched(self._read(reading))) as batches:
            for batch, done in batches:
                references, predictions = batch.references, batch.predictions
                reading.notes.texts(references)
                reading.notes.texts(predictions)
                if isinstance(predictions, list):
                    counts = [len(r) if isinstance(r, list) else 1 for r in references]
                    reading.notes.references(min(counts), max(counts))
                    scores = with_nulls(scorer.score_columns(references, predictions), batch.null_rows)
                else:
                    reading.notes.references(1, 1)
                    scores = scorer.score_arrow(references, predictions)
                yield Scored(scores, done, batch.ids)

    def _read(self, reading: Reading) -> Generator[tuple[Any, float | None]]:
        with BlockReader(self.path) as reader:
            size = reader.size()
            records = JsonLinesReader(reader, self.keys, reading.refuse_nulls, reading.json_reader)
            for batch in _rebatched(records.batches(), reading.batch_pairs):
                batch = batch._replace(references=_replace(batch.references, reading.separator, reading.pyarrow),
                                       predictions=_replace(batch.predictions, reading.separator, reading.pyarrow))
                yield batch, _done(reader, size)


def _rebatched(batches: Any, batch_pairs: int) -> Any:
    """Batches of at most `batch_pairs` pairs (the readers' are of a block)."""
    for batch in batches:
        rows = len(batch.predictions)
        if rows <= batch_pairs:
            yield batch
            continue
        for start in range(0, rows, batch_pairs):
            end = min(start + batch_pairs, rows)
            yield type(batch)(batch.references[start:end], batch.predictions[start:end], batch.ids[start:end],
                              [row - start for row in batch.null_rows if start <= row < end])


class ParquetData:
    """Two text columns of a Parquet file, or of every data file in a folder
    (in their natural order: part.2 before part.10)."""

    def __init__(self, path: str, columns: parquet.Columns) -> None:
        parquet.require_pyarrow("--parquet")
        if path == STDIN:
            raise InputError("--parquet cannot read standard input: a Parquet file is read from its end; "
                             "save it to a file first")
        self.path = path
        self.columns = columns
        self.files = parquet.dataset_files(path)

    def input_paths(self) -> list[str]:
        return [self.path, *self.files]

    def pieces(self) -> list[parquet.Piece]:
        return parquet.pieces(self.files, self.columns)

    def score(self, scorer: tallygrams_scorer.RougeScorer, reading: Reading) -> Generator[Scored]:
        total = max(sum(piece.rows for piece in self.pieces()), 1)
        done = 0
        options = parquet.Options(reading.batch_pairs, reading.refuse_nulls, reading.separator)
        with contextlib.closing(prefetched(self._read(reading.batch_pairs))) as batches:
            for path, batch, first_row in batches:
                scores = parquet.score_batch(scorer, batch, path, first_row, self.columns, options, reading.notes)
                ids = batch.column(self.columns.id) if self.columns.id is not None else None
                if ids is None:
                    ids = range(done + 1, done + 1 + scores.num_rows)
                done += scores.num_rows
                yield Scored(scores, min(done / total, 1.0), ids)

    def _read(self, batch_pairs: int) -> Generator[tuple[str, Any, int]]:
        for path in self.files:
            for batch, first_row in parquet.read_file(path, path, self.columns, batch_pairs):
                yield path, batch, first_row
