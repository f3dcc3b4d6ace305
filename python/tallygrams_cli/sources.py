"""The inputs the tool scores, each read and scored a batch at a time, so
that memory does not grow with the input: text files read in step, a JSON
Lines file, a Parquet file or folder.

A source's `score` yields the ScoreColumns of each batch in input order,
together with the fraction of the input read so far (for the progress bar).
"""

from __future__ import annotations

import contextlib
import os
from collections.abc import Generator, Iterator
from typing import NamedTuple, NoReturn, Protocol

import tallygrams_scorer

from . import parquet
from .inputs import InputError, LineReader, parse_record


class Scored(NamedTuple):
    columns: tallygrams_scorer.ScoreColumns
    # The share of the input read so far, from 0 to 1.
    done: float


class Source(Protocol):
    def input_paths(self) -> list[str]:
        """The files read, to guard them against being overwritten."""
        ...

    def score(self, scorer: tallygrams_scorer.RougeScorer, batch_pairs: int) -> Generator[Scored]: ...


def _file_size(path: str) -> int:
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


class TextFiles:
    """Line N of the predictions file against line N of each references file
    (several files: several references for each prediction)."""

    def __init__(self, reference_paths: list[str], prediction_path: str) -> None:
        self.reference_paths = reference_paths
        self.prediction_path = prediction_path

    def input_paths(self) -> list[str]:
        return [*self.reference_paths, self.prediction_path]

    def score(self, scorer: tallygrams_scorer.RougeScorer, batch_pairs: int) -> Generator[Scored]:
        size = max(_file_size(self.prediction_path), 1)
        with contextlib.ExitStack() as stack:
            references = [stack.enter_context(LineReader(path)) for path in self.reference_paths]
            predictions = stack.enter_context(LineReader(self.prediction_path))
            while True:
                texts = [reader.take(batch_pairs) for reader in references]
                batch = predictions.take(batch_pairs)
                if any(len(lines) != len(batch) for lines in texts):
                    self._unequal_lengths(references, predictions)
                if not batch:
                    return
                targets = texts[0] if len(texts) == 1 else [list(group) for group in zip(*texts)]
                yield Scored(scorer.score_columns(targets, batch), min(predictions.bytes_read / size, 1.0))

    @staticmethod
    def _unequal_lengths(references: list[LineReader], predictions: LineReader) -> NoReturn:
        # One file has ended before another: the rest of each is counted
        # (not read as text) for the message.
        predicted = predictions.count_all()
        for reader in references:
            count = reader.count_all()
            if count != predicted:
                raise InputError(
                    f"{reader.path} has {count} lines but {predictions.path} has {predicted}; "
                    "each line of one must pair with the same line of the other"
                )
        # Lines were taken in step, so the counts can only agree if a file
        # grew or shrank meanwhile.
        raise InputError(f"{predictions.path} or a references file changed while it was read")


class JsonLines:
    """One record per line, with the two texts under two keys; blank lines
    are skipped. A reference may be an array of texts (several references)."""

    def __init__(self, path: str, reference_key: str, prediction_key: str) -> None:
        self.path = path
        self.reference_key = reference_key
        self.prediction_key = prediction_key

    def input_paths(self) -> list[str]:
        return [self.path]

    def score(self, scorer: tallygrams_scorer.RougeScorer, batch_pairs: int) -> Generator[Scored]:
        size = max(_file_size(self.path), 1)
        with LineReader(self.path) as reader:
            while True:
                first = reader.lines + 1
                lines = reader.take(batch_pairs)
                if not lines:
                    return
                targets: list[str | list[str]] = []
                predictions: list[str] = []
                for number, line in enumerate(lines, first):
                    if not line.strip():
                        continue
                    target, prediction = parse_record(
                        line, f"{self.path}, line {number}", self.reference_key, self.prediction_key
                    )
                    targets.append(target)
                    predictions.append(prediction)
                if predictions:
                    yield Scored(scorer.score_columns(targets, predictions), min(reader.bytes_read / size, 1.0))


class ParquetData:
    """Two text columns of a Parquet file, or of every data file in a folder
    (in their natural order: part.2 before part.10)."""

    def __init__(self, path: str, columns: parquet.Columns) -> None:
        parquet.require_pyarrow("--parquet")
        self.path = path
        self.columns = columns
        self.files = parquet.dataset_files(path)

    def input_paths(self) -> list[str]:
        return [self.path, *self.files]

    def pieces(self) -> list[parquet.Piece]:
        return parquet.pieces(self.files, self.columns)

    def score(self, scorer: tallygrams_scorer.RougeScorer, batch_pairs: int) -> Generator[Scored]:
        total = max(sum(piece.rows for piece in self.pieces()), 1)
        done = 0
        for path in self.files:
            for columns in parquet.score_file(scorer, path, path, self.columns, batch_pairs):
                done += columns.num_rows
                yield Scored(columns, min(done / total, 1.0))
