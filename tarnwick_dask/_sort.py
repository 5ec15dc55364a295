"""Sorting across partitions by ranges of the sort column.

A sample of every partition gives splitters; each partition sends each row to
the range its value falls in (equal values always to the same range, NaN and
missing entries to the last); each range takes its pieces in partition order
and sorts them with tarnwick's stable sort. Rows that tie keep the order they
had in the whole frame, and NaN and missing entries come after every number
in both directions, as one machine sorts them.
"""

import numpy as np
import pyarrow as pa
import pyarrow.compute as pc

from ._frames import KIND_OF_TYPE, concat, to_frame
from ._pieces import Failure, Piece, merge, settle
from ._threads import owns_frames

SAMPLE = 256


@owns_frames
def sample(piece, name, descending, depth):
    """Up to SAMPLE values of the sort column, NaN and missing left out; or
    the refusal of ``sort`` itself (a missing column)."""
    if piece.failure is not None:
        return Piece(None, piece.failure, piece.rows, piece.pending)
    table = piece.value
    try:
        to_frame(table.slice(0, 0)).sort(name, descending)
    except ValueError as error:
        message = str(error)
        return Piece(None, Failure.value_error(depth, message), piece.rows, piece.pending)
    column = table.column(name)
    n = len(column)
    positions = np.unique(np.linspace(0, n - 1, num=min(n, SAMPLE)).astype(np.int64)) if n else []
    values = column.take(pa.array(positions, type=pa.int64())).combine_chunks() if n else column.combine_chunks()
    values = values.drop_null()
    if values.type == pa.float64():
        values = values.filter(pc.invert(pc.is_nan(values)))
    return Piece(values, None, piece.rows, piece.pending)


def splitters(ranges, *samples):
    """At most ranges - 1 distinct values, ascending, that cut the sampled
    values into ranges of about equal size; with the stage's failure."""
    settled = settle(samples)
    if settled.failure is not None:
        return settled
    values = [s.value for s in samples if s.value is not None and len(s.value)]
    if not values:
        return Piece([], None, {}, settled.pending)
    ordered = sorted(pa.concat_arrays(values).to_pylist())
    cuts = []
    for r in range(1, ranges):
        value = ordered[(r * len(ordered)) // ranges]
        if not cuts or value > cuts[-1]:
            cuts.append(value)
    return Piece(cuts, None, {}, settled.pending)


def split(piece, cuts_piece, name, descending, ranges):
    """The partition's rows as ``ranges`` tables, by range, in row order."""
    if cuts_piece.failure is not None:
        return Piece(None, cuts_piece.failure, {}, cuts_piece.pending)
    table = piece.value
    cuts = cuts_piece.value
    column = table.column(name).combine_chunks()
    kind = KIND_OF_TYPE[column.type]
    last = np.int64(ranges - 1)
    if kind == "str":
        above = np.zeros(len(column), dtype=np.int64)
        for cut in cuts:
            test = pc.greater(column, cut) if not descending else pc.less(column, cut)
            above += test.fill_null(False).to_numpy(zero_copy_only=False).astype(np.int64)
        ids = above
        ids[column.is_null().to_numpy(zero_copy_only=False)] = last
    else:
        missing = column.is_null().to_numpy(zero_copy_only=False)
        if kind == "f64":
            values = column.fill_null(0.0).to_numpy(zero_copy_only=False)
            missing = missing | np.isnan(values)
            edges = np.array(cuts, dtype=np.float64)
        else:
            values = column.fill_null(0).to_numpy(zero_copy_only=False)
            edges = np.array(cuts, dtype=np.int64)
        if descending:
            ids = len(edges) - np.searchsorted(edges, values, side="right")
        else:
            ids = np.searchsorted(edges, values, side="left")
        ids = np.where(missing, last, ids).astype(np.int64)
    order = np.argsort(ids, kind="stable")
    bounds = np.searchsorted(ids[order], np.arange(ranges + 1))
    pieces = [table.take(pa.array(order[bounds[r]:bounds[r + 1]])) for r in range(ranges)]
    return Piece(pieces, None, {}, piece.pending + cuts_piece.pending)


def take(piece, index):
    if piece.failure is not None:
        return piece
    return Piece(piece.value[index], None, {}, piece.pending)


def range_frame(pieces, name, descending):
    """One range's rows, sorted: a frame, or the stage's failure."""
    merged = merge(pieces)
    if merged.failure is not None:
        return None, merged
    table = concat([p.value for p in pieces])
    return to_frame(table).sort(name, descending), merged
