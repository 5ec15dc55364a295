import gc
import os
import pathlib

import pytest

import tarnwick

ROOT = pathlib.Path(__file__).resolve().parent.parent
# Real CSV corpora live beside the project in a developer's checkout; a user's
# clone has none, and the tests that need them skip.
DATA = pathlib.Path(os.environ.get("TARNWICK_DATA", ROOT.parent / "shared" / "data"))


@pytest.fixture(autouse=True)
def _cycles_of_earlier_tests_freed_here(request):
    """The Dask tests start threads (each task thread's helper, the threaded
    scheduler's pool, a client's event loop), and the cyclic collector runs
    on whichever thread allocates when it is due. A frame of this thread that
    an earlier test left in a reference cycle would then be dropped there:
    leaked, with a warning the Dask tests count as a fault. Collect it here
    first."""
    if request.module.__name__.startswith("test_dask_"):
        gc.collect()


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
