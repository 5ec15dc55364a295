"""Random CSV texts and random chains of operations, shared by the Dask
tests: the same chain runs on one-machine tarnwick and on tarnwick_dask."""

import math
import os
import sys

import tarnwick

# Under the sanitizers and the debug interpreter, which check memory and
# reference counts rather than results, the Dask tests run fewer cases and
# leave the cluster out.
CHECKED_BUILD = os.environ.get("TARNWICK_SANITIZED") == "1" or hasattr(sys, "gettotalrefcount")

NUMBERS = ["0", "1", "-1", "12", "-0", "007", "+5", "9223372036854775807", "-9223372036854775808",
           "4611686018427387904", "-4611686018427387904"]
FLOATS = ["1.5", "-0.0", "0.0", "1e5", ".5", "5.", "-inf", "+inf", "+nan", "2.25", "1e308", "-1e308",
          "9223372036854775808", "3.0"]
WORDS = ["x", "y", "alpha", "é", "€uro", "😀", "a b", " lead", "tail ", "inf", "nan", "1.2.3", "Z", "z"]
DATES = ["2024-02-29", "2023-03-07", "0001-01-01", "9999-12-31", "2000-02-29"]
BAD_DATES = ["2023-02-29", "2024-1-05", "x"]
QUOTED = ['"a,b"', '"q\nr"', '"c\r\nd"', '"say ""hi"""', '""', '"12"', '"\r"', '"x\ny\nz"', '""""']
NAMES = ["a", "b", "c", "k", "v", "s", "count", "len", "", "é", "n\nl", 'q"t', "d"]


def _field(rng, kind):
    roll = rng.random()
    if roll < 0.08:
        return ""
    if kind == "int":
        return rng.choice(NUMBERS) if roll < 0.5 else str(rng.randint(-5, 5))
    if kind == "float":
        return rng.choice(FLOATS) if roll < 0.4 else rng.choice(["0.5", "-2.5", "1.25", "3.0", "-0.0"])
    if kind == "date":
        return rng.choice(DATES) if roll < 0.97 else rng.choice(BAD_DATES)
    if kind == "key":
        return rng.choice(["p", "q", "r", '"p"', "P"])
    if roll < 0.3:
        return rng.choice(QUOTED)
    return rng.choice(WORDS)


def csv_text(rng):
    """A CSV text and a short description. Mostly valid; sometimes a fault
    the reader must report."""
    width = rng.randint(1, 4)
    names = rng.sample(NAMES, width)
    kinds = [rng.choice(["int", "int", "float", "str", "date", "key"]) for _ in range(width)]
    rows = []
    for _ in range(rng.randint(0, 25)):
        rows.append([_field(rng, k) for k in kinds])
    if rows and rng.random() < 0.3:
        # A kind that changes in the last row.
        c = rng.randrange(width)
        rows[-1][c] = rng.choice(["x", "0.5", '"7"', "-0", "1e400"])
    ends = rng.choice([["\n"], ["\r\n"], ["\r"], ["\n", "\r\n", "\r"]])
    header = ",".join(_quote_name(n, rng) for n in names)
    lines = [header] + [",".join(r) for r in rows]
    out = []
    if rng.random() < 0.1:
        out.append("\ufeff")
    for i, line in enumerate(lines):
        if rng.random() < 0.08:
            out.append(rng.choice(ends))  # a blank line
        out.append(line)
        if i + 1 < len(lines) or rng.random() < 0.7:
            out.append(rng.choice(ends))
    text = "".join(out)
    fault = rng.random()
    if fault < 0.04 and rows:
        text += "1,2,3,4,5" + rng.choice(ends)  # a field count mismatch
    elif fault < 0.07:
        text += '"open' + "\n" + "more"
    elif fault < 0.10 and rows:
        cut = rng.randrange(len(text))
        text = text[:cut] + '"x" y,' + text[cut:]
    elif fault < 0.12:
        text = "\n" * rng.randint(0, 3)
    elif fault < 0.14 and width > 1:
        text = text.replace(header, ",".join([_quote_name(names[0], rng)] * width), 1)
    return text


def _quote_name(name, rng):
    if any(c in name for c in ',"\r\n') or name == "" or rng.random() < 0.1:
        return '"' + name.replace('"', '""') + '"'
    return name


def blocks_for(rng, size):
    """A block size from a few bytes to the whole text."""
    if size == 0 or rng.random() < 0.15:
        return None
    return rng.choice([1, 2, 3, 5, 8, 13, rng.randint(1, max(size, 1))])


def chain(rng, names, kinds=None):
    """Random operations: (method, args) pairs, the last perhaps a
    grouping ("group", keys, aggregation, column). With the columns' kinds
    known, most operations suit the column they name; some do not, and a
    few name no column at all."""
    kinds = dict(zip(names, kinds or ["?"] * len(names)))

    def column(*wanted):
        fitting = [n for n, k in kinds.items() if k in wanted]
        if fitting and rng.random() < 0.85:
            return rng.choice(fitting)
        if kinds and rng.random() < 0.95:
            return rng.choice(list(kinds))
        return "nosuch"

    ops = []
    for _ in range(rng.randint(0, 4)):
        roll = rng.random()
        if roll < 0.3:
            method = rng.choice(["where_eq", "where_ne", "where_lt", "where_le", "where_gt", "where_ge"])
            value = rng.choice([0, 1, -1, 2.5, 0.5, math.nan, math.inf, -0.0, 2 ** 63, 5, -2.5])
            ops.append((method, (column("i64", "f64"), value)))
        elif roll < 0.4:
            ops.append(("where_in", (column("str"), rng.sample(["x", "p", "q", "é", "", "alpha", '"', "P"],
                                                               rng.randint(0, 3)))))
        elif roll < 0.45:
            ops.append(("where_among", (column("i64", "f64"), rng.sample([0, 1, 1.5, -1, math.nan, 12, 5],
                                                                          rng.randint(0, 3)))))
        elif roll < 0.55:
            pool = list(kinds) + (["nosuch"] if rng.random() < 0.05 else [])
            chosen = rng.sample(pool, rng.randint(0, len(pool)))
            if rng.random() < 0.05 and chosen:
                chosen.append(chosen[0])
            ops.append(("select", (chosen,)))
            kinds = {n: kinds.get(n, "?") for n in chosen}
        elif roll < 0.65:
            ops.append(("sort", (column("i64", "f64", "str"), rng.random() < 0.5)))
        elif roll < 0.75:
            ops.append((rng.choice(["head", "tail"]), (rng.randint(-6, 12),)))
        elif roll < 0.85:
            target = rng.choice(["yr", "mo", "d2"]) if rng.random() < 0.9 else column("str")
            part = rng.choice(["year", "month", "day"]) if rng.random() < 0.95 else "Day"
            source = column("str")
            ops.append(("add_date_part", (target, source, part)))
            kinds.setdefault(target, "i64")
    if rng.random() < 0.6:
        pool = list(kinds)
        keys = rng.sample(pool, rng.randint(0, min(2, len(pool))))
        method = rng.choice(["count", "sum", "mean", "min", "max", "groups"])
        ops.append(("group", (keys, method, column("i64", "f64") if method in ("sum", "mean") else column(
            "i64", "f64", "str"))))
    return ops


def run_chain(frame, ops, split_out=1):
    """Applies the chain to a tarnwick.Frame or a DaskFrame (whose groupings
    combine in ``split_out`` buckets); returns the final object (a frame, or
    an int for "groups")."""
    for method, args in ops:
        if method == "group":
            keys, aggregation, column = args
            grouped = frame.group(keys) if isinstance(frame, tarnwick.Frame) else frame.group(keys, split_out)
            if aggregation == "groups":
                return grouped.groups()
            if aggregation == "count":
                return grouped.count()
            return getattr(grouped, aggregation)(column)
        if method == "add_date_part":
            frame.add_date_part(*args)
            continue
        frame = getattr(frame, method)(*args)
    return frame


def has_f64_sum(ops):
    return any(m == "group" and a[1] in ("sum", "mean") for m, a in ops)
