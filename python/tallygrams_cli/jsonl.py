"""JSON Lines, a block of records at a time, through the fastest reader
there is: pyarrow's JSON reader, else orjson, else Python's json module.

The fast readers take the common case only, records whose texts are plain
strings; every block or line they are not sure of goes to the exact reader
(inputs.parse_record), whose rules and messages are therefore the only
ones. So all three give the same scores and the same errors:

- pyarrow parses a whole block natively into Arrow columns that the scorer
  reads in place. A block goes to the exact reader when pyarrow refuses it,
  when it holds a null (or a missing key, which pyarrow also reads as
  null), an array of references, a line that does not start with `{`
  (blank lines would hide a line holding two records), or bytes that are
  not UTF-8 (which pyarrow does not check outside the texts it reads).
- orjson parses each line; a line goes to the exact reader when orjson
  refuses it, when its texts are not plain strings, or when a key the tool
  reads could be named twice (orjson keeps the last value without a word).
"""

from __future__ import annotations

import json
from collections.abc import Iterator
from typing import Any, NamedTuple

from .blocks import Block, BlockReader
from .inputs import InputError, Keys, Record, parse_record

READERS = ("pyarrow", "orjson", "json")


def available_reader() -> str:
    """The fastest reader installed."""
    try:
        import pyarrow.json  # type: ignore[import-untyped]  # noqa: F401
    except ImportError:
        pass
    else:
        return "pyarrow"
    try:
        import orjson  # noqa: F401
    except ImportError:
        return "json"
    return "orjson"


class Batch(NamedTuple):
    """The pairs of some records: Arrow arrays (pyarrow) or lists."""

    references: Any
    predictions: Any
    # The id of each pair: its line number, or its value under --id-key.
    ids: Any
    # The rows of pairs with a null text, given as empty texts; their
    # scores are made null.
    null_rows: list[int]


def _where(name: str, number: int) -> str:
    return f"{name}, line {number}"


def _append(record: Record, pair_id: Any, references: list[Any], predictions: list[Any], ids: list[Any],
            null_rows: list[int]) -> None:
    if record.reference is None or record.prediction is None:
        # Scored as an empty pair, whose scores are then made null.
        null_rows.append(len(predictions))
        references.append("")
        predictions.append("")
    else:
        references.append(record.reference)
        predictions.append(record.prediction)
    ids.append(pair_id)


class _ExactLines:
    """Lines of a block read one by one by the exact reader."""

    def __init__(self, name: str, keys: Keys, refuse_nulls: bool) -> None:
        self.name = name
        self.keys = keys
        self.refuse_nulls = refuse_nulls
        # The kind of the first id, so that every id is of that kind.
        self.id_kind: type | None = None

    def record(self, raw: bytes | bytearray, number: int) -> Record | None:
        where = _where(self.name, number)
        try:
            line = raw.decode("utf-8")
        except UnicodeDecodeError as error:
            raise InputError(f"{where}: invalid UTF-8 at byte {error.start + 1} of the line") from None
        record = parse_record(line, where, self.keys)
        if record is None:
            return None
        if self.refuse_nulls and (record.reference is None or record.prediction is None):
            key = self.keys.prediction if record.prediction is None else self.keys.reference
            raise InputError(f"{where}: the value of {json.dumps(key, ensure_ascii=False)} is null, or holds "
                             "a null (without --nulls error, such pairs are left out and counted)")
        if record.id is not None and self.keys.id is not None:
            kind = type(record.id)
            if self.id_kind is None:
                self.id_kind = kind
            elif kind is not self.id_kind:
                first = "strings" if self.id_kind is str else "integers"
                raise InputError(f"{where}: the value of {json.dumps(self.keys.id, ensure_ascii=False)} is "
                                 f"{'a string' if kind is str else 'an integer'}, where earlier ids are {first}")
        return record

    def batch(self, block: Block) -> Batch:
        references: list[Any] = []
        predictions: list[Any] = []
        ids: list[Any] = []
        null_rows: list[int] = []
        lines = block.data.split(b"\n")
        for offset, raw in enumerate(lines[:block.records]):
            number = block.first + offset
            record = self.record(raw, number)
            if record is None:
                continue
            _append(record, number if self.keys.id is None else record.id, references, predictions, ids, null_rows)
        return Batch(references, predictions, ids, null_rows)


class JsonLines:
    """Batches of pairs from a JSON Lines file, through `reader`."""

    def __init__(self, reader: BlockReader, keys: Keys, refuse_nulls: bool, kind: str) -> None:
        self._blocks = reader
        self._keys = keys
        self._exact = _ExactLines(reader.name, keys, refuse_nulls)
        self.kind = kind
        self._schema: Any = None
        if kind == "orjson":
            import orjson

            self._orjson = orjson
            self._quoted = [json.dumps(key).encode() for key in keys if key is not None]

    def batches(self) -> Iterator[Batch]:
        while (block := self._blocks.next_block()) is not None:
            if self.kind == "pyarrow":
                batch = self._arrow(block)
            elif self.kind == "orjson":
                batch = self._fast_lines(block)
            else:
                batch = None
            if batch is None:
                batch = self._exact.batch(block)
            if len(batch.predictions):
                yield batch

    # --- pyarrow ---------------------------------------------------------

    def _arrow_schema(self, block: Block) -> Any:
        """Explicit types for the keys read, the id's from the first record."""
        import pyarrow as pa

        id_type = pa.int64()
        if self._keys.id is not None:
            if self._exact.id_kind is None:
                for number, raw in enumerate(block.data.split(b"\n")[:block.records], block.first):
                    record = self._exact.record(raw, number)
                    if record is not None and record.id is not None:
                        break
            if self._exact.id_kind is None:
                return None
            id_type = pa.string() if self._exact.id_kind is str else pa.int64()
        fields = {self._keys.reference: pa.string(), self._keys.prediction: pa.string()}
        if self._keys.id is not None:
            fields[self._keys.id] = id_type
        return pa.schema(list(fields.items()))

    def _arrow(self, block: Block) -> Batch | None:
        import pyarrow as pa
        import pyarrow.json as pj

        data = block.data
        if not data.startswith(b"{") or data.count(b"\n{") != block.records - 1:
            # Blank lines, or lines that start otherwise (white space): the
            # row count below would not tell one record a line.
            return None
        if not data.isascii():
            try:
                data.decode("utf-8")
            except UnicodeDecodeError:
                return None
        if self._schema is None:
            self._schema = self._arrow_schema(block)
            if self._schema is None:
                return None
        try:
            table = pj.read_json(
                pa.BufferReader(data),
                read_options=pj.ReadOptions(use_threads=False, block_size=len(data) + 1),
                parse_options=pj.ParseOptions(explicit_schema=self._schema, unexpected_field_behavior="ignore"),
            )
        except (pa.ArrowException, ValueError):
            return None
        if table.num_rows != block.records:
            return None
        columns = [table.column(key) for key in self._keys if key is not None]
        if any(column.null_count for column in columns):
            return None
        references = table.column(self._keys.reference)
        predictions = table.column(self._keys.prediction)
        if self._keys.id is not None:
            ids = table.column(self._keys.id)
        else:
            ids = range(block.first, block.first + block.records)
        return Batch(references, predictions, ids, [])

    # --- orjson ----------------------------------------------------------

    def _fast_lines(self, block: Block) -> Batch:
        loads = self._orjson.loads
        error = self._orjson.JSONDecodeError
        keys = self._keys
        exact = self._exact.record
        quoted = self._quoted
        references: list[Any] = []
        predictions: list[Any] = []
        ids: list[Any] = []
        null_rows: list[int] = []
        for number, raw in enumerate(block.data.split(b"\n")[:block.records], block.first):
            record: Any = None
            try:
                value = loads(raw)
            except error:
                value = None
            if (type(value) is dict and type(value.get(keys.reference)) is str
                    and type(value.get(keys.prediction)) is str and b"\\u" not in raw
                    and all(raw.count(key) == 1 for key in quoted)):
                pair_id: Any = number
                if keys.id is not None:
                    pair_id = value.get(keys.id)
                    if type(pair_id) is not (self._exact.id_kind or type(pair_id)) or type(pair_id) not in (str, int):
                        record = exact(raw, number)
                if record is None:
                    references.append(value[keys.reference])
                    predictions.append(value[keys.prediction])
                    ids.append(pair_id)
                    if keys.id is not None and self._exact.id_kind is None:
                        self._exact.id_kind = type(pair_id)
                    continue
            else:
                record = exact(raw, number)
            if record is None:
                continue
            _append(record, number if keys.id is None else record.id, references, predictions, ids, null_rows)
        return Batch(references, predictions, ids, null_rows)
