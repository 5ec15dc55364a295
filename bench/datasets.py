"""Deterministic benchmark data: the mixed table and the numeric table, as
column lists and as CSV text."""
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
        lines = [",".join(self.names)]
        texts = [list(map(str, c.tolist())) if c.dtype.kind == "i" else list(map(repr, c.tolist()))
                 for c in columns.values()]
        lines.extend(",".join(row) for row in zip(*texts))
        self.csv = "\n".join(lines) + "\n"
