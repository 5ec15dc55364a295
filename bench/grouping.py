"""Grouping and aggregation timings against pandas and pyarrow.

Run with `./dev python bench/grouping.py`. The data are drawn with a fixed
seed; each timing is the best of several runs, and only ratios measured in
the same run are worth comparing.
"""
import sys
import time

import numpy as np

import tarnwick

ROWS = 1_000_000
REPEATS = 7


def best_ms(fn, repeats=REPEATS):
    fn()  # warm up
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best * 1000


def report(title, timings):
    ours = timings["tarnwick"]
    print(title)
    for who, ms in timings.items():
        ratio = "" if who == "tarnwick" else f"  (tarnwick is {ms / ours:.2f}x as fast)"
        print(f"  {who:9} {ms:8.2f} ms{ratio}")


def with_missing_ints(values, missing):
    """An i64 column with missing entries can only come from CSV text."""
    lines = ["n"] + ["" if gone else str(v) for v, gone in zip(values, missing)]
    return tarnwick.read_csv("\n".join(lines) + "\n")


def main():
    import pandas as pd
    import pyarrow as pa

    rng = np.random.default_rng(20240611)
    keys = np.array([f"key{i:04d}" for i in range(1000)])[rng.integers(0, 1000, ROWS)]
    x = rng.normal(100.0, 15.0, ROWS)
    j = rng.integers(0, 10, ROWS)
    small = np.array(["north", "south", "east", "west", "up", "down", "left", "right"])[
        rng.integers(0, 8, ROWS)]
    n = rng.integers(-1_000_000, 1_000_000, ROWS)
    missing = rng.random(ROWS) < 0.05

    f = tarnwick.Frame()
    f.add_strings("k", keys.tolist())
    f.add_floats("x", x.tolist())
    f.add_ints("j", j.tolist())
    f.add_strings("s", small.tolist())
    if hasattr(tarnwick, "read_csv"):
        m = with_missing_ints(n.tolist(), missing)
        m.add_strings("s", small.tolist())
        missing_note = "with 5 % missing"
    else:
        m = tarnwick.Frame()
        m.add_ints("n", n.tolist())
        m.add_strings("s", small.tolist())
        missing_note = "none missing: this build has no read_csv to make missing entries"

    nf = np.where(missing, np.nan, n.astype(np.float64))
    df = pd.DataFrame({"k": keys, "x": x, "j": j, "s": small, "n": nf})
    table = pa.table({"k": keys, "x": x, "j": j, "s": small,
                      "n": pa.array(n, mask=missing)})

    # Same answers first: the sums per key agree with pandas.
    ours = f.group(["k"]).sum("x")
    theirs = df.groupby("k", sort=False)["x"].sum()
    assert ours.strings("k") == theirs.index.tolist()
    assert np.allclose(ours.floats("x"), theirs.to_numpy(), rtol=1e-12)

    report(f"group {ROWS} rows by a str key (1000 values), sum an f64 column", {
        "tarnwick": best_ms(lambda: f.group(["k"]).sum("x")),
        "pyarrow": best_ms(lambda: table.group_by("k", use_threads=False).aggregate([("x", "sum")])),
        "pandas": best_ms(lambda: df.groupby("k", sort=False)["x"].sum()),
    })
    report("group by a str key and an i64 key (10 values), count", {
        "tarnwick": best_ms(lambda: f.group(["k", "j"]).count()),
        "pyarrow": best_ms(lambda: table.group_by(["k", "j"], use_threads=False)
                           .aggregate([([], "count_all")])),
        "pandas": best_ms(lambda: df.groupby(["k", "j"], sort=False).size()),
    })
    report(f"mean of an i64 column ({missing_note}) by a str key (8 values)", {
        "tarnwick": best_ms(lambda: m.group(["s"]).mean("n")),
        "pyarrow": best_ms(lambda: table.group_by("s", use_threads=False).aggregate([("n", "mean")])),
        "pandas": best_ms(lambda: df.groupby("s", sort=False)["n"].mean()),
    })

    report("group by an f64 key with every row its own group, count", {
        "tarnwick": best_ms(lambda: f.group(["x"]).count(), repeats=3),
        "pyarrow": best_ms(lambda: table.group_by("x", use_threads=False)
                           .aggregate([([], "count_all")]), repeats=3),
        "pandas": best_ms(lambda: df.groupby("x", sort=False).size(), repeats=3),
    })

    g = f.group(["k"])
    print("parts of the first case")
    print(f"  group      {best_ms(lambda: f.group(['k'])):8.2f} ms")
    print(f"  sum        {best_ms(lambda: g.sum('x')):8.2f} ms")
    print(f"  group i64  {best_ms(lambda: f.group(['j'])):8.2f} ms")
    print(f"  group k, j {best_ms(lambda: f.group(['k', 'j'])):8.2f} ms")
    gs = m.group(["s"])
    print("parts of the third case")
    print(f"  group      {best_ms(lambda: m.group(['s'])):8.2f} ms")
    print(f"  mean       {best_ms(lambda: gs.mean('n')):8.2f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
