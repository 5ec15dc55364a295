"""Grouping across partitions, with one machine's group order and results.

Each partition is grouped by tarnwick, which gives its groups in order of
first appearance with each group's first row as its keys. Taking the
partitions in order and appending the groups not seen before gives the order
of first appearance over the whole data, and the first partition that holds
a group holds its first row. So each partition's partial result is a table of
its groups (keys, an order key ``first`` = partition << 32 | group number, and
a state per aggregation), and combining partials taken in partition order is
associative: a tree of combines, or one per hash bucket of the keys, gives the
same groups in the same order.

Keys are told apart as tarnwick tells them: 0.0 and -0.0 are one key, a NaN
only matches a NaN of the same bits, a missing key is a key of its own,
strings match byte for byte. A partial's keys are encoded as dictionary
codes of those normalised values.

States:

- count: rows.
- i64 sum and mean: the exact sum S, and bounds of the running sum inside the
  partition relative to its start: ``lo``/``hi`` (the smallest and largest
  partial sum, or bounds of them) and ``bmin``/``bmax`` (partial sums known
  exactly: the sum at each partition's end). Composed in order (R being the
  running sum before a part) these combine associatively; a group overflows
  for sure when ``bmin``/``bmax`` leave the 64-bit range and cannot when
  ``lo``/``hi`` stay inside it.
- f64 sum and mean: each partition's compensated sum, added exactly (as an
  integer count of 2^-1126) and rounded once.
- min and max: tarnwick's reduction of the partitions' results in order; for
  f64 also of their results without NaN, since a NaN that comes first in a
  partition hides what a later part of the data would compare.
"""

import dataclasses
import zlib

import numpy as np
import pyarrow as pa
import pyarrow.compute as pc

from ._csv import TerminalFailure
from ._frames import quoted, to_frame, to_table
from ._pieces import Failure, Piece, merge
from ._threads import owns_frames

I64_MIN, I64_MAX = -(1 << 63), (1 << 63) - 1
SCALE = 1126  # every finite double is an integer count of 2^-1126
COUNT = "count"


@dataclasses.dataclass
class Partial:
    # One row per group: the keys as columns k0, k1, ... and last the order
    # key "first" (so that the table has a column even without keys).
    table: pa.Table
    state: dict  # name -> numpy array, or pyarrow array for min/max values
    # tarnwick's refusal of each reduction of the column, by method.
    refusals: dict = dataclasses.field(default_factory=dict)
    kind: str | None = None

    @property
    def groups(self):
        return self.table.num_rows

    @property
    def keys(self):
        return self.table.select(self.table.column_names[:-1])

    @property
    def first(self):
        return self.table.column("first").to_numpy()


@dataclasses.dataclass(frozen=True)
class GroupRequest:
    """A partition's partial grouping by ``keys``: the row counts when
    ``name`` is None, else the states of every reduction of column ``name``,
    so that its sum, mean, min and max computed together read the data
    once."""

    keys: tuple
    name: str | None
    group_depth: int
    depth: int
    # i64 sums: the running sums' exact extremes in every partition, for a
    # verdict the bounds could not give.
    exact: bool = False

    def __call__(self, frame, index):
        return partial(frame, index, self)


REDUCTIONS = ("sum", "mean", "min", "max")


def _key_names(n):
    return [f"k{i}" for i in range(n)]


def _unused(names, base="__tarnwick_dask"):
    name, i = base, 0
    while name in names:
        i += 1
        name = f"{base}{i}"
    return name


def partial(frame, index, request):
    keys = list(request.keys)
    # tarnwick's own refusals, from the same grouping of no rows: the keys
    # (at the grouping's depth), then each reduction of the column.
    probe = frame.head(0)
    try:
        probe_grouped = probe.group(keys)
    except ValueError as error:
        message = str(error)
        raise TerminalFailure(Failure.value_error(request.group_depth, message)) from None
    if request.name is None:
        del probe, probe_grouped
        return _count_partial(frame, keys, index)
    refusals = {}
    for method in REDUCTIONS:
        try:
            getattr(probe_grouped, method)(request.name)
        except ValueError as error:
            refusals[method] = str(error)
    if request.name not in probe.names():
        # Every reduction refuses an absent column, with one message.
        raise TerminalFailure(Failure.value_error(request.depth, refusals["sum"]))
    kind = probe.dtypes()[probe.names().index(request.name)]
    del probe, probe_grouped
    values = to_table(frame.select([request.name])).column(0).combine_chunks()
    if request.name in keys:
        work, (v,) = _work_frame(frame, keys, [(kind, values)])
    else:
        # The column as it is, beside the keys: nothing copied.
        work, v = frame.select(keys + [request.name]), request.name
    grouped = work.group(keys)
    keys_table, rows = _counts(work, grouped, keys, index)
    state = {}
    if kind != "str":
        # The mean divides by the present values: a grouping of the rows
        # whose entry is present (where_ne with NaN keeps exactly those),
        # matched to the groups by key. (Adding a column of flags would copy
        # the key columns of a filtered frame.)
        if values.null_count == 0:
            state["c"] = rows
        else:
            numbers = work.where_ne(v, float("nan"))
            present_keys, present_rows = _counts(numbers, numbers.group(keys), keys, index)
            state["c"] = _align(keys_table, present_keys, pa.array(present_rows), pa.array(rows)).fill_null(
                0).to_numpy().astype(np.int64)
    if kind == "i64":
        state.update(_i64_sums(work, grouped, keys, v, values, state["c"], request.exact))
    elif kind == "f64":
        state.update(_exact_doubles(to_table(grouped.sum(v)).column(len(keys)).to_numpy()))
    state.update(_extremes(work, grouped, keys, v, kind, keys_table, index))
    return Partial(keys_table, state, refusals, kind)


def _counts(work, grouped, keys, index):
    """The grouping's keys (with their order keys) and row counts."""
    if {COUNT, "len"} <= set(keys):
        # count() has no column left to name: count a column of ones.
        ones, (n,) = _work_frame(work, keys, [("i64", pa.array(np.ones(work.height(), dtype=np.int64)))])
        keys_table, table = _keys_of(ones.group(keys).sum(n), len(keys), index)
    else:
        keys_table, table = _keys_of(grouped.count(), len(keys), index)
    return keys_table, table.column(len(keys)).to_numpy().astype(np.int64)


def _work_frame(frame, keys, columns):
    """The key columns and the given (name, kind, values) columns, under
    names that cannot meet a key's."""
    work = frame.select(keys)
    names = []
    for kind, values in columns:
        name = _unused(set(keys) | set(names))
        names.append(name)
        {"i64": work.add_ints, "f64": work.add_floats, "str": work.add_strings}[kind](name, values)
    return work, names


def _keys_of(result_frame, nkeys, index):
    """The keys of a partition's grouping result, with the order key of each
    group, and the whole result as a table."""
    table = to_table(result_frame)
    first = (np.int64(index) << np.int64(32)) + np.arange(table.num_rows, dtype=np.int64)
    keys = pa.Table.from_arrays(table.columns[:nkeys] + [pa.array(first)], names=_key_names(nkeys) + ["first"])
    return keys, table


def _count_partial(frame, keys, index):
    work, (n,) = _work_frame(frame, keys, [("i64", pa.array(np.ones(frame.height(), dtype=np.int64)))])
    keys_table, table = _keys_of(work.group(keys).sum(n), len(keys), index)
    counts = table.column(len(keys)).to_numpy()
    return Partial(keys_table, {"n": counts.astype(np.int64)})


def _present(values):
    return np.asarray(values.is_valid().to_numpy(zero_copy_only=False), dtype=np.int64)


def _i64_sums(work, grouped, keys, v, values, counts, exact):
    """The states of an i64 sum: the exact sums, and the running sums'
    extremes in this partition (bounds, or exact)."""
    filled = values.fill_null(0).to_numpy().astype(np.int64, copy=False)
    try:
        if exact:
            raise ValueError("exact extremes asked for")
        sums = to_table(grouped.sum(v)).column(len(keys)).to_numpy().astype(np.int64)
    except ValueError:
        # The partition's own partial sums leave 64 bits; its sums, and the
        # exact extremes of its running sums, come from Python integers.
        # (The rare way: which entries are present is only needed here.)
        return _i64_sums_exact(counts, filled, _present(values), work, keys)
    # Every partial sum of a group inside the partition lies within the
    # partition's sum of absolute values.
    bound = _absolute_sum(filled)
    has = counts > 0
    if bound > (1 << 62):
        lo = np.array([-bound if h else 0 for h in has.tolist()], dtype=object)
    else:
        lo = np.where(has, -bound, 0).astype(np.int64)
    return {"S": sums, "lo": lo, "hi": -lo, "bmin": sums.copy(), "bmax": sums.copy(), "exact": ~has}


def _absolute_sum(values):
    """The exact sum of |v| (|-2^63| included) as an int: the magnitudes'
    high and low 32 bits summed apart, 2^30 at a time, so no sum overflows."""
    total = 0
    for start in range(0, len(values), 1 << 30):
        chunk = values[start:start + (1 << 30)]
        magnitude = np.where(chunk < 0, ~chunk.view(np.uint64) + np.uint64(1), chunk.view(np.uint64))
        high = int((magnitude >> np.uint64(32)).astype(np.int64).sum())
        low = int((magnitude & np.uint64(0xFFFFFFFF)).astype(np.int64).sum())
        total += (high << 32) + low
    return total


def _i64_sums_exact(counts, filled, present, work, keys):
    codes = group_ids(_keys_only(work, keys).drop_columns(["first"]), work.height())
    groups = len(counts)
    S = [0] * groups
    lo = [0] * groups
    hi = [0] * groups
    seen = [False] * groups
    for g, value, ok in zip(codes.tolist(), filled.tolist(), present.tolist()):
        if not ok:
            continue
        s = S[g] + value
        S[g] = s
        if not seen[g]:
            seen[g], lo[g], hi[g] = True, s, s
        elif s < lo[g]:
            lo[g] = s
        elif s > hi[g]:
            hi[g] = s
    S = np.array(S, dtype=object)
    return {"S": S, "lo": np.array(lo, dtype=object), "hi": np.array(hi, dtype=object),
            "bmin": S.copy(), "bmax": S.copy(), "exact": np.ones(groups, dtype=bool)}


def _keys_only(frame, keys):
    table = to_table(frame.select(keys))
    return pa.Table.from_arrays(table.columns + [pa.nulls(table.num_rows, pa.int64())],
                                names=_key_names(len(keys)) + ["first"])


def _exact_doubles(values):
    """Doubles as exact integers (counts of 2^-1126), with their NaN and
    infinities set apart."""
    values = np.asarray(values, dtype=np.float64)
    nan = np.isnan(values)
    pinf = values == np.inf
    ninf = values == -np.inf
    finite = np.where(nan | pinf | ninf, 0.0, values)
    mantissa, exponent = np.frexp(finite)
    integers = (mantissa * 2.0 ** 53).astype(np.int64).astype(object)
    shifts = (exponent.astype(np.int64) + (SCALE - 53)).astype(object)
    return {"E": integers * (2 ** shifts) if len(values) else integers, "nan": nan, "pinf": pinf, "ninf": ninf}


def _extremes(work, grouped, keys, v, kind, keys_table, index):
    """min and max of each group: "min_v"/"max_v" from the first present
    value on, and for f64 "min_w"/"max_w" over the values that are not NaN
    (a NaN that comes first keeps the result NaN here, whatever follows, but
    what follows still counts when an earlier partition's number leads)."""
    state = {}
    for method in ("min", "max"):
        state[f"{method}_v"] = to_table(getattr(grouped, method)(v)).column(len(keys)).combine_chunks()
    if kind != "f64":
        return state
    for method in ("min", "max"):
        state[f"{method}_w"] = state[f"{method}_v"]
    if not any(pc.any(pc.is_nan(state[f"{m}_v"]).fill_null(False)).as_py() for m in ("min", "max")):
        return state
    numbers = work.where_le(v, float("inf")).group(keys)
    for method in ("min", "max"):
        nkeys, ntable = _keys_of(getattr(numbers, method)(v), len(keys), index)
        state[f"{method}_w"] = _align(keys_table, nkeys, ntable.column(len(keys)).combine_chunks(),
                                      state[f"{method}_v"])
    return state


def _align(keys_table, other_keys, other_values, default):
    """other_values placed at the rows of keys_table with the same keys;
    missing where keys_table has a key other_keys lacks."""
    both = pa.concat_tables([keys_table, other_keys])
    codes = group_ids(both.select(both.column_names[:-1]), both.num_rows)
    n = keys_table.num_rows
    position = np.full(codes.max() + 1 if len(codes) else 0, -1, dtype=np.int64)
    position[codes[n:]] = np.arange(other_keys.num_rows)
    take = position[codes[:n]]
    taken = other_values.take(pa.array(np.where(take < 0, 0, take))) if len(other_values) else pa.nulls(
        n, default.type)
    return pc.if_else(pa.array(take >= 0), taken, pa.nulls(n, default.type))


def _normalised(column):
    column = column.combine_chunks() if isinstance(column, pa.ChunkedArray) else column
    if column.type == pa.float64():
        valid = column.is_valid().to_numpy(zero_copy_only=False)
        numbers = column.fill_null(0.0).to_numpy(zero_copy_only=False)
        bits = np.where(numbers == 0.0, 0.0, numbers).view(np.int64)
        return pa.array(bits, mask=~valid)
    return column


def group_ids(keys_table, n):
    """Group numbers of a table's n rows by key equality, numbered in order
    of first appearance."""
    if keys_table.num_columns == 0:
        return np.zeros(n, dtype=np.int64)
    codes = None
    for column in keys_table.columns:
        encoded = pc.dictionary_encode(_normalised(column), null_encoding="encode")
        these = encoded.indices.to_numpy().astype(np.int64)
        if codes is None:
            codes = these
        else:
            combined = codes * np.int64(len(encoded.dictionary)) + these
            codes = pc.dictionary_encode(pa.array(combined)).indices.to_numpy().astype(np.int64)
    if n == 0:
        return codes
    _, first_rows = np.unique(codes, return_index=True)
    rank = np.empty(len(first_rows), dtype=np.int64)
    rank[np.argsort(first_rows, kind="stable")] = np.arange(len(first_rows))
    return rank[codes]


@owns_frames
def combine(*pieces):
    """Partials taken in partition order, as one partial."""
    merged = merge(pieces)
    if merged.failure is not None:
        return merged
    partials = [p.value for p in pieces]
    if len(partials) == 1:
        return Piece(partials[0], None, merged.rows, merged.pending)
    table = pa.concat_tables([p.table for p in partials])
    keys = table.select(table.column_names[:-1])
    codes = group_ids(keys, table.num_rows)
    order = np.argsort(codes, kind="stable")
    sorted_codes = codes[order]
    starts = np.flatnonzero(np.diff(sorted_codes, prepend=-1)) if len(codes) else np.zeros(0, np.int64)
    representative = order[starts]
    first = partials[0]
    state = {}
    for name in ("n", "c"):
        if name in first.state:
            state[name] = _segments(_cat(partials, name), order, starts, np.add)
    if "S" in first.state:
        state.update(_combine_i64(partials, order, starts))
    if "E" in first.state:
        state.update(_combine_f64(partials, order, starts))
    if "min_v" in first.state:
        state.update(_combine_extremes(table, partials))
    result = Partial(table.take(pa.array(representative)), state, first.refusals, first.kind)
    return Piece(result, None, merged.rows, merged.pending)


def _cat(partials, name):
    return np.concatenate([p.state[name] for p in partials])


def _segments(values, order, starts, ufunc):
    if not len(starts):
        return values[:0]
    return ufunc.reduceat(values[order], starts)


def _combine_i64(partials, order, starts):
    S, lo, hi, bmin, bmax = (_cat(partials, k) for k in ("S", "lo", "hi", "bmin", "bmax"))
    exact = _cat(partials, "exact")
    if not len(starts):
        return {"S": S, "lo": lo, "hi": hi, "bmin": bmin, "bmax": bmax, "exact": exact}
    small = all(a.dtype != object for a in (S, lo, hi, bmin, bmax)) and (
        float(np.abs(S.astype(np.float64)).sum()) + max(
            float(np.abs(a.astype(np.float64)).max(initial=0)) for a in (lo, hi, bmin, bmax)) < 2.0 ** 62)
    if not small:
        S, lo, hi, bmin, bmax = (a.astype(object) for a in (S, lo, hi, bmin, bmax))
    S_sorted = S[order]
    running = np.cumsum(S_sorted)
    before = running - S_sorted
    base = before[starts]
    lengths = np.diff(np.append(starts, len(order)))
    before = before - np.repeat(base, lengths)
    return {
        "S": np.add.reduceat(S_sorted, starts),
        "lo": np.minimum.reduceat(before + lo[order], starts),
        "hi": np.maximum.reduceat(before + hi[order], starts),
        "bmin": np.minimum.reduceat(before + bmin[order], starts),
        "bmax": np.maximum.reduceat(before + bmax[order], starts),
        "exact": np.logical_and.reduceat(exact[order], starts),
    }


def _combine_f64(partials, order, starts):
    state = {"E": _segments(_cat(partials, "E"), order, starts, np.add)}
    for flag in ("nan", "pinf", "ninf"):
        state[flag] = _segments(_cat(partials, flag), order, starts, np.logical_or)
    return state


def _combine_extremes(table, partials):
    """tarnwick reduces the partials' values in partition order: the first
    present value leads, and a later one replaces it only when strictly
    better, exactly as over the rows themselves."""
    names = table.column_names[:-1]
    parts = [k for k in ("min_v", "max_v", "min_w", "max_w") if k in partials[0].state]
    columns = [pa.concat_arrays([p.state[k] for p in partials]) for k in parts]
    frame = to_frame(pa.Table.from_arrays(table.select(names).columns + columns, names=names + parts))
    grouped = frame.group(names)
    state = {k: to_table(getattr(grouped, k[:3])(k)).column(len(names)).combine_chunks() for k in parts}
    del frame, grouped
    return state


def split_buckets(piece, buckets):
    """A partial split into ``buckets`` partials by a hash of its keys."""
    if piece.failure is not None:
        return [piece] * buckets
    part = piece.value
    bucket = _key_hash(part.keys, part.groups) % np.uint64(buckets)
    out = []
    for b in range(buckets):
        rows = np.flatnonzero(bucket == b)
        state = {k: (v.take(pa.array(rows)) if isinstance(v, (pa.Array, pa.ChunkedArray)) else v[rows])
                 for k, v in part.state.items()}
        out.append(Piece(Partial(part.table.take(pa.array(rows)), state, part.refusals, part.kind),
                         None, piece.rows, piece.pending))
    return out


_MIX = np.uint64(0x9E3779B97F4A7C15)


def _mix64(x):
    x = (x ^ (x >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
    x = (x ^ (x >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
    return x ^ (x >> np.uint64(31))


def _key_hash(keys, n):
    """A hash of each row's keys that is the same in every process."""
    h = np.zeros(n, dtype=np.uint64)
    with np.errstate(over="ignore"):
        for column in keys.columns:
            column = _normalised(column)
            valid = column.is_valid().to_numpy(zero_copy_only=False)
            if pa.types.is_integer(column.type):
                values = column.fill_null(0).to_numpy().astype(np.int64).view(np.uint64)
            else:
                values = np.array([zlib.crc32(s.encode()) if s is not None else 0 for s in column.to_pylist()],
                                  dtype=np.uint64)
            values = np.where(valid, _mix64(values + _MIX), np.uint64(1))
            h = _mix64(h * np.uint64(31) + values)
    return h


def result(piece, method, request, pending_token):
    """The finished table of a combined partial for one reduction: keys in
    group order under their names, and the result column. Returns a
    Piece."""
    if piece.failure is not None:
        return piece
    part = piece.value
    kind = part.kind
    keys = list(request.keys)
    arrays = list(part.keys.columns)
    state = part.state
    pending = list(piece.pending)
    refusal = part.refusals.get(method)
    # A refusal other than "a key of this grouping" comes before any work;
    # that one comes after the sum (its overflow is reported first).
    if refusal is not None and refusal != f"column {quoted(request.name)} is a key of this grouping":
        return Piece(None, Failure.value_error(request.depth, refusal), piece.rows, piece.pending)
    name = request.name
    if method == COUNT:
        name = COUNT if COUNT not in keys else "len" if "len" not in keys else None
        column = pa.array(state["n"], type=pa.int64()) if name else None
    elif method in ("min", "max"):
        column = state[f"{method}_v"]
        if kind == "f64":
            nan = pc.is_nan(column).fill_null(False)
            column = pc.if_else(nan, column, state[f"{method}_w"])
    elif kind == "i64":
        verdict = _verdict(state)
        if verdict == "overflow":
            # Ranked before the refusal of a key column, which comes after
            # the sums: buckets that disagree keep the overflow.
            return Piece(None, Failure(request.depth, "ValueError", (f"the sum of column {quoted(name)} overflows i64",),
                                       rank=1), piece.rows, piece.pending)
        if verdict == "unsure":
            # Given as if no running sum left 64 bits; the client checks the
            # verdict exactly before it hands out a result.
            pending.append((request.depth, pending_token))
        sums = [int(s) for s in state["S"]]
        if method == "sum":
            column = pa.array(sums, type=pa.int64())
        else:
            column = pa.array([float(s) / float(c) if c else None for s, c in zip(sums, state["c"].tolist())],
                              type=pa.float64())
    else:
        totals = _round_exact(state)
        if method == "sum":
            column = pa.array(totals, type=pa.float64())
        else:
            column = pa.array([t / float(c) if c else None for t, c in zip(totals, state["c"].tolist())],
                              type=pa.float64())
    if refusal is not None:
        return Piece(None, Failure(request.depth, "ValueError", (refusal,), rank=2), piece.rows, tuple(pending))
    result_names = list(keys)
    if column is not None:
        arrays.append(column)
        result_names.append(name)
    table = pa.Table.from_arrays(arrays, names=result_names)
    return Piece((table, part.first), None, piece.rows, tuple(pending))


def _verdict(state):
    """overflow: some running sum of some group leaves 64 bits for sure;
    ok: none can; unsure: only bounds were known where they reach past."""
    verdict = "ok"
    for bmin, bmax, lo, hi, exact in zip(state["bmin"].tolist(), state["bmax"].tolist(), state["lo"].tolist(),
                                         state["hi"].tolist(), state["exact"].tolist()):
        if bmin < I64_MIN or bmax > I64_MAX:
            return "overflow"
        if lo < I64_MIN or hi > I64_MAX:
            if exact:
                return "overflow"
            verdict = "unsure"
    return verdict


def _round_exact(state):
    totals = []
    for e, nan, pinf, ninf in zip(state["E"].tolist(), state["nan"].tolist(), state["pinf"].tolist(),
                                  state["ninf"].tolist()):
        if nan or (pinf and ninf):
            totals.append(float("nan"))
        elif pinf:
            totals.append(float("inf"))
        elif ninf:
            totals.append(float("-inf"))
        else:
            try:
                totals.append(e / (1 << SCALE) + 0.0)
            except OverflowError:
                totals.append(float("inf") if e > 0 else float("-inf"))
    return totals

