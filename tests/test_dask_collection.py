"""DaskFrame as a dask collection and as a frame: compute and persist
through dask, writing CSV files, slices that leave partitions unread,
arguments checked at the call, and values that cross tasks."""

import math
import pathlib
import random

import pytest

tarnwick = pytest.importorskip("tarnwick")
dask = pytest.importorskip("dask")
pa = pytest.importorskip("pyarrow")
td = pytest.importorskip("tarnwick_dask")

from tarnwick_dask import _plan  # noqa: E402


def _frame(n=20):
    frame = tarnwick.Frame()
    frame.add_ints("i", list(range(n)))
    frame.add_strings("s", [f"w{i % 3}" for i in range(n)])
    frame.add_floats("x", [i / 4 for i in range(n)])
    return frame


def test_compute_persist_and_collections_together():
    one = _frame()
    frame = td.from_frame(one, 4)
    a = frame.where_gt("i", 5)
    b = a.group(["s"]).sum("x")
    got_a, got_b = dask.compute(a, b, scheduler="threads")
    assert got_a.to_csv() == one.where_gt("i", 5).to_csv()
    assert got_b.to_csv() == one.where_gt("i", 5).group(["s"]).sum("x").to_csv()
    kept = a.persist(scheduler="threads")
    assert kept.npartitions == 4
    assert kept.sort("x", True).compute().to_csv() == one.where_gt("i", 5).sort("x", True).to_csv()
    assert kept.height() == 14 and kept.names() == ["i", "s", "x"] and kept.dtypes() == ["i64", "str", "f64"]
    assert kept.width() == 3
    assert dask.base.tokenize(a) == dask.base.tokenize(a) != dask.base.tokenize(b)


def test_visualize(tmp_path):
    pytest.importorskip("graphviz")
    frame = td.from_frame(_frame(), 2).group(["s"]).count()
    frame.visualize(str(tmp_path / "g.png"))
    assert (tmp_path / "g.png").exists()


def test_to_csv_writes_one_file_per_partition(tmp_path):
    one = _frame(30)
    frame = td.from_frame(one, 3).where_ne("i", 4)
    paths = frame.to_csv(tmp_path / "out", scheduler="threads")
    assert [p.rsplit("/", 1)[1] for p in paths] == ["part-00000.csv", "part-00001.csv", "part-00002.csv"]
    texts = [pathlib.Path(p).read_text() for p in paths]
    expected = one.where_ne("i", 4)
    assert "".join(t.split("\n", 1)[1] for t in texts) == expected.to_csv().split("\n", 1)[1]
    back = td.read_csv(str(tmp_path / "out" / "*.csv")).compute()
    assert back.to_csv() == expected.to_csv()
    # A failure writes nothing.
    with pytest.raises(ValueError, match="no column"):
        frame.where_eq("nosuch", 1).to_csv(tmp_path / "bad")
    assert list((tmp_path / "bad").iterdir()) == []


def test_head_and_tail_compute_only_the_partitions_they_need(monkeypatch):
    calls = []
    original = _plan.run_table

    def counting(table, index, tail):
        calls.append(index)
        return original(table, index, tail)

    monkeypatch.setattr(_plan, "run_table", counting)
    one = _frame(40)
    frame = td.from_frame(one, 8)
    assert frame.head(7).compute(scheduler="sync").to_csv() == one.head(7).to_csv()
    assert sorted(calls) == [0, 1]
    calls.clear()
    assert frame.where_gt("i", 0).tail(3).compute(scheduler="sync").to_csv() == one.where_gt("i", 0).tail(
        3).to_csv()
    assert sorted(calls) == [7]
    # A chain that names rows runs everywhere: an invalid date anywhere fails.
    dates = tarnwick.Frame()
    dates.add_strings("d", ["2024-01-01"] * 9 + ["bad"])
    frame = td.from_frame(dates, 5)
    frame.add_date_part("y", "d", "year")
    with pytest.raises(ValueError, match='column "d", row 9: "bad" is not a YYYY-MM-DD date'):
        frame.head(1).compute(scheduler="sync")


def test_frames_without_columns_keep_their_rows():
    one = _frame(13)
    frame = td.from_frame(one, 3).select([])
    for n in (11, 3, -4, 0, 20):
        assert frame.tail(n).height() == one.select([]).tail(n).height()
        assert frame.head(n).compute().height() == one.select([]).head(n).height()


def test_arguments_are_checked_at_the_call():
    frame = td.from_frame(_frame(), 2)
    cases = [
        (lambda: frame.where_eq("i", "x"), TypeError, "while processing 'value'"),
        (lambda: frame.where_in("s", "abc"), TypeError, "while processing 'values'"),
        (lambda: frame.head(2 ** 64), OverflowError, "while processing 'n'"),
        (lambda: frame.sort("i", 1), TypeError, "while processing 'descending'"),
        (lambda: frame.select("i"), TypeError, "while processing 'names'"),
        (lambda: frame.group(["s"]).sum(3), TypeError, "while processing 'name'"),
        (lambda: frame.add_date_part("y", "d", None), TypeError, "while processing 'part'"),
    ]
    for call, kind, note in cases:
        with pytest.raises(kind) as caught:
            call()
        assert caught.value.__notes__ == [note]
    with pytest.raises(TypeError):
        td.from_frame([1], 2)
    with pytest.raises(ValueError):
        td.from_frame(_frame(), 0)


def test_names_arrow_cannot_carry():
    one = tarnwick.Frame()
    one.add_ints("a\0b", [1, 2, 3])
    one.add_strings("c", ["x", "y", "z"])
    frame = td.from_frame(one, 2)
    assert frame.compute().to_csv() == one.to_csv()
    assert frame.group(["a\0b"]).count().compute().to_csv() == one.group(["a\0b"]).count().to_csv()


def test_min_max_with_nan_across_partitions():
    """A NaN that comes first keeps the result NaN, and one that comes later
    replaces nothing, whichever partition holds it."""
    one = tarnwick.Frame()
    one.add_floats("v", [5.0, math.nan, 1.0])
    assert td.from_frame(one, 2).group([]).min("v").compute(scheduler="sync").floats("v") == [1.0]
    rng = random.Random(5)
    with dask.config.set(scheduler="sync"):
        for case in range(150):
            n = rng.randint(0, 10)
            values = [rng.choice([math.nan, 1.0, -1.0, 0.0, -0.0, 2.5, math.inf]) for _ in range(n)]
            keys = [rng.choice("ab") for _ in range(n)]
            one = tarnwick.Frame()
            one.add_strings("k", keys)
            one.add_floats("v", values)
            parts = rng.randint(1, 4)
            for method in ("min", "max"):
                expected = getattr(one.group(["k"]), method)("v").to_csv()
                got = getattr(td.from_frame(one, parts).group(["k"], rng.choice([1, 2])), method)("v")
                assert got.compute().to_csv() == expected, (values, keys, parts, method)


def test_many_partitions_share_the_groups_out():
    """By default a grouping of many partitions combines its groups in
    buckets, and each output task takes only its own groups; the result is
    one machine's, in its order."""
    rng = random.Random(11)
    one = tarnwick.Frame()
    n = 4000
    one.add_ints("k", [rng.randrange(1500) for _ in range(n)])
    one.add_floats("v", [rng.choice([0.5, -1.25, math.nan, 3.0]) for _ in range(n)])
    frame = td.from_frame(one, 40)
    grouped = frame.group(["k"])
    expected = one.group(["k"])
    for method in ("count", "sum", "min"):
        result = grouped.count() if method == "count" else getattr(grouped, method)("v")
        assert result.npartitions == 3
        want = expected.count() if method == "count" else getattr(expected, method)("v")
        assert result.compute(scheduler="sync").to_csv() == want.to_csv()
    # What each output task is handed: its runs of groups from every bucket.
    result = grouped.sum("v")
    graph = dict(result.__dask_graph__())
    received = []
    for key in result.__dask_keys__():
        runs = dask.get(graph, list(graph[key][1]))
        received.append(sum(run.value[0].num_rows for run in runs))
    assert sum(received) == expected.groups()
    assert max(received) < expected.groups()


def test_what_travels_has_its_size():
    one = _frame(100_000)
    table = pa.table(one)
    piece = _plan.Piece(table)
    assert dask.sizeof.sizeof(piece) >= table.nbytes


def test_frames_stay_on_their_thread(recwarn):
    """The threaded scheduler runs tasks on a pool; results are built on the
    calling thread."""
    frame = td.from_frame(_frame(1000), 6).sort("x", True).group(["s"]).mean("i")
    result = frame.compute(scheduler="threads")
    assert result.strings("s") == ["w0", "w2", "w1"]
    assert isinstance(result, tarnwick.Frame)


def test_a_stack_sampler_makes_no_frame_change_thread():
    """distributed's profiler holds the Python frames of running tasks for a
    moment; a frame whose call returns meanwhile keeps its locals, and the
    sampler then releases them. No tarnwick frame may be among them."""
    import sys
    import threading
    import time

    reports = []
    previous = sys.unraisablehook
    sys.unraisablehook = lambda report: reports.append(str(report.exc_value))
    stop = threading.Event()

    def sample():
        while not stop.is_set():
            # The threads that run tasks, as the worker's profiler watches them.
            watched = {t.ident for t in threading.enumerate() if t.name.startswith("ThreadPoolExecutor")}
            frames = {k: v for k, v in sys._current_frames().items() if k in watched}
            time.sleep(0.0002)
            del frames

    sampler = threading.Thread(target=sample)
    sampler.start()
    try:
        one = _frame(2000)
        for i in range(40):
            frame = td.from_frame(one, 8).where_gt("i", i).sort("x", True).group(["s"]).max("x")
            assert frame.compute(scheduler="threads").height() == 3
    finally:
        stop.set()
        sampler.join()
        sys.unraisablehook = previous
    assert not reports, reports[:3]
