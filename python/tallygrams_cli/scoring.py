"""The score columns the summary needs, kept for the whole input.

They are the only memory that grows with the input: 8 bytes per pair and
column, in packed arrays of doubles that the native bootstrap reads in
place. Rows whose scores are null (a null text in Arrow input) are left
out; the per-pair file still has them. Buffers that keep such rows hold NaN
in their place instead, so that row i is input pair i.
"""

from __future__ import annotations

import math
import sys
from array import array
from typing import Any

import tallygrams_scorer

# From this many rows a batch's columns are taken from their Arrow buffers
# (through pyarrow, if installed) rather than as lists of floats.
_BUFFER_ROWS = 10_000


class NulledScores:
    """Score columns with some rows made null: pairs read with a null text,
    scored as empty ones. Reads like ScoreColumns where the tool reads it."""

    def __init__(self, scored: tallygrams_scorer.ScoreColumns, null_rows: list[int]) -> None:
        self.column_names = scored.column_names
        self.num_rows = scored.num_rows
        self._columns = {name: scored.column(name) for name in scored.column_names}
        for column in self._columns.values():
            for row in null_rows:
                column[row] = None

    def column(self, name: str) -> list[float | None]:
        return self._columns[name]

    def __arrow_c_array__(self, requested_schema: object | None = None) -> tuple[object, object]:
        import pyarrow  # type: ignore[import-untyped]

        batch = pyarrow.record_batch({name: pyarrow.array(column, pyarrow.float64())
                                      for name, column in self._columns.items()})
        exported: tuple[object, object] = batch.__arrow_c_array__(requested_schema)
        return exported


def with_nulls(scored: tallygrams_scorer.ScoreColumns, null_rows: list[int]) -> Any:
    return NulledScores(scored, null_rows) if null_rows else scored


class ScoreBuffers:
    def __init__(self, names: tuple[str, ...], keep_null_rows: bool = False) -> None:
        self.names = names
        self.keep_null_rows = keep_null_rows
        self.columns = {name: array("d") for name in names}
        self.pairs = 0
        self.left_out = 0
        self._pyarrow: Any = sys.modules.get("pyarrow")

    def append(self, scored: Any) -> None:
        if scored.column_names != self.names:
            raise RuntimeError(f"scored columns {scored.column_names} where {self.names} were expected")
        if self._pyarrow is None and scored.num_rows >= _BUFFER_ROWS:
            try:
                import pyarrow
            except ImportError:
                pass
            else:
                self._pyarrow = pyarrow
        if self._pyarrow is not None and not isinstance(scored, NulledScores):
            self._append_buffers(scored)
        else:
            self._append_lists(scored)

    def _append_lists(self, scored: Any) -> None:
        values = {name: scored.column(name) for name in self.names}
        first = values[self.names[0]]
        if None in first and self.keep_null_rows:
            values = {name: [math.nan if value is None else value for value in column]
                      for name, column in values.items()}
        elif None in first:
            # A null text makes every score of its row null.
            kept = [row for row, value in enumerate(first) if value is not None]
            self.left_out += len(first) - len(kept)
            values = {name: [column[row] for row in kept] for name, column in values.items()}
        for name, column in values.items():
            self.columns[name].extend(column)
        self.pairs += len(values[self.names[0]])

    def _append_buffers(self, scored: tallygrams_scorer.ScoreColumns) -> None:
        batch = self._pyarrow.record_batch(scored)
        nulls = batch.column(0).null_count
        columns = batch.columns
        if nulls and self.keep_null_rows:
            import pyarrow.compute as compute  # type: ignore[import-untyped]

            columns = [compute.fill_null(column, math.nan) for column in columns]
        elif nulls:
            batch = batch.filter(batch.column(0).is_valid())
            columns = batch.columns
            self.left_out += nulls
        for name, column in zip(self.names, columns):
            data = column.buffers()[1]
            start = column.offset * 8
            self.columns[name].frombytes(memoryview(data)[start : start + 8 * len(column)])
        self.pairs += batch.num_rows

    def means(self) -> dict[str, float]:
        # The correctly rounded sum over the count: the same mean the native
        # bootstrap reports, whatever the order of the pairs.
        return {name: math.fsum(column) / len(column) for name, column in self.columns.items()}
