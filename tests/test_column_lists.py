"""Reading columns back as lists: every row's value, kind and order through a
selection and missing entries, and the sharing of one str among equal entries."""
import collections
import sys

from hypothesis import given, settings, strategies as st

import tarnwick

from helpers.frames import frame_with_missing

# Texts that meet the text cache's edge cases: the empty text, lengths around
# its 4-, 8- and 16-byte word boundaries, texts equal but for one middle byte,
# non-ASCII and NUL.
PIECES = ["", "a", "ab", "abc", "abcd", "abcdefg", "abcdefgh", "abcdefghi", "é", "\x00",
          "0123456789abcdef", "0123456789abcdefg", "0123456789abcdefX", "0123456789aXcdefg",
          "x" * 40, "x" * 39 + "y", "y" + "x" * 39]
texts = st.one_of(st.sampled_from(PIECES), st.text(max_size=20))


def frame_and_model(columns, order):
    """A frame (read from CSV when an entry is missing) shown through the rows
    `order` picks, and the model of what it shows."""
    height = len(columns["i"])
    columns = dict(columns, r=list(range(height)))
    if any(v is None for values in columns.values() for v in values):
        frame = frame_with_missing(**columns)
    else:
        frame = tarnwick.Frame()
        for name, values in columns.items():
            add = {"x": frame.add_floats, "s": frame.add_strings}.get(name, frame.add_ints)
            add(name, values)
    rows = list(range(height))
    if order in ("reversed", "reversed tail"):
        frame, rows = frame.sort("r", True), rows[::-1]
    if order in ("filtered", "reversed tail"):
        frame = frame.where_ge("r", height // 3)
        rows = [r for r in rows if r >= height // 3]
    return frame, {name: [values[r] for r in rows] for name, values in columns.items()}


@st.composite
def tables(draw):
    height = draw(st.integers(1, 60))
    pool = draw(st.lists(texts, min_size=1, max_size=8))
    missing = draw(st.booleans())

    def column(values):
        return st.lists(st.one_of(st.none(), values) if missing else values,
                        min_size=height, max_size=height)

    return {
        "i": draw(column(st.integers(-(2**63), 2**63 - 1))),
        "x": draw(column(st.floats(allow_nan=False, allow_infinity=False))),
        "s": draw(column(st.sampled_from(pool) | texts)),
    }


@settings(max_examples=300, deadline=None)
@given(tables(), st.sampled_from(["plain", "reversed", "filtered", "reversed tail"]))
def test_lists_hold_every_row_in_order(columns, order):
    # Read from CSV, a column needs a present entry to keep its kind.
    for name, present in (("i", 1), ("x", 0.5), ("s", "s")):
        if all(v is None for v in columns[name]):
            columns[name][0] = present
    frame, model = frame_and_model(columns, order)
    ints, floats, strings = frame.ints("i"), frame.floats("x"), frame.strings("s")
    assert ints == model["i"] and floats == model["x"] and strings == model["s"]
    assert [type(v) for v in ints] == [type(v) for v in model["i"]]
    assert [type(v) for v in floats] == [type(v) for v in model["x"]]
    assert [type(v) for v in strings] == [type(v) for v in model["s"]]
    # Sharing never joins unequal texts.
    by_identity = {}
    for s in strings:
        assert by_identity.setdefault(id(s), s) == s


def identities(values):
    return len({id(v) for v in values})


def test_equal_entries_share_one_str_and_count_their_references():
    values = [f"value {k % 50}" for k in range(100_000)]
    f = tarnwick.Frame()
    f.add_strings("s", values)
    f.add_ints("i", range(len(values)))
    for shown, model in [(f, values), (f.sort("i", True), values[::-1])]:
        strings = shown.strings("s")
        assert strings == model
        assert identities(strings) == 50
        # Each shared str is referred to once by each of its rows, beyond the
        # references this loop holds (measured on an object no list holds): no
        # reference is lost or left over.
        uses = collections.Counter(map(id, strings))
        for marker in {0: str(object())}.values():
            held = sys.getrefcount(marker)
        for s in {id(s): s for s in strings}.values():
            assert sys.getrefcount(s) - held == uses[id(s)]


def test_sharing_adapts_to_the_column():
    n = 300_000
    unique = [f"unique {k}" for k in range(n)]
    # Unique values first, repeats later: the repeats are still noticed, and
    # from then on all share the ten strs.
    late = unique[:100_000] + [f"late {k % 10}" for k in range(n - 100_000)]
    f = tarnwick.Frame()
    f.add_strings("unique", unique)
    f.add_strings("late", late)
    assert f.strings("unique") == unique
    strings = f.strings("late")
    assert strings == late
    assert identities(strings[-100_000:]) == 10
