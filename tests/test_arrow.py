"""Frames handed to Arrow consumers through the PyCapsule interface, and
columns added from Arrow arrays and from arrays with the buffer protocol."""
import array
import ctypes
import math
import queue
import random
import threading

import pytest

from tarnwick import Frame

from conftest import table, values_of

pa = pytest.importorskip("pyarrow")
np = pytest.importorskip("numpy")

ODD_NAMES = ["", "a b", 'q"uote\\', "é", "line\nfeed", "𝔘"]


def random_frame(rng, rows):
    """A frame of every dtype with missing entries, added from Arrow arrays."""
    def maybe(value):
        return None if rng.random() < 0.2 else value

    f = Frame()
    f.add_ints("i", pa.array([maybe(rng.choice([rng.randint(-2**63, 2**63 - 1),
                                                 rng.randint(-3, 3)])) for _ in range(rows)],
                             pa.int64()))
    f.add_floats("x", pa.array([maybe(rng.choice([rng.uniform(-1e6, 1e6), float("nan"), -0.0,
                                                  float("inf")])) for _ in range(rows)],
                               pa.float64()))
    f.add_strings(rng.choice(ODD_NAMES),
                  pa.array([maybe(rng.choice(["", "a", "b\x00c", "ünï", "𝔘" * rng.randint(0, 9)]))
                            for _ in range(rows)], pa.string()))
    f.add_ints("plain", list(range(rows)))
    return f


def derived(f):
    """Frames with and without selections, empty ones and one without columns."""
    return [f, f.where_gt("i", 0), f.sort("i", True), f.head(3), f.tail(0),
            f.where_gt("x", 1e300), f.select(["plain"]), f.select([])]


def arrow_entries(column):
    return [None if v is None else repr(v) if isinstance(v, float) else v
            for v in column.to_pylist()]


def frame_entries(frame, name):
    values = values_of(frame, name)
    return [None if v is None else repr(v) if isinstance(v, float) else v for v in values]


ARROW_TYPE = {"i64": pa.int64(), "f64": pa.float64(), "str": pa.string()}


def test_round_trip_through_pyarrow_keeps_every_entry():
    rng = random.Random(5)
    for _ in range(30):
        for g in derived(random_frame(rng, rng.randint(0, 40))):
            t = pa.table(g)
            assert t.num_rows == g.height()
            assert t.column_names == g.names()
            assert [f.type for f in t.schema] == [ARROW_TYPE[d] for d in g.dtypes()]
            for name in g.names():
                expected = frame_entries(g, name)
                assert arrow_entries(t.column(name)) == expected
                assert t.column(name).null_count == expected.count(None)
            # ...and back again, through a stream (chunked) and one array.
            for source in (lambda c: c, lambda c: c.combine_chunks()):
                back = Frame()
                for name, dtype in zip(g.names(), g.dtypes()):
                    adder = {"i64": back.add_ints, "f64": back.add_floats,
                             "str": back.add_strings}[dtype]
                    adder(name, source(t.column(name)))
                assert table(back) == table(g)


def test_stream_reader_schema_and_frames_without_columns_or_rows():
    f = Frame()
    assert pa.table(f).num_rows == 0 and pa.table(f).num_columns == 0
    f.add_strings("s", [])
    assert pa.RecordBatchReader.from_stream(f).read_all().schema == pa.schema([("s", pa.string())])
    g = Frame()
    g.add_ints("a", [1, 2, 3])
    assert pa.table(g.select([])).num_rows == 3
    assert pa.schema(g) == pa.schema([("a", pa.int64())])
    g.add_strings("a\x00b", ["x", "y", "z"])
    with pytest.raises(ValueError) as caught:
        pa.table(g)
    assert str(caught.value) == (
        'column "a\\0b" has a NUL character, which an Arrow field name cannot hold')


def test_requested_schema_is_honoured_or_refused():
    f = Frame()
    f.add_ints("n", [1, 2])
    f.add_strings("s", ["x", None] if False else ["x", "y"])
    same = pa.schema([("n", pa.int64()), ("s", pa.string())])
    wide = pa.schema([("n", pa.int64()), ("s", pa.large_string())])
    assert pa.RecordBatchReader.from_stream(f, schema=same).read_all().schema == same
    got = pa.RecordBatchReader.from_stream(f, schema=wide).read_all()
    assert got.schema == wide and got.column("s").to_pylist() == ["x", "y"]
    refusals = {
        pa.schema([("n", pa.int32()), ("s", pa.string())]):
            'the requested schema asks for column "n" as format "i"; it can only be "l"',
        pa.schema([("m", pa.int64()), ("s", pa.string())]):
            'the requested schema has field "m" where the frame has column "n"',
        pa.schema([("n", pa.int64())]):
            "the requested schema has 1 fields; the frame has 2 columns",
    }
    for schema, message in refusals.items():
        with pytest.raises(ValueError) as caught:
            f.__arrow_c_stream__(schema.__arrow_c_schema__())
        assert str(caught.value) == message
        assert caught.value.__notes__ == ["while processing 'requested_schema'"]
    with pytest.raises(TypeError):
        f.__arrow_c_stream__(requested_schema=5)


INT_TYPES = [pa.int8(), pa.int16(), pa.int32(), pa.int64(),
             pa.uint8(), pa.uint16(), pa.uint32(), pa.uint64()]


def extremes(arrow_type):
    info = np.iinfo(arrow_type.to_pandas_dtype())
    return [int(info.min), int(info.max), 0, None, 1, int(info.max) // 3]


def add(method, values):
    f = Frame()
    getattr(f, method)("c", values)
    return values_of(f, "c")


def test_every_integer_and_float_type_imports_as_python_would_convert_it():
    for t in INT_TYPES:
        values = extremes(t)
        if t == pa.uint64():
            values[1] = 2**63 - 1
        arr = pa.array(values, t)
        assert add("add_ints", arr) == values
        assert add("add_ints", arr.slice(2)) == values[2:]  # an array with an offset
        floats = [None if v is None else float(v) for v in extremes(t)]
        assert add("add_floats", pa.array(extremes(t), t)) == floats
    for t in [pa.float16(), pa.float32(), pa.float64()]:
        arr = pa.array(np.array([0.1, -2.5, 65504, np.inf, 6e-8], dtype=t.to_pandas_dtype()))
        assert add("add_floats", arr) == [float(v) for v in arr.to_numpy()]
    nan = add("add_floats", pa.array([float("nan"), None], pa.float16()))
    assert math.isnan(nan[0]) and nan[1] is None


def test_strings_of_every_layout_import_the_same():
    words = ["", "a", None, "ünï", "long enough to live outside the view", None, "𝔘"]
    expected = words[1:]
    layouts = [pa.array(words, pa.string()), pa.array(words, pa.large_string()),
               pa.array(words, pa.string_view()),
               pa.array(words).dictionary_encode(),
               pa.array(words, pa.large_string()).dictionary_encode().cast(
                   pa.dictionary(pa.int8(), pa.large_string())),
               pa.chunked_array([words[:3], [], words[3:]], pa.string())]
    for layout in layouts:
        assert add("add_strings", layout) == words
        assert add("add_strings", layout[1:]) == expected


def test_refusals_name_the_type_or_row_and_leave_the_frame_alone():
    f = Frame()
    f.add_ints("a", [1, 2, 3])
    cases = [
        ("add_ints", pa.array([True, False, None]), TypeError,
         "Arrow type bool cannot become an i64 column"),
        ("add_ints", pa.array([1.0, 2.0, 3.0]), TypeError,
         "Arrow type float64 cannot become an i64 column"),
        ("add_floats", pa.array(["x", "y", "z"]), TypeError,
         "Arrow type utf8 cannot become an f64 column"),
        ("add_strings", pa.array([1, 2, 3]).dictionary_encode(), TypeError,
         "Arrow type dictionary<values=int64, indices=int32> cannot become a str column"),
        ("add_ints", pa.table({"a": [1, 2, 3]}), TypeError,
         "Arrow type struct cannot become an i64 column"),
        ("add_ints", pa.array([0, 0, 0], pa.timestamp("us")), TypeError,
         "Arrow type timestamp[us] cannot become an i64 column"),
        ("add_ints", pa.chunked_array([[1], [2, 2**64 - 1]], pa.uint64()), OverflowError,
         "row 2: the uint64 18446744073709551615 does not fit i64"),
        ("add_strings", pa.Array.from_buffers(pa.string(), 3, [
            None, pa.py_buffer(np.array([0, 1, 2, 4], np.int32)), pa.py_buffer(b"ab\xc3\x28")]),
         ValueError, "row 2: the text is not valid UTF-8"),
        ("add_strings", pa.Array.from_buffers(pa.string(), 3, [
            None, pa.py_buffer(np.array([0, 2, 1, 1], np.int32)), pa.py_buffer(b"ab")]),
         ValueError, "row 1: the string offsets go backwards"),
    ]
    for method, values, kind, message in cases:
        with pytest.raises(kind) as caught:
            getattr(f, method)("b", values)
        assert str(caught.value) == message
        assert caught.value.__notes__ == ["while processing 'values'"]
    assert f.names() == ["a"]


class Elements:
    """The same items as `inner`, seen only through the sequence protocol."""

    def __init__(self, inner):
        self.inner = inner

    def __len__(self):
        return len(self.inner)

    def __getitem__(self, i):
        return self.inner[i]

    def __iter__(self):
        return iter(self.inner)


def outcome(method, values):
    f = Frame()
    try:
        getattr(f, method)("c", values)
    except Exception as e:  # compared by type, message and notes
        return type(e), str(e), getattr(e, "__notes__", None)
    return table(f)


def buffer_objects():
    rng = np.random.default_rng(3)
    for dtype in ["i1", "i2", "i4", "i8", "u1", "u2", "u4", "u8", "f2", "f4", "f8", "?", ">i8",
                  "<f8", "c16", "O", "M8[s]"]:
        for data in ([], [0, 1, -1, 7], rng.integers(-2**62, 2**62, 50), [2**63 - 1],
                     [2**64 - 1, 1], [0.5, -0.0, np.nan, 1e300], [np.inf]):
            try:
                arr = np.array(data, dtype=dtype)
            except (OverflowError, ValueError, TypeError):
                continue
            yield arr
            yield arr[::2]
            yield arr.reshape(-1, 1) if arr.size else arr.reshape(0, 2)
            yield memoryview(arr) if arr.dtype.kind in "iuf" and arr.dtype.byteorder in "=|" \
                else arr
    yield np.array(5, dtype="i8")
    for code in "bBhHiIlLqQfd":
        yield array.array(code, [0, 1, 100])
    yield array.array("u", "ab")
    yield b"\x00\x01\xff"
    yield bytearray(b"\x02\x03")
    yield memoryview(b"abc").cast("c")
    yield memoryview(np.arange(6, dtype="i8")).cast("B").cast("l", shape=[2, 3])


@pytest.mark.filterwarnings("ignore")
def test_buffer_fast_path_matches_the_element_path_exactly():
    seen = 0
    for obj in buffer_objects():
        for method in ("add_ints", "add_floats", "add_strings"):
            assert outcome(method, obj) == outcome(method, Elements(obj)), (method, obj)
            seen += 1
    assert seen > 300


def test_exports_outlive_the_frame_and_release_on_another_thread():
    rng = random.Random(9)
    f = random_frame(rng, 2000)
    expected = {name: frame_entries(f, name) for name in f.names()}
    keep = pa.table(f)
    handed = queue.Queue()

    def drop():
        while (item := handed.get()) is not None:
            del item  # the last reference: the frame's storage is released here

    thread = threading.Thread(target=drop)
    thread.start()
    for k in range(3000):  # the owner keeps deriving from the same storage
        handed.put(pa.table(f if k % 2 else f.where_gt("i", 0)))
        assert f.where_gt("x", 0.0).head(50).width() == 4
    handed.put(None)
    thread.join()
    del f
    for name, values in expected.items():
        assert arrow_entries(keep.column(name)) == values


class CStream(ctypes.Structure):
    pass


CStream._fields_ = [
    ("get_schema", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)),
    ("get_next", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)),
    ("get_last_error", ctypes.CFUNCTYPE(ctypes.c_void_p, ctypes.c_void_p)),
    ("release", ctypes.CFUNCTYPE(None, ctypes.c_void_p)),
    ("private_data", ctypes.c_void_p)]


def released_struct(words_before_release):
    """An ArrowSchema (seven words before its release) or ArrowArray (eight):
    only its release is called."""
    class CStruct(ctypes.Structure):
        _fields_ = [("fields", ctypes.c_int64 * words_before_release),
                    ("release", ctypes.CFUNCTYPE(None, ctypes.c_void_p)),
                    ("private_data", ctypes.c_void_p)]
    return CStruct


CSchema = released_struct(7)
CArray = released_struct(8)


def test_a_bare_consumer_releases_without_the_interpreter_on_another_thread():
    get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
    get_pointer.restype = ctypes.c_void_p
    get_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
    f = random_frame(random.Random(2), 500)
    expected = table(f)
    held = []
    for k in range(200):
        capsule = (f if k % 2 else f.sort("i", False)).__arrow_c_stream__()
        stream = CStream()  # moved out of the capsule, which then releases nothing
        address = get_pointer(capsule, b"arrow_array_stream")
        ctypes.memmove(ctypes.addressof(stream), address, ctypes.sizeof(CStream))
        CStream.from_address(address).release = ctypes.cast(None, type(stream.release))
        schema, batch, end = CSchema(), CArray(), CArray()
        assert stream.get_schema(ctypes.addressof(stream), ctypes.addressof(schema)) == 0
        if k % 3:  # a consumer that reads only the schema
            assert stream.get_next(ctypes.addressof(stream), ctypes.addressof(batch)) == 0
            assert stream.get_next(ctypes.addressof(stream), ctypes.addressof(end)) == 0
            assert not end.release  # the end of the stream
        held.append((stream, schema, batch))

    def release_all():  # ctypes calls run detached from the interpreter
        for stream, schema, batch in held:
            for s in (batch, schema, stream):
                if s.release:
                    s.release(ctypes.addressof(s))
                    assert not s.release

    thread = threading.Thread(target=release_all)
    thread.start()
    for _ in range(2000):
        f.where_gt("i", 0).sort("x", True)
    thread.join()
    assert table(f) == expected


def test_loops_keep_memory_flat():
    import os
    if os.environ.get("TARNWICK_SANITIZED") == "1":
        pytest.skip("the sanitizer's quarantine holds freed memory on purpose")
    from test_leaks import resident

    f = random_frame(random.Random(1), 1000)
    arrays = [pa.array(range(1000)), pa.array(["x"] * 1000).dictionary_encode(), np.arange(1000.0)]

    def once():
        pa.table(f.where_gt("i", 0))
        pa.schema(f)
        f.__arrow_c_stream__()  # made and dropped unread
        g = Frame()
        g.add_ints("a", arrays[0])
        g.add_strings("b", arrays[1])
        g.add_floats("c", arrays[2])
        try:
            g.add_ints("d", arrays[1])
        except TypeError:
            pass

    for _ in range(1000):
        once()
    before = resident()
    for _ in range(10_000):
        once()
    assert resident() - before < 2_000_000


StreamFn = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)


class FailingProducer:
    """A C stream of int64 arrays, built with ctypes, whose second array
    fails: what it exported must come back released, and the stream too."""

    def __init__(self, fail_schema=False):
        self.released = 0
        self.chunks = 0
        self.error = ctypes.create_string_buffer(b"boom")
        self.callbacks = [StreamFn(self.get_schema), StreamFn(self.get_next),
                          ctypes.CFUNCTYPE(ctypes.c_void_p, ctypes.c_void_p)(
                              lambda s: ctypes.addressof(self.error)),
                          ctypes.CFUNCTYPE(None, ctypes.c_void_p)(self.release)]
        self.fail_schema = fail_schema

    def get_schema(self, stream, out):
        if self.fail_schema:
            return 22
        pa.int64()._export_to_c(out)
        return 0

    def get_next(self, stream, out):
        self.chunks += 1
        if self.chunks > 1:
            return 5
        pa.array(np.arange(100_000))._export_to_c(out)
        return 0

    def release(self, stream):
        self.released += 1
        release = stream + CStream.release.offset
        ctypes.c_void_p.from_address(release).value = None

    def __arrow_c_stream__(self, requested_schema=None):
        self.struct = CStream(*self.callbacks, None)
        new = ctypes.pythonapi.PyCapsule_New
        new.restype = ctypes.py_object
        new.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
        return new(ctypes.addressof(self.struct), b"arrow_array_stream", None)


def test_a_producer_failing_midway_gets_everything_released():
    for fail_schema, message in [(False, "the Arrow stream failed to give its next array: boom"),
                                 (True, "the Arrow stream failed to give its schema: boom")]:
        producer = FailingProducer(fail_schema)
        before = pa.total_allocated_bytes()
        f = Frame()
        with pytest.raises(ValueError) as caught:
            f.add_ints("a", producer)
        assert str(caught.value) == message
        assert caught.value.__notes__ == ["while processing 'values'"]
        assert producer.released == 1
        assert pa.total_allocated_bytes() == before  # the first array was released
        assert f.width() == 0


def test_str_columns_that_store_no_byte_work_everywhere():
    # Arrow arrays of empty strings (or of nulls) hand over no byte at all; every
    # operation that reads texts must still work on them (the sanitized run
    # catches a null pointer handed to memcpy or memcmp).
    for values in (["", ""], [None, ""], [None, None], []):
        f = Frame()
        f.add_strings("s", pa.array(values, pa.string()))
        f.add_ints("n", list(range(len(values))))
        assert f.strings("s") == values
        assert f.sort("s", False).strings("s") == sorted(values, key=lambda v: (v is None, v or ""))
        assert f.sort("s", True).height() == len(values)
        assert f.where_is("s", "").height() == values.count("")
        assert f.where_in("s", ["", "x"]).height() == values.count("")
        g = f.group(["s"])
        assert g.min("n").strings("s") == list(dict.fromkeys(values))
        assert f.group(["n"]).max("s").strings("s") == values
        assert f.to_csv().count("\n") == len(values) + 1
        assert pa.table(f).column("s").to_pylist() == values
