"""Helpers shared by the row-operation tests."""
import tarnwick


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
