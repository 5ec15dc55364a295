"""Splitting a frame into groups by key columns."""
import math
import random
import struct
import threading

import pytest

import tarnwick
from tarnwick import Frame

from helpers.frames import frame_of, snapshot
from helpers.messages import STR_AS_SEQUENCE, not_an_instance



def float_of(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


def bits_of(value):
    return struct.unpack("<Q", struct.pack("<d", value))[0]


QUIET_NAN = 0x7FF8000000000000
NEGATIVE_NAN = 0xFFF8000000000000
PAYLOAD_NAN = 0x7FF8000000000001


def test_groups_come_in_order_of_first_appearance():
    f = frame_of(k=["b", "a", "b", "c", "a"], v=[1, 2, 3, 4, 5])
    g = f.group(["k"])
    assert g.groups() == 3
    counted = g.count()
    assert counted.names() == ["k", "count"]
    assert counted.strings("k") == ["b", "a", "c"]
    assert counted.ints("count") == [2, 2, 1]
    assert g.sum("v").ints("v") == [4, 7, 4]


@pytest.mark.parametrize("columns,keys,text", [
    ({"a": [1, 2]}, [], "Grouped(1 groups by )"),
    ({"a": []}, ["a"], "Grouped(0 groups by a)"),
    ({"a": [1, 1, 2, 2], "b": ["x", "x", "x", "y"]}, ["a", "b"], "Grouped(3 groups by a, b)"),
    ({'q"\n': [1]}, ['q"\n'], 'Grouped(1 groups by q"\n)'),
])
def test_text_of_a_grouping(columns, keys, text):
    g = frame_of(**columns).group(keys)
    assert repr(g) == str(g) == g.describe() == text


@pytest.mark.parametrize("names,message", [
    (["a", "a"], 'column "a" selected twice'),
    (["zz", "a", "a"], 'no column "zz" (the frame has "a", "b")'),
    (["a", "b", "a", "zz"], 'column "a" selected twice'),
    (["b", ""], 'no column "" (the frame has "a", "b")'),
])
def test_key_names_are_checked_in_order(names, message):
    f = frame_of(a=[1], b=["x"])
    before = snapshot(f)
    with pytest.raises(ValueError) as caught:
        f.group(names)
    assert caught.value.args == (message,)
    assert snapshot(f) == before


@pytest.mark.parametrize("names,error,message", [
    ("a", TypeError, STR_AS_SEQUENCE),
    ([1], TypeError, not_an_instance("int", "str")),
    (None, TypeError, not_an_instance("None", "Sequence")),
    ({"a": 1}, TypeError, not_an_instance("dict", "Sequence")),
])
def test_names_must_be_a_sequence_of_str(names, error, message):
    with pytest.raises(error) as caught:
        frame_of(a=[1]).group(names)
    assert str(caught.value) == message
    assert caught.value.__notes__ == ["while processing 'names'"]


def test_call_shape():
    f = frame_of(a=[1, 2])
    assert f.group(names=("a",)).groups() == 2
    with pytest.raises(TypeError, match=r"^Frame\.group\(\) missing 1 required positional argument: 'names'$"):
        f.group()


def test_signed_zeros_meet_and_the_first_is_shown():
    f = frame_of(x=[-0.0, 0.0, 0.0, 1.0], v=[1, 2, 3, 4])
    g = f.group(["x"])
    assert g.groups() == 2
    for result in (g.count(), g.sum("v"), g.mean("v"), g.min("v"), g.max("v")):
        shown = result.floats("x")
        assert shown == [0.0, 1.0]
        assert math.copysign(1.0, shown[0]) == -1.0


def test_nan_keys_meet_only_their_own_bit_pattern():
    patterns = [QUIET_NAN, NEGATIVE_NAN, QUIET_NAN, PAYLOAD_NAN, NEGATIVE_NAN]
    f = Frame()
    f.add_floats("x", [float_of(b) for b in patterns])
    counted = f.group(["x"]).count()
    assert [bits_of(x) for x in counted.floats("x")] == [QUIET_NAN, NEGATIVE_NAN, PAYLOAD_NAN]
    assert counted.ints("count") == [2, 2, 1]


def test_str_keys_compare_bytes():
    keys = ["a", "A", "a ", "", "é", "e\u0301", "a\x00", "a", ""]
    counted = frame_of(s=keys).group(["s"]).count()
    assert counted.strings("s") == ["a", "A", "a ", "", "é", "e\u0301", "a\x00"]
    assert counted.ints("count") == [2, 1, 1, 2, 1, 1, 1]


def test_keys_of_mixed_dtypes():
    f = frame_of(n=[1, 1, 1, 2, 1], x=[0.5, 0.5, 1.5, 0.5, 0.5], s=["p", "p", "p", "p", "q"])
    counted = f.group(["x", "s", "n"]).count()
    assert counted.names() == ["x", "s", "n", "count"]
    assert counted.dtypes() == ["f64", "str", "i64", "i64"]
    assert counted.floats("x") == [0.5, 1.5, 0.5, 0.5]
    assert counted.strings("s") == ["p", "p", "p", "q"]
    assert counted.ints("n") == [1, 1, 2, 1]
    assert counted.ints("count") == [2, 1, 1, 1]


def test_grouping_keeps_a_snapshot_of_the_source():
    f = frame_of(k=[1, 2, 1], v=[10, 20, 30])
    g = f.group(["k"])
    f.add_ints("x", [7, 8, 9])
    with pytest.raises(ValueError) as caught:
        g.sum("x")
    assert caught.value.args == ('no column "x" (the frame has "k", "v")',)
    assert g.sum("v").ints("v") == [40, 20]
    assert f.names() == ["k", "v", "x"]


def test_results_can_be_grouped_again():
    f = frame_of(k=["a", "b", "a", "c"], j=[1, 2, 1, 2])
    by_both = f.group(["k", "j"]).count()
    again = by_both.group(["j"]).sum("count")
    assert again.ints("j") == [1, 2]
    assert again.ints("count") == [2, 2]
    by_both.add_floats("share", [0.5, 0.25, 0.25])
    assert by_both.group(["count"]).sum("share").floats("share") == [0.5, 0.5]


def test_a_sorted_frame_groups_in_its_row_order():
    f = frame_of(k=[2, 3, 1, 3, 2], v=[1, 2, 3, 4, 5])
    g = f.sort("k", True).group(["k"])
    result = g.min("v")
    assert result.ints("k") == [3, 2, 1]
    assert result.ints("v") == [2, 1, 3]


def test_a_filtered_frame_groups_only_its_rows():
    f = frame_of(k=["a", "b", "a", "c"], v=[1, 5, 7, 9])
    result = f.where_gt("v", 4).group(["k"]).sum("v")
    assert result.strings("k") == ["b", "a", "c"]
    assert result.ints("v") == [5, 7, 9]


def test_missing_keys_form_their_own_group():
    f = tarnwick.read_csv("k,s,v\n1,a,1\n,,2\n1,,3\n,,4\n0,a,5\n")
    counted = f.group(["k", "s"]).count()
    assert counted.ints("k") == [1, None, 1, 0]
    assert counted.strings("s") == ["a", None, None, "a"]
    assert counted.ints("count") == [1, 2, 1, 1]


def test_a_grouping_belongs_to_its_thread():
    g = frame_of(k=[1]).group(["k"])
    caught = []

    def use():
        try:
            g.groups()
        except BaseException as error:  # PanicException is not an Exception
            caught.append(error)

    thread = threading.Thread(target=use)
    thread.start()
    thread.join()
    assert type(caught[0]).__name__ == "PanicException"
    assert "tarnwick::api::Grouped is unsendable, but sent to another thread" in str(caught[0])
    assert g.groups() == 1


def _reference_counts(rows):
    """Counts per key in order of first appearance, with the grouping's key
    equality: 0.0 meets -0.0, a NaN meets only its own bit pattern."""
    def normal(value):
        if isinstance(value, float):
            if math.isnan(value):
                return ("nan", bits_of(value))
            return value + 0.0  # -0.0 becomes 0.0
        return value

    counts = {}
    for row in rows:
        key = tuple(normal(v) for v in row)
        counts[key] = counts.get(key, 0) + 1
    return list(counts.values())


@pytest.mark.parametrize("seed", range(5))
def test_random_groupings_match_a_reference(seed):
    rng = random.Random(seed)
    floats = [0.0, -0.0, 1.5, float("inf"), float_of(QUIET_NAN), float_of(NEGATIVE_NAN), 2.0 ** 60]
    texts = ["", "a", "ab", "a b", "abcdefgh", "abcdefghi", "é", "key0421", "key0422"]
    rows = 3000
    columns = {
        "n": [rng.choice([0, 1, -1, 2 ** 63 - 1, -2 ** 63, 256]) for _ in range(rows)],
        "x": [rng.choice(floats) for _ in range(rows)],
        "s": [rng.choice(texts) for _ in range(rows)],
    }
    f = frame_of(**columns)
    for keys in (["n"], ["x"], ["s"], ["s", "x"], ["x", "n", "s"]):
        expected = _reference_counts(zip(*(columns[k] for k in keys)))
        assert f.group(keys).count().ints("count") == expected, keys
