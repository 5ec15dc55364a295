"""Times tarnwick against pandas and pyarrow on the same data in one run.

    ./dev bench                      1,000,000 rows, every task
    ./dev bench --rows 100000 1000000 --tasks sort group
    ./dev bench --smoke              10,000 rows, one timing each, no files
    ./dev bench --tasks dask         only tarnwick_dask against dask's data frame (bench/dask_bench.py)

Each task: one warm-up, then the median of --repeat timed calls, with garbage
collected before each call. A system's time counts only when the meaning of its
result (row counts, exact integer sums, float sums to 1e-9, orders, group keys
in first-appearance order) agrees with tarnwick's.
"""
import argparse
import gc
import json
import pathlib
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import datasets  # noqa: E402
import report  # noqa: E402
import tasks  # noqa: E402

RESULTS = pathlib.Path(__file__).resolve().parent / "results"


def minor_faults():
    return resource.getrusage(resource.RUSAGE_SELF).ru_minflt


def measure(task, system, state, repeat):
    """Median seconds and minor faults per call, and the last result."""
    tasks.set_threads(system)
    result = task.run(system, state)  # warm-up
    times, faults = [], []
    for _ in range(repeat):
        del result
        gc.collect()
        before_faults = minor_faults()
        start = time.perf_counter()
        result = task.run(system, state)
        times.append(time.perf_counter() - start)
        faults.append(minor_faults() - before_faults)
    return statistics.median(times), int(statistics.median(faults)), result


def measure_memory(text):
    """Peak memory of read_csv and the cost of derived frames, in a fresh process."""
    with tempfile.NamedTemporaryFile("w", suffix=".csv", encoding="utf-8") as f:
        f.write(text)
        f.flush()
        out = subprocess.run([sys.executable, str(pathlib.Path(__file__).with_name("memory.py")), f.name],
                             check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def run_size(rows, selected, repeat, log):
    log(f"-- {rows:,} rows: generating data")
    data = datasets.Mixed(rows)
    data.raw = data.csv.encode()
    data.numeric = datasets.Numeric(rows)
    data.numeric.raw = data.numeric.csv.encode()
    log(f"   mixed text {len(data.raw) / 1e6:.1f} MB, numeric text {len(data.numeric.raw) / 1e6:.1f} MB")
    results = []
    if hasattr(tasks.tarnwick, "read_csv"):
        memory = measure_memory(data.csv)
        log(f"   memory: reading {memory['text_bytes'] / 1e6:.1f} MB peaks at "
            f"{memory['read_peak_over_text']:.2f}x the text; derived frames: "
            + ", ".join(f"{k} {v['bytes_per_row']:.1f} B/row" for k, v in memory["derived"].items()))
        results.append({"task": "memory", "rows": rows, "memory": memory, "systems": {}})
    for task in selected:
        entry = {"task": task.name, "rows": rows, "unit": task.unit, "systems": {}}
        reference = None
        for system in tasks.systems_available():
            if not task.supported(system):
                continue
            tasks.set_threads(system)
            state = task.prepare(system, data)
            seconds, faults, result = measure(task, system, state, repeat)
            meaning = task.meaning(system, result)
            del result, state
            if reference is None:
                reference = meaning
            agrees = tasks.same_meaning(meaning, reference)
            size = task.size(data) if task.unit == "MB" else rows
            entry["systems"][system] = {
                "seconds": seconds, "faults": faults, "agrees": agrees,
                "throughput": size / seconds if seconds > 0 else None,
            }
            log(f"   {task.name:28} {system:11} {seconds * 1e3:9.1f} ms  faults {faults:>8}"
                + ("" if agrees else "  RESULT DIFFERS"))
        results.append(entry)
    return results


def machine():
    info = {"python": sys.version.split()[0], "tarnwick": "built from this checkout"}
    for name in ("numpy", "pandas", "pyarrow"):
        try:
            info[name] = __import__(name).__version__
        except ImportError:
            pass
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                info["cpu"] = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    info["cores"] = os.cpu_count()
    info["date"] = time.strftime("%Y-%m-%d")
    return info


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rows", type=int, nargs="+", default=[1_000_000])
    parser.add_argument("--tasks", nargs="*", default=[], help="words a task name must contain")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--smoke", action="store_true", help="10,000 rows, one call each, no files")
    parser.add_argument("--no-dask", action="store_true", help="leave out bench/dask_bench.py")
    args = parser.parse_args()
    if args.smoke:
        args.rows, args.repeat = [10_000], 1
    selected = [t for t in tasks.all_tasks() if not args.tasks or any(w in t.name for w in args.tasks)]

    def log(line):
        print(line, flush=True)

    results = []
    for rows in args.rows:
        results += run_size(rows, selected, args.repeat, log)
    print()
    print(report.table(results))
    differing = [(r["task"], s) for r in results for s, v in r["systems"].items() if not v["agrees"]]
    if args.smoke:
        if differing:
            sys.exit(f"results differ: {differing}")
        print(f"smoke run: {len(results)} tasks, every system's results agree")
        return
    RESULTS.mkdir(exist_ok=True)
    # A run of some tasks only does not replace the full results.
    stem = "partial" if args.tasks else "latest"
    document = {"machine": machine(), "results": results}
    (RESULTS / f"{stem}.json").write_text(json.dumps(document, indent=1) + "\n")
    report.chart(results, RESULTS / f"{stem}.png", document["machine"])
    print(f"\nwrote {RESULTS / (stem + '.json')} and {RESULTS / (stem + '.png')}")
    if not args.no_dask and (not args.tasks or "dask" in args.tasks):
        # tarnwick_dask on a LocalCluster, against dask's data frame.
        print()
        subprocess.run([sys.executable, str(pathlib.Path(__file__).with_name("dask_bench.py"))], check=True)


if __name__ == "__main__":
    main()
