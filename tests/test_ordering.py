"""Projection, sorting and slicing: select, sort, head, tail."""
import functools
import math

import numpy
import pytest
from hypothesis import given, settings, strategies as st

from tarnwick import Frame

from helpers.frames import frame_of, snapshot, frame_with_missing
from helpers.messages import STR_AS_SEQUENCE, not_an_instance

NAN = float("nan")
INF = float("inf")


# -- select -------------------------------------------------------------------

def test_select_chooses_columns_in_the_given_order():
    f = frame_of(a=[1, 2], b=[0.5, 1.5], c=["x", "y"])
    g = f.select(["c", "a"])
    assert g.names() == ["c", "a"] and g.dtypes() == ["str", "i64"]
    assert g.strings("c") == ["x", "y"] and g.ints("a") == [1, 2]
    assert f.names() == ["a", "b", "c"]


def test_select_keeps_the_rows_of_a_derived_frame():
    f = frame_of(a=[3, 1, 2], b=["p", "q", "r"])
    g = f.sort("a", False).select(["b"])
    assert g.strings("b") == ["q", "r", "p"]
    assert f.where_gt("a", 1).select(("b", "a")).ints("a") == [3, 2]


def test_select_nothing_keeps_the_height():
    f = frame_of(a=[1, 2, 3, 4, 5])
    g = f.select([])
    assert (g.width(), g.height()) == (0, 5)
    assert g.names() == [] and g.dtypes() == []
    h = g.head(2)
    assert (h.width(), h.height()) == (0, 2)
    assert g.tail(-1).height() == 4 and g.head(-9).height() == 0
    g.add_ints("z", [7, 8, 9])  # the first column sets the height
    assert g.height() == 3 and f.height() == 5


@pytest.mark.parametrize("names,message", [
    (["a", "zz", "a"], 'no column "zz" (the frame has "a", "b\\t")'),
    (["a", "a", "zz"], 'column "a" selected twice'),
    (["b\t", "b\t"], 'column "b\\t" selected twice'),
    (["A"], 'no column "A" (the frame has "a", "b\\t")'),
])
def test_select_first_offending_name_decides(names, message):
    f = frame_of(a=[1])
    f.add_ints("b\t", [2])
    before = snapshot(f)
    with pytest.raises(ValueError) as caught:
        f.select(names)
    assert caught.value.args == (message,)
    assert snapshot(f) == before


@pytest.mark.parametrize("names,message", [
    ("ab", STR_AS_SEQUENCE),
    (["a", 1], not_an_instance("int", "str")),
    ({"a": 1}, not_an_instance("dict", "Sequence")),
])
def test_select_conversion_failures(names, message):
    f = frame_of(a=[1])
    with pytest.raises(TypeError) as caught:
        f.select(names)
    assert str(caught.value) == message
    assert caught.value.__notes__ == ["while processing 'names'"]


# -- head and tail -------------------------------------------------------------

def test_head_and_tail_counts():
    f = frame_of(id=[0, 1, 2, 3, 4])
    assert f.tail(2).ints("id") == [3, 4]
    assert f.tail(-2).ints("id") == [2, 3, 4]
    assert f.head(-2).ints("id") == [0, 1, 2]
    assert f.head(2).ints("id") == [0, 1]
    for n in (5, 6, 2**63 - 1):
        assert f.head(n).ints("id") == [0, 1, 2, 3, 4]
        assert f.tail(n).ints("id") == [0, 1, 2, 3, 4]
    for n in (0, -5, -10, -2**63):
        assert f.head(n).height() == 0 and f.head(n).names() == ["id"]
        assert f.tail(n).height() == 0


def test_head_and_tail_of_derived_frames():
    f = frame_of(id=list(range(10)), k=[5, 2, 8, 1, 9, 3, 7, 0, 6, 4])
    s = f.sort("k", False)  # ids 7 3 1 5 9 0 8 6 2 4
    assert s.head(3).ints("id") == [7, 3, 1]
    assert s.tail(3).ints("id") == [6, 2, 4]
    assert s.head(-8).tail(1).ints("id") == [3]
    assert s.where_gt("k", 4).head(2).ints("k") == [5, 6]
    assert s.head(10).ints("id") == s.ints("id")


def test_head_and_tail_conversions():
    f = frame_of(id=[0, 1, 2])
    assert f.head(True).ints("id") == [0]
    assert f.head(n=2).ints("id") == [0, 1]
    with pytest.raises(OverflowError) as caught:
        f.head(2**63)
    assert caught.value.__notes__ == ["while processing 'n'"]
    with pytest.raises(TypeError) as caught:
        f.tail(1.0)
    assert caught.value.__notes__ == ["while processing 'n'"]
    with pytest.raises(TypeError, match=r"^Frame.head\(\) takes 1 positional arguments but 2 were given$"):
        f.head(1, 2)


# -- sort ------------------------------------------------------------------------

def test_sort_examples_of_the_specification():
    g = frame_with_missing(x=[2, None, 2, 3])
    g.add_ints("id", [0, 1, 2, 3])
    assert g.sort("x", True).ints("id") == [3, 0, 2, 1]
    assert g.sort("x", False).ints("id") == [0, 2, 3, 1]


def test_sort_is_stable_in_both_directions():
    f = frame_of(id=[0, 1, 2, 3, 4, 5], k=[2, 1, 2, 1, 3, 2])
    assert f.sort("k", False).ints("id") == [1, 3, 0, 2, 5, 4]
    assert f.sort("k", True).ints("id") == [4, 0, 2, 5, 1, 3]


def test_sort_strings_by_bytes():
    words = ["b", "a", "B", "ab", "", "\u00e9", "z", "a\x00", "A"]
    f = frame_of(id=list(range(len(words))), s=words)
    assert f.sort("s", False).strings("s") == ["", "A", "B", "a", "a\x00", "ab", "b", "z", "\u00e9"]
    assert f.sort("s", True).strings("s") == ["\u00e9", "z", "b", "ab", "a\x00", "a", "B", "A", ""]


def test_sort_floats_with_zeros_and_infinities():
    f = frame_of(id=[0, 1, 2, 3, 4], x=[0.0, -INF, -0.0, INF, 0.0])
    assert f.sort("x", False).ints("id") == [1, 0, 2, 4, 3]  # -0.0 and 0.0 keep their order
    assert f.sort("x", True).ints("id") == [3, 0, 2, 4, 1]


def test_nan_goes_after_numbers_in_both_directions():
    f = frame_of(id=[0, 1, 2, 3, 4], x=[NAN, 1.0, NAN, -1.0, INF])
    assert f.sort("x", False).ints("id") == [3, 1, 4, 0, 2]
    assert f.sort("x", True).ints("id") == [4, 1, 3, 0, 2]


def test_missing_entries_go_last_in_both_directions():
    g = frame_with_missing(x=[None, 1.5, 0.5, None])
    g.add_floats("y", [0.0, 1.0, 2.0, 3.0])
    assert g.sort("x", False).floats("y") == [2.0, 1.0, 0.0, 3.0]
    assert g.sort("x", True).floats("y") == [1.0, 2.0, 0.0, 3.0]


def test_sort_integers_across_the_range():
    values = [3, -2**63, 2**63 - 1, 0, -1, 2**53 + 1, 2**53]
    f = frame_of(n=values)
    assert f.sort("n", False).ints("n") == sorted(values)
    assert f.sort("n", True).ints("n") == sorted(values, reverse=True)


def test_sort_of_height_zero_and_one():
    f = Frame()
    f.add_strings("s", [])
    assert f.sort("s", True).height() == 0 and f.sort("s", True).names() == ["s"]
    g = frame_of(s=["only"])
    assert g.sort("s", False).strings("s") == ["only"]
    assert g.where_is("s", "only").sort("s", True).strings("s") == ["only"]


def test_sorting_a_filtered_frame_sorts_only_its_rows():
    f = frame_of(id=list(range(8)), k=[1, 0, 1, 0, 1, 0, 1, 0], v=[5, 5, 3, 3, 5, 3, 1, 9])
    g = f.where_eq("k", 1)                      # ids 0 2 4 6, v 5 3 5 1
    assert g.sort("v", False).ints("id") == [6, 2, 0, 4]
    assert g.sort("v", True).ints("id") == [0, 4, 2, 6]
    assert g.sort("v", True).sort("k", False).ints("id") == [0, 4, 2, 6]  # all equal: order kept


def test_sort_leaves_the_receiver_unchanged():
    f = frame_of(id=[2, 0, 1], x=[0.5, NAN, -1.5])
    before = snapshot(f)
    s = f.sort("x", True)
    assert snapshot(f) == before
    s.add_ints("extra", [1, 2, 3])
    assert snapshot(f) == before
    assert s.ints("id") == [2, 1, 0]


def test_sort_refusals():
    f = frame_of(a=[1])
    with pytest.raises(ValueError) as caught:
        f.sort("b\\", False)
    assert caught.value.args == ('no column "b\\\\" (the frame has "a")',)
    with pytest.raises(TypeError, match=r"^Frame.sort\(\) missing 1 required positional argument: "
                                        r"'descending'$"):
        f.sort("a")


# -- the truth value of descending ----------------------------------------------------

def test_descending_accepts_bool_and_numpys_bool():
    f = frame_of(n=[1, 3, 2])
    assert f.sort("n", True).ints("n") == [3, 2, 1]
    assert f.sort("n", descending=False).ints("n") == [1, 2, 3]
    assert f.sort("n", numpy.bool_(True)).ints("n") == [3, 2, 1]
    assert f.sort("n", numpy.bool_(False)).ints("n") == [1, 2, 3]


def refusal(value):
    f = frame_of(n=[1, 2])
    with pytest.raises(TypeError) as caught:
        f.sort("n", value)
    return caught.value


@pytest.mark.parametrize("value,message", [
    (1, not_an_instance("int", "bool")),
    (0, not_an_instance("int", "bool")),
    (None, not_an_instance("None", "bool")),
    ("yes", not_an_instance("str", "bool")),
    (numpy.int64(1), not_an_instance("int64", "bool")),
])
def test_descending_refusals(value, message):
    error = refusal(value)
    assert str(error) == message
    assert error.__notes__ == ["while processing 'descending'"]


def test_a_numpy_named_bool_without_dunder_bool():
    fake = type("bool", (), {"__module__": "numpy"})
    error = refusal(fake())
    assert str(error) == f"object of type '{fake}' does not define a '__bool__' conversion"
    assert error.__notes__ == ["while processing 'descending'"]


def test_a_numpy_named_bool_with_dunder_bool_is_asked():
    calls = []

    def truth(self):
        calls.append(self)
        return True

    fake = type("bool_", (), {"__module__": "numpy", "__bool__": truth})
    f = frame_of(n=[1, 2])
    assert f.sort("n", fake()).ints("n") == [2, 1]
    assert len(calls) == 1


def test_descending_is_converted_after_name():
    f = frame_of(n=[1])
    with pytest.raises(TypeError) as caught:
        f.sort(5, None)
    assert caught.value.__notes__ == ["while processing 'name'"]


def test_shared_calls_during_the_truth_conversion():
    f = frame_of(n=[2, 1])

    def truth(self):
        self.seen = f.sort("n", False).ints("n")
        return True

    fake = type("bool", (), {"__module__": "numpy", "__bool__": truth})
    value = fake()
    assert f.sort("n", value).ints("n") == [2, 1]
    assert value.seen == [1, 2]

    def adding(self):
        f.add_ints("m", [0, 0])
        return True

    adder = type("bool", (), {"__module__": "numpy", "__bool__": adding})
    with pytest.raises(RuntimeError) as caught:
        f.sort("n", adder())
    assert caught.value.args == ("Already borrowed",)
    assert f.names() == ["n"]


# -- the plain-Python model -------------------------------------------------------------

def model_sort(values, descending):
    """Stable, NaN after numbers, missing (None) last, in both directions."""
    def rank(x):
        return 2 if x is None else 1 if isinstance(x, float) and math.isnan(x) else 0

    def compare(i, j):
        a, b = values[i], values[j]
        ra, rb = rank(a), rank(b)
        if ra != rb or ra != 0:
            return ra - rb
        if isinstance(a, str):
            a, b = a.encode(), b.encode()
        if a == b:
            return 0
        return (1 if a > b else -1) * (-1 if descending else 1)

    return sorted(range(len(values)), key=functools.cmp_to_key(compare))


@settings(max_examples=200, deadline=None)
@given(data=st.one_of(
    st.lists(st.one_of(st.integers(-3, 3), st.integers(-2**63, 2**63 - 1)), max_size=300),
    st.lists(st.one_of(st.floats(), st.sampled_from([0.0, -0.0, NAN, 1.0])), max_size=300),
    st.lists(st.text(alphabet="aB\x00\u00e9\U0001f600", max_size=12), max_size=300),
), descending=st.booleans(), head=st.integers(-310, 310))
def test_sort_matches_python(data, descending, head):
    f = Frame()
    f.add_ints("id", list(range(len(data))))
    if any(isinstance(x, float) for x in data):
        f.add_floats("v", data)
    elif any(isinstance(x, str) for x in data):
        f.add_strings("v", data)
    else:
        f.add_ints("v", data)
    order = model_sort(data, descending)
    result = f.sort("v", descending)
    assert result.ints("id") == order
    # Sorting again, in the other direction, works on the reordered rows.
    again = result.sort("v", not descending)
    reordered = [data[i] for i in order]
    assert again.ints("id") == [order[i] for i in model_sort(reordered, not descending)]
    # head and tail of the sorted frame.
    k = min(head, len(data)) if head >= 0 else max(len(data) + head, 0)
    assert result.head(head).ints("id") == order[:k]
    assert result.tail(head).ints("id") == order[len(order) - k:]


# -- every call leaves its receiver as it was -------------------------------------------

CALLS = [
    lambda f: f.where_eq("n", 2), lambda f: f.where_ne("x", float("nan")),
    lambda f: f.where_lt("n", 2.5), lambda f: f.where_le("x", -0.5),
    lambda f: f.where_gt("n", -2**63), lambda f: f.where_ge("x", INF),
    lambda f: f.where_is("s", "b"), lambda f: f.where_in("s", ["a", "c"]),
    lambda f: f.where_among("n", [1, 3]), lambda f: f.select(["s", "n"]), lambda f: f.select([]),
    lambda f: f.sort("s", True), lambda f: f.sort("x", False), lambda f: f.head(2),
    lambda f: f.tail(-1), lambda f: f.head(0), lambda f: f.tail(99),
    # refusals
    lambda f: f.where_eq("s", 1), lambda f: f.where_in("n", ["a"]), lambda f: f.where_among("s", [1]),
    lambda f: f.select(["n", "n"]), lambda f: f.sort("nope", True), lambda f: f.where_is("nope", ""),
    lambda f: f.add_date_part("y", "s", "year"), lambda f: f.add_date_part("y", "n", "year"),
    lambda f: f.add_date_part("n", "d", "day"), lambda f: f.add_date_part("y", "d", "week"),
]


@pytest.mark.parametrize("call", CALLS)
@pytest.mark.parametrize("derive", [
    lambda f: f, lambda f: f.sort("n", True), lambda f: f.where_ne("n", 2), lambda f: f.head(0),
])
def test_every_call_leaves_the_receiver_unchanged(call, derive):
    base = frame_of(n=[3, 1, 2], x=[0.5, NAN, -1.5], s=["a", "b", "c"], d=["2020-01-01"] * 3)
    f = derive(base)
    before = snapshot(f)
    base_before = snapshot(base)
    try:
        result = call(f)
    except (ValueError, TypeError):
        result = None
    else:
        if result is None:  # add_date_part of a frame without rows: nothing to refuse
            assert f.height() == 0 and f.names()[-1] == "y"
            return
        assert result is not f
        assert result.height() <= f.height()
    assert snapshot(f) == before
    assert snapshot(base) == base_before
