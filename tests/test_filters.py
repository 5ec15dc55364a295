"""Row filters: where_eq ... where_ge, where_is, where_in, where_among."""
import math
import operator

import pytest
from hypothesis import given, settings, strategies as st

from tarnwick import Frame

from helpers.frames import frame_of, snapshot, frame_with_missing, shown_with_missing
from helpers.messages import STR_AS_SEQUENCE, not_an_instance

COMPARISONS = {
    "where_eq": operator.eq,
    "where_ne": operator.ne,
    "where_lt": operator.lt,
    "where_le": operator.le,
    "where_gt": operator.gt,
    "where_ge": operator.ge,
}
INF = float("inf")
NAN = float("nan")


def kept(frame, method, *args):
    """The row ids that a filter keeps (every frame here has an i64 column id)."""
    return getattr(frame, method)(*args).ints("id")


def exact_compare(op, n, v):
    """An int against the exact value of a float, as Python compares them."""
    if math.isnan(v):
        return op is operator.ne
    return op(n, v)  # Python compares int and float exactly


# -- comparisons on f64 ------------------------------------------------------

F64 = [1.5, -0.0, 0.0, NAN, INF, -INF, 2.0, -7.25]


@pytest.mark.parametrize("method", COMPARISONS)
@pytest.mark.parametrize("value", [0.0, -0.0, 1.5, 2, NAN, INF, -INF, True, -100])
def test_f64_comparisons_follow_ieee(method, value):
    f = frame_of(id=list(range(len(F64))), x=F64)
    op = COMPARISONS[method]
    expected = [i for i, x in enumerate(F64) if op(x, float(value))]
    assert kept(f, method, "x", value) == expected


def test_nan_entries_are_kept_by_not_equal_only():
    f = frame_of(id=[0, 1, 2], x=[NAN, 1.0, NAN])
    for method in COMPARISONS:
        for value in (NAN, 1.0, INF):
            rows = kept(f, method, "x", value)
            if method == "where_ne":
                assert 0 in rows and 2 in rows
            else:
                assert 0 not in rows and 2 not in rows


def test_nan_value_keeps_every_present_row_for_not_equal_and_none_otherwise():
    f = frame_of(id=[0, 1, 2], x=[1.0, NAN, -INF], n=[1, 2, 3])
    for column in ("x", "n"):
        assert kept(f, "where_ne", column, NAN) == [0, 1, 2]
        for method in ("where_eq", "where_lt", "where_le", "where_gt", "where_ge"):
            assert kept(f, method, column, NAN) == []


def test_negative_zero_equals_zero():
    f = frame_of(id=[0, 1], x=[-0.0, 0.0])
    assert kept(f, "where_eq", "x", 0.0) == [0, 1]
    assert kept(f, "where_eq", "x", -0.0) == [0, 1]
    assert kept(f, "where_lt", "x", 0.0) == []


# -- comparisons on i64: the exact value of the float -------------------------

I64 = [-2**63, -2**53 - 1, -1, 0, 1, 2, 3, 2**53, 2**53 + 1, 2**63 - 1]
BOUNDARY_VALUES = [2.5, -0.5, 0.5, -2.5, 2**53 + 1, 2.0**53, float(2**63), -float(2**63),
                   float(2**63 - 1), -float(2**63) - 4096.0, 1e300, -1e300, INF, -INF, NAN,
                   0.0, -0.0, 2**63 - 1, -2**63, 9007199254740993.0]


@pytest.mark.parametrize("method", COMPARISONS)
@pytest.mark.parametrize("value", BOUNDARY_VALUES)
def test_i64_comparisons_are_exact(method, value):
    f = frame_of(id=list(range(len(I64))), n=I64)
    op = COMPARISONS[method]
    v = float(value)
    expected = [i for i, n in enumerate(I64) if exact_compare(op, n, v)]
    assert kept(f, method, "n", value) == expected


def test_the_examples_of_the_specification():
    f = frame_of(id=[0, 1, 2, 3, 4], n=[-1, 0, 2, 3, 9007199254740992])
    assert kept(f, "where_eq", "n", 2.5) == []
    assert kept(f, "where_lt", "n", 2.5) == [0, 1, 2]
    assert kept(f, "where_gt", "n", -0.5) == [1, 2, 3, 4]
    # 2**53 + 1 becomes the float 2**53 on conversion.
    assert kept(f, "where_eq", "n", 2**53 + 1) == [4]
    assert kept(f, "where_lt", "n", INF) == [0, 1, 2, 3, 4]
    assert kept(f, "where_gt", "n", -INF) == [0, 1, 2, 3, 4]
    assert kept(f, "where_eq", "n", 3) == [3]


def test_extreme_integers_against_two_to_the_63():
    f = frame_of(id=[0, 1], n=[2**63 - 1, -2**63])
    assert kept(f, "where_lt", "n", 2.0**63) == [0, 1]
    assert kept(f, "where_ge", "n", 2.0**63) == []
    assert kept(f, "where_eq", "n", -2.0**63) == [1]
    assert kept(f, "where_lt", "n", -2.0**63) == []
    # 2**63 - 1 converts to the float 2**63, above every i64.
    assert kept(f, "where_eq", "n", 2**63 - 1) == []


# -- where_among --------------------------------------------------------------

def test_among_on_i64_matches_integral_values_in_range_only():
    f = frame_of(id=list(range(6)), n=[3, 4, -2**63, 2**63 - 1, 0, 2**53 + 1])
    assert kept(f, "where_among", "n", [3.0]) == [0]
    assert kept(f, "where_among", "n", [3.5, 4.0000001]) == []
    assert kept(f, "where_among", "n", [3]) == [0]
    assert kept(f, "where_among", "n", [-2.0**63]) == [2]
    assert kept(f, "where_among", "n", [2.0**63, INF, -INF, NAN]) == []
    assert kept(f, "where_among", "n", [-0.0]) == [4]
    assert kept(f, "where_among", "n", [2**53 + 1]) == []  # the float is 2**53
    assert kept(f, "where_among", "n", [4, 3, 3, 4, 0]) == [0, 1, 4]


def test_among_on_f64_uses_float_equality():
    f = frame_of(id=list(range(5)), x=[NAN, -0.0, 0.0, 1.5, INF])
    assert kept(f, "where_among", "x", [NAN]) == []
    assert kept(f, "where_among", "x", [0.0]) == [1, 2]
    assert kept(f, "where_among", "x", [-0.0, INF]) == [1, 2, 4]
    assert kept(f, "where_among", "x", [1.5, 1.5, True]) == [3]


def test_among_with_many_values():
    values = list(range(0, 1000, 7))
    f = frame_of(id=list(range(300)), n=list(range(300)), x=[float(i) for i in range(300)])
    expected = [i for i in range(300) if i % 7 == 0]
    assert kept(f, "where_among", "n", values) == expected
    assert kept(f, "where_among", "x", values + [NAN, 0.5]) == expected


def test_among_accepts_number_sequences():
    f = frame_of(id=[0, 1, 2], n=[1, 2, 3])
    assert kept(f, "where_among", "n", (1, 3)) == [0, 2]
    assert kept(f, "where_among", "n", b"\x02") == [1]
    assert kept(f, "where_among", "n", range(2, 10)) == [1, 2]


# -- where_is and where_in ------------------------------------------------------

WORDS = ["a", "A", "", "ab", "a\x00", "\u00e9", "e\u0301", " a", "a", "long text " * 5]


def test_in_compares_bytes_exactly():
    f = frame_of(id=list(range(len(WORDS))), s=WORDS)
    assert kept(f, "where_is", "s", "a") == [0, 8]
    assert kept(f, "where_in", "s", ["a"]) == [0, 8]
    assert kept(f, "where_in", "s", ["a", "a"]) == [0, 8]
    assert kept(f, "where_is", "s", "") == [2]
    assert kept(f, "where_is", "s", "a\x00") == [4]
    assert kept(f, "where_is", "s", "\u00e9") == [5]  # no normalisation
    assert kept(f, "where_in", "s", ["e\u0301", "A", "long text " * 5]) == [1, 6, 9]
    assert kept(f, "where_in", "s", ["long text " * 4]) == []
    assert kept(f, "where_in", "s", []) == []


def test_in_with_many_keys():
    words = [f"key_{i}" for i in range(500)]
    f = frame_of(id=list(range(500)), s=words)
    wanted = [f"key_{i}" for i in range(0, 1000, 3)] + ["", "key_", "key_1000"]
    assert kept(f, "where_in", "s", wanted) == [i for i in range(500) if i % 3 == 0]
    assert kept(f, "where_in", "s", tuple(wanted)) == [i for i in range(500) if i % 3 == 0]


# -- refusals -------------------------------------------------------------------

@pytest.fixture
def mixed():
    f = Frame()
    f.add_ints("n", [1, 2])
    f.add_floats("x", [1.0, 2.0])
    f.add_strings('s "q"\n', ["a", "b"])
    return f


@pytest.mark.parametrize("method", COMPARISONS)
def test_comparisons_refuse_str_columns(mixed, method):
    before = snapshot(mixed)
    with pytest.raises(ValueError) as caught:
        getattr(mixed, method)('s "q"\n', 1)
    assert caught.value.args == ('column "s \\"q\\"\\n" is str: compare it with where_is or where_in',)
    assert snapshot(mixed) == before


@pytest.mark.parametrize("column,dtype", [("n", "i64"), ("x", "f64")])
@pytest.mark.parametrize("call", [lambda f, c: f.where_is(c, "a"), lambda f, c: f.where_in(c, ["a"])])
def test_string_filters_refuse_number_columns(mixed, column, dtype, call):
    with pytest.raises(ValueError) as caught:
        call(mixed, column)
    assert str(caught.value) == f'column "{column}" is {dtype}: where_is and where_in take a str column'


def test_among_refuses_str_columns(mixed):
    with pytest.raises(ValueError) as caught:
        mixed.where_among('s "q"\n', [1])
    assert str(caught.value) == 'column "s \\"q\\"\\n" is str: where_in takes its strings'


@pytest.mark.parametrize("call", [
    lambda f: f.where_eq("z", 1), lambda f: f.where_ge("z", 1), lambda f: f.where_is("z", "a"),
    lambda f: f.where_in("z", []), lambda f: f.where_among("z", []),
])
def test_absent_column(mixed, call):
    with pytest.raises(ValueError) as caught:
        call(mixed)
    assert str(caught.value) == 'no column "z" (the frame has "n", "x", "s \\"q\\"\\n")'


def test_absent_column_is_reported_before_the_dtype():
    f = Frame()
    with pytest.raises(ValueError, match=r'^no column "x" \(the frame has none\)$'):
        f.where_in("x", ["a"])


class BrokenSequence:
    """A sequence of texts whose second item cannot be had."""

    def __len__(self):
        return 3

    def __getitem__(self, i):
        if i == 1:
            raise LookupError("broken at 1")
        return "a"


def conversion_error(call):
    with pytest.raises(Exception) as caught:
        call()
    return caught.value


@pytest.mark.parametrize("call,kind,message,parameter", [
    (lambda f: f.where_in("n", "abc"), TypeError, STR_AS_SEQUENCE, "values"),
    (lambda f: f.where_among("n", "abc"), TypeError, STR_AS_SEQUENCE, "values"),
    (lambda f: f.where_in("n", ["a", 1]), TypeError, not_an_instance("int", "str"), "values"),
    (lambda f: f.where_in("n", None), TypeError, not_an_instance("None", "Sequence"), "values"),
    (lambda f: f.where_among("n", {1.0}), TypeError, not_an_instance("set", "Sequence"), "values"),
    (lambda f: f.where_is("n", 1), TypeError, not_an_instance("int", "str"), "value"),
    (lambda f: f.where_eq(1, 1), TypeError, not_an_instance("int", "str"), "name"),
    (lambda f: f.where_eq(1, "x"), TypeError, not_an_instance("int", "str"), "name"),
    (lambda f: f.where_eq("n", "1"), TypeError, None, "value"),
    (lambda f: f.where_lt("n", None), TypeError, None, "value"),
    (lambda f: f.where_gt("n", 10**400), OverflowError, None, "value"),
    (lambda f: f.where_among("n", [1, "2"]), TypeError, None, "values"),
    # where_in's sequence of texts by each road: tuple, list, iterated sequence.
    (lambda f: f.where_in("n", ("a", "\ud800")), UnicodeEncodeError, None, "values"),
    (lambda f: f.where_in("n", ["a", b"a"]), TypeError, not_an_instance("bytes", "str"), "values"),
    (lambda f: f.where_in("n", b"ab"), TypeError, not_an_instance("int", "str"), "values"),
    (lambda f: f.where_in("n", range(2)), TypeError, not_an_instance("int", "str"), "values"),
    (lambda f: f.where_in("n", BrokenSequence()), LookupError, "broken at 1", "values"),
    (lambda f: f.where_in("n", {"a": 1}), TypeError, not_an_instance("dict", "Sequence"), "values"),
    (lambda f: f.where_in("n", iter(["a"])), TypeError, not_an_instance("list_iterator", "Sequence"), "values"),
    (lambda f: f.where_in(None, ["a", 1]), TypeError, not_an_instance("None", "str"), "name"),
])
def test_conversion_failures_come_first_and_name_the_parameter(mixed, call, kind, message, parameter):
    # "n" is i64, so where_in would be refused by the engine: conversion wins.
    before = snapshot(mixed)
    error = conversion_error(lambda: call(mixed))
    assert type(error) is kind
    if message is not None:
        assert str(error) == message
    assert error.__notes__ == [f"while processing '{parameter}'"]
    assert snapshot(mixed) == before


def test_call_shapes():
    f = frame_of(n=[1])
    with pytest.raises(TypeError, match=r"^Frame.where_among\(\) missing 1 required positional "
                                        r"argument: 'values'$"):
        f.where_among("n")
    with pytest.raises(TypeError, match=r"^Frame.where_is\(\) got an unexpected keyword argument 'values'$"):
        f.where_is("n", values=["a"])
    assert f.where_eq(value=1, name="n").height() == 1


# -- results: new frames over shared storage --------------------------------------

def test_height_zero_frames_give_height_zero_for_every_filter():
    f = Frame()
    f.add_ints("n", [])
    f.add_floats("x", [])
    f.add_strings("s", [])
    for number in ("n", "x"):
        for method in COMPARISONS:
            for value in (0, NAN, INF, -INF):
                result = getattr(f, method)(number, value)
                assert result.height() == 0 and result.names() == ["n", "x", "s"]
        assert f.where_among(number, [1, 2]).height() == 0
    assert f.where_in("s", ["a"]).height() == 0
    assert f.where_is("s", "").height() == 0
    assert f.where_in("s", []).dtypes() == ["i64", "f64", "str"]


def test_empty_lists_keep_no_row_and_every_column():
    f = frame_of(id=[0, 1], s=["a", "b"])
    assert f.where_in("s", []).names() == ["id", "s"]
    assert f.where_in("s", []).height() == 0
    assert f.where_among("id", []).height() == 0


def test_receiver_is_unchanged_and_result_is_independent():
    f = frame_of(id=[0, 1, 2, 3], x=[0.5, 1.5, 2.5, 3.5])
    before = snapshot(f)
    g = f.where_gt("x", 1.0)
    assert snapshot(f) == before
    assert g is not f and type(g) is Frame
    g.add_strings("s", ["a", "b", "c"])
    assert snapshot(f) == before
    assert g.strings("s") == ["a", "b", "c"] and g.ints("id") == [1, 2, 3]
    f.add_ints("later", [9, 9, 9, 9])
    assert g.names() == ["id", "x", "s"]


def test_filters_of_filtered_and_sorted_frames_keep_their_order():
    f = frame_of(id=list(range(8)), n=[5, 3, 8, 1, 9, 2, 7, 4])
    s = f.sort("n", True)                                  # ids 4 2 6 0 7 1 5 3
    assert s.ints("id") == [4, 2, 6, 0, 7, 1, 5, 3]
    g = s.where_gt("n", 2.5)
    assert g.ints("id") == [4, 2, 6, 0, 7, 1]
    h = g.where_among("id", [1, 6, 0, 3])
    assert h.ints("id") == [6, 0, 1]
    assert h.ints("n") == [7, 5, 3]
    # Adding a column to the twice-filtered frame lines up with its rows.
    h.add_ints("k", [10, 11, 12])
    assert h.where_ge("k", 11).ints("id") == [0, 1]
    assert f.ints("id") == list(range(8))


def test_filters_see_only_the_rows_of_a_head_or_tail():
    f = frame_of(id=list(range(6)), s=["a", "b", "a", "b", "a", "b"])
    assert f.tail(3).where_is("s", "a").ints("id") == [4]
    assert f.head(-2).where_is("s", "b").ints("id") == [1, 3]


def test_keeping_every_row_shows_the_same_rows():
    f = frame_of(id=[0, 1, 2], x=[1.0, 2.0, 3.0])
    g = f.where_gt("x", 0)
    assert g.ints("id") == [0, 1, 2]
    assert f.sort("x", True).where_gt("x", 0).ints("id") == [2, 1, 0]


# -- re-entrant calls during conversion -----------------------------------------

class CallsBack:
    """A sequence of strs whose iteration first runs `action`."""

    def __init__(self, action, items):
        self.action = action
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]

    def __iter__(self):
        self.action()
        return iter(self.items)


def test_shared_calls_succeed_during_a_shared_call():
    f = frame_of(id=[0, 1], s=["a", "b"])
    seen = []
    result = f.where_in("s", CallsBack(lambda: seen.append(f.height()), ["b"]))
    assert seen == [2]
    assert result.ints("id") == [1]
    nested = f.where_in("s", CallsBack(lambda: seen.append(f.where_is("s", "a").height()), ["a"]))
    assert nested.ints("id") == [0] and seen == [2, 1]


def test_an_exclusive_call_during_a_shared_call_is_refused():
    f = frame_of(id=[0, 1], s=["a", "b"])
    before = snapshot(f)
    with pytest.raises(RuntimeError) as caught:
        f.where_in("s", CallsBack(lambda: f.add_ints("more", [1, 2]), ["a"]))
    assert caught.value.args == ("Already borrowed",)
    assert caught.value.__notes__ == ["while processing 'values'"]
    assert snapshot(f) == before
    f.add_ints("more", [1, 2])  # free again afterwards


def test_an_exclusive_call_during_where_among_is_refused():
    f = frame_of(id=[0, 1])

    class Number:
        def __float__(self):
            f.add_ints("x", [1, 2])
            return 1.0

    with pytest.raises(RuntimeError) as caught:
        f.where_among("id", [Number()])
    assert caught.value.args == ("Already borrowed",)
    assert caught.value.__notes__ == ["while processing 'values'"]
    assert f.names() == ["id"]


# -- missing entries (frames read from CSV) ----------------------------------------

def test_missing_entries_are_never_kept():
    f = frame_with_missing(n=[1, None, 3], x=[1.5, None, -2.0], s=["a", None, ""])
    assert f.where_ne("n", 100).ints("n") == [1, 3]
    assert f.where_ne("x", NAN).floats("x") == [1.5, -2.0]
    assert f.where_eq("n", 0).height() == 0  # a missing number is not 0
    assert f.where_among("x", [0.0]).height() == 0
    assert f.where_is("s", "").strings("s") == [""]  # missing is not the empty string
    assert f.where_in("s", ["a", ""]).strings("s") == ["a", ""]


# -- the plain-Python model ----------------------------------------------------------

def model_compare(values, op, v):
    return [i for i, x in enumerate(values) if exact_compare(op, x, v)]


int_values = st.lists(st.one_of(st.integers(-5, 5), st.integers(-2**63, 2**63 - 1)), max_size=40)
float_values = st.lists(st.one_of(st.floats(), st.sampled_from([0.0, -0.0, 1.0, 2.5])), max_size=40)
probe = st.one_of(st.floats(), st.integers(-5, 5).map(float), st.sampled_from([2.0**63, -2.0**63, 0.5]))


@settings(max_examples=150, deadline=None)
@given(values=int_values, v=probe, method=st.sampled_from(sorted(COMPARISONS)),
       selection=st.lists(st.integers(0, 39), max_size=30))
def test_i64_filters_match_python(values, v, method, selection):
    f = frame_of(id=list(range(len(values))), n=values)
    rows = [r for r in selection if r < len(values)]
    # Show the rows through a selection: among on ids repeats nothing, so sort
    # by a key that orders them as `rows` says, without duplicates.
    rows = list(dict.fromkeys(rows))
    shown = f.where_among("id", rows).sort("id", True) if rows else f
    shown_ids = shown.ints("id")
    expected = [i for i in shown_ids if exact_compare(COMPARISONS[method], values[i], v)]
    assert getattr(shown, method)("n", v).ints("id") == expected
    wanted = [v, float(len(values) % 7)]
    expected_among = [i for i in shown_ids
                      if any(-2**63 <= w < 2**63 and w == math.floor(w) and values[i] == int(w)
                             for w in wanted)]
    assert shown.where_among("n", wanted).ints("id") == expected_among


@settings(max_examples=150, deadline=None)
@given(values=float_values, v=probe, method=st.sampled_from(sorted(COMPARISONS)))
def test_f64_filters_match_python(values, v, method):
    f = frame_of(id=list(range(len(values))), x=[float(x) for x in values])
    op = COMPARISONS[method]
    assert getattr(f, method)("x", v).ints("id") == [i for i, x in enumerate(values) if op(x, v)]
    assert f.where_among("x", [v]).ints("id") == [i for i, x in enumerate(values) if x == v]


@settings(max_examples=150, deadline=None)
@given(values=st.lists(st.text(alphabet="ab\x00é", max_size=4), max_size=40),
       wanted=st.lists(st.text(alphabet="ab\x00é", max_size=4), max_size=6))
def test_string_filters_match_python(values, wanted):
    f = Frame()
    f.add_ints("id", list(range(len(values))))
    f.add_strings("s", values)
    assert f.where_in("s", wanted).ints("id") == [i for i, s in enumerate(values) if s in wanted]
    if wanted:
        assert f.where_is("s", wanted[0]).ints("id") == [i for i, s in enumerate(values) if s == wanted[0]]


# -- a row selection and missing entries together ---------------------------------

entry_rows = st.lists(st.tuples(
    st.one_of(st.none(), st.integers(-3, 3), st.sampled_from([-2**63, 2**63 - 1])),
    st.one_of(st.none(), st.sampled_from([-1.5, -0.0, 0.0, 0.5, 2.0, 1e300])),
    st.one_of(st.none(), st.text(alphabet="ab\u00e9 ", max_size=3))), max_size=30)


@settings(max_examples=150, deadline=None)
@given(rows=entry_rows, data=st.data(), v=st.sampled_from([-2.0, -0.5, 0.0, 0.5, 2.0, NAN, INF, 2.0**63]),
       wanted=st.lists(st.text(alphabet="ab\u00e9 ", max_size=3), max_size=4))
def test_filters_of_a_selection_over_missing_entries_match_python(rows, data, v, wanted):
    """Every filter, on a frame that shows its rows through a selection and
    whose columns have missing entries: the kept ids, in the frame's order,
    are those of the present entries that pass the test."""
    order = data.draw(st.permutations(range(len(rows))), label="order")
    dropped = data.draw(st.sets(st.integers(0, max(len(rows) - 1, 0))), label="dropped")
    shown, ids = shown_with_missing(rows, order, dropped)
    columns = {"n": 0, "x": 1, "s": 2}
    assert [shown.ints("n"), shown.floats("x"), shown.strings("s")] == \
        [[rows[i][c] for i in ids] for c in range(3)]

    def expected(column, test):
        return [i for i in ids if rows[i][columns[column]] is not None and test(rows[i][columns[column]])]

    for method, op in COMPARISONS.items():
        assert kept(shown, method, "n", v) == expected("n", lambda n: exact_compare(op, n, v))
        assert kept(shown, method, "x", v) == expected("x", lambda x: op(x, v))
    among = [v, 0.5, -0.0]
    assert kept(shown, "where_among", "x", among) == expected("x", lambda x: x in among)
    assert kept(shown, "where_among", "n", among) == expected("n", lambda n: n in among)
    assert kept(shown, "where_in", "s", wanted) == expected("s", lambda s: s in wanted)
    for text in wanted[:1]:
        assert kept(shown, "where_is", "s", text) == expected("s", lambda s: s == text)


# Texts of 8 to 16 bytes, the dates' length among them, that differ from the
# ones asked for in one byte anywhere: at the ends, in the middle, or only in
# their length.
def near_misses(base):
    return st.one_of(
        st.just(base),
        st.builds(lambda i, c: base[:i % len(base)] + c + base[i % len(base) + 1:],
                  st.integers(0, 15), st.sampled_from("0-9x")),
        st.just(base[:-1]), st.just(base + "0"))


@settings(max_examples=150, deadline=None)
@given(data=st.data(), bases=st.lists(st.text(alphabet="0123456789-", min_size=8, max_size=16),
                                      min_size=1, max_size=3))
def test_texts_of_eight_to_sixteen_bytes_match_exactly(data, bases):
    values = data.draw(st.lists(st.one_of(*[near_misses(b) for b in bases]), max_size=30))
    wanted = bases + data.draw(st.lists(st.one_of(*[near_misses(b) for b in bases]), max_size=3))
    f = Frame()
    f.add_ints("id", list(range(len(values))))
    f.add_strings("s", values)
    assert kept(f, "where_in", "s", wanted) == [i for i, s in enumerate(values) if s in wanted]
    assert kept(f, "where_is", "s", bases[0]) == [i for i, s in enumerate(values) if s == bases[0]]
