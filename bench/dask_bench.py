"""tarnwick_dask on a LocalCluster (processes, one thread each) with one and
two workers, against dask's own data frame and one-machine tarnwick, in one
run. Run by ./dev bench after the single-machine tasks.

    python3 bench/dask_bench.py            the full datasets (made once, cached)
    python3 bench/dask_bench.py --smoke    tiny datasets, results checked, no files kept

Dataset 1: ten files of station,temperature (one decimal), 100 million rows
in all; min, mean and max by station. Dataset 2: the benchmark's mixed table,
10 million rows in one file read in blocks; a filter, then the mean of the
integer column by two keys. The datasets live in build/dask-bench (made
once). Every system's result is compared with tarnwick_dask's: keys and
order, min and max exactly, means to 1e-9.
"""
import argparse
import json
import math
import pathlib
import shutil
import sys
import tempfile
import time
import warnings

import numpy as np

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(ROOT))
sys.path.insert(0, str(HERE))

CACHE = ROOT / "build" / "dask-bench"
RESULTS = HERE / "results"
STATIONS = 413
SYLLABLES = ["ka", "lo", "mi", "run", "ta", "vel", "shi", "bor", "en", "qua", "zu", "dé", "ñor", "ø", "ith"]


def log(line):
    print(line, flush=True)


# ---- datasets -----------------------------------------------------------------


def station_names(rng):
    names = set()
    while len(names) < STATIONS:
        parts = rng.choice(SYLLABLES, size=rng.integers(2, 6))
        names.add("".join(parts).capitalize() + (f" {rng.integers(1, 99)}" if rng.random() < 0.2 else ""))
    return sorted(names)


def make_weather(folder, rows, files, seed=1):
    """``files`` files of station,temperature; returns nothing, writes once."""
    rng = np.random.default_rng(seed)
    names = station_names(rng)
    means = rng.uniform(-20, 35, STATIONS)
    # Every line a station and a temperature of -99.9 to 99.9 can make, by
    # number; a row is one of them.
    temperatures = [f"{t / 10:.1f}" for t in range(-999, 1000)]
    lines = [f"{n},{t}\n".encode() for n in names for t in temperatures]
    per_file = rows // files
    for f in range(files):
        with open(folder / f"weather-{f:02d}.csv", "wb") as out:
            out.write(b"station,temperature\n")
            done = 0
            while done < per_file:
                n = min(1_000_000, per_file - done)
                station = rng.integers(0, STATIONS, n)
                tenths = np.clip(np.rint((means[station] + rng.normal(0, 10, n)) * 10), -999, 999).astype(np.int64)
                ids = (station * 1999 + tenths + 999).tolist()
                out.write(b"".join(map(lines.__getitem__, ids)))
                done += n


def make_mixed(path, rows, seed=20261207):
    """The mixed table of bench/datasets.py, made a million rows at a time."""
    import datasets

    rng = np.random.default_rng(seed)
    words = datasets.WORDS
    start_day = np.datetime64("1990-01-01")
    span = (np.datetime64("2030-12-31") - start_day).astype(int) + 1
    with open(path, "w", encoding="utf-8") as out:
        out.write(",".join(datasets.Mixed.names) + "\n")
        done = 0
        while done < rows:
            n = min(1_000_000, rows - done)
            key = [f"key{k:04d}" for k in rng.integers(0, 1000, size=n).tolist()]
            cat = [words[k] for k in rng.integers(0, 8, size=n).tolist()]
            x = rng.random(n).tolist()
            values = rng.integers(-10 ** 12, 10 ** 12, size=n).tolist()
            missing = (rng.random(n) < 0.05).tolist()
            v = ["" if m else str(val) for val, m in zip(values, missing)]
            date = np.datetime_as_string(start_day + rng.integers(0, span, size=n), unit="D").tolist()
            text = datasets.free_text(rng, n)
            cells = (f'"{t}"' if "," in t else t for t in text)
            out.write("".join(f"{i},{k},{c},{xx!r},{vv},{d},{t}\n" for i, k, c, xx, vv, d, t in
                              zip(range(done, done + n), key, cat, x, v, date, cells)))
            done += n


def datasets_for(args):
    if args.smoke:
        args.repeat = 1
        folder = pathlib.Path(tempfile.mkdtemp(prefix="tarnwick-dask-smoke-"))
        make_weather(folder, 20_000, 10)
        make_mixed(folder / "mixed.csv", 10_000)
        return folder, {"weather": 20_000, "mixed": 10_000}
    folder = CACHE
    folder.mkdir(parents=True, exist_ok=True)
    stamp = folder / "made.json"
    wanted = {"weather": args.weather_rows, "mixed": args.mixed_rows}
    if not stamp.exists() or json.loads(stamp.read_text()) != wanted:
        for old in folder.glob("*.csv"):
            old.unlink()
        log(f"-- making the datasets in {folder} (once): {args.weather_rows:,} weather rows in 10 files, "
            f"{args.mixed_rows:,} mixed rows")
        started = time.perf_counter()
        make_weather(folder, args.weather_rows, 10)
        make_mixed(folder / "mixed.csv", args.mixed_rows)
        stamp.write_text(json.dumps(wanted))
        log(f"   made in {time.perf_counter() - started:.0f} s")
    return folder, wanted


# ---- the jobs -------------------------------------------------------------------


def tarnwick_dask_weather(folder, blocksize):
    import dask
    import tarnwick_dask as td

    grouped = td.read_csv(str(folder / "weather-*.csv"), blocksize=blocksize).group(["station"])
    low, mean, high = dask.compute(grouped.min("temperature"), grouped.mean("temperature"),
                                   grouped.max("temperature"))
    return {"keys": low.strings("station"), "min": low.floats("temperature"),
            "mean": mean.floats("temperature"), "max": high.floats("temperature")}


def tarnwick_dask_mixed(folder, blocksize):
    import tarnwick_dask as td

    result = td.read_csv(str(folder / "mixed.csv"), blocksize=blocksize).where_gt("x", 0.5).group(
        ["key", "cat"]).mean("v").compute()
    return {"keys": list(zip(result.strings("key"), result.strings("cat"))), "mean": result.floats("v")}


def dask_df_weather(folder, blocksize, engine):
    import dask.dataframe as dd

    options = {"engine": "pyarrow"} if engine == "pyarrow" else {}
    frame = dd.read_csv(str(folder / "weather-*.csv"), blocksize=blocksize, **options)
    stats = frame.groupby("station")["temperature"].agg(["min", "mean", "max"]).compute()
    return {"keys": [str(k) for k in stats.index], "min": stats["min"].tolist(), "mean": stats["mean"].tolist(),
            "max": stats["max"].tolist()}


def dask_df_mixed(folder, blocksize, engine):
    import dask.dataframe as dd

    options = {"engine": "pyarrow"} if engine == "pyarrow" else {}
    frame = dd.read_csv(str(folder / "mixed.csv"), blocksize=blocksize, dtype={"v": "float64"}, **options)
    means = frame[frame["x"] > 0.5].groupby(["key", "cat"])["v"].mean().compute()
    return {"keys": [(str(a), str(b)) for a, b in means.index], "mean": means.tolist()}


def one_machine_weather(folder):
    import tarnwick

    texts = []
    for i, path in enumerate(sorted(folder.glob("weather-*.csv"))):
        data = path.read_bytes()
        texts.append(data if i == 0 else data.split(b"\n", 1)[1])
    text = b"".join(texts).decode()
    del texts
    frame = tarnwick.read_csv(text)
    del text
    grouped = frame.group(["station"])
    low, mean, high = grouped.min("temperature"), grouped.mean("temperature"), grouped.max("temperature")
    return {"keys": low.strings("station"), "min": low.floats("temperature"),
            "mean": mean.floats("temperature"), "max": high.floats("temperature")}


def one_machine_mixed(folder):
    import tarnwick

    frame = tarnwick.read_csv((folder / "mixed.csv").read_text(encoding="utf-8"))
    result = frame.where_gt("x", 0.5).group(["key", "cat"]).mean("v")
    return {"keys": list(zip(result.strings("key"), result.strings("cat"))), "mean": result.floats("v")}


def agrees(result, reference):
    """Same groups (in any order for a peer that sorts them), min and max
    exactly, means to 1e-9."""
    if result is None:
        return False
    ours = dict(zip(map(tuple, map(_as_key, reference["keys"])), range(len(reference["keys"]))))
    theirs = [_as_key(k) for k in result["keys"]]
    if set(theirs) != set(ours) or len(theirs) != len(ours):
        return False
    for column, values in result.items():
        if column == "keys":
            continue
        for key, value in zip(theirs, values):
            expected = reference[column][ours[key]]
            if column == "mean":
                # A group without values: None here, NaN in pandas.
                missing = [x is None or (isinstance(x, float) and math.isnan(x)) for x in (value, expected)]
                if any(missing):
                    if not all(missing):
                        return False
                elif not math.isclose(value, expected, rel_tol=1e-9, abs_tol=1e-9):
                    return False
            elif value != expected:
                return False
    return True


def _as_key(key):
    return tuple(key) if isinstance(key, (list, tuple)) else (key,)


# ---- measuring --------------------------------------------------------------------


def run_on_cluster(workers, jobs, repeat):
    """The jobs on one LocalCluster of ``workers`` processes with one thread
    each, taken in turn ``repeat`` times (a job's own count overrides), so
    that the load of the machine falls on all alike; the median seconds and
    each worker's peak resident memory during the job."""
    from distributed import Client, LocalCluster

    out = {name: {"times": [], "result": None, "peak_bytes": [0] * workers, "failed": False} for name, _, _ in jobs}
    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None,
                      memory_limit=None) as cluster, Client(cluster) as client:
        client.run(_import_everything)
        for turn in range(repeat):
            for name, job, times in jobs:
                entry = out[name]
                if entry["failed"] or turn >= (times or repeat):
                    continue
                client.run(_reset_peak)
                started = time.perf_counter()
                try:
                    entry["result"] = job()
                except Exception as error:  # a peer that cannot do the task
                    log(f"   {name}: {type(error).__name__}: {error}")
                    entry["failed"] = True
                    continue
                entry["times"].append(time.perf_counter() - started)
                peaks = sorted(client.run(_peak_bytes).values())
                entry["peak_bytes"] = [max(a, b) for a, b in zip(entry["peak_bytes"], peaks)]
    for name, entry in out.items():
        times = sorted(entry.pop("times"))
        entry["seconds"] = times[len(times) // 2] if times else None
        if times:
            log(f"   {name:34} {workers} worker{'s' if workers > 1 else ' '} {entry['seconds']:8.2f} s "
                f"(of {', '.join(f'{t:.2f}' for t in times)})   peak per worker "
                f"{', '.join(f'{p / 2 ** 20:,.0f} MiB' for p in entry['peak_bytes'])}")
    return out


def _import_everything():
    warnings.simplefilter("ignore", FutureWarning)
    import dask.dataframe  # noqa: F401
    import tarnwick_dask  # noqa: F401


def _reset_peak():
    # Writing 5 to clear_refs resets VmHWM to the current resident size.
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")


def _peak_bytes():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmHWM:"))


def measure_prepass(path, blocksize, repeat=3):
    """The pre-pass of a read against the read itself, in this process:
    each block's guess of its first record start and the header's range (the
    guesses), then the first barrier's walk where a guess failed, and the
    blocks read again; against reading, parsing and exporting every block."""
    from tarnwick_dask import _csv, _files, _plan

    files = _files.expand([str(path)])
    blocks = _csv.blocks_of(files, blocksize)
    tail = _plan.Tail()
    best = None
    for _ in range(repeat):
        guess = 0.0
        with _files.Reader(files[0]) as reader:
            for block in blocks:
                started = time.perf_counter()
                header = _csv.find_header(reader, block.file.size)
                _csv._guess_range(block, reader, header)
                guess += time.perf_counter() - started
        started = time.perf_counter()
        pieces = [_csv.read_block(b, tail, b.index) for b in blocks]
        read = time.perf_counter() - started
        infos = [p.info for p in pieces]
        started = time.perf_counter()
        cuts = _csv.plan_cuts(blocks, *infos)
        walk = time.perf_counter() - started
        changed = [b for b in blocks if (infos[b.index].start, infos[b.index].stop) != cuts[b.index]]
        started = time.perf_counter()
        for b in changed:
            _csv.read_block(b, tail, b.index, cuts=cuts[b.index])
        again = time.perf_counter() - started
        del pieces
        total = guess + walk + again
        if best is None or total < best["seconds"]:
            best = {"seconds": total, "guesses": guess, "walk": walk, "read_again": again, "read": read,
                    "blocks": len(blocks), "blocks_read_again": len(changed), "bytes": files[0].size}
    best["share"] = best["seconds"] / best["read"]
    # What a failed guess costs at most: the state machine walked over a
    # whole block (by runs of quotes), against that block's read.
    from tarnwick_dask import _text

    block = blocks[0]
    with _files.Reader(files[0]) as reader:
        buf = reader.buffer()
        started = time.perf_counter()
        _text.state_at(buf, 0, _text.RECORD, block.end)
        best["walk_one_block"] = time.perf_counter() - started
        buf = None
    best["read_one_block"] = best["read"] / len(blocks)
    return best


def quote_heavy_text(path, rows, seed=3):
    """Every text field quoted, a fifth of them holding line breaks (so that
    many guesses fall inside quoted fields), doubled quotes here and there."""
    rng = np.random.default_rng(seed)
    words = ["alpha", "bravo", 'say ""hi""', "x,y", "line\nbreak", "two\r\nlines", "plain"]
    picks = rng.integers(0, len(words), size=(rows, 3)).tolist()
    numbers = rng.integers(0, 10 ** 6, size=rows).tolist()
    with open(path, "w", encoding="utf-8", newline="") as out:
        out.write("n,a,b,c\n")
        out.write("".join(f'{n},"{words[a]}","{words[b]}","{words[c]}"\n' for n, (a, b, c) in zip(numbers, picks)))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--smoke", action="store_true")
    parser.add_argument("--weather-rows", type=int, default=100_000_000)
    parser.add_argument("--mixed-rows", type=int, default=10_000_000)
    parser.add_argument("--blocksize", default="64 MiB")
    parser.add_argument("--repeat", type=int, default=3, help="runs of tarnwick_dask and one machine (median)")
    parser.add_argument("--peer-repeat", type=int, default=1, help="runs of dask's data frame")
    parser.add_argument("--no-peers", action="store_true", help="leave dask's data frame out")
    parser.add_argument("--markdown", action="store_true",
                        help="print the README's tables from results/dask.json and stop")
    args = parser.parse_args()
    if args.markdown:
        print(markdown(json.loads((RESULTS / "dask.json").read_text())))
        return
    warnings.simplefilter("ignore", FutureWarning)
    from dask.utils import parse_bytes

    blocksize = 20_000 if args.smoke else parse_bytes(args.blocksize)
    folder, sizes = datasets_for(args)
    try:
        results = run(args, folder, sizes, blocksize)
    finally:
        if args.smoke:
            shutil.rmtree(folder)
    if args.smoke:
        bad = [(task, system) for task, entry in results["tasks"].items()
               for system, v in entry["systems"].items() if not v["agrees"]]
        if bad:
            sys.exit(f"results differ: {bad}")
        print(f"dask smoke run: {len(results['tasks'])} tasks on 1 and 2 workers, every system's results agree")
        return
    RESULTS.mkdir(exist_ok=True)
    (RESULTS / "dask.json").write_text(json.dumps(results, indent=1) + "\n")
    print(f"\nwrote {RESULTS / 'dask.json'}")


def run(args, folder, sizes, blocksize):
    import dask

    weather_bytes = sum(p.stat().st_size for p in folder.glob("weather-*.csv"))
    mixed_bytes = (folder / "mixed.csv").stat().st_size
    log(f"-- weather: {sizes['weather']:,} rows, {weather_bytes / 1e9:.2f} GB in 10 files; "
        f"mixed: {sizes['mixed']:,} rows, {mixed_bytes / 1e9:.2f} GB; blocks of {blocksize:,} bytes")
    tasks = {
        "weather": {"ours": lambda: tarnwick_dask_weather(folder, blocksize),
                    "peer": lambda engine: dask_df_weather(folder, blocksize, engine),
                    "one": lambda: one_machine_weather(folder), "rows": sizes["weather"], "bytes": weather_bytes},
        "mixed": {"ours": lambda: tarnwick_dask_mixed(folder, blocksize),
                  "peer": lambda engine: dask_df_mixed(folder, blocksize, engine),
                  "one": lambda: one_machine_mixed(folder), "rows": sizes["mixed"], "bytes": mixed_bytes},
    }
    measured = {name: {"systems": {}} for name in tasks}
    for workers in (1, 2):
        jobs = []
        for name, task in tasks.items():
            jobs.append((f"{name} tarnwick_dask", task["ours"], None))
            if not args.no_peers:
                for engine in ("pyarrow", "default"):
                    jobs.append((f"{name} dask df {engine}", lambda t=task, e=engine: t["peer"](e),
                                 args.peer_repeat))
        log(f"-- LocalCluster, {workers} worker{'s' if workers > 1 else ''} (processes, 1 thread each)")
        for job_name, outcome in run_on_cluster(workers, jobs, args.repeat).items():
            name, system = job_name.split(" ", 1)
            measured[name]["systems"][f"{system}, {workers}w"] = outcome
    log("-- one-machine tarnwick (this process, one thread)")
    for name, task in tasks.items():
        times = []
        for _ in range(args.repeat):
            started = time.perf_counter()
            with dask.config.set(scheduler="sync"):
                result = task["one"]()
            times.append(time.perf_counter() - started)
        seconds = sorted(times)[len(times) // 2]
        measured[name]["systems"]["one-machine tarnwick"] = {"seconds": seconds, "result": result}
        log(f"   {name:34} {seconds:8.2f} s (of {', '.join(f'{t:.2f}' for t in sorted(times))})")
    log("-- the pre-pass against the read (one process)")
    prepass = {
        "quote-free (mixed table)": measure_prepass(folder / "mixed.csv", blocksize),
    }
    heavy = folder / "quote-heavy.csv"
    quote_heavy_text(heavy, 20_000 if args.smoke else 2_000_000)
    try:
        prepass["quote-heavy, quoted line breaks"] = measure_prepass(heavy, blocksize)
    finally:
        heavy.unlink()
    for label, p in prepass.items():
        log(f"   {label:34} pre-pass {p['seconds'] * 1e3:8.1f} ms = {p['share'] * 100:5.2f} % of the read "
            f"({p['read']:.2f} s); guesses {p['guesses'] * 1e3:.1f} ms, walk {p['walk'] * 1e3:.1f} ms, "
            f"{p['blocks_read_again']} of {p['blocks']} blocks read again in {p['read_again'] * 1e3:.1f} ms; "
            f"a walk over a whole block {p['walk_one_block'] * 1e3:.1f} ms against its read "
            f"{p['read_one_block'] * 1e3:.1f} ms")
    report = {"tasks": {}, "prepass": prepass, "blocksize": blocksize}
    for name, entry in measured.items():
        reference = entry["systems"]["tarnwick_dask, 1w"]["result"]
        out = {"rows": tasks[name]["rows"], "bytes": tasks[name]["bytes"], "systems": {}}
        for system, v in entry["systems"].items():
            out["systems"][system] = {"seconds": v["seconds"], "agrees": agrees(v["result"], reference),
                                      "peak_bytes": v.get("peak_bytes")}
        report["tasks"][name] = out
    print()
    print(table(report))
    return report


def table(report):
    lines = []
    for name, entry in report["tasks"].items():
        s = entry["systems"]
        lines.append(f"{name}: {entry['rows']:,} rows, {entry['bytes'] / 1e9:.2f} GB")
        for system, v in s.items():
            seconds = v["seconds"]
            text = "-" if seconds is None else f"{seconds:8.2f} s  {entry['rows'] / seconds / 1e6:6.1f} M rows/s"
            peak = v.get("peak_bytes")
            memory = f"  peak {max(peak) / 2 ** 20:,.0f} MiB per worker" if peak else ""
            flag = "" if v["agrees"] else "  (result differs)"
            lines.append(f"   {system:32} {text}{memory}{flag}")
        ours1 = s["tarnwick_dask, 1w"]["seconds"]
        ours2 = s["tarnwick_dask, 2w"]["seconds"]
        peers = [v["seconds"] for k, v in s.items() if k.startswith("dask df") and v["seconds"] and v["agrees"]
                 and k.endswith("2w")]
        one = s["one-machine tarnwick"]["seconds"]
        lines.append(f"   goals: 2 workers / 1 worker {ours1 / ours2:.2f}x (>= 1.7x); "
                     f"1 worker / one machine {ours1 / one:.2f} (<= 1.15)"
                     + (f"; best dask df (2w) / ours (2w) {min(peers) / ours2:.1f}x (>= 5x)" if peers else ""))
    return "\n".join(lines)


def markdown(report):
    """The README's tables: times and peaks, then every goal beside its figure."""
    def seconds(v):
        return "-" if v is None or v["seconds"] is None else f"{v['seconds']:,.2f} s"

    def peak(v):
        return "" if not v or not v.get("peak_bytes") else " / ".join(
            f"{p / 2 ** 20:,.0f}" for p in v["peak_bytes"]) + " MiB"

    lines = ["| task | system | 1 worker | 2 workers | peak resident per worker, 1 / 2 workers |",
             "|---|---|---:|---:|---|"]
    goals = {"vs": [], "scale": [], "one": []}
    for name, entry in report["tasks"].items():
        s = entry["systems"]
        label = f"{name}: {entry['rows'] / 1e6:,.0f}M rows, {entry['bytes'] / 1e9:.2f} GB"
        for system in ("tarnwick_dask", "dask df pyarrow", "dask df default"):
            one, two = s.get(f"{system}, 1w"), s.get(f"{system}, 2w")
            if one is None:
                continue
            flag = "" if one["agrees"] and two["agrees"] else " (result differs)"
            lines.append(f"| {label} | {system}{flag} | {seconds(one)} | {seconds(two)} | {peak(one)}; {peak(two)} |")
            label = ""
        lines.append(f"| | one-machine tarnwick (one process) | {seconds(s['one-machine tarnwick'])} | | |")
        ours = [s[f"tarnwick_dask, {w}w"]["seconds"] for w in (1, 2)]
        for w in (1, 2):
            peers = [v["seconds"] for k, v in s.items()
                     if k.startswith("dask df") and k.endswith(f"{w}w") and v["seconds"] and v["agrees"]]
            if peers:
                goals["vs"].append(f"{name} {min(peers) / ours[w - 1]:.1f}× ({w} worker{'s' if w > 1 else ''})")
        goals["scale"].append(f"{name} {ours[0] / ours[1]:.2f}×")
        goals["one"].append(f"{name} {ours[0] / s['one-machine tarnwick']['seconds']:.2f}×")
    pre = [f"{label} {p['share'] * 100:.2f} %" for label, p in report["prepass"].items()]
    lines += ["", "| goal | measured |", "|---|---|",
              f"| ≥ 5× faster than dask's data frame with its best engine | {'; '.join(goals['vs'])} |",
              f"| 2 workers ≥ 1.7× faster than 1 | {'; '.join(goals['scale'])} |",
              f"| 1 worker within 15 % of one-machine tarnwick (time ratio ≤ 1.15) | {'; '.join(goals['one'])} |",
              f"| pre-pass ≤ 10 % of the read | {'; '.join(pre)} |"]
    return "\n".join(lines)


if __name__ == "__main__":
    main()
