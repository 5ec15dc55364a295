"""Helpers shared by the row-operation tests."""
import math

import pytest

import tarnwick


def frame_with_missing(**columns):
    """A frame whose columns may hold missing entries (None), read from CSV.

    Each column is a list of ints, floats (finite) or strs, with None for a
    missing entry; a str column needs at least one present str. Columns are
    built through read_csv, the only way Python can make missing entries, so
    the tests that use this skip until the CSV reader is there.
    """
    if not hasattr(tarnwick, "read_csv"):
        pytest.skip("read_csv is not built yet")
    names = list(columns)
    height = len(next(iter(columns.values()))) if columns else 0

    def field(value):
        if value is None:
            return ""
        if isinstance(value, str):
            return '"' + value.replace('"', '""') + '"'
        return repr(value)

    lines = [",".join(names + ["_row"])]
    for r in range(height):
        lines.append(",".join([field(columns[n][r]) for n in names] + [str(r)]))
    frame = tarnwick.read_csv("\n".join(lines) + "\n")
    return frame.select(names)


def values_of(frame, name):
    """The entries of a column, read with the method of its dtype."""
    dtype = frame.dtypes()[frame.names().index(name)]
    return {"i64": frame.ints, "f64": frame.floats, "str": frame.strings}[dtype](name)


def same_floats(a, b):
    """Lists of floats (or None) equal entry by entry, NaN equal to NaN, -0.0 told from 0.0."""
    if len(a) != len(b):
        return False
    for x, y in zip(a, b):
        if x is None or y is None:
            if x is not y:
                return False
        elif math.isnan(x) or math.isnan(y):
            if not (math.isnan(x) and math.isnan(y)):
                return False
        elif x != y or math.copysign(1, x) != math.copysign(1, y):
            return False
    return True
