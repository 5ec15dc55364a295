"""Building a frame column by column and reading it back."""
import math

import pytest

from tarnwick import Frame

from helpers.frames import frame_of, snapshot


def test_new_frame_is_empty():
    f = Frame()
    assert (f.height(), f.width(), f.names(), f.dtypes()) == (0, 0, [], [])


def test_first_column_sets_height_even_to_zero():
    f = Frame()
    f.add_ints("a", [])
    assert (f.height(), f.width()) == (0, 1)
    with pytest.raises(ValueError, match=r'^column "b" has 1 values; the frame has 0 rows$'):
        f.add_ints("b", [1])
    f.add_strings("b", [])
    assert f.dtypes() == ["i64", "str"]


def test_columns_keep_kind_and_order():
    f = Frame()
    f.add_floats("x", [0.5, -0.0, math.inf])
    f.add_ints("n", [1, -2, 3])
    f.add_strings("s", ["", "é", "a\x00b"])
    assert f.names() == ["x", "n", "s"]
    assert f.dtypes() == ["f64", "i64", "str"]
    assert f.floats("x") == [0.5, -0.0, math.inf]
    assert math.copysign(1, f.floats("x")[1]) == -1
    assert f.strings("s") == ["", "é", "a\x00b"]


def test_nan_is_a_present_value():
    f = frame_of(x=[math.nan])
    assert math.isnan(f.floats("x")[0])


@pytest.mark.parametrize("first,second,message", [
    (("a", [1, 2]), ("a", [1.0, 2.0]), 'the frame has a column "a" already'),
    (("a", [1, 2]), ("s", ["x"]), 'column "s" has 1 values; the frame has 2 rows'),
    (("a", [1]), ("b", []), 'column "b" has 0 values; the frame has 1 rows'),
    (("", [1]), ("", [2]), 'the frame has a column "" already'),
])
def test_add_refusals_leave_the_frame_unchanged(first, second, message):
    f = frame_of(**{first[0]: first[1]})
    before = snapshot(f)
    adder = {int: f.add_ints, float: f.add_floats, str: f.add_strings}
    add = adder[type(second[1][0])] if second[1] else f.add_ints
    with pytest.raises(ValueError) as caught:
        add(*second)
    assert caught.value.args == (message,)
    assert snapshot(f) == before


def test_names_are_case_sensitive_and_any_text():
    f = Frame()
    for name in ["a", "A", "", " ", "a b", "é"]:
        f.add_ints(name, [1])
    assert f.names() == ["a", "A", "", " ", "a b", "é"]


@pytest.mark.parametrize("names,wanted,message", [
    (["a", "b"], "x", 'no column "x" (the frame has "a", "b")'),
    ([], "x", 'no column "x" (the frame has none)'),
    (['q"uote', "back\\slash", "line\nfeed"], "tab\there",
     'no column "tab\\there" (the frame has "q\\"uote", "back\\\\slash", "line\\nfeed")'),
    (["nul\x00"], "cr\r", 'no column "cr\\r" (the frame has "nul\\0")'),
    (["zero\u200bwidth", "e\u0301"], "it's", 
     'no column "it\'s" (the frame has "zero\\u{200b}width", "e\\u{301}")'),
])
def test_missing_column_message_quotes_every_name(names, wanted, message):
    f = Frame()
    for name in names:
        f.add_ints(name, [])
    with pytest.raises(ValueError) as caught:
        f.ints(wanted)
    assert str(caught.value) == message


@pytest.mark.parametrize("reader,kind,dtype", [
    ("ints", "f64", "i64"), ("ints", "str", "i64"),
    ("floats", "i64", "f64"), ("floats", "str", "f64"),
    ("strings", "i64", "str"), ("strings", "f64", "str"),
])
def test_readers_never_convert(reader, kind, dtype):
    values = {"i64": [1], "f64": [1.0], "str": ["1"]}[kind]
    f = frame_of(c=values)
    with pytest.raises(ValueError) as caught:
        getattr(f, reader)("c")
    assert str(caught.value) == f'column "c" is {kind}, not {dtype}'


def test_returned_lists_are_new_and_independent():
    f = frame_of(a=[1, 2], s=["x", "y"])
    names = f.names()
    names.append("zzz")
    values = f.ints("a")
    values[0] = 99
    assert f.names() == ["a", "s"]
    assert f.ints("a") == [1, 2]
    assert f.ints("a") is not f.ints("a")


def test_caller_sequence_is_copied():
    source = [1, 2, 3]
    f = Frame()
    f.add_ints("a", source)
    source[0] = 100
    assert f.ints("a") == [1, 2, 3]


def test_large_columns_round_trip():
    n = 1_000_000
    f = Frame()
    f.add_ints("i", range(n))
    f.add_floats("x", [i * 0.5 for i in range(n)])
    f.add_strings("s", [str(i) for i in range(n)])
    assert f.height() == n
    assert f.ints("i")[-1] == n - 1
    assert f.floats("x")[-1] == (n - 1) * 0.5
    assert f.strings("s")[123456] == "123456"
