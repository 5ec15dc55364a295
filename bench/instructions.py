"""Instructions per benchmark task, counted by callgrind: a measure of the
module's own work that noise on a shared machine does not move.

    ./dev shell -c 'PYTHONPATH=build/release python3 bench/instructions.py --rows 100000'
    ... --tasks sort group        only the tasks whose names hold one of the words
    ... --json counts.json        also write the counts

Each task runs in a process of its own under callgrind: its input is prepared
and the task run once to warm up, then the counters are zeroed (at getppid)
and dumped (at getpgrp) around one more call, so only that call counts, with
the interpreter's work in it. The data of each size is made once, outside
valgrind, and kept in build/instructions/ (named by the rows and by the
contents of datasets.py).
"""
import argparse
import gc
import hashlib
import json
import os
import pathlib
import pickle
import re
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
CACHE = HERE.parent / "build" / "instructions"


def data_file(rows):
    # Named by the data's maker, so that a change there makes the data anew.
    maker = hashlib.sha1((HERE / "datasets.py").read_bytes()).hexdigest()[:10]
    path = CACHE / f"data-{rows}-{maker}.pickle"
    if not path.exists():
        import datasets

        data = datasets.Mixed(rows)
        data.raw = data.csv.encode()
        data.numeric = datasets.Numeric(rows)
        data.numeric.raw = data.numeric.csv.encode()
        # The tables that are only read, as bench/run.py makes them.
        data.made = {}
        for name in datasets.table_names():
            data.made[name] = datasets.make_table(name, rows)
            data.made[name].raw = data.made[name].csv.encode()
        CACHE.mkdir(parents=True, exist_ok=True)
        path.write_bytes(pickle.dumps(data))
    return path


def run_one(task_name, path):
    """Inside valgrind: one warm-up call, then one counted call."""
    import tasks

    task = next(t for t in tasks.all_tasks() if t.name == task_name)
    data = pickle.loads(pathlib.Path(path).read_bytes())
    data.tables = data.made.__getitem__
    state = task.prepare("tarnwick", data)
    result = task.run("tarnwick", state)
    del result
    gc.collect()
    os.getppid()
    result = task.run("tarnwick", state)
    os.getpgrp()
    del result


def count(task_name, path):
    with tempfile.TemporaryDirectory() as out:
        base = os.path.join(out, "callgrind.out")
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={base}",
                        "--zero-before=getppid", "--dump-before=getpgrp",
                        sys.executable, __file__, "--inside", task_name, str(path)],
                       check=True, capture_output=True, env=dict(os.environ, PYTHONHASHSEED="0"))
        text = pathlib.Path(base + ".1").read_text()
    return int(re.search(r"^summary: (\d+)", text, re.M).group(1))


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--inside":
        return run_one(sys.argv[2], sys.argv[3])
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rows", type=int, default=100_000)
    parser.add_argument("--tasks", nargs="*", default=[], help="words a task name must contain")
    parser.add_argument("--json", help="write {task: instructions} here too")
    args = parser.parse_args()
    import tasks

    path = data_file(args.rows)
    counts = {}
    for task in tasks.all_tasks():
        if args.tasks and not any(w in task.name for w in args.tasks):
            continue
        if not task.supported("tarnwick"):
            continue
        counts[task.name] = count(task.name, path)
        print(f"{task.name:32} {counts[task.name]:>15,}", flush=True)
    if args.json:
        pathlib.Path(args.json).write_text(json.dumps(counts, indent=1) + "\n")


if __name__ == "__main__":
    main()
