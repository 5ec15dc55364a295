"""Writing a frame as CSV text, and reading it back."""
import math

import pytest
from hypothesis import given, settings, strategies as st

import tarnwick
from tarnwick import Frame, read_csv

from helpers.data import data_file
from helpers.frames import frame_of, table

# Unicode White_Space: a text starting with one of these is quoted.
WHITE_SPACE = ("\t\n\x0b\x0c\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006"
               "\u2007\u2008\u2009\u200a\u2028\u2029\u202f\u205f\u3000")


def one_column(name, values):
    return frame_of(**{name: values}).to_csv()


@pytest.mark.parametrize("frame,text", [
    (Frame(), "\n"),
    (read_csv('a,b\n1,"x,y"\n,""\n'), 'a,b\n1,"x,y"\n,""\n'),
    (frame_of(a=[1.0, 1e16, -0.0]), "a\n1.0\n1e+16\n-0.0\n"),
    (frame_of(s=["42", "inf", "-inf", " x"]), 's\n"42"\ninf\n"-inf"\n" x"\n'),
    (frame_of(s=['a"b']), 's\n"a""b"\n'),
    (frame_of(s=["x "]), "s\nx \n"),
    (frame_of(**{" ": [1]}), '" "\n1\n'),
    (frame_of(**{"1": [1], "-2.5": ["x"]}), "1,-2.5\n1,x\n"),
    (frame_of(a=[math.nan, math.inf]), "a\nnan\ninf\n"),
    (read_csv("a,b\n1.5,x\n,\n"), "a,b\n1.5,x\n,\n"),
    (frame_of(n=[-2**63, 2**63 - 1, 0]), "n\n-9223372036854775808\n9223372036854775807\n0\n"),
    (frame_of(a=[], b=[]), "a,b\n"),
    (frame_of(s=["cr\rlf\n", "\r"]), 's\n"cr\rlf\n"\n"\r"\n'),
])
def test_writes(frame, text):
    assert frame.to_csv() == text


@pytest.mark.parametrize("value", ["12", "-3", "007", "1.5", "1e5", "-inf", "+nan", "+Infinity",
                                   ".5", "5.", "-0", "1E-7"])
def test_number_looking_strings_are_quoted_and_stay_strings(value):
    text = one_column("s", [value, "x"])
    assert text == f's\n"{value}"\nx\n'
    assert read_csv(text).strings("s") == [value, "x"]


@pytest.mark.parametrize("value", ["inf", "nan", "Infinity", "1.2.3", "e5", "1e", "-", "+", ".",
                                   "1_000", "0x1f", "--1", "1 "])
def test_texts_that_are_no_numbers_are_written_bare(value):
    assert one_column("s", [value]) == f"s\n{value}\n"


@pytest.mark.parametrize("first", list(WHITE_SPACE))
def test_a_white_space_first_character_is_quoted(first):
    text = one_column("s", [first + "x"])
    assert text == f's\n"{first}x"\n'
    assert read_csv(text).strings("s") == [first + "x"]


@pytest.mark.parametrize("first", ["\u200b", "\u180e", "\ufeff", "\x00", "\x1f"])
def test_characters_outside_white_space_are_not_quoted(first):
    assert one_column("s", [first + "x"]) == f"s\n{first}x\n"


def test_a_first_name_starting_with_a_byte_order_mark_keeps_it():
    frame = frame_of(**{"\ufeffid": [1], "\ufeffb": [2]})
    text = frame.to_csv()
    assert text == '"\ufeffid",\ufeffb\n1,2\n'
    assert read_csv(text).names() == ["\ufeffid", "\ufeffb"]


def test_derived_frames_are_written_in_their_row_order():
    frame = read_csv("a,b\n3,x\n1,\n2,z\n")
    assert frame.sort("a", False).to_csv() == "a,b\n1,\n2,z\n3,x\n"


def test_to_csv_takes_no_arguments_and_leaves_the_frame_alone():
    frame = frame_of(a=[1, 2])
    with pytest.raises(TypeError):
        frame.to_csv(1)
    frame.to_csv()
    assert frame.ints("a") == [1, 2]


# --- Reading back ----------------------------------------------------------

def after_round_trip(frame):
    """What reading frame.to_csv() gives, by the writer's list of exceptions:
    a one-column frame loses its rows whose value is missing (their lines are
    blank); a column holding an f64 NaN or positive infinity comes back str;
    a column with no present value, or in a frame with no rows, comes back i64."""
    columns = table(frame)
    rows = range(frame.height())
    if len(columns) == 1:
        rows = [r for r in rows if columns[0][2][r] is not None]
    result = []
    for name, dtype, values in columns:
        values = [values[r] for r in rows]
        if all(v is None for v in values):
            dtype = "i64"
        elif dtype == "f64" and any(v in ("nan", "inf") for v in values):
            dtype = "str"
        result.append((name, dtype, values))
    return result


def assert_round_trip(frame):
    assert table(read_csv(frame.to_csv())) == after_round_trip(frame)


@pytest.mark.parametrize("text", [
    "a\n1\n\n2\n",
    "a,b\n,\n",
    "a,b\n1.5,\n,x\n",
    "a\n-0\n0.5\n",
    'a\n"1"\n"-inf"\n',
    "a,b\n-nan,1\n2.5,2\n",
    'x\n""\n',
])
def test_read_frames_round_trip(text):
    assert_round_trip(read_csv(text))


def test_the_documented_exceptions():
    assert read_csv(frame_of(a=[math.nan, 1.5]).to_csv()).strings("a") == ["nan", "1.5"]
    assert read_csv(frame_of(a=[math.inf]).to_csv()).dtypes() == ["str"]
    assert read_csv(frame_of(a=[-math.inf]).to_csv()).floats("a") == [-math.inf]
    assert read_csv(frame_of(a=[], s=[]).to_csv()).dtypes() == ["i64", "i64"]
    with pytest.raises(ValueError, match="^no header line$"):
        read_csv(Frame().to_csv())


@pytest.mark.parametrize("folder,name", [
    ("geonames-cities", "cities.csv"),
    ("ieee-oui", "oui.csv"),
    ("worldbank-fertility", "fertility.csv"),
    ("faa-birdstrikes", "birdstrikes.csv"),
    ("palmer-penguins", "penguins_raw.csv"),
    ("geonames-zipcodes", "zipcodes.csv"),
])
def test_real_files_round_trip(folder, name):
    frame = read_csv(data_file(folder, name).read_bytes().decode("utf-8"))
    assert_round_trip(frame)


# --- Properties ------------------------------------------------------------

@settings(max_examples=300, deadline=None)
@given(st.lists(st.floats(allow_nan=True, allow_infinity=True), min_size=1, max_size=50))
def test_floats_are_written_as_python_repr(values):
    lines = frame_of(x=values).to_csv().split("\n")
    assert lines[1:-1] == [repr(v) for v in values]


TRICKY = st.text(alphabet=st.sampled_from(list(',"\r\n \t\ufeff\u00a0\u3000x1.e-+') + ["é", "\x00"]),
                 max_size=8)
CELL_TEXT = st.one_of(TRICKY, st.text(max_size=12), st.sampled_from(["", "12", "-0", "1e5", "nan", "-inf"]))
NAMES = st.lists(st.one_of(TRICKY, st.text(max_size=6)), min_size=1, max_size=4, unique=True)


@st.composite
def frames(draw):
    names = draw(NAMES)
    height = draw(st.integers(0, 6))
    frame = Frame()
    for name in names:
        kind = draw(st.sampled_from(["i64", "f64", "str"]))
        if kind == "i64":
            frame.add_ints(name, draw(st.lists(st.integers(-2**63, 2**63 - 1), min_size=height, max_size=height)))
        elif kind == "f64":
            frame.add_floats(name, draw(st.lists(st.floats(), min_size=height, max_size=height)))
        else:
            frame.add_strings(name, draw(st.lists(CELL_TEXT, min_size=height, max_size=height)))
    return frame


@settings(max_examples=300, deadline=None)
@given(frames())
def test_random_frames_round_trip(frame):
    assert_round_trip(frame)


def csv_field(text):
    return '"' + text.replace('"', '""') + '"' if any(c in text for c in ',"\r\n') else text


@st.composite
def csv_texts(draw):
    """CSV texts of one shape whose cells mix numbers, words and empty fields,
    so the frames read from them have missing entries of every kind."""
    width = draw(st.integers(1, 3))
    names = draw(st.lists(st.text(alphabet="abc", min_size=1, max_size=3), min_size=width,
                          max_size=width, unique=True))
    cell = st.one_of(st.just(""), st.integers(-10**20, 10**20).map(str), st.floats().map(repr),
                     CELL_TEXT.map(csv_field))
    rows = draw(st.lists(st.lists(cell, min_size=width, max_size=width), max_size=6))
    return "\n".join(",".join(r) for r in [names] + rows) + "\n"


@settings(max_examples=300, deadline=None)
@given(csv_texts())
def test_read_frames_with_missing_entries_round_trip(text):
    assert_round_trip(read_csv(text))
