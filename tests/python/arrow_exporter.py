"""A hand-made Arrow producer for tests that must not depend on pyarrow
(the debug interpreter's leak hunt cannot load it): a one-chunk string
array whose release callbacks count their calls, handed over in PyCapsules
as __arrow_c_array__ does."""

import ctypes
import struct


class ArrowSchema(ctypes.Structure):
    pass


class ArrowArray(ctypes.Structure):
    pass


RELEASE_SCHEMA = ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowSchema))
RELEASE_ARRAY = ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowArray))
ArrowSchema._fields_ = [("format", ctypes.c_char_p), ("name", ctypes.c_char_p), ("metadata", ctypes.c_char_p),
                        ("flags", ctypes.c_int64), ("n_children", ctypes.c_int64),
                        ("children", ctypes.c_void_p), ("dictionary", ctypes.c_void_p),
                        ("release", RELEASE_SCHEMA), ("private_data", ctypes.c_void_p)]
ArrowArray._fields_ = [("length", ctypes.c_int64), ("null_count", ctypes.c_int64), ("offset", ctypes.c_int64),
                       ("n_buffers", ctypes.c_int64), ("n_children", ctypes.c_int64),
                       ("buffers", ctypes.POINTER(ctypes.c_void_p)), ("children", ctypes.c_void_p),
                       ("dictionary", ctypes.c_void_p), ("release", RELEASE_ARRAY), ("private_data", ctypes.c_void_p)]

capsule_new = ctypes.pythonapi.PyCapsule_New
capsule_new.restype = ctypes.py_object
capsule_new.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]


def string_view_buffers(texts, data_size):
    """A string_view array's views, its one data buffer and the buffer of
    that buffer's size, which the producer states as `data_size`."""
    data = b"".join(text for text in texts if len(text) > 12)
    views, offset = b"", 0
    for text in texts:
        if len(text) <= 12:
            views += struct.pack("<i12s", len(text), text)
        else:
            views += struct.pack("<i4sii", len(text), text[:4], 0, offset)
            offset += len(text)
    size = len(data) if data_size is None else data_size
    return [ctypes.create_string_buffer(views, len(views)), ctypes.create_string_buffer(data, len(data) + 1),
            (ctypes.c_int64 * 1)(size)]


class CountingExporter:
    # `string_view`: the texts as a string_view array (format "vu") whose
    # data buffer is said to hold `data_size` bytes (its true size if None).
    def __init__(self, texts, string_view=False, data_size=None):
        if string_view:
            self.keep = string_view_buffers(texts, data_size)
            self.buffers = (ctypes.c_void_p * 4)(None, *map(ctypes.addressof, self.keep))
        else:
            data = b"".join(texts)
            offsets = [0]
            for text in texts:
                offsets.append(offsets[-1] + len(text))
            self.keep = [ctypes.create_string_buffer(data, len(data) + 1), (ctypes.c_int32 * len(offsets))(*offsets)]
            self.buffers = (ctypes.c_void_p * 3)(None, ctypes.addressof(self.keep[1]), ctypes.addressof(self.keep[0]))
        self.released = {"schema": 0, "array": 0}

        def release_schema(schema):
            self.released["schema"] += 1
            schema.contents.release = RELEASE_SCHEMA()

        def release_array(array):
            self.released["array"] += 1
            array.contents.release = RELEASE_ARRAY()

        self.callbacks = (RELEASE_SCHEMA(release_schema), RELEASE_ARRAY(release_array))
        self.schema = ArrowSchema(b"vu" if string_view else b"u", None, None, 2, 0, None, None, self.callbacks[0], None)
        self.array = ArrowArray(len(texts), 0, 0, len(self.buffers), 0, self.buffers, None, None, self.callbacks[1],
                                None)

    def __arrow_c_array__(self, requested_schema=None):
        return (capsule_new(ctypes.addressof(self.schema), b"arrow_schema", None),
                capsule_new(ctypes.addressof(self.array), b"arrow_array", None))
