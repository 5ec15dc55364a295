"""Row operations of tarnwick against numpy, pandas and pyarrow.

Run with `./dev python bench/row_ops.py [ROWS]`. Fixed seed; every timing is
the best of several runs of one call, in milliseconds. The ratio is the other
library's time divided by tarnwick's: above 1 means tarnwick is faster.
"""
import os
import sys
import time

import numpy as np

import tarnwick

try:
    import pandas as pd
except ImportError:  # pragma: no cover - the bench environment has it
    pd = None
try:
    import pyarrow as pa
    import pyarrow.compute as pc
except ImportError:  # pragma: no cover
    pa = pc = None

ROWS = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
REPEATS = 7


def best_ms(call, repeats=REPEATS):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    return best * 1e3


def main():
    rng = np.random.default_rng(20241207)
    floats = rng.random(ROWS)
    ints = rng.integers(-(10**9), 10**9, ROWS)
    keys = np.array([f"key_{i:04d}" for i in range(1000)], dtype=object)
    key_column = keys[rng.integers(0, 1000, ROWS)].tolist()
    wanted = [f"key_{i:04d}" for i in range(0, 1000, 100)]  # ten keys
    days = rng.integers(0, 365 * 60, ROWS)
    dates = np.datetime_as_string(np.datetime64("1970-01-01") + days.astype("timedelta64[D]")).tolist()

    f = tarnwick.Frame()
    f.add_floats("x", floats.tolist())
    f.add_ints("n", ints.tolist())
    f.add_strings("k", key_column)
    f.add_strings("d", dates)

    rows = []

    def row(label, ours, others):
        rows.append((label, ours, others))

    # Filters.
    threshold = 0.5
    ours = best_ms(lambda: f.where_gt("x", threshold))
    others = {"numpy": best_ms(lambda: np.flatnonzero(floats > threshold))}
    if pd is not None:
        frame = pd.DataFrame({"x": floats})
        others["pandas"] = best_ms(lambda: frame[frame["x"] > threshold])
    if pa is not None:
        table = pa.table({"x": floats})
        others["pyarrow"] = best_ms(lambda: table.filter(pc.greater(table["x"], threshold)))
    row("where_gt f64 (half kept)", ours, others)

    ours = best_ms(lambda: f.where_lt("n", 2.5))
    others = {"numpy": best_ms(lambda: np.flatnonzero(ints < 2.5))}
    if pd is not None:
        frame_n = pd.DataFrame({"n": ints})
        others["pandas"] = best_ms(lambda: frame_n[frame_n["n"] < 2.5])
    row("where_lt i64 with 2.5", ours, others)

    ours = best_ms(lambda: f.where_in("k", wanted))
    others = {}
    if pa is not None:
        ktable = pa.table({"k": pa.array(key_column)})
        value_set = pa.array(wanted)
        others["pyarrow"] = best_ms(
            lambda: ktable.filter(pc.is_in(ktable["k"], value_set=value_set)))
    if pd is not None:
        kframe = pd.DataFrame({"k": key_column})
        others["pandas"] = best_ms(lambda: kframe[kframe["k"].isin(wanted)])
    row("where_in str, 10 keys", ours, others)

    ours = best_ms(lambda: f.where_is("k", "key_0500"))
    others = {}
    if pa is not None:
        others["pyarrow"] = best_ms(lambda: ktable.filter(pc.equal(ktable["k"], "key_0500")))
    row("where_is str", ours, others)

    among = [float(v) for v in ints[:10]]
    ours = best_ms(lambda: f.where_among("n", among))
    others = {"numpy": best_ms(lambda: np.flatnonzero(np.isin(ints, np.array(among))))}
    row("where_among i64, 10 values", ours, others)

    # Sorting.
    ours = best_ms(lambda: f.sort("x", False), 5)
    others = {"numpy": best_ms(lambda: np.argsort(floats, kind="stable"), 5)}
    if pa is not None:
        farr = pa.array(floats)
        others["pyarrow"] = best_ms(lambda: pc.sort_indices(farr), 5)
    row("sort f64 random", ours, others)

    ours = best_ms(lambda: f.sort("n", True), 5)
    others = {"numpy": best_ms(lambda: np.argsort(-ints, kind="stable"), 5)}
    if pa is not None:
        iarr = pa.array(ints)
        others["pyarrow"] = best_ms(
            lambda: pc.sort_indices(iarr, sort_keys=[("", "descending")]), 5)
    row("sort i64 descending", ours, others)

    ours = best_ms(lambda: f.sort("k", False), 3)
    others = {}
    if pa is not None:
        karr = pa.array(key_column)
        others["pyarrow"] = best_ms(lambda: pc.sort_indices(karr), 3)
    if pd is not None:
        kseries = pd.Series(key_column)
        others["pandas"] = best_ms(lambda: kseries.sort_values(kind="stable"), 3)
    row("sort str (1,000 keys)", ours, others)

    filtered = f.where_gt("x", 0.25)
    ours = best_ms(lambda: filtered.sort("x", False), 5)
    kept = floats[floats > 0.25]
    others = {"numpy": best_ms(lambda: np.argsort(kept, kind="stable"), 5)}
    row("sort f64 of a filtered frame", ours, others)

    # Slicing and projection.
    row("head(h) (no allocation)", best_ms(lambda: f.head(ROWS)), {})
    row("tail(h / 2)", best_ms(lambda: f.tail(ROWS // 2)), {})
    row("select 2 of 4 columns", best_ms(lambda: f.select(["k", "x"])), {})

    # Date parts: each run adds a column to a fresh frame that shares nothing.
    def date_part():
        g = tarnwick.Frame()
        g.add_strings("d", dates)
        start = time.perf_counter()
        g.add_date_part("y", "d", "year")
        return time.perf_counter() - start

    ours = min(date_part() for _ in range(REPEATS)) * 1e3
    others = {}
    if pa is not None:
        darr = pa.array(dates)
        others["pyarrow"] = best_ms(lambda: pc.year(pc.strptime(darr, format="%Y-%m-%d", unit="s")))
    if pd is not None:
        dseries = pd.Series(dates)
        others["pandas"] = best_ms(lambda: pd.to_datetime(dseries, format="%Y-%m-%d").dt.year, 3)
    row("add_date_part year", ours, others)

    print(f"{ROWS:,} rows; ms, best of several; ratio = other / tarnwick")
    print(f"{'operation':32} {'tarnwick':>9}  others")
    for label, ours, others in rows:
        text = "  ".join(f"{name} {ms:8.2f} ({ms / ours:5.1f}x)" for name, ms in others.items())
        print(f"{label:32} {ours:9.2f}  {text}")


if __name__ == "__main__":
    # A current numpy runs slower under the OpenBLAS overrides some machines
    # set; they do not matter for these kernels, which use no BLAS.
    os.environ.pop("OPENBLAS_CORETYPE", None)
    main()
