"""Frames to Arrow tables and back, and texts that only tarnwick can write.

A frame exported with ``pyarrow.table(frame)`` shares its value arrays and
text with the table (a frame with a row selection has its rows gathered), and
``add_ints``/``add_floats``/``add_strings`` take Arrow arrays and chunked
arrays, so a task turns the tables it receives into a frame, computes, and
hands a table on: no frame leaves the thread that made it.
"""

import functools

import pyarrow as pa
import tarnwick

KIND_OF_TYPE = {pa.int64(): "i64", pa.float64(): "f64", pa.string(): "str", pa.large_string(): "str"}
TYPE_OF_KIND = {"i64": pa.int64(), "f64": pa.float64(), "str": pa.string()}
# Kinds in the order a CSV column moves through them: every field of an i64
# column also reads as f64, and every field as str.
KIND_RANK = {"i64": 0, "f64": 1, "str": 2}


def to_table(frame):
    """The frame as a pyarrow Table with the same names, kinds and rows."""
    try:
        return pa.table(frame)
    except ValueError:
        # A name holding NUL cannot pass the Arrow C interface; such columns
        # come over as lists, the others still through Arrow.
        names, kinds = frame.names(), frame.dtypes()
        arrays = []
        for name, kind in zip(names, kinds):
            if "\0" in name:
                values = {"i64": frame.ints, "f64": frame.floats, "str": frame.strings}[kind](name)
                arrays.append(pa.array(values, type=TYPE_OF_KIND[kind]))
            else:
                arrays.append(pa.table(frame.select([name])).column(0))
        return pa.Table.from_arrays(arrays, names=names)


def to_frame(table, names=None):
    """A new frame, on the calling thread, from a table's columns; ``names``
    replaces the table's column names."""
    names = table.column_names if names is None else names
    frame = tarnwick.Frame()
    if not names:
        if table.num_rows:
            frame.add_ints("rows", pa.nulls(table.num_rows, pa.int64()))
            frame = frame.select([])
        return frame
    for name, column in zip(names, table.columns):
        kind = KIND_OF_TYPE[column.type]
        if kind == "i64":
            frame.add_ints(name, column)
        elif kind == "f64":
            frame.add_floats(name, column)
        else:
            frame.add_strings(name, column)
    return frame


def rows_only(rows):
    """A table of no columns and ``rows`` rows (pyarrow's take and concat
    lose the row count of such tables, so they are made afresh)."""
    return pa.table({"": pa.nulls(rows)}).drop_columns([""])


def concat(tables):
    if len(tables) == 1:
        return tables[0]
    if tables[0].num_columns == 0:
        return rows_only(sum(t.num_rows for t in tables))
    return pa.concat_tables(tables, promote_options="permissive")


def empty_table(names, kinds):
    return pa.Table.from_arrays([pa.array([], type=TYPE_OF_KIND[k]) for k in kinds], names=list(names))


def schema_of(table):
    return list(table.column_names), [KIND_OF_TYPE[t] for t in table.schema.types]


@functools.lru_cache(maxsize=4096)
def quoted(name):
    """The name as tarnwick's messages write it: between double quotes, with
    its escapes."""
    try:
        tarnwick.Frame().ints(name)
    except ValueError as error:
        message = str(error)
    prefix, suffix = "no column ", " (the frame has none)"
    assert message.startswith(prefix) and message.endswith(suffix), message
    return message[len(prefix):-len(suffix)]


def names_text(names):
    """A list of names as messages write it: each quoted, joined by ", "."""
    return ", ".join(quoted(n) for n in names) if names else "none"
