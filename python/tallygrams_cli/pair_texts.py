"""The texts of a few pairs, read again from the input after scoring, for
the report: the tool keeps scores, not texts, so that its memory does not
grow with the input. Rows count input pairs from 0 in the order the
sources score them (JSON Lines: records, blank lines skipped; Parquet: rows
of the files in order, null texts included). Only the wanted lines are
decoded, and reading stops after the last of them.
"""

from __future__ import annotations

import contextlib
from collections.abc import Generator

from .inputs import parse_record
from .sources import JsonLines, ParquetData, Source, TextFiles

_BOM = b"\xef\xbb\xbf"
# Rows read at a time from Parquet while looking for the wanted ones.
_PARQUET_BATCH = 16_384


def _raw_lines(path: str) -> Generator[bytes]:
    """The lines of a file as the tool reads them (split at line feeds only,
    a carriage return before one dropped, a leading byte-order mark
    dropped), undecoded."""
    with open(path, "rb") as handle:
        for number, line in enumerate(handle):
            if number == 0 and line.startswith(_BOM):
                line = line[len(_BOM):]
            if line.endswith(b"\n"):
                line = line[:-1]
            yield line[:-1] if line.endswith(b"\r") else line


def _decoded(line: bytes) -> str:
    # The input was read whole while scoring, so it decodes.
    return line.decode("utf-8")


def _text_rows(source: TextFiles, rows: set[int], references: bool) -> Generator[tuple[int, list[str], str]]:
    with contextlib.ExitStack() as stack:
        readers = [stack.enter_context(contextlib.closing(_raw_lines(path)))
                   for path in (source.reference_paths if references else [])]
        predictions = stack.enter_context(contextlib.closing(_raw_lines(source.prediction_path)))
        for row, prediction in enumerate(predictions):
            texts = [next(reader) for reader in readers]
            if row in rows:
                yield row, [_decoded(text) for text in texts], _decoded(prediction)


def _record_rows(source: JsonLines, rows: set[int]) -> Generator[tuple[int, list[str], str]]:
    row = 0
    with contextlib.closing(_raw_lines(source.path)) as lines:
        for number, line in enumerate(lines, 1):
            # Blank as the JSON Lines readers have it.
            if not line.strip(b" \t\r\n"):
                continue
            if row in rows:
                record = parse_record(_decoded(line), f"{source.path}, line {number}", source.keys)
                assert record is not None
                reference = record.reference or ""
                yield row, [reference] if isinstance(reference, str) else reference, record.prediction or ""
            row += 1


def _parquet_rows(source: ParquetData, rows: set[int]) -> Generator[tuple[int, list[str], str]]:
    import pyarrow.parquet as pq  # type: ignore[import-untyped]

    first = 0
    for path in source.files:
        parquet = pq.ParquetFile(path)
        for batch in parquet.iter_batches(batch_size=_PARQUET_BATCH, columns=source.columns.names()):
            wanted = sorted(row - first for row in rows if first <= row < first + batch.num_rows)
            if wanted:
                references = batch.column(source.columns.reference).take(wanted).to_pylist()
                predictions = batch.column(source.columns.prediction).take(wanted).to_pylist()
                for offset, reference, prediction in zip(wanted, references, predictions):
                    yield first + offset, [reference or ""], prediction or ""
            first += batch.num_rows


def texts_at(source: Source, rows: set[int], references: bool = True) -> dict[int, tuple[list[str], str]]:
    """The references (none unless asked for) and the prediction of each
    wanted row."""
    if isinstance(source, TextFiles):
        found = _text_rows(source, rows, references)
    elif isinstance(source, JsonLines):
        found = _record_rows(source, rows)
    elif isinstance(source, ParquetData):
        found = _parquet_rows(source, rows)
    else:
        raise TypeError(f"no texts from {type(source).__name__}")
    texts: dict[int, tuple[list[str], str]] = {}
    with contextlib.closing(found):
        for row, reference_texts, prediction in found:
            texts[row] = (reference_texts if references else [], prediction)
            if len(texts) == len(rows):
                break
    return texts
