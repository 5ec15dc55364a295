"""Reading CSV files in blocks: every block size over texts whose record
boundaries hide inside quoted fields, CR LF pairs and multi-byte characters;
failures with one machine's message and line and the file in a note; real
files from public sources."""

import pathlib

import pytest

tarnwick = pytest.importorskip("tarnwick")
dask = pytest.importorskip("dask")
td = pytest.importorskip("tarnwick_dask")

from helpers.data import DATA  # noqa: E402

TEXTS = [
    # Quoted line breaks of every kind, so that most guesses of a record
    # start after the first line end of a block are wrong.
    'a,b\n"x\ny",1\n"\n\n\n",2\r\n"p\r\nq",3\r"r\rs",4\n',
    # A kind decided by the last row; -0 and 007 stay exact.
    "n,m\n-0,007\n1,2\n\n3,4\n5,x\n-0.0,\n",
    # Multi-byte UTF-8 of every length next to quotes and line ends.
    '\ufeffé,€\r\n"😀,\r\n",€€\r\n😀😀,"é"""\r\n',
    # Doubled quotes and quotes inside bare fields.
    'q\n"""",\n"a""\n""b"\nab"c\n"""\n"""\n',
    # One column: a blank line is no row.
    "x\n1\n\n2\n\r\n3",
]

FAULTS = [
    'a,b\n1,2\n"x\ny" z,3\n4,5\n',  # text after a closing quote, on line 4
    'a,b\n1\n"x\n\n',  # the quote failure wins over the earlier field count
    'a,b\n1,2\n3\n4,5,6\n',  # the first field count mismatch
    "a,a\n1,2\n",  # a repeated name
    "\n\r\n\n",  # no header line
    '"a\nb",c\r1,2\r3\r"open\r\r',  # never closed, lines counted over lone CRs
]


def _one(text):
    try:
        frame = tarnwick.read_csv(text)
        return frame.names(), frame.dtypes(), frame.to_csv()
    except ValueError as error:
        return str(error)


def _blocks(path, blocksize):
    try:
        frame = td.read_csv(str(path), blocksize=blocksize).compute(scheduler="sync")
        return frame.names(), frame.dtypes(), frame.to_csv()
    except ValueError as error:
        assert error.__notes__ == [f"while reading {path}"]
        return str(error)


@pytest.mark.parametrize("text", TEXTS + FAULTS)
def test_every_block_size(tmp_path, text):
    path = tmp_path / "t.csv"
    data = text.encode()
    path.write_bytes(data)
    expected = _one(text)
    for blocksize in range(1, len(data) + 1):
        assert _blocks(path, blocksize) == expected, blocksize


def test_decoding_failures_come_first_in_file_order(tmp_path):
    good, bad = tmp_path / "1.csv", tmp_path / "2.csv"
    good.write_bytes(b"a,b\n1,2\n")
    bad.write_bytes(b"a,b\n1,2\n3,\xff\n4\n")
    for blocksize in (None, 3, 7):
        with pytest.raises(UnicodeDecodeError) as caught:
            td.read_csv([str(good), str(bad)], blocksize=blocksize).compute(scheduler="sync")
        assert caught.value.reason == "invalid start byte"
        assert caught.value.__notes__ == [f"while reading {bad}", "at byte 10"]
    # A failure of an earlier file comes first.
    good.write_bytes(b"a,b\n1\n")
    with pytest.raises(ValueError, match="line 2: 1 fields; the header has 2"):
        td.read_csv([str(good), str(bad)], blocksize=4).compute(scheduler="sync")


def test_headers_must_agree(tmp_path):
    (tmp_path / "1.csv").write_text("a,b\n1,2\n")
    (tmp_path / "2.csv").write_text('"a",b\n3,4\n')
    (tmp_path / "3.csv").write_text("a,c\n5,6\n")
    with pytest.raises(ValueError) as caught:
        td.read_csv(str(tmp_path / "*.csv")).compute(scheduler="sync")
    assert str(caught.value) == (f'the header of {tmp_path / "3.csv"} ("a", "c") differs from '
                                 f'the header of {tmp_path / "1.csv"} ("a", "b")')
    frame = td.read_csv([str(tmp_path / "2.csv"), str(tmp_path / "1.csv")]).compute(scheduler="sync")
    assert frame.ints("a") == [3, 1]


def test_files_that_are_not_there(tmp_path):
    with pytest.raises(FileNotFoundError):
        td.read_csv(str(tmp_path / "none.csv"))
    with pytest.raises(FileNotFoundError, match="no file matches"):
        td.read_csv(str(tmp_path / "*.csv"))
    with pytest.raises(TypeError):
        td.read_csv(5)


REAL = ["csv-spectrum/csvs", "csvlint", "csvw-tests", "commons-csv", "palmer-penguins", "distro-info",
        "worldbank-fertility", "faa-birdstrikes"]


@pytest.mark.parametrize("folder", REAL)
def test_real_files(folder):
    where = DATA / folder
    if not where.exists():
        pytest.skip(f"{where} is not here")
    for path in sorted(p for p in where.iterdir() if p.suffix == ".csv"):
        data = path.read_bytes()
        try:
            text = data.decode()
        except UnicodeDecodeError:
            continue
        expected = _one(text)
        for blocksize in sorted({max(1, len(data) // 7), max(1, len(data) // 3), 4096, None} - {0}, key=str):
            assert _blocks(path, blocksize) == expected, (path, blocksize)


def test_file_urls(tmp_path):
    path = tmp_path / "u.csv"
    path.write_text('a,b\n1,"x\ny"\n2,z\n')
    frame = td.read_csv(pathlib.Path(path).as_uri(), blocksize=5).compute(scheduler="sync")
    assert frame.strings("b") == ["x\ny", "z"]
