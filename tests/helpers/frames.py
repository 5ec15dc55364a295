"""Frames built for tests, and what they show."""
import tarnwick


def frame_of(**columns):
    """A frame from keyword columns: ints, floats or strs by their first value."""
    frame = tarnwick.Frame()
    for name, values in columns.items():
        kind = type(values[0]) if values else int
        if kind is float:
            frame.add_floats(name, values)
        elif kind is str:
            frame.add_strings(name, values)
        else:
            frame.add_ints(name, values)
    return frame


READERS = {"i64": "ints", "f64": "floats", "str": "strings"}


def values_of(frame, name):
    """The entries of a column, read with the method of its dtype."""
    return getattr(frame, READERS[frame.dtypes()[frame.names().index(name)]])(name)


def table(frame):
    """(name, dtype, values) per column; floats as repr, so -0.0 and nan compare."""
    result = []
    for name, dtype in zip(frame.names(), frame.dtypes()):
        values = values_of(frame, name)
        if dtype == "f64":
            values = [None if v is None else repr(v) for v in values]
        result.append((name, dtype, values))
    return result


def snapshot(frame):
    """Everything a frame shows, for checking that a call left it unchanged."""
    return frame.height(), table(frame)


def frame_with_missing(**columns):
    """A frame whose columns may hold missing entries (None), read from CSV.

    Each column is a list of ints, floats (finite) or strs, with None for a
    missing entry; a str column needs at least one present str. Columns are
    built through read_csv, the only way Python can make missing entries.
    """
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


def shown_with_missing(rows, order, dropped):
    """A frame over `rows` (tuples of n: int, x: float, s: str, each or None)
    that shows them through a row selection, with the ids the model needs.

    The frame has columns id, n, x and s. It shows the rows whose id is not in
    `dropped`, in the order of `order` (a permutation of the row ids). A last
    row, all present, is never shown: it fixes each column's dtype and keeps
    the selection from being the whole storage in order. Returns the frame and
    the ids it shows, in its row order.
    """
    rows = list(rows) + [(0, 0.5, "z")]
    height = len(rows)
    order = [i for i in order if i < height - 1] + [height - 1]
    rank = [0] * height
    for position, i in enumerate(order):
        rank[i] = position
    columns = {"id": list(range(height)), "rank": rank,
               "n": [r[0] for r in rows], "x": [r[1] for r in rows], "s": [r[2] for r in rows]}
    stored = frame_with_missing(**columns)
    shown_ids = [i for i in order if i not in dropped and i != height - 1]
    shown = stored.sort("rank", False).where_among("id", shown_ids).select(["id", "n", "x", "s"])
    return shown, shown_ids
