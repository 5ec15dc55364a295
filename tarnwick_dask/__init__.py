"""tarnwick on Dask: CSV files and frames split into partitions, each
computed by tarnwick inside a task, with the results one machine gives."""

from ._collection import DaskFrame, DaskGrouped, from_frame, read_csv, to_frame

__all__ = ["read_csv", "from_frame", "to_frame", "DaskFrame", "DaskGrouped"]
