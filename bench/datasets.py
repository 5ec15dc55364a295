"""Deterministic benchmark data: the mixed table and the numeric table, as
column lists and as CSV text; the tables only read (wide, fertility, float
columns of each width), made when first needed."""
import pathlib

import numpy as np

SEED = 20261207
WORDS = ["alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel"]
LETTERS = np.array(list("abcdefghijklmnopqrstuvwxyz     "))


def free_text(rng, n):
    lengths = rng.integers(5, 31, size=n)
    chars = LETTERS[rng.integers(0, len(LETTERS), size=int(lengths.sum()))]
    flat = "".join(chars.tolist())
    texts, start = [], 0
    for length in lengths.tolist():
        texts.append(flat[start:start + length])
        start += length
    # About one text in ten holds a comma, so the writer must quote it.
    for i in np.flatnonzero(rng.random(n) < 0.10).tolist():
        t = texts[i]
        cut = len(t) // 2
        texts[i] = t[:cut] + "," + t[cut + 1:]
    # No text may start or end with a space (readers trim differently) or look
    # like a number.
    return ["x" + t.strip() + "x" for t in texts]


class Mixed:
    """1 increasing id, a ~1,000-value key, an 8-value string, a float in
    [0, 1), an integer with ~5 % missing, a YYYY-MM-DD date, free text."""

    names = ["id", "key", "cat", "x", "v", "date", "text"]

    def __init__(self, rows):
        rng = np.random.default_rng(SEED)
        self.rows = rows
        self.id = list(range(rows))
        self.key = [f"key{k:04d}" for k in rng.integers(0, 1000, size=rows).tolist()]
        self.cat = [WORDS[k] for k in rng.integers(0, 8, size=rows).tolist()]
        self.x = rng.random(rows).tolist()
        values = rng.integers(-10**12, 10**12, size=rows).tolist()
        missing = (rng.random(rows) < 0.05).tolist()
        self.v = [None if m else v for v, m in zip(values, missing)]
        start = np.datetime64("1990-01-01")
        days = rng.integers(0, (np.datetime64("2030-12-31") - start).astype(int) + 1, size=rows)
        self.date = np.datetime_as_string(start + days, unit="D").tolist()
        self.text = free_text(rng, rows)
        self.csv = self._csv()

    def _csv(self):
        def cell(t):
            return f'"{t}"' if "," in t else t

        lines = [",".join(self.names)]
        v_text = ["" if v is None else str(v) for v in self.v]
        for row in zip(self.id, self.key, self.cat, map(repr, self.x), v_text, self.date,
                       map(cell, self.text)):
            lines.append(",".join(map(str, row)))
        return "\n".join(lines) + "\n"


class Numeric:
    """13 number columns: 6 integer, 7 float."""

    def __init__(self, rows):
        rng = np.random.default_rng(SEED + 1)
        self.rows = rows
        columns = {}
        for i in range(6):
            columns[f"i{i}"] = rng.integers(-10**(3 + 2 * i), 10**(3 + 2 * i), size=rows)
        for i in range(7):
            columns[f"f{i}"] = rng.normal(0, 10.0**(i - 2), size=rows)
        self.names = list(columns)
        self.checked = ["i0", "i5", "f0", "f6"]
        lines = [",".join(self.names)]
        texts = [list(map(str, c.tolist())) if c.dtype.kind == "i" else list(map(repr, c.tolist()))
                 for c in columns.values()]
        lines.extend(",".join(row) for row in zip(*texts))
        self.csv = "\n".join(lines) + "\n"


def csv_text(names, texts):
    """CSV text from column names and each column's field texts."""
    lines = [",".join(names)]
    lines.extend(",".join(row) for row in zip(*texts))
    return "\n".join(lines) + "\n"


class FloatColumns:
    """`width` columns of random doubles in [0, 1) written by repr (about 19
    bytes a field), `text_bytes` of text in all whatever the width."""

    def __init__(self, width, text_bytes):
        rng = np.random.default_rng(SEED + 2 + width)
        self.rows = max(1, int(text_bytes / (19 * width)))
        self.names = [f"f{i}" for i in range(width)]
        self.checked = [self.names[0], self.names[-1]]
        values = rng.random((width, self.rows))
        self.csv = csv_text(self.names, [list(map(repr, c)) for c in values.tolist()])


class Wide:
    """32 float columns (full repr, or rounded to 1 to 4 places, of normal
    values at several scales) and 8 integer columns, about 10 % of every
    column's entries missing."""

    def __init__(self, rows):
        rng = np.random.default_rng(SEED + 3)
        self.rows = rows
        texts = []
        for i in range(32):
            values = rng.normal(0, 10.0 ** (i % 8 - 3), size=rows)
            places = i % 5
            if places:
                values = np.round(values, places)
            texts.append(list(map(repr, values.tolist())))
        for i in range(8):
            values = rng.integers(-10 ** (2 + i), 10 ** (2 + i), size=rows)
            texts.append(list(map(str, values.tolist())))
        for column in texts:
            for row in np.flatnonzero(rng.random(rows) < 0.10).tolist():
                column[row] = ""
        self.names = [f"f{i}" for i in range(32)] + [f"i{i}" for i in range(8)]
        self.checked = ["f0", "f31", "i0", "i7"]
        self.csv = csv_text(self.names, texts)


class Fertility:
    """The World Bank's fertility rates (58 columns: 4 of text, 54 of numbers
    with many missing) from ../shared/data, its rows repeated to about
    `text_bytes` of text. Absent where the shared data is."""

    path = (pathlib.Path(__file__).resolve().parents[1].parent / "shared" / "data"
            / "worldbank-fertility" / "fertility.csv")

    @classmethod
    def available(cls):
        return cls.path.exists()

    def __init__(self, text_bytes):
        header, _, body = self.path.read_text(encoding="utf-8").partition("\n")
        body = body.rstrip("\n") + "\n"  # the file has no final line end
        self.copies = max(1, round(text_bytes / len(body)))
        self.rows = body.count("\n") * self.copies
        self.checked = ["1960", "2011"]
        self.csv = header + "\n" + body * self.copies


# The tables only read, by name: made on first use, at a size that follows the
# run's row count (the sizes of a run of 1,000,000 rows in brackets).
WIDTHS = (4, 8, 16, 32, 64)


def make_table(name, rows):
    scale = rows / 1_000_000
    if name == "wide":
        return Wide(max(1, rows // 5))  # (200,000 rows, 40 columns)
    if name == "fertility":
        return Fertility(38e6 * scale)  # (38 MB: 400 copies)
    width = int(name.split()[0])  # "16 floats"
    return FloatColumns(width, 40e6 * scale)  # (40 MB)


def table_names():
    names = ["wide"] + (["fertility"] if Fertility.available() else [])
    return names + [f"{w} floats" for w in WIDTHS]
