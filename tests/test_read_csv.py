"""Reading CSV text: the grammar, the typing of each column, the messages and
their line numbers, and real files from outside the project."""
import json
import math
import random
import re

import pytest
from hypothesis import given, settings, strategies as st

import tarnwick
from tarnwick import read_csv

from conftest import data_file, table, values_of

def f64(*values):
    return [None if v is None else repr(float(v)) for v in values]


@pytest.mark.parametrize("text,expected", [
    ("a,b", [("a", "i64", []), ("b", "i64", [])]),
    ("a,b\n1,2\n", [("a", "i64", [1]), ("b", "i64", [2])]),
    ("a\n1\n\n2", [("a", "i64", [1, 2])]),
    ('a\n""\n', [("a", "str", [""])]),
    ("a,b\n\n1,2", [("a", "i64", [1]), ("b", "i64", [2])]),
    ("a,b\n,\n", [("a", "i64", [None]), ("b", "i64", [None])]),
    ("a,b\n1,\n", [("a", "i64", [1]), ("b", "i64", [None])]),
    ("a,b\n1,", [("a", "i64", [1]), ("b", "i64", [None])]),
    ('a,b\n1,""\n', [("a", "i64", [1]), ("b", "str", [""])]),
    ("a\n-0", [("a", "i64", [0])]),
    ("a\n-0\n1.5", [("a", "f64", f64("-0.0", 1.5))]),
    ("a\n-00\n+0\n0.5", [("a", "f64", f64("-0.0", 0, 0.5))]),
    ("a\n+5", [("a", "i64", [5])]),
    ("a\n007", [("a", "i64", [7])]),
    ("a\n9223372036854775807", [("a", "i64", [2**63 - 1])]),
    ("a\n9223372036854775808", [("a", "f64", f64(2**63))]),
    ("a\n-9223372036854775808", [("a", "i64", [-2**63])]),
    ("a\n9007199254740993\n0.5", [("a", "f64", f64(2**53, 0.5))]),
    ("a\n1e5", [("a", "f64", f64(100000))]),
    ("a\n.5\n5.\n-2.5E-3", [("a", "f64", f64(0.5, 5, -0.0025))]),
    ("a\n1e400\n-1e-400", [("a", "f64", f64("inf", "-0.0"))]),
    ("a\n1.2.3", [("a", "str", ["1.2.3"])]),
    ("a\ninf", [("a", "str", ["inf"])]),
    ("a\nnan", [("a", "str", ["nan"])]),
    ("a\n-inf", [("a", "f64", f64("-inf"))]),
    ("a\n+Infinity\n1", [("a", "f64", f64("inf", 1))]),
    ("a\n1\nx", [("a", "str", ["1", "x"])]),
    ("a\n1.50\nx", [("a", "str", ["1.50", "x"])]),
    ('a\n"1"', [("a", "str", ["1"])]),
    ('a\n1\n2.5\n"3"', [("a", "str", ["1", "2.5", "3"])]),
    ("a\n 1", [("a", "str", [" 1"])]),
    ("a\n1 ", [("a", "str", ["1 "])]),
    ("a\r1\r2", [("a", "i64", [1, 2])]),
    ("a\r\n1\r\n2\r\n", [("a", "i64", [1, 2])]),
    ("a\r\r\n\n1", [("a", "i64", [1])]),
    ('x,y\n"p""q","r,s"', [("x", "str", ['p"q']), ("y", "str", ["r,s"])]),
    ('a\n""""\n"x""""y"', [("a", "str", ['"', 'x""y'])]),
    ('a\nb"c', [("a", "str", ['b"c'])]),
    ('a\n"x\ry"\n"1\n2"', [("a", "str", ["x\ry", "1\n2"])]),
    ("a,\n1,2", [("a", "i64", [1]), ("", "i64", [2])]),
    ('""\n1', [("", "i64", [1])]),
    ("\ufeffa\n1", [("a", "i64", [1])]),
    ("a\n\ufeff1", [("a", "str", ["\ufeff1"])]),
    ("é,ü\nß,1\n\u2603,-2", [("é", "str", ["ß", "\u2603"]), ("ü", "i64", [1, -2])]),
    ("a\n\x00\t", [("a", "str", ["\x00\t"])]),
    # each column is typed on its own
    ("i,f,s,m\n1,1.5,x,\n2,2,y,\n", [("i", "i64", [1, 2]), ("f", "f64", f64(1.5, 2)),
                                     ("s", "str", ["x", "y"]), ("m", "i64", [None, None])]),
    # missing entries stay missing through every phase
    ("a,b\n,1\n-0,2\n0.5,3", [("a", "f64", f64(None, "-0.0", 0.5)), ("b", "i64", [1, 2, 3])]),
    ("a,b\n,1\n7,2\nx,3", [("a", "str", [None, "7", "x"]), ("b", "i64", [1, 2, 3])]),
])
def test_reads(text, expected):
    assert table(read_csv(text)) == expected


def test_height_counts_data_records():
    frame = read_csv("a,b\n1,2\n\n3,4\n")
    assert (frame.height(), frame.width()) == (2, 2)
    assert isinstance(frame, tarnwick.Frame)


def test_signs_of_words_after_a_sign():
    values = read_csv("a\n-nan\n+NaN\n+inf\n-Infinity").floats("a")
    assert math.isnan(values[0]) and math.copysign(1, values[0]) == -1
    assert math.isnan(values[1]) and math.copysign(1, values[1]) == 1
    assert values[2:] == [math.inf, -math.inf]


@pytest.mark.parametrize("text,message", [
    ("", "no header line"),
    ("\n\n", "no header line"),
    ("\r\n\r", "no header line"),
    ("\ufeff", "no header line"),
    ('a\n"x" ', "line 2: text after a closing quote"),
    ('a\n"x"y,1', "line 2: text after a closing quote"),
    ('a\n"x\ny"z', "line 3: text after a closing quote"),
    ('a\n"x', "line 2: a quoted field is never closed"),
    ('a\n"x""', "line 2: a quoted field is never closed"),
    ('a\n"', "line 2: a quoted field is never closed"),
    ('a\n"x\ny\nz', "line 2: a quoted field is never closed"),
    ('"x', "line 1: a quoted field is never closed"),
    ('a,b\n"x\ny",1\n1\n', "line 4: 1 fields; the header has 2"),
    ('a,b\r\n"x\r\ny",1\r\n1', "line 4: 1 fields; the header has 2"),
    ('a,b\r"x\ry",1\r1', "line 3: 1 fields; the header has 2"),
    ("a,b\n\n\n1\n", "line 4: 1 fields; the header has 2"),
    ("a,b\n1,2,\n", "line 2: 3 fields; the header has 2"),
    ("\na,b\n1", "line 3: 1 fields; the header has 2"),
    # a quote failure wins over an earlier field-count mismatch
    ('a,b\n1\n"x', "line 3: a quoted field is never closed"),
    ('a,b\n1\n2,3\n"x"!,4', "line 4: text after a closing quote"),
    # the first mismatch is the one reported
    ("a,b\n1,2,3\n4\n", "line 2: 3 fields; the header has 2"),
    # a mismatch wins over a repeated name
    ("a,a\n1", "line 2: 1 fields; the header has 2"),
    ("a,a\n1,2", 'the frame has a column "a" already'),
    ("b,a,a,b\n1,2,3,4", 'the frame has a column "a" already'),
    ('"x""y",z,"x""y"', 'the frame has a column "x\\"y" already'),
    ('"l\nf",1,"l\nf"', 'the frame has a column "l\\nf" already'),
    (",", 'the frame has a column "" already'),
])
def test_refusals(text, message):
    with pytest.raises(ValueError) as caught:
        read_csv(text)
    assert caught.value.args == (message,)


def test_a_wide_header_with_a_late_repeat_is_refused_quickly():
    names = [f"c{i}" for i in range(200_000)]
    with pytest.raises(ValueError, match='^the frame has a column "c7" already$'):
        read_csv(",".join(names + ["c7"]))
    frame = read_csv(",".join(names) + "\n" + ",".join("1" * len(names)))
    assert frame.width() == len(names) and frame.ints("c199999") == [1]


@pytest.mark.parametrize("call,error,message", [
    (lambda: read_csv(), TypeError, "read_csv() missing 1 required positional argument: 'text'"),
    (lambda: read_csv("a", "b"), TypeError, "read_csv() takes 1 positional arguments but 2 were given"),
    (lambda: read_csv(txt="a"), TypeError, "read_csv() got an unexpected keyword argument 'txt'"),
    (lambda: read_csv("a", text="a"), TypeError, "read_csv() got multiple values for argument 'text'"),
])
def test_call_shape(call, error, message):
    with pytest.raises(error) as caught:
        call()
    assert str(caught.value) == message
    assert not getattr(caught.value, "__notes__", None)


@pytest.mark.parametrize("argument,error,message", [
    (b"a\n1", TypeError, "'bytes' object is not an instance of 'str'"),
    (None, TypeError, "'None' is not an instance of 'str'"),
    ("a\n\ud800", UnicodeEncodeError, None),
])
def test_text_must_be_a_str_with_a_utf8_form(argument, error, message):
    with pytest.raises(error) as caught:
        read_csv(argument)
    if message is not None:
        assert str(caught.value) == message
    assert caught.value.__notes__ == ["while processing 'text'"]


def test_text_by_keyword_and_str_subclasses():
    class Text(str):
        pass
    assert read_csv(text=Text("a\n1")).ints("a") == [1]


# --- Corpora from outside the project -------------------------------------

def corpus_text(*parts):
    """A corpus file's text exactly, line ends included."""
    return data_file(*parts).read_bytes().decode("utf-8")


def matches(dtype, value, text):
    """Whether a value read with its inferred kind is the expected field text."""
    if value is None:
        return text == ""
    if dtype == "str":
        return value == text
    if dtype == "i64":
        return int(text) == value
    return float(text) == value


def assert_rows(frame, rows):
    assert frame.height() == len(rows)
    for name, dtype in zip(frame.names(), frame.dtypes()):
        for value, row in zip(values_of(frame, name), rows):
            assert matches(dtype, value, row.get(name, "")), (name, value, row)


SPECTRUM = ["comma_in_quotes", "empty", "empty_crlf", "escaped_quotes", "json", "newlines",
            "newlines_crlf", "quotes_and_newlines", "simple", "simple_crlf", "utf8"]


@pytest.mark.parametrize("name", SPECTRUM)
def test_csv_spectrum(name):
    text = corpus_text("csv-spectrum", "csvs", name + ".csv")
    rows = json.loads(corpus_text("csv-spectrum", "json", name + ".json"))
    frame = read_csv(text)
    assert frame.names() == list(rows[0])
    assert_rows(frame, rows)


def test_csv_spectrum_keeps_leading_zeros_only_in_quotes():
    text = corpus_text("csv-spectrum", "csvs", "comma_in_quotes.csv")
    assert read_csv(text).ints("zip") == [8123]


@pytest.mark.parametrize("number", ["001", "002", "003", "005", "006", "007", "008", "009", "010"])
def test_csvw_tests(number):
    text = corpus_text("csvw-tests", f"test{number}.csv")
    expected = json.loads(corpus_text("csvw-tests", f"test{number}.json"))
    rows = [row["describes"][0] for row in expected["tables"][0]["row"]]
    assert_rows(read_csv(text), rows)


@pytest.mark.parametrize("folder,name,outcome", [
    ("commons-csv", "test.csv", "line 7: text after a closing quote"),
    ("commons-csv", "testCSV85.csv", "line 2: 5 fields; the header has 1"),
    ("csvlint", "invalid_many_rows.csv", "line 4: text after a closing quote"),
    ("csvlint", "title-row.csv", 'the frame has a column "" already'),
    ("distro-info", "debian.csv", "line 2: 6 fields; the header has 8"),
    ("csvlint", "valid.csv", (2, 3)),
    ("csvlint", "valid_many_rows.csv", (6, 3)),
    ("csvlint", "windows-line-endings.csv", (1, 3)),
    ("csvlint", "lf-line-endings.csv", (2, 3)),
    ("csvlint", "crlf-line-endings.csv", (2, 3)),
    ("csvlint", "cr-line-endings.csv", (2, 3)),
    ("csvlint", "inconsistent-line-endings.csv", (2, 3)),
    ("csvlint", "inconsistent-line-endings-unquoted.csv", (2, 3)),
    ("ieee-oui", "oui.csv", (32530, 4)),
    ("faa-birdstrikes", "birdstrikes.csv", (10000, 14)),
    ("palmer-penguins", "penguins_raw.csv", (344, 17)),
])
def test_corpus_shapes_and_refusals(folder, name, outcome):
    text = corpus_text(folder, name)
    if isinstance(outcome, str):
        with pytest.raises(ValueError) as caught:
            read_csv(text)
        assert caught.value.args == (outcome,)
    else:
        frame = read_csv(text)
        assert (frame.height(), frame.width()) == outcome


def test_byte_order_mark_is_dropped():
    frame = read_csv(corpus_text("commons-csv", "bom.csv"))
    assert frame.names() == ["Date", " Open", " High", " Low", " Close", " Volume"]
    assert frame.height() == 251
    # one "-" among the prices makes its column text
    assert frame.dtypes() == ["str", "f64", "f64", "str", "f64", "i64"]


def test_empty_columns_and_digit_names():
    frame = read_csv(corpus_text("worldbank-fertility", "fertility.csv"))
    assert (frame.height(), frame.width()) == (219, 58)
    assert frame.names()[4] == "1960" and frame.dtypes()[4] == "f64"
    assert frame.dtypes()[-2:] == ["i64", "i64"]
    assert frame.ints("2013") == [None] * 219


def test_mixed_codes_become_text():
    frame = read_csv(corpus_text("ieee-oui", "oui.csv"))
    assignments = frame.strings("Assignment")
    assert "002272" in assignments and "00D0EF" in assignments
    addresses = frame.strings("Organization Address")
    assert sum("\n" in a for a in addresses if a) == 8


# --- Against a plain model of the grammar --------------------------------

INTEGER = re.compile(rb"[+-]?[0-9]+")
NUMBER = re.compile(rb"[+-]?(([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?|(inf|infinity|nan))",
                    re.IGNORECASE)


def model_records(data):
    """The records of a text, byte by byte as the grammar says, or a message."""
    pos, line, end = 0, 1, len(data)
    records = []
    while pos < end:
        start_line, fields = line, []
        while True:
            if pos == end:
                fields.append((b"", False))
                break
            if data[pos] != ord('"'):
                stop = pos
                while stop < end and data[stop] not in b",\n\r":
                    stop += 1
                fields.append((data[pos:stop], False))
                pos = stop
            else:
                pos, content = pos + 1, b""
                while True:
                    quote = data.find(b'"', pos)
                    if quote < 0:
                        return f"line {start_line}: a quoted field is never closed"
                    line += data.count(b"\n", pos, quote)
                    content += data[pos:quote]
                    after = data[quote + 1:quote + 2]
                    if after == b'"':
                        content, pos = content + b'"', quote + 2
                    elif after in (b"", b",", b"\n", b"\r"):
                        pos = quote + 1
                        break
                    else:
                        return f"line {line}: text after a closing quote"
                fields.append((content, True))
            if pos == end:
                break
            ender, pos = data[pos], pos + 1
            if ender == ord(","):
                continue
            if ender == ord("\r") and data[pos:pos + 1] == b"\n":
                pos += 1
            break
        line += 1
        if fields != [(b"", False)]:
            records.append((start_line, fields))
    return records


def model_column(cells):
    if any(quoted for _, quoted in cells):
        kind = "str"
    elif all(text == b"" or (INTEGER.fullmatch(text) and -2**63 <= int(text) < 2**63) for text, _ in cells):
        return "i64", [int(text) if text else None for text, _ in cells]
    elif all(text == b"" or (text[:1] in b"+-.0123456789" and NUMBER.fullmatch(text)) for text, _ in cells):
        return "f64", [repr(float(text)) if text else None for text, _ in cells]
    return "str", [None if (text, quoted) == (b"", False) else text.decode() for text, quoted in cells]


def quoted_form(name):
    """A name as messages show it, taken from a message that names it."""
    with pytest.raises(ValueError) as caught:
        tarnwick.Frame().ints(name)
    return str(caught.value).removeprefix("no column ").removesuffix(" (the frame has none)")


def model_read(text):
    data = text.encode()
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    records = model_records(data)
    if isinstance(records, str):
        return records
    if not records:
        return "no header line"
    (_, header), rows = records[0], records[1:]
    for line, fields in rows:
        if len(fields) != len(header):
            return f"line {line}: {len(fields)} fields; the header has {len(header)}"
    names = [text.decode() for text, _ in header]
    for i, name in enumerate(names):
        if name in names[:i]:
            return f"the frame has a column {quoted_form(name)} already"
    return [(name, *model_column([fields[i] for _, fields in rows])) for i, name in enumerate(names)]


@settings(max_examples=1500, deadline=None)
@given(st.text(alphabet=st.sampled_from(list('a1-0.e,,"\n\r \ufeffi')), max_size=40))
def test_reader_agrees_with_the_model(text):
    try:
        outcome = table(read_csv(text))
    except ValueError as error:
        outcome = str(error)
    assert outcome == model_read(text)


def wavering_text(rng, rows):
    """A text whose columns turn from integers to numbers to text at random
    rows (or never), with missing entries, quoted fields holding commas, line
    ends and doubled quotes, and blank lines: long enough to be read in many
    blocks."""
    width = rng.randint(1, 6)
    plans = [sorted(rng.choices(range(rows + 1), k=2)) + [rng.random() * 0.3] for _ in range(width)]
    integers = ["0", "-0", "17", "-00", "+12", "9223372036854775807"]
    numbers = ["1.5", "-0.0", "1e5", ".5", "-inf", "9223372036854775808", "2.7880000000000003"]
    texts = ["x", "1.2.3", '"q"', '"a,b"', '"l\nf"', '"d""q"', '""', " 1", "nan"]
    lines = [",".join(f"c{i}" for i in range(width))]
    for row in range(rows):
        cells = []
        for to_numbers, to_text, missing in plans:
            if rng.random() < missing:
                cells.append("")
            else:
                kind = texts if row >= to_text else numbers if row >= to_numbers else integers
                cells.append(rng.choice(kind))
        lines.append(",".join(cells))
        if rng.random() < 0.01:
            lines.append("")
    return "\n".join(lines) + rng.choice(["", "\n"])


@pytest.mark.parametrize("seed", range(8))
def test_long_texts_agree_with_the_model(seed):
    # Thousands of rows: the reader takes them a block at a time, and columns
    # turn f64 or str in any block, the first or a later one.
    rng = random.Random(seed)
    text = wavering_text(rng, rng.randint(3000, 8000))
    assert table(read_csv(text)) == model_read(text)
