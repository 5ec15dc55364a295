"""Where the real CSV files are, and the project's root."""
import os
import pathlib

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent.parent
# Real CSV corpora live beside the project in a developer's checkout; a user's
# clone has none, and the tests that need them skip.
DATA = pathlib.Path(os.environ.get("TARNWICK_DATA", ROOT.parent / "shared" / "data"))


def data_file(*parts):
    path = DATA.joinpath(*parts)
    if not path.exists():
        pytest.skip(f"{path} is not here")
    return path
