"""Date parts: add_date_part(name, source, part)."""
import datetime

import pytest
from hypothesis import given, settings, strategies as st

from tarnwick import Frame

from helpers.frames import frame_of, snapshot, frame_with_missing
from helpers.messages import not_an_instance


def parts_of(texts, part):
    f = frame_of(d=texts) if texts else Frame()
    if not texts:
        f.add_strings("d", [])
    f.add_date_part("p", "d", part)
    return f.ints("p")


def test_the_three_parts():
    assert parts_of(["2024-03-07"], "year") == [2024]
    assert parts_of(["2024-03-07"], "month") == [3]
    assert parts_of(["2024-03-07"], "day") == [7]


@pytest.mark.parametrize("text,year", [
    ("2024-02-29", 2024), ("2000-02-29", 2000), ("0001-01-01", 1), ("9999-12-31", 9999),
    ("0004-02-29", 4), ("1600-02-29", 1600), ("2023-12-31", 2023), ("2023-11-30", 2023),
])
def test_valid_dates(text, year):
    assert parts_of([text], "year") == [year]


INVALID = ["2023-02-29", "1900-02-29", "2100-02-29", "0000-01-01", "2024-1-05", "2024-01-5",
           "2024/01/05", "2024-01-05T00:00", "+024-01-05", "2024-13-01", "2024-00-10",
           "2024-04-31", "2024-01-00", " 2024-01-05", "2024-01-05 ", "", "2024-01-32",
           "2024-06-31", "2024-09-31", "2024-11-31", "2024\u201001-05", "２０２４-01-05",
           "2024-01-0\x00", "2024-01-0:", "2024-01-0/", "-024-01-05", "20240105", "2024-0105-",
           "abcd-ef-gh", "2024--1-05", "2024-01--5"]


@pytest.mark.parametrize("text", INVALID)
def test_invalid_dates_name_row_and_text(text):
    f = frame_of(d=["2024-01-01", text])
    before = snapshot(f)
    with pytest.raises(ValueError) as caught:
        f.add_date_part("y", "d", "year")
    quoted = text.replace("\x00", "\\0")
    assert caught.value.args == (f'column "d", row 1: "{quoted}" is not a YYYY-MM-DD date',)
    assert snapshot(f) == before


def test_the_first_bad_row_in_the_current_order_is_named():
    f = frame_of(id=list(range(10)),
                 d=["2024-01-01"] * 4 + ["bad four"] + ["2024-01-01"] * 4 + ["bad \"nine\"\n"])
    g = f.where_among("id", [4, 9])
    with pytest.raises(ValueError) as caught:
        g.add_date_part("y", "d", "year")
    assert str(caught.value) == 'column "d", row 0: "bad four" is not a YYYY-MM-DD date'
    h = f.where_among("id", [3, 9])
    with pytest.raises(ValueError) as caught:
        h.add_date_part("y", "d", "year")
    assert str(caught.value) == 'column "d", row 1: "bad \\"nine\\"\\n" is not a YYYY-MM-DD date'
    s = f.sort("id", True)
    with pytest.raises(ValueError) as caught:
        s.add_date_part("y", "d", "year")
    assert str(caught.value).startswith('column "d", row 0: "bad \\"nine')
    assert h.names() == ["id", "d"] and h.height() == 2


def test_a_filtered_frame_gains_the_column_in_its_row_order():
    f = frame_of(id=[0, 1, 2, 3], d=["2001-01-05", "bad", "2003-03-07", "2004-04-08"])
    g = f.where_among("id", [3, 0, 2]).sort("id", True)
    g.add_date_part("m", "d", "month")
    assert g.ints("m") == [4, 3, 1]
    assert g.ints("id") == [3, 2, 0]
    assert f.names() == ["id", "d"]
    assert g.where_gt("m", 2).ints("id") == [3, 2]


@pytest.mark.parametrize("part", ["Day", "YEAR", "years", "", "day ", "d", "mon\u0301th"])
def test_part_words_are_checked_first(part):
    f = Frame()  # not even the source column exists
    with pytest.raises(ValueError) as caught:
        f.add_date_part("x", "nowhere", part)
    quoted = part.replace("\u0301", "\\u{301}")
    assert caught.value.args == (f'part "{quoted}": give "year", "month" or "day"',)


def test_check_order_source_then_dtype_then_rows_then_name():
    f = frame_of(d=["2024-01-01", "nope"], n=[1, 2])
    with pytest.raises(ValueError, match=r'^no column "z" \(the frame has "d", "n"\)$'):
        f.add_date_part("d", "z", "year")
    with pytest.raises(ValueError, match=r'^column "n" is i64, not str$'):
        f.add_date_part("d", "n", "year")
    g = frame_of(x=[1.5])
    with pytest.raises(ValueError, match=r'^column "x" is f64, not str$'):
        g.add_date_part("x", "x", "day")
    with pytest.raises(ValueError, match=r'^column "d", row 1: "nope" is not a YYYY-MM-DD date$'):
        f.add_date_part("d", "d", "year")  # the name is taken too, but checked last
    ok = frame_of(y=["2024-01-01"])
    before = snapshot(ok)
    with pytest.raises(ValueError) as caught:
        ok.add_date_part("y", "y", "year")
    assert caught.value.args == ('the frame has a column "y" already',)
    assert snapshot(ok) == before


def test_height_zero_gains_an_empty_i64_column():
    f = Frame()
    f.add_strings("d", [])
    f.add_date_part("y", "d", "year")
    assert f.names() == ["d", "y"] and f.dtypes() == ["str", "i64"] and f.height() == 0


def test_missing_entries_give_missing_values():
    f = frame_with_missing(d=["2024-02-29", None, "1999-12-31"])
    f.add_date_part("day", "d", "day")
    assert f.ints("day") == [29, None, 31]


def test_keywords_and_conversions():
    f = frame_of(d=["2020-05-17"])
    f.add_date_part(part="day", source="d", name="dd")
    assert f.ints("dd") == [17]
    with pytest.raises(TypeError) as caught:
        f.add_date_part("x", "d", None)
    assert str(caught.value) == not_an_instance("None", "str")
    assert caught.value.__notes__ == ["while processing 'part'"]
    with pytest.raises(TypeError) as caught:
        f.add_date_part("x", 3, "bogus")
    assert caught.value.__notes__ == ["while processing 'source'"]
    with pytest.raises(TypeError) as caught:
        f.add_date_part()
    assert str(caught.value) == ("Frame.add_date_part() missing 3 required positional arguments: "
                                 "'name', 'source', and 'part'")
    assert f.names() == ["d", "dd"]


def test_the_frame_is_free_again_after_a_refusal():
    f = frame_of(d=["2020-05-17"])
    with pytest.raises(ValueError):
        f.add_date_part("y", "d", "week")
    f.add_date_part("y", "d", "year")
    assert f.ints("y") == [2020]
    assert f.sort("y", False).ints("y") == [2020]


dates = st.dates(min_value=datetime.date(1, 1, 1), max_value=datetime.date(9999, 12, 31))


@settings(max_examples=100, deadline=None)
@given(values=st.lists(dates, max_size=50))
def test_parts_match_python(values):
    texts = [d.isoformat() for d in values]
    f = Frame()
    f.add_strings("d", texts)
    for part in ("year", "month", "day"):
        f.add_date_part(part, "d", part)
        assert f.ints(part) == [getattr(d, part) for d in values]


@settings(max_examples=300, deadline=None)
@given(text=st.text(alphabet="0123456789-/ +T", min_size=8, max_size=11))
def test_validity_matches_python(text):
    def python_accepts(t):
        if len(t) != 10 or not all(c.isdigit() or c == "-" for c in t) or t[4] != "-" or t[7] != "-":
            return False
        if not (t[:4] + t[5:7] + t[8:]).isdigit():
            return False
        try:
            datetime.date(int(t[:4]), int(t[5:7]), int(t[8:]))
            return True
        except ValueError:
            return False

    f = frame_of(d=[text])
    try:
        f.add_date_part("y", "d", "year")
        accepted = True
    except ValueError:
        accepted = False
    assert accepted == python_accepts(text)


def python_date(text):
    """The date a YYYY-MM-DD text names, or None when the calendar has no such day."""
    try:
        return datetime.date.fromisoformat(text)
    except ValueError:
        return None


def add_year_or_refusal(texts):
    """The years of `texts` as add_date_part gives them, or its message."""
    f = Frame()
    f.add_strings("d", texts)
    try:
        f.add_date_part("y", "d", "year")
    except ValueError as error:
        return str(error)
    return f.ints("y")


def test_every_month_and_day_number_of_leap_and_common_years():
    """Each text on its own, so that a refusal of one day hides no other: every
    month 00 to 13 and day 00 to 32, in years that are leap or not by each
    rule of the calendar, against the dates Python knows."""
    for year in (1, 4, 100, 400, 1900, 2000, 2023, 2024, 2100, 9999):
        for month in range(14):
            for day in range(33):
                text = f"{year:04}-{month:02}-{day:02}"
                expected = python_date(text)
                got = add_year_or_refusal([text])
                if expected is None:
                    assert got == f'column "d", row 0: "{text}" is not a YYYY-MM-DD date'
                else:
                    assert got == [expected.year], text


# YYYY-MM-DD texts of ASCII digits, valid or not: the grammar add_date_part
# accepts is exactly this shape, where fromisoformat takes other forms too.
# Field values lean to the edges of the calendar.
shaped_dates = st.builds(
    "{:04}-{:02}-{:02}".format,
    st.one_of(st.integers(0, 9999), st.sampled_from([0, 1, 4, 100, 400, 1900, 2000, 2100, 9999])),
    st.one_of(st.integers(0, 99), st.integers(0, 13)),
    st.one_of(st.integers(0, 99), st.integers(27, 32), st.sampled_from([0, 1])))


@settings(max_examples=150, deadline=None)
@given(texts=st.lists(shaped_dates, min_size=1, max_size=8))
def test_shaped_texts_match_fromisoformat(texts):
    """The first text Python refuses is the row named; when Python takes them
    all, the three parts are Python's."""
    dates = [python_date(t) for t in texts]
    bad = [r for r, d in enumerate(dates) if d is None]
    got = add_year_or_refusal(texts)
    if bad:
        assert got == f'column "d", row {bad[0]}: "{texts[bad[0]]}" is not a YYYY-MM-DD date'
        return
    assert got == [d.year for d in dates]
    f = frame_of(d=texts)
    f.add_date_part("m", "d", "month")
    f.add_date_part("day", "d", "day")
    assert list(zip(f.ints("m"), f.ints("day"))) == [(d.month, d.day) for d in dates]
