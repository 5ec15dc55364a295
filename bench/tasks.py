"""The benchmark tasks: for each system, how to prepare its input (untimed), the
timed call, and the meaning of its result, which must agree across systems
before any time counts."""
import io
import math
import os

import tarnwick

import datasets

try:
    import pandas as pd
except ImportError:  # the peers are optional: without them only tarnwick runs
    pd = None
try:
    import numpy as np
except ImportError:
    np = None
try:
    import pyarrow as pa
    import pyarrow.compute as pc
    import pyarrow.csv as pacsv
except ImportError:
    pa = None

CORES = os.cpu_count() or 1
THRESHOLD = 0.5
KEYS_10 = [f"key{k:04d}" for k in range(0, 1000, 100)]


def systems_available():
    names = ["tarnwick"]
    if pd is not None:
        names.append("pandas")
    if pa is not None:
        names += ["pyarrow-1t", "pyarrow"]
    if np is not None:
        names.append("numpy")  # a peer of the tasks that say so only
    return names


def set_threads(system):
    """pyarrow-1t runs on one thread and pyarrow on all cores; the rest have one."""
    if pa is not None:
        count = CORES if system == "pyarrow" else 1
        pa.set_cpu_count(count)
        pa.set_io_thread_count(count)


def threaded(system):
    return system == "pyarrow"


# -- loading a table per system ---------------------------------------------------

def load(system, text, raw):
    if system == "tarnwick":
        return tarnwick.read_csv(text)
    if system == "pandas":
        return pd.read_csv(io.StringIO(text))
    options = pacsv.ReadOptions(use_threads=threaded(system))
    # Dates stay text, as in the other systems; the year task parses them.
    convert = pacsv.ConvertOptions(column_types={"date": pa.string()})
    return pacsv.read_csv(pa.BufferReader(raw), read_options=options, convert_options=convert)


# -- meanings: what must agree ------------------------------------------------------

def close(a, b):
    return math.isclose(a, b, rel_tol=1e-9, abs_tol=1e-9)


def same_meaning(a, b):
    if isinstance(a, float) and isinstance(b, float):
        return close(a, b) or (math.isnan(a) and math.isnan(b))
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(same_meaning(a[k], b[k]) for k in a)
    if isinstance(a, (list, tuple)) and isinstance(b, (list, tuple)):
        return len(a) == len(b) and all(same_meaning(x, y) for x, y in zip(a, b))
    if a is None or b is None:
        return True  # an order that a system does not promise is not compared
    return a == b


def int_or_none(v):
    if v is None or (isinstance(v, float) and math.isnan(v)):
        return None
    return int(v)


def column(system, table, name):
    """A column of a loaded or derived table as a Python list."""
    if system == "tarnwick":
        kind = table.dtypes()[table.names().index(name)]
        return {"i64": table.ints, "f64": table.floats, "str": table.strings}[kind](name)
    if system == "pandas":
        return table[name].tolist()
    return table[name].to_pylist()


def height(system, table):
    if system == "tarnwick":
        return table.height()
    return len(table)


def table_meaning(system, table):
    ids = column(system, table, "id")
    v = [int_or_none(x) for x in column(system, table, "v")]
    return (height(system, table), sum(ids), sum(x for x in v if x is not None),
            math.fsum(column(system, table, "x")))


def rows_meaning(system, table):
    return (height(system, table), sum(column(system, table, "id")))


def groups_meaning(keys, values, ordered=True):
    """Each group's value, and the order of the groups where the system
    promises first appearance (pyarrow does not)."""
    keys = [tuple(k) if isinstance(k, (list, tuple)) else k for k in keys]
    values = [None if v is None or (isinstance(v, float) and math.isnan(v)) else float(v)
              for v in values]
    return {"values": dict(zip(keys, values)), "order": keys if ordered else None}


# -- the tasks ----------------------------------------------------------------------

class Task:
    name = ""
    unit = "rows"  # throughput unit: rows, or MB of CSV text
    needs = ()  # tarnwick methods the task uses

    def supported(self, system):
        if system == "numpy":
            return False
        if system == "tarnwick":
            return all(hasattr(tarnwick.Frame, m) or hasattr(tarnwick, m) for m in self.needs)
        return True

    def prepare(self, system, data):
        return load(system, data.csv, data.raw)


class ReadCsv(Task):
    """Reading one table's text. The mixed and numeric tables are the data of
    the other tasks; the others (datasets.make_table) are only read."""
    unit = "MB"
    needs = ("read_csv",)

    def __init__(self, table):
        self.table = table
        self.name = f"read_csv, {table}"
        # The systems read in turns (bench/run.py), and the float columns of
        # every width too, so that their ratios hold on a shared machine.
        self.group = "widths" if table.endswith(" floats") else self.name

    def source(self, data):
        if self.table == "mixed":
            return data
        if self.table == "numeric":
            return data.numeric
        return data.tables(self.table)

    def prepare(self, system, data):
        source = self.source(data)
        self.checked = getattr(source, "checked", None)  # columns whose sums must agree
        return source

    def run(self, system, source):
        return load(system, source.csv, source.raw)

    def meaning(self, system, result):
        if self.table == "mixed":
            return table_meaning(system, result)
        # Sums of the present values: missing entries are None in one system
        # and NaN in another.
        return (height(system, result),) + tuple(
            math.fsum(float(v) for v in column(system, result, n)
                      if v is not None and not (isinstance(v, float) and math.isnan(v)))
            for n in self.checked)

    def size(self, data):
        return len(self.source(data).raw) / 1e6

    def shape(self, data):
        """The rows of the table read, where they are not the run's."""
        return {"table_rows": self.source(data).rows}


class WhereGt(Task):
    name = "where_gt"
    needs = ("read_csv", "where_gt")

    def run(self, system, t):
        if system == "tarnwick":
            return t.where_gt("x", THRESHOLD)
        if system == "pandas":
            return t[t["x"] > THRESHOLD]
        return t.filter(pc.greater(t["x"], THRESHOLD))

    meaning = staticmethod(rows_meaning)


class WhereIn(Task):
    name = "where_in, 10 keys"
    needs = ("read_csv", "where_in")

    def run(self, system, t):
        if system == "tarnwick":
            return t.where_in("key", KEYS_10)
        if system == "pandas":
            return t[t["key"].isin(KEYS_10)]
        return t.filter(pc.is_in(t["key"], value_set=pa.array(KEYS_10)))

    meaning = staticmethod(rows_meaning)


class SortDescending(Task):
    name = "sort, f64 descending"
    needs = ("read_csv", "sort")

    def run(self, system, t):
        if system == "tarnwick":
            return t.sort("x", True)
        if system == "pandas":
            return t.sort_values("x", ascending=False, kind="stable")
        return pc.sort_indices(t, sort_keys=[("x", "descending")])

    def meaning(self, system, result):
        if system.startswith("pyarrow"):
            order = result.to_pylist()  # positions are the ids
        else:
            order = column(system, result, "id")
        return (len(order), hash(tuple(order)))


class GroupSum(Task):
    name = "group by key, sum"
    needs = ("read_csv", "group")

    def run(self, system, t):
        if system == "tarnwick":
            return t.group(["key"]).sum("x")
        if system == "pandas":
            return t.groupby("key", sort=False)["x"].sum()
        return t.group_by("key", use_threads=threaded(system)).aggregate([("x", "sum")])

    def meaning(self, system, r):
        if system == "tarnwick":
            return groups_meaning(r.strings("key"), r.floats("x"))
        if system == "pandas":
            return groups_meaning(r.index.tolist(), r.tolist())
        return groups_meaning(r["key"].to_pylist(), r["x_sum"].to_pylist(), ordered=False)


class GroupCount(Task):
    name = "group by two keys, count"
    needs = ("read_csv", "group")

    def run(self, system, t):
        if system == "tarnwick":
            return t.group(["key", "cat"]).count()
        if system == "pandas":
            return t.groupby(["key", "cat"], sort=False).size()
        return t.group_by(["key", "cat"], use_threads=threaded(system)).aggregate(
            [([], "count_all")])

    def meaning(self, system, r):
        if system == "tarnwick":
            return groups_meaning(list(zip(r.strings("key"), r.strings("cat"))), r.ints("count"))
        if system == "pandas":
            return groups_meaning(r.index.tolist(), r.tolist())
        return groups_meaning(list(zip(r["key"].to_pylist(), r["cat"].to_pylist())),
                              r["count_all"].to_pylist(), ordered=False)


class MeanWithMissing(Task):
    name = "mean by group, missing"
    needs = ("read_csv", "group")

    def run(self, system, t):
        if system == "tarnwick":
            return t.group(["cat"]).mean("v")
        if system == "pandas":
            return t.groupby("cat", sort=False)["v"].mean()
        return t.group_by("cat", use_threads=threaded(system)).aggregate([("v", "mean")])

    def meaning(self, system, r):
        if system == "tarnwick":
            return groups_meaning(r.strings("cat"), r.floats("v"))
        if system == "pandas":
            return groups_meaning(r.index.tolist(), r.tolist())
        return groups_meaning(r["cat"].to_pylist(), r["v_mean"].to_pylist(), ordered=False)


class ToCsv(Task):
    name = "to_csv"
    unit = "MB"
    needs = ("read_csv", "to_csv")

    def run(self, system, t):
        if system == "tarnwick":
            return t.to_csv()
        if system == "pandas":
            return t.to_csv(index=False)
        sink = io.BytesIO()
        pacsv.write_csv(t, sink, write_options=pacsv.WriteOptions(
            include_header=True))
        return sink.getvalue().decode()

    def meaning(self, system, text):
        # The systems differ in quoting; the lines (no field holds a line
        # break) and the id column agree.
        return text.count("\n")

    def size(self, data):
        return len(data.raw) / 1e6


class FromLists(Task):
    name = "frame from 3 lists"

    def prepare(self, system, data):
        return data

    def run(self, system, d):
        if system == "tarnwick":
            f = tarnwick.Frame()
            f.add_ints("id", d.id)
            f.add_floats("x", d.x)
            f.add_strings("key", d.key)
            return f
        if system == "pandas":
            return pd.DataFrame({"id": d.id, "x": d.x, "key": d.key})
        return pa.table({"id": pa.array(d.id), "x": pa.array(d.x), "key": pa.array(d.key)})

    def meaning(self, system, t):
        return (height(system, t), sum(column(system, t, "id")),
                hash(tuple(column(system, t, "key"))))


class YearOfDate(Task):
    name = "year of a date"
    needs = ("read_csv", "select", "add_date_part")

    def run(self, system, t):
        if system == "tarnwick":
            g = t.select(["date"])
            g.add_date_part("year", "date", "year")
            return g
        if system == "pandas":
            return pd.to_datetime(t["date"], format="%Y-%m-%d").dt.year
        return pc.year(pc.strptime(t["date"], format="%Y-%m-%d", unit="s"))

    def meaning(self, system, r):
        if system == "tarnwick":
            years = r.ints("year")
        elif system == "pandas":
            years = r.tolist()
        else:
            years = r.to_pylist()
        return (len(years), sum(years))


class BackToLists(Task):
    name = "3 columns to lists"
    needs = ("read_csv",)

    def run(self, system, t):
        if system == "tarnwick":
            return [t.ints("id"), t.floats("x"), t.strings("key")]
        if system == "pandas":
            return [t["id"].tolist(), t["x"].tolist(), t["key"].tolist()]
        return [t["id"].to_pylist(), t["x"].to_pylist(), t["key"].to_pylist()]

    def meaning(self, system, lists):
        # pandas' default float parsing is off by an ulp for many texts, so
        # floats are compared by their sum.
        ids, xs, keys = lists
        return (hash(tuple(ids)), math.fsum(xs), hash(tuple(keys)))


# -- exchanging data through Arrow and numpy ----------------------------------------

class ToArrow(Task):
    """The whole frame (or its where_gt rows) as a pyarrow Table: tarnwick
    through the Arrow PyCapsule interface, pandas through pyarrow's converter,
    pyarrow as it is (or filtered)."""
    needs = ("read_csv", "where_gt", "__arrow_c_stream__")

    def __init__(self, filtered):
        self.filtered = filtered
        self.name = "to pyarrow, where_gt" if filtered else "to pyarrow table"

    def supported(self, system):
        return pa is not None and (system != "pyarrow" or self.filtered) and super().supported(system)

    def run(self, system, t):
        if self.filtered:
            t = WhereGt().run(system, t)
        if system == "tarnwick":
            return pa.table(t)
        if system == "pandas":
            return pa.Table.from_pandas(t, preserve_index=False)
        return t

    def meaning(self, system, result):
        return table_meaning("pyarrow", result)


class FromArrays(Task):
    """A column added from one array of 1M values: numpy or pyarrow."""
    needs = ("add_floats",)

    def __init__(self, source, kind):
        self.source, self.kind = source, kind
        self.name = f"{kind} from {source}"

    def supported(self, system):
        return pa is not None and super().supported(system)

    def prepare(self, system, data):
        values = {"float64": data.x, "int64": data.id, "strings": data.key}[self.kind]
        if self.source == "numpy":
            return np.array(values)
        return pa.array(values)

    def run(self, system, values):
        if system == "tarnwick":
            f = tarnwick.Frame()
            {"float64": f.add_floats, "int64": f.add_ints,
             "strings": f.add_strings}[self.kind]("c", values)
            return f
        if system == "pandas":
            return pd.DataFrame({"c": values}, copy=True)
        return pa.table({"c": values})

    def meaning(self, system, t):
        values = column(system, t, "c")
        if self.kind == "strings":
            return (len(values), hash(tuple(values)))
        return (len(values), math.fsum(values))


class OneColumnToList(Task):
    """One column back as a list, on its own. The str columns come in two
    shapes of equal text length: 1,000 repeated keys, and unique values, whose
    time is what decoding every entry costs."""
    unit = "rows"

    def __init__(self, kind):
        self.kind = kind
        self.name = {"i64": "ints() to a list", "f64": "floats() to a list",
                     "repeated": "strings(), repeated values",
                     "unique": "strings(), unique values"}[kind]

    def supported(self, system):
        if system == "numpy":
            return self.kind in ("i64", "f64")
        return super().supported(system)

    def values(self, data):
        if self.kind == "i64":
            return data.id
        if self.kind == "f64":
            return data.x
        if self.kind == "repeated":
            return data.key  # "key0000" to "key0999"
        return [f"k{i:06d}" for i in range(data.rows)]  # as long, all distinct

    def prepare(self, system, data):
        values = self.values(data)
        if system == "tarnwick":
            f = tarnwick.Frame()
            {"i64": f.add_ints, "f64": f.add_floats}.get(self.kind, f.add_strings)("c", values)
            return f
        if system == "numpy":
            return np.array(values)
        if system == "pandas":
            return pd.Series(values)
        return pa.array(values)

    def run(self, system, c):
        if system == "tarnwick":
            return {"i64": c.ints, "f64": c.floats}.get(self.kind, c.strings)("c")
        if system.startswith("pyarrow"):
            return c.to_pylist()
        return c.tolist()

    def meaning(self, system, values):
        if self.kind == "f64":
            return (len(values), math.fsum(values))
        return (len(values), hash(tuple(values)))


def all_tasks():
    reads = [ReadCsv(t) for t in ["mixed", "numeric"] + datasets.table_names()]
    return reads + [WhereGt(), WhereIn(), SortDescending(),
            GroupSum(), GroupCount(), MeanWithMissing(), ToCsv(), FromLists(), YearOfDate(),
            BackToLists(), ToArrow(False), ToArrow(True), FromArrays("numpy", "float64"),
            FromArrays("numpy", "int64"), FromArrays("pyarrow", "float64"),
            FromArrays("pyarrow", "int64"), FromArrays("pyarrow", "strings")] + [
                OneColumnToList(k) for k in ("i64", "f64", "repeated", "unique")]
