"""DaskFrame and DaskGrouped: dask collections with the operations of a
tarnwick Frame and Grouped."""

import os
from collections.abc import Sequence
from typing import Any, SupportsFloat, SupportsIndex

import dask
import dask.threaded
import pyarrow as pa
import tarnwick
from dask.base import tokenize
from dask.utils import parse_bytes

from . import _csv, _files, _ops, _plan
from ._frames import concat, to_table
from ._frames import to_frame as _to_frame
from ._group import COUNT, GroupRequest
from ._pieces import Piece, merge

DEFAULT_BLOCKSIZE = 64 * 2 ** 20
# Input partitions per bucket of groups when group() is not told how many.
GROUPS_PER_BUCKET = 16


class _Collection:
    """The dask collection protocol over a plan node and the step that ends
    each partition's work; ``finalize`` turns the partitions' pieces into
    the result on the calling thread."""

    def __init__(self, node, tail, finalize):
        self._node = node
        self._tail = tail
        self._finalize = finalize
        self._built = None

    def _build(self):
        if self._built is None:
            g = _plan.Graph()
            keys = self._node.keys(g, self._tail)
            self._built = (g.highlevel(), keys)
        return self._built

    def __dask_graph__(self):
        return self._build()[0]

    def __dask_keys__(self):
        return list(self._build()[1])

    def __dask_layers__(self):
        return (self._build()[1][0][0],)

    def __dask_tokenize__(self):
        return tokenize(self._node.token, self._tail)

    @staticmethod
    def __dask_optimize__(dsk, keys, **kwargs):
        return dsk

    __dask_scheduler__ = staticmethod(dask.threaded.get)

    def __dask_postcompute__(self):
        return self._finalize, (self._node,)


class DaskFrame(_Collection):
    """A frame split into partitions, computed by dask. Operations build a
    plan; ``compute()`` runs it and gives a ``tarnwick.Frame`` equal to what
    the same operations give on one machine."""

    def __init__(self, node: Any) -> None:
        super().__init__(node, _plan.Tail(), _finalize_frame)

    def __repr__(self) -> str:
        return f"DaskFrame({self.npartitions} partitions)"

    def __dask_postpersist__(self):
        return _rebuild, (self.__dask_layers__()[0], self.__dask_keys__(), self._node)

    @property
    def npartitions(self) -> int:
        return self._node.npartitions

    def _map(self, op: tuple[Any, ...]) -> "DaskFrame":
        return DaskFrame(_plan.Map(self._node, op))

    # ---- operations (lazy) ----------------------------------------------

    def where_eq(self, name: str, value: SupportsFloat | SupportsIndex) -> "DaskFrame":
        return self._map(_ops.where("where_eq", name, value))

    def where_ne(self, name: str, value: SupportsFloat | SupportsIndex) -> "DaskFrame":
        return self._map(_ops.where("where_ne", name, value))

    def where_lt(self, name: str, value: SupportsFloat | SupportsIndex) -> "DaskFrame":
        return self._map(_ops.where("where_lt", name, value))

    def where_le(self, name: str, value: SupportsFloat | SupportsIndex) -> "DaskFrame":
        return self._map(_ops.where("where_le", name, value))

    def where_gt(self, name: str, value: SupportsFloat | SupportsIndex) -> "DaskFrame":
        return self._map(_ops.where("where_gt", name, value))

    def where_ge(self, name: str, value: SupportsFloat | SupportsIndex) -> "DaskFrame":
        return self._map(_ops.where("where_ge", name, value))

    def where_is(self, name: str, value: str) -> "DaskFrame":
        return self._map(_ops.where("where_is", name, value))

    def where_in(self, name: str, values: Sequence[str]) -> "DaskFrame":
        return self._map(_ops.where("where_in", name, values))

    def where_among(self, name: str, values: Sequence[SupportsFloat | SupportsIndex]) -> "DaskFrame":
        return self._map(_ops.where("where_among", name, values))

    def select(self, names: Sequence[str]) -> "DaskFrame":
        return self._map(_ops.select(names))

    def add_date_part(self, name: str, source: str, part: str) -> None:
        """Adds the column in place, as Frame.add_date_part does; an invalid
        date fails the next computation."""
        self._node = _plan.Map(self._node, _ops.add_date_part(name, source, part))
        self._built = None

    def sort(self, name: str, descending: bool) -> "DaskFrame":
        op = _ops.sort(name, descending)
        if self.npartitions == 1:
            return self._map(op)
        return DaskFrame(_plan.Sort(self._node, op[1], op[2]))

    def head(self, n: SupportsIndex) -> "DaskFrame":
        return DaskFrame(_plan.Slice(self._node, "head", _ops.head(n)[1]))

    def tail(self, n: SupportsIndex) -> "DaskFrame":
        return DaskFrame(_plan.Slice(self._node, "tail", _ops.tail(n)[1]))

    def group(self, names: Sequence[str], split_out: int | None = None) -> "DaskGrouped":
        """A DaskGrouped. ``split_out`` > 1 combines the groups in that many
        tasks, by a hash of their keys, and gives aggregations that many
        partitions; None (the default) takes one per 16 partitions of the
        frame, so that no task receives every group of a large frame."""
        keys = _ops.group(names)
        split_out = max(1, -(-self.npartitions // GROUPS_PER_BUCKET)) if split_out is None else int(split_out)
        if split_out < 1:
            raise ValueError(f"split_out must be at least 1, not {split_out}")
        return DaskGrouped(self._node, keys, split_out)

    # ---- results (computed) ----------------------------------------------

    def compute(self, **kwargs: Any) -> tarnwick.Frame:
        """The whole frame as one tarnwick.Frame, made on the calling thread."""
        return dask.compute(self, **kwargs)[0]

    def persist(self, **kwargs: Any) -> "DaskFrame":
        return dask.persist(self, **kwargs)[0]

    def height(self, **kwargs: Any) -> int:
        return dask.compute(_Collection(self._node, _plan.Tail((), _plan.Height()), _finalize_height),
                            **kwargs)[0]

    def _schema(self, **kwargs: Any) -> tuple[list[str], list[str]]:
        return dask.compute(_Collection(self._node, _plan.Tail((), _plan.Schema()), _finalize_schema),
                            **kwargs)[0]

    def names(self, **kwargs: Any) -> list[str]:
        return self._schema(**kwargs)[0]

    def dtypes(self, **kwargs: Any) -> list[str]:
        return self._schema(**kwargs)[1]

    def width(self, **kwargs: Any) -> int:
        return len(self._schema(**kwargs)[0])

    def to_csv(self, directory: str | os.PathLike[str], **kwargs: Any) -> list[str]:
        """Writes one CSV file per partition into ``directory`` (made if
        absent), named part-00000.csv and so on in partition order, and
        returns their paths. Files appear only when every partition
        succeeded."""
        import fsspec.core

        fs, root = fsspec.core.url_to_fs(os.fspath(directory))
        fs.makedirs(root, exist_ok=True)
        width = max(5, len(str(self.npartitions - 1)))
        stamp = tokenize(self._node.token, os.getpid(), id(self))[:12]
        paths = [f"{root.rstrip('/')}/part-{i:0{width}d}.csv" for i in range(self.npartitions)]
        temporary = [f"{root.rstrip('/')}/.part-{i:0{width}d}.csv.{stamp}" for i in range(self.npartitions)]
        query = _Collection(self._node, _plan.Tail((), _plan.ToCsv()), _finalize_written)
        writes = _Writes(query, fs, temporary)
        dask.compute(writes, **kwargs)
        for source, target in zip(temporary, paths):
            fs.mv(source, target)
        protocol = fs.protocol if isinstance(fs.protocol, str) else fs.protocol[0]
        if protocol in ("file", "local"):
            return paths
        return [f"{protocol}://{p}" for p in paths]

    def visualize(self, filename: str = "tarnwick", format: str | None = None, **kwargs: Any) -> Any:
        return dask.visualize(self, filename=filename, format=format, **kwargs)


class _Writes(_Collection):
    """Each partition's CSV text written to its file by the task that made
    it; the finalize removes them all if any partition failed."""

    def __init__(self, query, fs, paths):
        self._query = query
        self._fs = fs
        self._paths = paths
        super().__init__(query._node, query._tail, None)

    def _build(self):
        if self._built is None:
            graph, keys = self._query._build()
            name = f"tarnwick-write-{tokenize(keys, self._paths)}"
            layer = {(name, i): (_write_piece, key, self._fs, path)
                     for i, (key, path) in enumerate(zip(keys, self._paths))}
            graph = dask.highlevelgraph.HighLevelGraph(
                {**graph.layers, name: layer}, {**graph.dependencies, name: {keys[0][0]}})
            self._built = (graph, [(name, i) for i in range(len(keys))])
        return self._built

    def __dask_postcompute__(self):
        return _finalize_writes, (self._fs, self._paths)


def _write_piece(piece, fs, path):
    if piece.failure is None:
        with fs.open(path, "w", encoding="utf-8", newline="") as out:
            out.write(piece.value)
    return Piece(None, piece.failure, piece.rows, piece.pending)


def _finalize_writes(results, fs, paths):
    try:
        _raise_failure(merge(results), None)
    except BaseException:
        for path in paths:
            if fs.exists(path):
                fs.rm(path)
        raise


class DaskGrouped:
    """A DaskFrame split by the values of some columns; each aggregation is
    a DaskFrame with the key columns first, one row per group, groups in
    order of first appearance over the whole frame."""

    def __init__(self, node: Any, keys: tuple[str, ...], split_out: int) -> None:
        self._node = node
        self._keys = keys
        self._split_out = split_out

    def __repr__(self) -> str:
        return f"DaskGrouped(by {', '.join(self._keys)})"

    def _aggregate(self, method: str, name: str | None) -> DaskFrame:
        depth = self._node.depth + 1
        request = GroupRequest(self._keys, name, depth, depth + 1)
        return DaskFrame(_plan.Aggregate(self._node, request, method, self._split_out))

    def count(self) -> DaskFrame:
        return self._aggregate(COUNT, None)

    def sum(self, name: str) -> DaskFrame:
        return self._aggregate("sum", _ops.aggregate_name("sum", name))

    def mean(self, name: str) -> DaskFrame:
        return self._aggregate("mean", _ops.aggregate_name("mean", name))

    def min(self, name: str) -> DaskFrame:
        return self._aggregate("min", _ops.aggregate_name("min", name))

    def max(self, name: str) -> DaskFrame:
        return self._aggregate("max", _ops.aggregate_name("max", name))

    def groups(self, **kwargs: Any) -> int:
        """The number of groups (computed)."""
        return self.count().height(**kwargs)


# ---- finishing on the client --------------------------------------------


def _raise_failure(merged, node):
    failure = merged.failure
    for depth, token in merged.pending:
        if failure is not None and failure.depth < depth:
            continue
        found = _exact_verdict(node, token)
        if found is not None and (failure is None or (found.depth, found.rank) < (failure.depth, failure.rank)):
            failure = found
    if failure is not None:
        raise failure.exception()


def _exact_verdict(node, token):
    """Settles an i64 sum verdict the bounds left open: the aggregation again,
    with the exact extremes of every partition's running sums."""
    while node is not None and not (isinstance(node, _plan.Aggregate) and node.token == token):
        node = node.parent
    if node is None:
        raise AssertionError("a pending verdict whose aggregation is not in the plan")
    exact = _Collection(node.exact(), _plan.Tail((), _plan.Height()), lambda results, _: merge(results))
    merged = dask.compute(exact)[0]
    return merged.failure


def _finalize_frame(results, node):
    results = list(results)
    _raise_failure(merge(results), node)
    table = concat([r.value for r in results])
    if _in_worker():
        # client.compute finishes on a worker, whose thread cannot hand a
        # frame on: the future holds the Arrow table (see to_frame).
        return table
    return _to_frame(table)


def _in_worker():
    try:
        from distributed import get_worker
    except ImportError:
        return False
    try:
        get_worker()
    except ValueError:
        return False
    return True


def _finalize_height(results, node):
    results = list(results)
    _raise_failure(merge(results), node)
    return sum(r.value for r in results)


def _finalize_schema(results, node):
    results = list(results)
    _raise_failure(merge(results), node)
    names, kinds = results[0].value
    return list(names), list(kinds)


def _finalize_written(results, node):
    return results


def _rebuild(dsk, layer, keys, node, rename=None):
    if rename:
        layer = rename.get(layer, layer)
        keys = [(rename.get(k[0], k[0]), *k[1:]) for k in keys]
    graph = {k: dsk[k] for k in keys}
    return DaskFrame(_plan.Persisted(layer, graph, keys, node))


# ---- sources --------------------------------------------------------------


def read_csv(paths: str | os.PathLike[str] | Sequence[str | os.PathLike[str]],
             blocksize: int | str | None = DEFAULT_BLOCKSIZE) -> DaskFrame:
    """A DaskFrame of CSV files: a path, a glob, an fsspec URL or a list of
    them. Each file is one CSV text with its header; a file is cut into
    blocks of about ``blocksize`` bytes (an int, a text such as "64 MiB", or
    None for whole files), each read by tarnwick."""
    files = _files.expand(paths)
    if isinstance(blocksize, str):
        blocksize = parse_bytes(blocksize)
    if blocksize is not None:
        blocksize = int(blocksize)
        if blocksize < 1:
            raise ValueError(f"blocksize must be at least 1 byte, not {blocksize}")
    blocks = _csv.blocks_of(files, blocksize)
    stamps = [(f.path, f.size, _mtime(f)) for f in files]
    return DaskFrame(_plan.CsvSource(blocks, tokenize("csv", stamps, blocksize)))


def _mtime(file):
    if file.fs is None:
        return os.stat(file.path).st_mtime_ns
    try:
        return str(file.fs.info(file.path).get("mtime", ""))
    except Exception:
        return ""


def to_frame(table: pa.Table) -> tarnwick.Frame:
    """A new tarnwick.Frame, on the calling thread, of an Arrow table's
    int64, float64 and string columns: what ``client.compute`` and
    ``client.gather`` give for a DaskFrame."""
    return _to_frame(table)


def from_frame(frame: tarnwick.Frame, npartitions: int) -> DaskFrame:
    """A DaskFrame of a frame's rows, cut into ``npartitions`` runs of about
    equal length (some empty when the frame is short)."""
    if not isinstance(frame, tarnwick.Frame):
        raise TypeError(f"frame must be a tarnwick.Frame, not {type(frame).__name__}")
    if not isinstance(npartitions, int) or isinstance(npartitions, bool) or npartitions < 1:
        raise ValueError(f"npartitions must be an int of at least 1, not {npartitions!r}")
    height = frame.height()
    tables = []
    for i in range(npartitions):
        start, stop = (i * height) // npartitions, ((i + 1) * height) // npartitions
        # A frame with a row selection is gathered by its export, so each
        # partition carries only its own rows.
        part = frame if (start, stop) == (0, height) else frame.tail(height - start).head(stop - start)
        tables.append(to_table(part))
    return DaskFrame(_plan.FrameSource(tables))

