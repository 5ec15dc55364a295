"""Plans of operations and the task graphs that compute them.

A plan is a chain of nodes from a source (CSV files, a frame's rows, a
persisted collection) through operations. Operations that work row by row
within a partition (filters, ``select``, ``add_date_part``) are fused: they
and the step that ends a partition's work (a ``Tail``: its Arrow table, its
CSV text, its partial grouping, its height) run in the task that makes the
partition's frame. Sorting, grouping and the slices that count rows across
partitions are stages of their own.

Every task works on frames it makes itself and hands on ``Piece`` objects:
Arrow tables, texts and numbers, never a frame.
"""

import dataclasses
import operator
import uuid

import numpy as np
import pyarrow as pa
from dask.base import tokenize
from dask.highlevelgraph import HighLevelGraph

from . import _csv, _group, _sort
from ._csv import Layout, finish
from ._frames import empty_table, schema_of, to_frame, to_table
from ._pieces import Piece, settle
from ._threads import owns_frames

SPLIT_EVERY = 8


# ---- What ends a partition's work -------------------------------------------


@dataclasses.dataclass(frozen=True)
class ToTable:
    def __call__(self, frame, index):
        return to_table(frame)


@dataclasses.dataclass(frozen=True)
class ToCsv:
    def __call__(self, frame, index):
        return frame.to_csv()


@dataclasses.dataclass(frozen=True)
class Height:
    def __call__(self, frame, index):
        return frame.height()


@dataclasses.dataclass(frozen=True)
class Schema:
    def __call__(self, frame, index):
        return frame.names(), frame.dtypes()


@dataclasses.dataclass(frozen=True)
class Tail:
    """Operations (depth, op) to run after a node's own work, then the
    terminal step."""

    ops: tuple = ()
    terminal: object = ToTable()

    def prepend(self, depth, op):
        return Tail(((depth, op),) + self.ops, self.terminal)

    @property
    def plain(self):
        return not self.ops and self.terminal == ToTable()


# ---- The graph under construction --------------------------------------------


class Graph:
    def __init__(self):
        self.layers = {}
        self.dependencies = {}

    def add(self, name, tasks, dependencies):
        self.layers[name] = tasks
        self.dependencies[name] = set(dependencies) - {name}

    def highlevel(self):
        return HighLevelGraph(self.layers, self.dependencies)


def _layers_in(value, found):
    """The layers of the keys found in task arguments."""
    if isinstance(value, tuple) and len(value) >= 2 and isinstance(value[0], str) and value[0].startswith(
            "tarnwick-"):
        found.add(value[0])
    elif isinstance(value, (list, tuple)):
        for item in value:
            _layers_in(item, found)
    return found


# ---- Nodes -------------------------------------------------------------------


class Node:
    kind = "node"
    parent = None

    def __init__(self, depth, npartitions, token):
        self.depth = depth
        self.npartitions = npartitions
        self.token = token

    def name(self, tail):
        return f"tarnwick-{self.kind}-{tokenize(self.token, tail)}"

    def keys(self, g, tail):
        name = self.name(tail)
        if name not in g.layers:
            partition_tasks = self.partition_tasks(g, tail, name)
            tasks = {(name, i): (func, *args) for i, (func, args) in enumerate(partition_tasks)}
            g.add(name, tasks, _layers_in([args for _, args in partition_tasks], set()))
        return [(name, i) for i in range(self.npartitions)]

    def partition_tasks(self, g, tail, name):
        """(function, arguments) of each output partition; arguments may be
        keys of other layers."""
        raise NotImplementedError

    def fused_ops(self):
        return ()

    def deferrable(self):
        """Whether another layer may run this node's partition_tasks in its own tasks
        (not when the partition_tasks refer to their own layer)."""
        return True


class Map(Node):
    """One operation applied to each partition, fused into the partition's
    task."""

    kind = "map"

    def __init__(self, parent, op):
        super().__init__(parent.depth + 1, parent.npartitions, tokenize(parent.token, op))
        self.parent = parent
        self.op = op

    def keys(self, g, tail):
        return self.parent.keys(g, tail.prepend(self.depth, self.op))

    def partition_tasks(self, g, tail, name):
        return self.parent.partition_tasks(g, tail.prepend(self.depth, self.op), name)

    def fused_ops(self):
        return self.parent.fused_ops() + (self.op,)

    def deferrable(self):
        return self.parent.deferrable()


class FrameSource(Node):
    """A frame's rows cut into tables, carried in the graph."""

    kind = "frame"

    def __init__(self, tables):
        super().__init__(0, len(tables), uuid.uuid4().hex)
        self.tables = tables

    def partition_tasks(self, g, tail, name):
        return [(run_table, [table, i, tail]) for i, table in enumerate(self.tables)]


@owns_frames
def run_table(table, index, tail):
    return finish(to_frame(table), tail, index)


@owns_frames
def run_piece(piece, index, tail):
    if piece.failure is not None:
        return piece
    return finish(to_frame(piece.value), tail, index, piece.rows, piece.pending)


class Persisted(Node):
    """Partitions already computed (held by the scheduler)."""

    kind = "persisted"

    def __init__(self, layer, graph, keys, origin):
        super().__init__(origin.depth, len(keys), tokenize(layer, keys))
        self.layer = layer
        self.graph = graph
        self.persisted = list(keys)
        self.parent = origin

    def _add_persisted(self, g):
        if self.layer not in g.layers:
            g.add(self.layer, dict(self.graph), set())

    def keys(self, g, tail):
        if tail.plain:
            self._add_persisted(g)
            return self.persisted
        return super().keys(g, tail)

    def partition_tasks(self, g, tail, name):
        self._add_persisted(g)
        return [(run_piece, [key, i, tail]) for i, key in enumerate(self.persisted)]


class CsvSource(Node):
    kind = "csv"

    def __init__(self, blocks, token):
        super().__init__(0, len(blocks), token)
        self.blocks = blocks

    def partition_tasks(self, g, tail, name):
        suffix = name.split("-", 2)[2]
        blocks = self.blocks

        def layer(what, tasks):
            layer_name = f"tarnwick-{what}-{suffix}"
            g.add(layer_name, tasks, _layers_in(list(tasks.values()), set()))
            return layer_name

        read = layer("csv-read", {(f"tarnwick-csv-read-{suffix}", b.index): (_csv.read_block, b, tail, b.index)
                                  for b in blocks})
        info = layer("csv-info", {(f"tarnwick-csv-info-{suffix}", b.index): (_csv.info_of, (read, b.index))
                                  for b in blocks})
        plan = layer("csv-layout", {(f"tarnwick-csv-layout-{suffix}", 0):
                                    (_csv.layout, blocks, *[(info, b.index) for b in blocks])})
        return [(_csv.fix, [(read, b.index), (plan, 0), b, tail, b.index]) for b in blocks]


class Sort(Node):
    kind = "sort"

    def __init__(self, parent, name, descending):
        super().__init__(parent.depth + 1, parent.npartitions, tokenize(parent.token, "sort", name, descending))
        self.parent = parent
        self.column = name
        self.descending = descending

    def partition_tasks(self, g, tail, name):
        suffix = name.split("-", 2)[2]
        parts = self.parent.keys(g, Tail())
        n = self.npartitions
        sample = f"tarnwick-sort-sample-{suffix}"
        g.add(sample, {(sample, i): (_sort.sample, key, self.column, self.descending, self.depth)
                       for i, key in enumerate(parts)}, {parts[0][0]})
        cuts = f"tarnwick-sort-cuts-{suffix}"
        g.add(cuts, {(cuts, 0): (_sort.splitters, n, *[(sample, i) for i in range(n)])}, {sample})
        split = f"tarnwick-sort-split-{suffix}"
        g.add(split, {(split, i): (_sort.split, key, (cuts, 0), self.column, self.descending, n)
                      for i, key in enumerate(parts)}, {parts[0][0], cuts})
        piece = f"tarnwick-sort-piece-{suffix}"
        g.add(piece, {(piece, i, j): (_sort.take, (split, i), j) for i in range(n) for j in range(n)}, {split})
        return [(run_range, [[(piece, i, j) for i in range(n)], self.column, self.descending, tail, j])
                for j in range(n)]


@owns_frames
def run_range(pieces, name, descending, tail, index):
    frame, merged = _sort.range_frame(pieces, name, descending)
    if frame is None:
        return merged
    return finish(frame, tail, index, {}, merged.pending)


class Slice(Node):
    """head(n) or tail(n) of the whole frame."""

    kind = "slice"

    def __init__(self, parent, which, n):
        super().__init__(parent.depth + 1, parent.npartitions, tokenize(parent.token, which, n))
        self.parent = parent
        self.which = which
        self.n = n

    def partition_tasks(self, g, tail, name):
        count = self.npartitions
        if self.n < 0:
            return self._all_but(g, tail, name)
        # Each partition's share is within its first (last) n rows.
        pre = Tail(((self.depth, (self.which, self.n)),))
        # Partitions the slice does not reach are not computed, unless their
        # chain names rows (an invalid date there still fails the whole).
        deferred = self.parent.deferrable() and not any(op[0] == "add_date_part" for op in self.parent.fused_ops())
        if deferred:
            inputs = self.parent.partition_tasks(g, pre, name + "-in")
        else:
            inputs = [(None, key) for key in self.parent.keys(g, pre)]
        order = range(count) if self.which == "head" else range(count - 1, -1, -1)
        partition_tasks = [None] * count
        previous = None
        for i in order:
            func, args = inputs[i]
            partition_tasks[i] = (slice_step, [previous, self.which, self.n, tail, i, func, args])
            previous = (name, i)
        return partition_tasks

    def deferrable(self):
        return False

    def _all_but(self, g, tail, name):
        parts = self.parent.keys(g, Tail())
        counts = f"{name}-rows"
        g.add(counts, {(counts, i): (_rows_of, key) for i, key in enumerate(parts)}, {parts[0][0]})
        total = f"{name}-offsets"
        g.add(total, {(total, 0): (_offsets, *[(counts, i) for i in range(len(parts))])}, {counts})
        return [(slice_all_but, [key, (total, 0), i, self.which, self.n, tail]) for i, key in enumerate(parts)]


def _has_failure(value):
    if isinstance(value, Piece):
        return value.failure is not None
    if isinstance(value, Layout):
        return value.decision.failure is not None
    if isinstance(value, (list, tuple)):
        return any(_has_failure(v) for v in value)
    return False


@owns_frames
def slice_step(previous, which, n, tail, index, func, args):
    """One partition of head(n)/tail(n), n >= 0, after the partition before
    it (for tail, after it): ``carry`` holds the rows still wanted and the
    input's schema."""
    remaining, schema = (n, None) if previous is None else previous.carry
    if func is None:
        piece = args
    elif remaining == 0 and schema is not None and not _has_failure(args):
        piece = Piece(empty_table(*schema))
    else:
        piece = func(*args)
    if piece.failure is not None:
        return Piece(None, piece.failure, piece.rows, piece.pending, carry=(remaining, schema))
    table = piece.value
    take = min(remaining, table.num_rows)
    # Always with a length: pyarrow slices a table without columns to its
    # whole length when none is given.
    table = table.slice(0 if which == "head" else table.num_rows - take, take)
    out = finish(to_frame(table), tail, index, piece.rows, piece.pending)
    out.carry = (remaining - take, schema_of(piece.value))
    return out


def _rows_of(piece):
    return 0 if piece.failure is not None else piece.value.num_rows


def _offsets(*counts):
    return list(counts)


@owns_frames
def slice_all_but(piece, counts, index, which, n, tail):
    """head(n)/tail(n), n < 0: the rows of this partition among all but the
    last (first) -n rows of the whole."""
    if piece.failure is not None:
        return piece
    total = sum(counts)
    keep = max(total + n, 0)
    before = sum(counts[:index])
    rows = piece.value.num_rows
    if which == "head":
        start, stop = 0, max(0, min(rows, keep - before))
    else:
        start, stop = min(rows, max(0, total - keep - before)), rows
    return finish(to_frame(piece.value.slice(start, stop - start)), tail, index, piece.rows, piece.pending)




class Aggregate(Node):
    """One reduction of a grouping: one partial per partition, combined in a
    tree (per hash bucket of the keys when ``split_out`` > 1). The partials
    and their combining are shared by every reduction of the same column, so
    its min, mean and max computed together read the data once."""

    kind = "group"

    def __init__(self, parent, request, method, split_out):
        super().__init__(request.depth, split_out, tokenize(parent.token, request, method, split_out))
        self.parent = parent
        self.request = request
        self.method = method
        self.split_out = split_out

    def exact(self):
        """The same reduction with the exact running-sum extremes of every
        partition, for an i64 verdict the bounds left open."""
        return Aggregate(self.parent, dataclasses.replace(self.request, exact=True), self.method, self.split_out)

    def partition_tasks(self, g, tail, name):
        parts = self.parent.keys(g, Tail((), self.request))
        shared = f"tarnwick-partials-{tokenize(self.parent.token, self.request, self.split_out)}"
        buckets = self.split_out
        if buckets == 1:
            root = _tree(g, shared, parts, "")
            return [(run_aggregate, [root, self.method, self.request, self.token, tail, 0])]
        split = f"{shared}-split"
        g.add(split, {(split, i): (_group.split_buckets, key, buckets) for i, key in enumerate(parts)},
              {parts[0][0]})
        take = f"{shared}-bucket"
        g.add(take, {(take, i, b): (operator.getitem, (split, i), b) for i in range(len(parts))
                     for b in range(buckets)}, {split})
        roots = [_tree(g, shared, [(take, i, b) for i in range(len(parts))], f"-{b}") for b in range(buckets)]
        results = f"{name}-result"
        inputs = len(parts)
        g.add(results, {(results, b): (bucket_result, root, self.method, self.request, self.token, buckets, inputs)
                        for b, root in enumerate(roots)}, _layers_in(roots, set()))
        # Output partition j takes from each bucket only the groups that are
        # its own, so no task receives every group.
        cut = f"{name}-cut"
        g.add(cut, {(cut, b, j): (operator.getitem, (results, b), j) for b in range(buckets)
                    for j in range(buckets)}, {results})
        return [(gather_buckets, [[(cut, b, j) for b in range(buckets)], j, tail]) for j in range(buckets)]


def _tree(g, name, keys, suffix):
    level = 0
    while len(keys) > 1 or level == 0:
        layer = f"{name}-combine{suffix}-{level}"
        groups = [keys[i:i + SPLIT_EVERY] for i in range(0, len(keys), SPLIT_EVERY)]
        g.add(layer, {(layer, j): (_group.combine, *group) for j, group in enumerate(groups)},
              _layers_in(keys, set()))
        keys = [(layer, j) for j in range(len(groups))]
        level += 1
    return keys[0]


@owns_frames
def run_aggregate(root, method, request, token, tail, index):
    root = _settled(root)
    done = _group.result(root, method, request, token)
    if done.failure is not None:
        return done
    table, _ = done.value
    return finish(to_frame(table), tail, index, {}, done.pending)


def bucket_result(root, method, request, token, buckets, inputs):
    """A bucket's finished groups, cut into the runs that the output
    partitions take: run j holds the groups whose first row lies in the j-th
    run of input partitions. A failure goes to every run."""
    done = _group.result(_settled(root), method, request, token)
    if done.failure is not None:
        return [done] * buckets
    table, first = done.value
    partition = first >> 32
    runs = []
    for j in range(buckets):
        low, high = (j * inputs) // buckets, ((j + 1) * inputs) // buckets
        rows = ((partition >= low) & (partition < high)).nonzero()[0]
        runs.append(Piece((table.take(pa.array(rows)), first[rows]), None, done.rows, done.pending))
    return runs


def _settled(piece):
    if piece.failure is None:
        return Piece(piece.value, None, {}, piece.pending)
    return Piece(None, piece.failure.settled(), {}, piece.pending)


@owns_frames
def gather_buckets(runs, j, tail):
    """Output partition j of a bucketed aggregation: each bucket's run of
    groups whose first row lies in the j-th run of input partitions, in
    order of first row."""
    merged = settle(runs)
    if merged.failure is not None:
        return merged
    tables, firsts = [], []
    for r in runs:
        table, first = r.value
        tables.append(table)
        firsts.append(first)
    first = np.concatenate(firsts)
    table = pa.concat_tables(tables).take(pa.array(np.argsort(first, kind="stable")))
    return finish(to_frame(table), tail, j, {}, merged.pending)
