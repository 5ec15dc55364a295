import os
import pathlib

import pytest

import tarnwick

ROOT = pathlib.Path(__file__).resolve().parent.parent
# Real CSV corpora live beside the project in a developer's checkout; a user's
# clone has none, and the tests that need them skip.
DATA = pathlib.Path(os.environ.get("TARNWICK_DATA", ROOT.parent / "shared" / "data"))


def data_file(*parts):
    path = DATA.joinpath(*parts)
    if not path.exists():
        pytest.skip(f"{path} is not here")
    return path


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


def snapshot(frame):
    """Everything a frame shows, for checking that a call left it unchanged."""
    readers = {"i64": frame.ints, "f64": frame.floats, "str": frame.strings}
    columns = [(name, dtype, readers[dtype](name)) for name, dtype in zip(frame.names(), frame.dtypes())]
    return frame.height(), [(n, d, [repr(v) for v in vs]) for n, d, vs in columns]
