"""The costs of exchanging data: a frame handed to pyarrow through the Arrow
PyCapsule interface, and columns added from numpy and pyarrow arrays, against
one copy of the same values.

    ./dev python bench/exchange.py [--rows 1000000]

prints one line per measurement (median of 7 calls after a warm-up) and the
memory an export allocates, measured in a fresh process.
"""
import argparse
import gc
import json
import pathlib
import statistics
import subprocess
import sys
import time

import numpy as np
import pyarrow as pa

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import datasets  # noqa: E402
import tarnwick  # noqa: E402


class Timing:
    """Medians of wall time and of processor time (user and system), in ms.
    On a shared machine the processor time is the steadier of the two."""

    def __init__(self, call, repeat=9):
        call()
        walls, cpus = [], []
        for _ in range(repeat):
            gc.collect()
            wall, cpu = time.perf_counter(), time.process_time()
            result = call()
            cpus.append(time.process_time() - cpu)
            walls.append(time.perf_counter() - wall)
            del result
        self.wall = statistics.median(walls) * 1e3
        self.cpu = statistics.median(cpus) * 1e3

    def __str__(self):
        return f"{self.wall:8.2f} ms wall {self.cpu:8.2f} ms cpu"


def added(method, values):
    f = tarnwick.Frame()
    getattr(f, method)("c", values)
    return f


def peak_of_export(rows, which):
    """Run in a fresh process: the memory an export allocates. The export
    makes no temporaries (the batch shares what the stream built), so what
    the table holds while it lives is also the peak the export adds."""
    from memory import allocated_bytes

    data = datasets.Mixed(rows)
    frame = tarnwick.read_csv(data.csv)
    del data
    source = frame if which == "whole frame" else frame.where_gt("x", 0.5)
    gc.collect()
    before = allocated_bytes()
    table = pa.table(source)
    print(json.dumps({"allocated_bytes": allocated_bytes() - before,
                      "table_bytes": table.nbytes}))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--peak", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.peak:
        return peak_of_export(args.rows, args.peak)
    data = datasets.Mixed(args.rows)
    frame = tarnwick.read_csv(data.csv)
    print(f"{args.rows:,} rows, mixed frame of {frame.width()} columns")
    print(f"pyarrow.table(frame)                {Timing(lambda: pa.table(frame))}")
    selected = frame.where_gt("x", 0.5)
    print(f"pyarrow.table(frame.where_gt(...))  {Timing(lambda: pa.table(selected))}"
          f"  ({selected.height():,} rows)")
    floats, ints = np.array(data.x), np.array(data.id, dtype=np.int64)
    copy = Timing(lambda: floats.copy())
    print(f"one copy of 1M float64 (numpy)      {copy}")
    for label, method, values in [("add_floats, numpy float64", "add_floats", floats),
                                  ("add_ints, numpy int64", "add_ints", ints),
                                  ("add_floats, pyarrow float64", "add_floats", pa.array(floats)),
                                  ("add_ints, pyarrow int64", "add_ints", pa.array(ints)),
                                  ("add_strings, pyarrow utf8", "add_strings", pa.array(data.key)),
                                  ("add_strings, pyarrow text", "add_strings", pa.array(data.text))]:
        took = Timing(lambda: added(method, values))
        ratio = "" if method == "add_strings" else f"  {took.cpu / copy.cpu:5.2f}x the copy"
        print(f"{label:35} {took}{ratio}")
    for name in ("whole frame", "where_gt"):
        out = subprocess.run([sys.executable, __file__, "--peak", name, "--rows", str(args.rows)],
                             check=True, capture_output=True, text=True).stdout
        m = json.loads(out)
        print(f"memory an export allocates, {name:11} {m['allocated_bytes'] / 1e6:6.1f} MB"
              f" (the table's buffers: {m['table_bytes'] / 1e6:.1f} MB)")


if __name__ == "__main__":
    main()
