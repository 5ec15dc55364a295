"""A user's script with tarnwick_dask, checked by `mypy --strict` against the
installed wheel and then run beside the environment's dask: the collection's
results are tarnwick's own types."""

import pathlib
import tempfile
from typing import assert_type

import tarnwick
import tarnwick_dask
from tarnwick_dask import DaskFrame, DaskGrouped

with tempfile.TemporaryDirectory() as folder:
    path = pathlib.Path(folder) / "rain.csv"
    path.write_text("city,year,rain_mm\nOslo,2021,763.0\nLima,2022,12.5\nPune,2022,722.4\n")
    frame = tarnwick_dask.read_csv(str(path), blocksize=16)
    assert_type(frame, DaskFrame)
    wet = frame.where_gt("rain_mm", 100).sort("year", False)
    grouped = wet.group(["year"])
    assert_type(grouped, DaskGrouped)
    means = grouped.mean("rain_mm")
    result = means.compute(scheduler="sync")
    assert_type(result, tarnwick.Frame)
    assert result.ints("year") == [2021, 2022]
    assert_type(frame.height(), int)
    assert_type(frame.names(), list[str])
    assert_type(grouped.groups(), int)
    assert wet.compute(scheduler="threads").height() == 2
    local = tarnwick_dask.from_frame(result, 2).head(1).compute()
    assert local.height() == 1
    written = frame.to_csv(pathlib.Path(folder) / "out")
    assert_type(written, list[str])
    try:
        frame.where_gt("rain_mm", "wet")  # type: ignore[arg-type]
    except TypeError as error:
        assert error.__notes__ == ["while processing 'value'"]
print("tarnwick_dask:", tarnwick_dask.__file__)
