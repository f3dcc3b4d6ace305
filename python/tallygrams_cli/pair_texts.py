"""The texts of a few pairs, read again from the input after scoring, for
the report: the tool keeps scores, not texts, so that its memory does not
grow with the input. Rows count input pairs from 0 in the order the
sources score them (JSON Lines: records, blank lines skipped; Parquet: rows
of the files in order, null texts included).
"""

from __future__ import annotations

import contextlib
from collections.abc import Generator, Iterator

from .inputs import LineReader, parse_record
from .sources import JsonLines, ParquetData, Source, TextFiles

# Lines or rows read at a time while looking for the wanted ones.
_STRIDE = 16_384


def _lines(path: str) -> Iterator[str]:
    with LineReader(path) as reader:
        while batch := reader.take(_STRIDE):
            yield from batch


def _picked(texts: Iterator[object], rows: set[int]) -> dict[int, object]:
    found: dict[int, object] = {}
    last = max(rows, default=-1)
    for row, text in enumerate(texts):
        if row in rows:
            found[row] = text
        if row >= last:
            break
    return found


def _records(source: JsonLines) -> Iterator[tuple[list[str], str]]:
    with LineReader(source.path) as reader:
        while batch := reader.take(_STRIDE):
            first = reader.lines - len(batch) + 1
            for number, line in enumerate(batch, first):
                if line.strip():
                    reference, prediction = parse_record(line, f"{source.path}, line {number}",
                                                         source.reference_key, source.prediction_key)
                    yield ([reference] if isinstance(reference, str) else reference), prediction


def _parquet_rows(source: ParquetData) -> Iterator[tuple[list[str], str]]:
    import pyarrow.parquet as pq  # type: ignore[import-untyped]

    for path in source.files:
        parquet = pq.ParquetFile(path)
        for batch in parquet.iter_batches(batch_size=_STRIDE, columns=source.columns.names()):
            references = batch.column(source.columns.reference).to_pylist()
            predictions = batch.column(source.columns.prediction).to_pylist()
            for reference, prediction in zip(references, predictions):
                yield [reference or ""], prediction or ""


def _pairs(source: Source) -> Generator[tuple[list[str], str]]:
    if isinstance(source, TextFiles):
        readers = [_lines(path) for path in source.reference_paths]
        for prediction in _lines(source.prediction_path):
            yield [next(reader) for reader in readers], prediction
    elif isinstance(source, JsonLines):
        yield from _records(source)
    elif isinstance(source, ParquetData):
        yield from _parquet_rows(source)
    else:
        raise TypeError(f"no texts from {type(source).__name__}")


def texts_at(source: Source, rows: set[int]) -> dict[int, tuple[list[str], str]]:
    """The references and the prediction of each wanted row."""
    with contextlib.closing(_pairs(source)) as pairs:
        return _picked(pairs, rows)  # type: ignore[return-value]
