"""Reading and writing CSV text: tarnwick against pandas and pyarrow, measured
in one run on the same text.

    ./dev python bench/csv_io.py [--rows N] [--repeat K]

The text has seven mixed columns: an increasing id, a key with about 1,000
values, a category with 8 values, a uniform float in [0, 1), an integer with
5 % missing entries, a YYYY-MM-DD date and free text of 5 to 30 characters of
which about 10 % hold a comma (and so are quoted). Times are the best of K runs
on one thread; faults are the minor page faults of that call. A first read in
a fresh process is slower (its memory is new to the process); it is shown
with the resident-memory high-water mark of that read, counting the text
itself, as a multiple of the text's size.
"""
import argparse
import gc
import io
import os
import random
import resource
import subprocess
import sys
import tempfile
import time

import tarnwick

WORDS = ["alpha", "beta", "gamma", "delta", "north", "south", "river", "stone", "quick", "lazy"]
CATEGORIES = ["groceries", "electronics", "clothing", "furniture", "toys", "books", "garden",
              "automotive"]


def free_text(rng):
    length = rng.randint(5, 30)
    text = ""
    while len(text) < length:
        text += rng.choice(WORDS) + " "
    text = text[:length].strip() or "x"
    if rng.random() < 0.1:
        cut = rng.randint(1, len(text))
        text = text[:cut] + ", " + text[cut:]
        return '"' + text + '"'
    return text


def make_text(rows, seed=7):
    rng = random.Random(seed)
    lines = ["id,key,category,score,count,day,note"]
    for i in range(rows):
        count = "" if rng.random() < 0.05 else str(rng.randint(-100_000, 10_000_000))
        day = f"20{rng.randint(10, 24)}-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}"
        lines.append(f"{i},key{rng.randint(0, 999):04d},{rng.choice(CATEGORIES)},"
                     f"{rng.random()!r},{count},{day},{free_text(rng)}")
    return "\n".join(lines) + "\n"


def best_of(repeat, fn):
    times, faults = [], []
    result = None
    for _ in range(repeat):
        result = None
        gc.collect()
        before = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
        start = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - start)
        faults.append(resource.getrusage(resource.RUSAGE_SELF).ru_minflt - before)
    return min(times), min(faults), result


FRESH_PROBE = r"""
import resource, sys, time, tarnwick
def status(key):
    for line in open("/proc/self/status"):
        if line.startswith(key):
            return int(line.split()[1]) * 1024
base = status("VmRSS:")
text = open(sys.argv[1], encoding="utf-8").read()
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
start = time.perf_counter()
frame = tarnwick.read_csv(text)
seconds = time.perf_counter() - start
faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt - faults
print(status("VmHWM:") - base, len(text.encode()), seconds, faults)
"""


def fresh_process_read(text):
    """The first read in a new process: its time, its faults, and the peak of
    resident memory above what the process held before the text, as a
    multiple of the text's size (so the text itself counts)."""
    with tempfile.NamedTemporaryFile("w", suffix=".csv", delete=False, encoding="utf-8") as f:
        f.write(text)
        path = f.name
    try:
        out = subprocess.run([sys.executable, "-c", FRESH_PROBE, path], capture_output=True,
                             text=True, check=True).stdout.split()
        return int(out[0]) / int(out[1]), float(out[2]), int(out[3])
    except (subprocess.CalledProcessError, OSError, ValueError, IndexError):
        return float("nan"), float("nan"), -1
    finally:
        os.unlink(path)


def peers():
    found = {}
    try:
        import pandas
        found["pandas"] = pandas
    except ImportError:
        pass
    try:
        import pyarrow
        import pyarrow.csv
        found["pyarrow"] = pyarrow
    except ImportError:
        pass
    return found


def measure(rows, repeat, with_peak):
    text = make_text(rows)
    data = text.encode()
    mb = len(data) / 1e6
    print(f"\n{rows:,} rows, {mb:.1f} MB")
    have = peers()

    t, faults, frame = best_of(repeat, lambda: tarnwick.read_csv(text))
    print(f"  read  tarnwick  {t:7.3f} s  {mb / t:7.0f} MB/s  {faults:7d} faults")
    read_times = {"tarnwick": t}
    if "pandas" in have:
        pd = have["pandas"]
        t, _, _ = best_of(max(1, repeat // 2), lambda: pd.read_csv(io.StringIO(text)))
        read_times["pandas"] = t
        print(f"  read  pandas    {t:7.3f} s  {mb / t:7.0f} MB/s")
    if "pyarrow" in have:
        pa = have["pyarrow"]
        options = pa.csv.ReadOptions(use_threads=False)
        t, _, table = best_of(repeat, lambda: pa.csv.read_csv(io.BytesIO(data), read_options=options))
        read_times["pyarrow"] = t
        print(f"  read  pyarrow   {t:7.3f} s  {mb / t:7.0f} MB/s  (one thread)")
    for peer in ("pandas", "pyarrow"):
        if peer in read_times:
            print(f"        tarnwick / {peer}: {read_times['tarnwick'] / read_times[peer]:.2f}")

    t, faults, written = best_of(repeat, frame.to_csv)
    print(f"  write tarnwick  {t:7.3f} s  {len(written) / 1e6 / t:7.0f} MB/s  {faults:7d} faults")
    if "pandas" in have:
        df = have["pandas"].read_csv(io.StringIO(text))
        t, _, _ = best_of(1, lambda: df.to_csv(index=False))
        print(f"  write pandas    {t:7.3f} s")
        del df
    if "pyarrow" in have:
        pa = have["pyarrow"]
        def arrow_write():
            sink = io.BytesIO()
            pa.csv.write_csv(table, sink)
            return sink.getvalue().decode()
        t, _, _ = best_of(max(1, repeat // 2), arrow_write)
        print(f"  write pyarrow   {t:7.3f} s")

    if with_peak:
        peak, seconds, faults = fresh_process_read(text)
        print(f"  first read in a fresh process: {seconds:.3f} s, {faults} faults, "
              f"peak memory {peak:.2f} x the text (text included)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, action="append")
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    for rows in args.rows or [100_000, 1_000_000]:
        measure(rows, args.repeat, with_peak=rows >= 1_000_000)


if __name__ == "__main__":
    main()
