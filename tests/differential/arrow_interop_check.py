"""The Arrow reader and writer against real producers and consumers.

Run by ctest with the path of the test-only library arrow_probe: pyarrow and
polars export text columns (arrays, slices, chunked arrays, record batches,
tables, series, data frames) that the reader must read exactly, and import
the writer's record batches and streams, whose memory must all be freed once
they are gone. Exits with 77 (skipped) when pyarrow or polars is missing.
"""

import ctypes
import gc
import struct
import sys

try:
    import polars as pl
    import pyarrow as pa
except ReadError:
    sys.exit(77)

probe = ctypes.CDLL(sys.argv[1])
size_p = ctypes.POINTER(ctypes.c_size_t)
for name, argtypes in [
    ("probe_read_array", [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_char_p, size_p]),
    ("probe_read_stream", [ctypes.c_void_p, ctypes.c_char_p, size_p]),
]:
    getattr(probe, name).restype = ctypes.c_void_p
    getattr(probe, name).argtypes = argtypes
probe.probe_free.argtypes = [ctypes.c_void_p]
probe.probe_export_batch.argtypes = [ctypes.c_int64, ctypes.c_int64, ctypes.c_void_p, ctypes.c_void_p]
probe.probe_export_stream.argtypes = [ctypes.c_int64, ctypes.c_int64, ctypes.c_int64, ctypes.c_void_p]
probe.probe_live_columns.restype = ctypes.c_int64
for name in ("probe_release_schema", "probe_release_array", "probe_release_stream"):
    getattr(probe, name).argtypes = [ctypes.c_void_p]

capsule_pointer = ctypes.pythonapi.PyCapsule_GetPointer
capsule_pointer.restype = ctypes.c_void_p
capsule_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
new_capsule = ctypes.pythonapi.PyCapsule_New
new_capsule.restype = ctypes.py_object
new_capsule.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]

SCHEMA_SIZE, ARRAY_SIZE, STREAM_SIZE = 72, 80, 40
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


def decode(address, size):
    raw = ctypes.string_at(address, size)
    probe.probe_free(address)
    if raw[:1] == b"E":
        kind, message = raw[1:].decode().split("\n", 1)
        return ("error", kind, message)
    rows, i = [], 1
    while i < len(raw):
        if raw[i : i + 1] == b"N":
            rows.append(None)
            i += 1
            continue
        (length,) = struct.unpack_from("<Q", raw, i + 1)
        rows.append(raw[i + 9 : i + 9 + length].decode())
        i += 9 + length
    return rows


def read_array(exportable, column=None):
    schema, array = exportable.__arrow_c_array__()
    size = ctypes.c_size_t()
    address = probe.probe_read_array(
        capsule_pointer(schema, b"arrow_schema"), capsule_pointer(array, b"arrow_array"),
        column and column.encode(), ctypes.byref(size))
    return decode(address, size.value)


def read_stream(exportable, column=None):
    stream = exportable.__arrow_c_stream__()
    size = ctypes.c_size_t()
    address = probe.probe_read_stream(
        capsule_pointer(stream, b"arrow_array_stream"), column and column.encode(), ctypes.byref(size))
    return decode(address, size.value)


TEXTS = ["The cat sat.", None, "", "exactly 12 b", "a text longer than twelve bytes",
         "caf\u00e9 \u4e2d\u6587 \U0001F600", None, "nul\x00inside", "w" * 300, "last"]


def test_pyarrow_text_columns():
    for text_type in (pa.string(), pa.large_string(), pa.string_view()):
        array = pa.array(TEXTS, type=text_type)
        check(read_array(array) == TEXTS, f"{text_type}: whole array")
        for start, length in [(1, 5), (3, 7), (9, 1), (4, 0)]:
            check(read_array(array.slice(start, length)) == TEXTS[start:start + length],
                  f"{text_type}: slice {start}+{length}")
        chunked = pa.chunked_array([array.slice(0, 3), array.slice(3, 0), array.slice(3, 5), array.slice(8)])
        check(read_stream(chunked) == TEXTS, f"{text_type}: chunked array")
        check(read_stream(pa.chunked_array([], type=text_type)) == [], f"{text_type}: no chunks")


def test_pyarrow_record_batches():
    batch = pa.record_batch({
        "reference": pa.array(TEXTS, pa.large_string()),
        "prediction": pa.array(list(reversed(TEXTS)), pa.string_view()),
        "id": pa.array(range(len(TEXTS))),
    })
    check(read_array(batch, "reference") == TEXTS, "record batch: reference")
    check(read_array(batch.slice(2, 5), "prediction") == list(reversed(TEXTS))[2:7], "sliced record batch")
    table = pa.Table.from_batches([batch, batch.slice(4), batch.slice(0, 0)])
    check(read_stream(table, "reference") == TEXTS + TEXTS[4:], "table of batches")
    missing = read_array(batch, "Reference")
    check(missing[:2] == ("error", "column_not_found") and '"reference", "prediction", "id"' in missing[2],
          f"missing column: {missing}")
    wrong = read_array(batch, "id")
    check(wrong[:2] == ("error", "unsupported_type") and 'int64 ("l")' in wrong[2], f"int column: {wrong}")


def test_polars_text_columns():
    series = pl.Series("texts", TEXTS)
    check(read_stream(series) == TEXTS, "polars series")
    check(read_stream(series.slice(2, 6)) == TEXTS[2:8], "sliced polars series")
    chunked = pl.concat([series.slice(0, 4), series.slice(4)], rechunk=False)
    check(chunked.n_chunks() == 2 and read_stream(chunked) == TEXTS, "chunked polars series")
    frame = pl.DataFrame({"reference": TEXTS, "prediction": list(reversed(TEXTS)), "n": range(len(TEXTS))})
    check(read_stream(frame, "prediction") == list(reversed(TEXTS)), "polars data frame")
    check(read_stream(frame.slice(3, 4), "reference") == TEXTS[3:7], "sliced polars data frame")


def test_rejections():
    for view_of in ((pa.binary(), pa.string()), (pa.large_binary(), pa.large_string())):
        broken = pa.array([b"fine", None, b"bad \xc3(", b"\xff"], view_of[0]).view(view_of[1])
        result = read_array(broken)
        check(result == ("error", "invalid_utf8", "invalid UTF-8 in row 2, at byte 4 of its text (bytes c3 28)"),
              f"invalid UTF-8 in {view_of[1]}: {result}")
    for array, found in [
        (pa.array([b"x"], pa.binary()), 'binary ("z")'),
        (pa.array(["a", "b", "a"]).dictionary_encode(), "dictionary<values=string, indices=int32>"),
        (pa.array([1.5]), 'float64 ("g")'),
    ]:
        result = read_array(array)
        check(result[:2] == ("error", "unsupported_type") and found in result[2], f"{array.type}: {result}")
    categorical = pl.Series(["a", "b"], dtype=pl.Categorical)
    result = read_stream(categorical)
    check(result[:2] == ("error", "unsupported_type") and "dictionary" in result[2], f"polars categorical: {result}")


class Exported:
    """Our batches behind the PyCapsule interface, as a result object would offer them.

    The capsules have no destructor: every consumer here takes the structure
    over, and a leak would show in probe_live_columns.
    """

    def __init__(self, rows, null_every, batches=1):
        self.rows, self.null_every, self.batches = rows, null_every, batches
        self.keep = []

    def _struct(self, size):
        memory = ctypes.create_string_buffer(size)
        self.keep.append(memory)
        return ctypes.addressof(memory)


class ExportedBatch(Exported):
    def __arrow_c_array__(self, requested_schema=None):
        schema, array = self._struct(SCHEMA_SIZE), self._struct(ARRAY_SIZE)
        probe.probe_export_batch(self.rows, self.null_every, schema, array)
        return new_capsule(schema, b"arrow_schema", None), new_capsule(array, b"arrow_array", None)


class ExportedStream(Exported):
    def __arrow_c_stream__(self, requested_schema=None):
        stream = self._struct(STREAM_SIZE)
        probe.probe_export_stream(self.rows, self.batches, self.null_every, stream)
        return new_capsule(stream, b"arrow_array_stream", None)


def expected_column(k, rows, null_every, first_row=0):
    return [None if null_every and (first_row + i) % null_every == 0 else float(k * 1000 + first_row + i)
            for i in range(rows)]


NAMES = ["rouge1_precision", "rouge1_recall", "rougeL_fmeasure"]


def check_table(table, rows, null_every, what):
    check(table.column_names == NAMES, f"{what}: names {table.column_names}")
    check(all(field.type == pa.float64() and field.nullable for field in table.schema), f"{what}: types")
    for k, name in enumerate(NAMES):
        check(table.column(name).to_pylist() == expected_column(k, rows, null_every), f"{what}: column {name}")


def test_writer_into_pyarrow():
    schema = ctypes.create_string_buffer(SCHEMA_SIZE)
    array = ctypes.create_string_buffer(ARRAY_SIZE)
    probe.probe_export_batch(1000, 7, ctypes.addressof(schema), ctypes.addressof(array))
    batch = pa.RecordBatch._import_from_c(ctypes.addressof(array), ctypes.addressof(schema))
    check_table(pa.Table.from_batches([batch]), 1000, 7, "pyarrow import from C")
    batch.validate(full=True)
    del batch

    check_table(pa.table(ExportedStream(257, 3, 1)), 257, 3, "pyarrow.table over a stream")
    check_table(pa.table(ExportedStream(100, 0, 4)), 400, 0, "pyarrow.table over four batches")
    check_table(pa.Table.from_batches([pa.record_batch(ExportedBatch(9, 2))]), 9, 2, "pyarrow.record_batch")
    check_table(pa.table(ExportedBatch(0, 0)), 0, 0, "an empty batch")


def test_writer_into_polars():
    # polars.from_arrow makes a Series of structs out of any capsule object;
    # a DataFrame takes the columns.
    series = pl.from_arrow(ExportedStream(50, 4, 3))
    check(series.dtype == pl.Struct and len(series) == 150, f"polars.from_arrow: {series.dtype}, {len(series)}")
    frame = series.struct.unnest()
    check(frame.columns == NAMES, f"polars names {frame.columns}")
    check(frame["rouge1_recall"].to_list() == expected_column(1, 150, 4), "polars values and nulls")
    check(frame["rougeL_fmeasure"].dtype == pl.Float64, "polars dtype")
    frame = pl.DataFrame(ExportedStream(10, 0, 2))
    check(frame.height == 20 and frame["rouge1_precision"].null_count() == 0, "polars.DataFrame over a stream")
    frame = pl.DataFrame(ExportedBatch(10, 3))
    check(frame["rouge1_precision"].to_list() == expected_column(0, 10, 3), "polars.DataFrame over a batch")


def main():
    for test in [test_pyarrow_text_columns, test_pyarrow_record_batches, test_polars_text_columns, test_rejections,
                 test_writer_into_pyarrow, test_writer_into_polars]:
        test()
    gc.collect()
    live = probe.probe_live_columns()
    check(live == 0, f"{live} exported column buffers were never freed")
    print(f"{len(failures)} failures" if failures else "all interop checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
