"""A real cluster on loopback: a `dask scheduler` and two `dask worker`
processes started from the command line, each bounded in time and stopped by
its process id. A job gives the one-machine result; so does a job whose
worker is killed midway (the scheduler runs its tasks again); and workers
limited to 1 GiB group a dataset several times larger."""

import contextlib
import json
import os
import pathlib
import random
import signal
import subprocess
import sys
import time

import pytest

tarnwick = pytest.importorskip("tarnwick")
distributed = pytest.importorskip("distributed")
td = pytest.importorskip("tarnwick_dask")

from dask_cases import CHECKED_BUILD  # noqa: E402

pytestmark = pytest.mark.skipif(CHECKED_BUILD, reason="the cluster runs in the plain build's tests")

ROOT = pathlib.Path(__file__).resolve().parent.parent
STARTUP = 60  # seconds for the scheduler and the workers to come up


def _environment():
    paths = [str(pathlib.Path(tarnwick.__file__).resolve().parent), str(pathlib.Path(td.__file__).parent.parent)]
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(paths + [env.get("PYTHONPATH", "")])
    env["DASK_DISTRIBUTED__WORKER__DAEMON"] = "False"
    return env


class Cluster:
    def __init__(self, folder, workers=2, memory="2GiB", nanny=False, threads=1):
        self.folder = folder
        self.processes = []
        self.file = folder / "scheduler.json"
        self.log = folder / "cluster.log"
        self.workers = workers
        self.memory = memory
        self.nanny = nanny
        self.threads = threads

    def _start(self, *arguments):
        with open(self.log, "ab") as out:
            process = subprocess.Popen([sys.executable, "-m", *arguments], stdout=out, stderr=out,
                                       env=_environment(), cwd=self.folder)
        self.processes.append(process)
        return process

    def __enter__(self):
        self._start("distributed.cli.dask_scheduler", "--host", "127.0.0.1", "--port", "0",
                    "--dashboard-address", "127.0.0.1:0", "--scheduler-file", str(self.file))
        deadline = time.monotonic() + STARTUP
        while not self.file.exists():
            self._check(deadline)
            time.sleep(0.1)
        self.worker_processes = [self.start_worker() for _ in range(self.workers)]
        self.client = distributed.Client(scheduler_file=str(self.file), timeout=STARTUP)
        self.client.wait_for_workers(self.workers, timeout=STARTUP)
        return self

    def start_worker(self):
        return self._start("distributed.cli.dask_worker", "--scheduler-file", str(self.file), "--host",
                           "127.0.0.1", "--nthreads", str(self.threads), "--memory-limit", self.memory,
                           "--no-dashboard", "--nanny" if self.nanny else "--no-nanny",
                           "--local-directory", str(self.folder / "work"))

    def _check(self, deadline):
        if time.monotonic() > deadline or any(p.poll() is not None for p in self.processes):
            raise RuntimeError("the cluster did not start:\n" + self.log.read_text(errors="replace")[-3000:])

    def __exit__(self, *exc):
        with contextlib.suppress(Exception):
            self.client.close(timeout=10)
        for process in reversed(self.processes):
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
        deadline = time.monotonic() + 15
        for process in self.processes:
            try:
                process.wait(timeout=max(0.1, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def _files(folder, count, rows, seed):
    """CSV files of a station, a temperature with one decimal and a count,
    with a quoted line break here and there so block edges fall inside
    quoted fields."""
    rng = random.Random(seed)
    texts = []
    for i in range(count):
        lines = ["station,temperature,n"]
        for _ in range(rows):
            station = rng.choice(["Oslo", "Lima", "Pune", '"New\nYork"', "Zürich", "Tōkyō"])
            lines.append(f"{station},{rng.randint(-300, 400) / 10},{rng.randint(0, 10 ** 6)}")
        texts.append("\n".join(lines) + "\n")
        (folder / f"{i:02d}.csv").write_text(texts[-1], encoding="utf-8", newline="")
    whole = texts[0] + "".join(t.split("\n", 1)[1] for t in texts[1:])
    return tarnwick.read_csv(whole)


def _job(frame):
    grouped = frame.group(["station"])
    return [grouped.min("temperature"), grouped.mean("temperature"), grouped.max("temperature"),
            grouped.sum("n"), frame.sort("temperature", True).head(50)]


def test_job_on_a_cluster_gives_the_one_machine_result(tmp_path):
    one = _files(tmp_path, 4, 5_000, 1)
    expected = [r.to_csv() for r in _job(one)]
    with Cluster(tmp_path) as cluster:
        frame = td.read_csv(str(tmp_path / "*.csv"), blocksize=20_000).persist()
        distributed.progress(frame, notebook=False)
        results = _job(frame)
        got = [r.compute() for r in results]
        assert [g.to_csv() for g in got] == expected
        # Everything a worker kept is Arrow data with its true size.
        sizes = cluster.client.run(lambda dask_worker: sum(dask_worker.data.fast.weights.values()))
        assert all(size > 0 for size in sizes.values())


def test_a_worker_killed_midway(tmp_path):
    one = _files(tmp_path, 6, 20_000, 2)
    expected = [r.to_csv() for r in _job(one)]
    with Cluster(tmp_path) as cluster:
        frame = td.read_csv(str(tmp_path / "*.csv"), blocksize=30_000)
        results = [cluster.client.compute(r) for r in _job(frame)]
        deadline = time.monotonic() + STARTUP
        while not any(cluster.client.processing().values()) or not cluster.client.has_what():
            assert time.monotonic() < deadline
            time.sleep(0.02)
        victim = cluster.worker_processes[0]
        os.kill(victim.pid, signal.SIGKILL)
        victim.wait(timeout=30)
        # client.compute finishes on a worker: the futures hold Arrow tables.
        got = [td.to_frame(r.result(timeout=300)) for r in results]
        assert [g.to_csv() for g in got] == expected
        assert len(cluster.client.scheduler_info()["workers"]) == 1


GIB = 2 ** 30


# The worker's peak resident size since its exec (VmHWM); a lambda, so that
# it travels by value to the workers, which cannot import this module.
_peak_bytes = lambda: next(int(line.split()[1]) * 1024  # noqa: E731
                           for line in open("/proc/self/status") if line.startswith("VmHWM:"))


def _big_files(folder, total):
    """Files of fixed-width rows "sNNN,+TTTT" repeated to ``total`` bytes;
    returns the expected min, max, count and sum per station in order of
    first appearance (one chunk repeated keeps them computable)."""
    import numpy as np

    rng = np.random.default_rng(7)
    rows = 4_000_000
    station = rng.integers(0, 400, rows)
    value = rng.integers(-9999, 10000, rows)
    text = np.zeros((rows, 12), dtype=np.uint8)
    text[:, 0] = ord("s")
    for i, p in enumerate((100, 10, 1)):
        text[:, 1 + i] = ord("0") + (station // p) % 10
    text[:, 4] = ord(",")
    text[:, 5] = np.where(value < 0, ord("-"), ord("+"))
    for i, p in enumerate((1000, 100, 10, 1)):
        text[:, 6 + i] = ord("0") + (np.abs(value) // p) % 10
    text[:, 10] = ord("\r")
    text[:, 11] = ord("\n")
    chunk = text.tobytes()
    copies = max(1, total // len(chunk) // 4)
    header = b"station,temperature\r\n"
    for i in range(4):
        with open(folder / f"big{i}.csv", "wb") as out:
            out.write(header)
            for _ in range(copies):
                out.write(chunk)
    _, first = np.unique(station, return_index=True)
    order = np.unique(station)[np.argsort(first)]
    expected = {"order": [f"s{s:03d}" for s in order.tolist()]}
    for name, f in (("min", np.minimum), ("max", np.maximum)):
        out = np.full(400, 0 if name == "sum" else (10 ** 6 if name == "min" else -10 ** 6))
        f.at(out, station, value)
        expected[name] = out[order].tolist()
    expected["count"] = (np.bincount(station, minlength=400)[order] * copies * 4).tolist()
    expected["sum"] = (np.bincount(station, weights=value, minlength=400)[order].astype(np.int64) * copies
                       * 4).tolist()
    return expected, 4 * (len(header) + copies * len(chunk))


def test_workers_of_one_gib_group_a_dataset_several_times_larger(tmp_path):
    data = ROOT / "build" / "dask-memory-test"
    data.mkdir(parents=True, exist_ok=True)
    try:
        expected, size = _big_files(data, 3 * GIB)
        assert size > 2.5 * GIB
        with Cluster(tmp_path, memory="1GiB", threads=1) as cluster:
            frame = td.read_csv(str(data / "*.csv"), blocksize="64 MiB")
            grouped = frame.group(["station"])
            low, high, count, total = map(td.to_frame, cluster.client.compute(
                [grouped.min("temperature"), grouped.max("temperature"), grouped.count(),
                 grouped.sum("temperature")], sync=True))
            assert low.strings("station") == expected["order"]
            assert low.ints("temperature") == expected["min"]
            assert high.ints("temperature") == expected["max"]
            assert count.ints("count") == expected["count"]
            assert total.ints("temperature") == expected["sum"]
            peaks = cluster.client.run(_peak_bytes)
            print(json.dumps({"dataset_bytes": size, "worker_peak_bytes": sorted(peaks.values())}))
            assert max(peaks.values()) < GIB
    finally:
        for path in data.glob("*.csv"):
            path.unlink()
