"""Reducing each group to one value: count, sum, mean, min, max."""
import math
import random
import struct

import pytest
from hypothesis import given, settings, strategies as st

import tarnwick
from tarnwick import Frame

from helpers.frames import frame_of, table, values_of, shown_with_missing
from helpers.messages import not_an_instance


REDUCTIONS = ["sum", "mean", "min", "max"]
INF = math.inf


def reduce(values, how, kind=None):
    """`how` of one group holding `values`, as a list of one value."""
    f = Frame()
    adder = {"i64": f.add_ints, "f64": f.add_floats, "str": f.add_strings}
    adder[kind or _kind_of(values)]("v", values)
    result = getattr(f.group([]), how)("v")
    return values_of(result, "v")


def _kind_of(values):
    return {int: "i64", float: "f64", str: "str"}[type(values[0])]


def sign(x):
    return math.copysign(1.0, x)


@pytest.mark.parametrize("how,kind,result", [
    ("sum", "i64", "i64"), ("sum", "f64", "f64"),
    ("mean", "i64", "f64"), ("mean", "f64", "f64"),
    ("min", "i64", "i64"), ("min", "f64", "f64"), ("min", "str", "str"),
    ("max", "i64", "i64"), ("max", "f64", "f64"), ("max", "str", "str"),
])
def test_result_dtypes_and_layout(how, kind, result):
    values = {"i64": [3, 1, 2], "f64": [3.0, 1.0, 2.0], "str": ["c", "a", "b"]}[kind]
    f = frame_of(k=["x", "y", "x"], j=[7, 7, 7], v=values)
    out = getattr(f.group(["j", "k"]), how)("v")
    assert out.names() == ["j", "k", "v"]
    assert out.dtypes() == ["i64", "str", result]
    assert out.height() == 2


@pytest.mark.parametrize("values,how,expected", [
    ([1, 2], "mean", [1.5]),
    ([5, -7, 3], "sum", [1]),
    ([5, -7, 3], "min", [-7]),
    ([5, -7, 3], "max", [5]),
    ([2 ** 62, 2 ** 62 - 2], "mean", [float(2 ** 62 - 1)]),
    ([1e16, 1.0, -1e16], "sum", [1.0]),
    ([1.0, 1e100, 1.0, -1e100], "sum", [2.0]),
    ([1e16, 1.0, -1e16], "mean", [1.0 / 3]),
    ([0.1] * 10, "sum", [1.0]),
    ([INF, 1.0], "sum", [INF]),
    ([1.0, -INF], "sum", [-INF]),
    ([INF, INF], "mean", [INF]),
])
def test_reductions(values, how, expected):
    assert reduce(values, how) == expected


@pytest.mark.parametrize("values,how", [
    ([INF, -INF], "sum"),
    ([1.0, math.nan, 2.0], "sum"),
    ([1.0, math.nan], "mean"),
    ([math.nan, 1.0], "min"),
    ([math.nan, 1.0], "max"),
])
def test_nan_results(values, how):
    assert math.isnan(reduce(values, how)[0])


@pytest.mark.parametrize("values,how,expected", [
    ([1.0, math.nan], "min", 1.0),
    ([1.0, math.nan, 0.5], "min", 0.5),
    ([1.0, math.nan, 2.0], "max", 2.0),
])
def test_nan_never_replaces_a_best(values, how, expected):
    assert reduce(values, how) == [expected]


@pytest.mark.parametrize("values,how,expected_sign", [
    ([-0.0, -0.0], "sum", 1.0),
    ([-0.0], "mean", 1.0),
    ([0.0, -0.0], "min", 1.0),
    ([-0.0, 0.0], "min", -1.0),
    ([0.0, -0.0], "max", 1.0),
    ([-0.0, 0.0], "max", -1.0),
])
def test_signs_of_zero(values, how, expected_sign):
    [result] = reduce(values, how)
    assert result == 0.0
    assert sign(result) == expected_sign


@pytest.mark.parametrize("values,how,expected", [
    (["b", "ab", "b "], "max", "b "),
    (["a", "A"], "min", "A"),
    (["ab", "abc", "a"], "max", "abc"),
    (["ab", "abc", "a"], "min", "a"),
    (["z", "é"], "max", "é"),
    (["\U00010000", "\uffff"], "max", "\U00010000"),
    (["", "a"], "min", ""),
])
def test_strings_compare_by_utf8_bytes(values, how, expected):
    assert reduce(values, how) == [expected]


@pytest.mark.parametrize("values", [
    [2 ** 63 - 1, 1, -1],
    [-2 ** 63, -1, 1],
    [2 ** 62, 2 ** 62, -2 ** 62, -2 ** 62],
])
@pytest.mark.parametrize("how", ["sum", "mean"])
def test_every_partial_sum_must_fit(values, how):
    with pytest.raises(ValueError) as caught:
        reduce(values, how)
    assert caught.value.args == ('the sum of column "v" overflows i64',)


def test_sums_at_the_edges_of_the_range():
    assert reduce([2 ** 63 - 1, -1, 1], "sum") == [2 ** 63 - 1]
    assert reduce([-2 ** 63, 2 ** 63 - 1], "sum") == [-1]
    assert reduce([2 ** 63 - 1, 2 ** 63 - 1], "max") == [2 ** 63 - 1]


def test_overflow_in_one_group_fails_the_call():
    f = frame_of(k=["a", "b", "a"], v=[2 ** 63 - 1, 2 ** 63 - 1, 1])
    with pytest.raises(ValueError, match=r'^the sum of column "v" overflows i64$'):
        f.group(["k"]).sum("v")
    assert f.group(["k"]).max("v").ints("v") == [2 ** 63 - 1, 2 ** 63 - 1]


@pytest.mark.parametrize("how,column,message", [
    ("sum", "zz", 'no column "zz" (the frame has "k", "s", "big", "v")'),
    ("min", "zz", 'no column "zz" (the frame has "k", "s", "big", "v")'),
    ("sum", "k", 'column "k" is a key of this grouping'),
    ("min", "k", 'column "k" is a key of this grouping'),
    ("max", "s", 'column "s" is a key of this grouping'),
    ("sum", "s", 'column "s" is str: it has no sum or mean'),
    ("mean", "s", 'column "s" is str: it has no sum or mean'),
    ("sum", "big", 'the sum of column "big" overflows i64'),
    ("max", "big", 'column "big" is a key of this grouping'),
])
def test_checks_come_in_order(how, column, message):
    f = frame_of(k=[1, 1], s=["a", "a"], big=[2 ** 63 - 1, 2 ** 63 - 1], v=[1, 2])
    g = f.group(["k", "s", "big"])
    with pytest.raises(ValueError) as caught:
        getattr(g, how)(column)
    assert caught.value.args == (message,)


def test_names_in_messages_are_quoted():
    f = frame_of(k=[1, 1], **{'a"\\b\n': [2 ** 63 - 1, 1]})
    with pytest.raises(ValueError) as caught:
        f.group(["k"]).sum('a"\\b\n')
    assert caught.value.args == ('the sum of column "a\\"\\\\b\\n" overflows i64',)


@pytest.mark.parametrize("keys,names", [
    (["k"], ["k", "count"]),
    (["count"], ["count", "len"]),
    (["count", "k"], ["count", "k", "len"]),
    (["len", "count"], ["len", "count"]),
])
def test_count_names_its_column(keys, names):
    f = frame_of(k=[1, 2, 1], count=[5, 5, 6], len=[0, 0, 0])
    counted = f.group(keys).count()
    assert counted.names() == names
    assert counted.dtypes() == ["i64"] * len(names)


def test_count_without_keys_counts_every_row():
    counted = frame_of(v=[1.0, 2.0, 3.0]).group([]).count()
    assert (counted.names(), counted.ints("count")) == (["count"], [3])


@pytest.mark.parametrize("how", REDUCTIONS)
def test_no_keys_give_one_row_with_the_total(how):
    result = getattr(frame_of(x=[1.0, 2.0, 4.0]).group([]), how)("x")
    assert result.names() == ["x"]
    assert result.floats("x") == [{"sum": 7.0, "mean": 7.0 / 3, "min": 1.0, "max": 4.0}[how]]


@pytest.mark.parametrize("how", REDUCTIONS + ["count"])
def test_an_empty_frame_gives_empty_columns(how):
    f = Frame()
    f.add_strings("k", [])
    f.add_ints("v", [])
    g = f.group(["k"])
    result = g.count() if how == "count" else getattr(g, how)("v")
    assert result.names() == ["k", "count" if how == "count" else "v"]
    assert result.dtypes() == ["str", "f64" if how == "mean" else "i64"]
    assert result.height() == 0


@pytest.mark.parametrize("call,error,message,notes", [
    (lambda g: g.sum(5), TypeError, not_an_instance("int", "str"), ["while processing 'name'"]),
    (lambda g: g.mean(None), TypeError, not_an_instance("None", "str"), ["while processing 'name'"]),
    (lambda g: g.min(), TypeError, "Grouped.min() missing 1 required positional argument: 'name'", None),
    (lambda g: g.max("v", "v"), TypeError, "Grouped.max() takes 1 positional arguments but 2 were given", None),
    (lambda g: g.sum(nme="v"), TypeError, "Grouped.sum() got an unexpected keyword argument 'nme'", None),
])
def test_argument_errors(call, error, message, notes):
    g = frame_of(k=[1], v=[2]).group(["k"])
    with pytest.raises(error) as caught:
        call(g)
    assert str(caught.value) == message
    assert getattr(caught.value, "__notes__", None) == notes


def test_name_by_keyword():
    g = frame_of(k=[1, 1], v=[2, 3]).group(["k"])
    assert g.max(name="v").ints("v") == [3]


def test_missing_values_take_no_part():
    f = tarnwick.read_csv("k,n,x,s\na,,,\nb,4,2.5,q\na,,,\nb,,0.5,p\n")
    g = f.group(["k"])
    assert g.sum("n").ints("n") == [0, 4]
    assert g.sum("x").floats("x") == [0.0, 3.0]
    assert g.mean("n").floats("n") == [None, 4.0]
    assert g.min("n").ints("n") == [None, 4]
    assert g.max("x").floats("x") == [None, 2.5]
    assert g.min("s").strings("s") == [None, "p"]
    assert g.count().ints("count") == [2, 2]


def test_results_write_as_csv():
    text = frame_of(k=["a", "b", "a"], v=[1, 2, 3]).group(["k"]).sum("v").to_csv()
    assert text.splitlines()[0] == "k,v"


@pytest.mark.parametrize("seed", range(3))
def test_random_reductions_match_a_reference(seed):
    rng = random.Random(seed)
    rows = 2000
    keys = [rng.randrange(40) for _ in range(rows)]
    ints = [rng.randrange(-10 ** 12, 10 ** 12) for _ in range(rows)]
    floats = [rng.uniform(-1e6, 1e6) for _ in range(rows)]
    g = frame_of(k=keys, n=ints, x=floats).group(["k"])
    groups = {}
    for k, n, x in zip(keys, ints, floats):
        groups.setdefault(k, []).append((n, x))
    assert g.count().ints("k") == list(groups)
    assert g.sum("n").ints("n") == [sum(n for n, _ in rows_) for rows_ in groups.values()]
    assert g.min("x").floats("x") == [min(x for _, x in rows_) for rows_ in groups.values()]
    assert g.max("n").ints("n") == [max(n for n, _ in rows_) for rows_ in groups.values()]
    for got, rows_ in zip(g.sum("x").floats("x"), groups.values()):
        assert got == pytest.approx(math.fsum(x for _, x in rows_), rel=1e-15, abs=1e-9)
    for got, rows_ in zip(g.mean("n").floats("n"), groups.values()):
        assert got == sum(n for n, _ in rows_) / len(rows_)


# -- a grouping of a frame with a row selection and missing entries -----------------

def neumaier(values):
    s = c = 0.0
    for x in values:
        t = s + x
        c += (s - t) + x if abs(s) >= abs(x) else (x - t) + s
        s = t
    return s + c if math.isfinite(c) and c != 0.0 else s


def model_reduction(values, how, dtype):
    """One group's result; raises OverflowError where an i64 partial sum does."""
    present = [v for v in values if v is not None]
    if how in ("sum", "mean") and dtype == "i64":
        total = 0
        for v in present:
            total += v
            if not -2**63 <= total < 2**63:
                raise OverflowError
        if how == "sum":
            return total
        return float(total) / len(present) if present else None
    if how == "sum":
        return neumaier(present)
    if how == "mean":
        return neumaier(present) / len(present) if present else None
    if not present:
        return None
    return min(present) if how == "min" else max(present)


entry_rows = st.lists(st.tuples(
    st.one_of(st.none(), st.integers(-3, 3), st.sampled_from([2**62, 2**63 - 1, -2**63])),
    st.one_of(st.none(), st.sampled_from([-1.5, -0.0, 0.0, 0.5, 1e16, -1e16, 1.0])),
    st.one_of(st.none(), st.text(alphabet="ab\u00e9 ", max_size=2))), max_size=30)


@settings(max_examples=150, deadline=None)
@given(rows=entry_rows, data=st.data(),
       keys=st.sampled_from([[], ["s"], ["n"], ["x"], ["x", "s"], ["s", "n", "x"]]))
def test_every_reduction_of_a_selection_over_missing_entries_matches_python(rows, data, keys):
    """Groups of a frame shown through a selection, with missing keys and
    values: each reduction of each column that is not a key, against a model
    that forms the groups with a dict in the frame's row order."""
    order = data.draw(st.permutations(range(len(rows))), label="order")
    dropped = data.draw(st.sets(st.integers(0, max(len(rows) - 1, 0))), label="dropped")
    shown, ids = shown_with_missing(rows, order, dropped)
    g = shown.group(keys)
    where = {"n": 0, "x": 1, "s": 2}
    dtypes = {"n": "i64", "x": "f64", "s": "str"}
    groups = {}
    for i in ids:
        # Python's dict takes -0.0 and 0.0 for one key, as grouping does, and
        # keeps the first one seen, which is the value the key column shows.
        groups.setdefault(tuple(rows[i][where[k]] for k in keys), []).append(i)
    key_columns = [(k, dtypes[k], [key[j] for key in groups]) for j, k in enumerate(keys)]

    def as_table(columns):
        return [(name, dtype, [None if v is None else repr(v) for v in values] if dtype == "f64" else values)
                for name, dtype, values in columns]

    assert g.groups() == len(groups)
    counted = key_columns + [("count", "i64", [len(members) for members in groups.values()])]
    assert table(g.count()) == as_table(counted)
    for column in ("n", "x", "s"):
        if column in keys:
            continue
        for how in REDUCTIONS:
            if column == "s" and how in ("sum", "mean"):
                continue
            dtype = "f64" if how == "mean" else dtypes[column]
            try:
                results = [model_reduction([rows[i][where[column]] for i in members], how, dtypes[column])
                           for members in groups.values()]
            except OverflowError:
                with pytest.raises(ValueError, match="overflows i64"):
                    getattr(g, how)(column)
                continue
            assert table(getattr(g, how)(column)) == as_table(key_columns + [(column, dtype, results)]), how
