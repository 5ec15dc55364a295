"""Times tarnwick against pandas and pyarrow on the same data in one run.

    ./dev bench                      1,000,000 rows, every task
    ./dev bench --rows 100000 1000000 --tasks sort group
    ./dev bench --smoke              10,000 rows, one timing each, no files
    ./dev bench --tasks dask         only tarnwick_dask against dask's data frame (bench/dask_bench.py)

Each task: one warm-up, then the median of --repeat timed calls, with garbage
collected before each call. The reads call their systems in turns instead, a
round at a time (the float columns of every width in the same rounds), so that
a change in the shared machine's load falls on every system and width alike.
A system's time counts only when the meaning of its result (row counts, exact
integer sums, float sums to 1e-9, orders, group keys in first-appearance
order) agrees with tarnwick's.
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
    made = {}

    def table(name):
        """A table only read, made on first use."""
        if name not in made:
            made[name] = datasets.make_table(name, rows)
            made[name].raw = made[name].csv.encode()
            log(f"   {name} text {len(made[name].raw) / 1e6:.1f} MB, {made[name].rows:,} rows")
        return made[name]

    data.tables = table
    results = []
    if hasattr(tasks.tarnwick, "read_csv"):
        memory = measure_memory(data.csv)
        log(f"   memory: reading {memory['text_bytes'] / 1e6:.1f} MB peaks at "
            f"{memory['read_peak_over_text']:.2f}x the text; derived frames: "
            + ", ".join(f"{k} {v['bytes_per_row']:.1f} B/row" for k, v in memory["derived"].items()))
        results.append({"task": "memory", "rows": rows, "memory": memory, "systems": {}})
    for group in task_groups(selected):
        if len(group) == 1 and getattr(group[0], "group", None) is None:
            results.append(measure_in_sequence(group[0], data, rows, repeat, log))
        else:
            results += measure_in_turns(group, data, rows, repeat, log)
    return results


def task_groups(selected):
    """Runs of tasks measured together: consecutive tasks of one `group`, and
    every other task on its own."""
    groups = []
    for task in selected:
        key = getattr(task, "group", None)
        if key is not None and groups and getattr(groups[-1][0], "group", None) == key:
            groups[-1].append(task)
        else:
            groups.append([task])
    return groups


def entry_of(task, data, rows, measured, log):
    """A task's entry from each system's (seconds, faults, result), its
    systems in order: a system agrees when its result means what the first's
    does."""
    entry = {"task": task.name, "rows": rows, "unit": task.unit, "systems": {}}
    reference = None
    for system, (seconds, faults, result) in measured.items():
        meaning = task.meaning(system, result)
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
    if hasattr(task, "shape"):
        entry.update(task.shape(data))
    return entry


def measure_in_sequence(task, data, rows, repeat, log):
    """Each system's calls one after the other, the systems in turn."""
    measured = {}
    for system in tasks.systems_available():
        if not task.supported(system):
            continue
        tasks.set_threads(system)
        state = task.prepare(system, data)
        measured[system] = measure(task, system, state, repeat)
        del state
    return entry_of(task, data, rows, measured, log)


def measure_in_turns(group, data, rows, repeat, log):
    """The tasks of a group on every system in turns: after one warm-up call
    each, every round calls each (task, system) pair once, so that a change in
    the shared machine's load falls on all of them alike. Medians per pair."""
    pairs = [(task, system) for task in group for system in tasks.systems_available()
             if task.supported(system)]
    states, results, times, faults = {}, {}, {}, {}
    for task, system in pairs:
        tasks.set_threads(system)
        states[task, system] = task.prepare(system, data)
        results[task, system] = task.run(system, states[task, system])
        times[task, system], faults[task, system] = [], []
    for _ in range(repeat):
        for pair in pairs:
            task, system = pair
            tasks.set_threads(system)
            results[pair] = None
            gc.collect()
            before_faults = minor_faults()
            start = time.perf_counter()
            results[pair] = task.run(system, states[pair])
            times[pair].append(time.perf_counter() - start)
            faults[pair].append(minor_faults() - before_faults)
    entries = []
    for task in group:
        measured = {system: (statistics.median(times[t, system]),
                             int(statistics.median(faults[t, system])), results[t, system])
                    for t, system in pairs if t is task}
        entries.append(entry_of(task, data, rows, measured, log))
    return entries


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
    widths = report.width_table(results)
    if widths:
        print()
        print(widths)
        if not args.smoke:  # a single call on tiny texts says nothing about the goal
            print(report.width_check(results))
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
    report.width_chart(results, RESULTS / f"{stem}-width.png", document["machine"])
    print(f"\nwrote {RESULTS / (stem + '.json')} and {RESULTS / (stem + '.png')}")
    if not args.no_dask and (not args.tasks or "dask" in args.tasks):
        # tarnwick_dask on a LocalCluster, against dask's data frame.
        print()
        subprocess.run([sys.executable, str(pathlib.Path(__file__).with_name("dask_bench.py"))], check=True)


if __name__ == "__main__":
    main()
