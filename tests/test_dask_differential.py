"""The Dask package against one-machine tarnwick: random CSV texts split
into random blocks and file sets, random chains of operations, on dask's
synchronous scheduler and on its threaded one (where a frame that crossed a
thread would raise or be reported). Results, kinds, order and failures with
their messages must be the same; f64 sums and means may differ only as the
README allows."""

import math
import random
import sys

import pytest

tarnwick = pytest.importorskip("tarnwick")
dask = pytest.importorskip("dask")
td = pytest.importorskip("tarnwick_dask")

from dask_cases import CHECKED_BUILD, blocks_for, chain, csv_text, run_chain  # noqa: E402

import os  # noqa: E402

# TARNWICK_DASK_CASES and TARNWICK_DASK_SEED run more or other cases.
CASES = int(os.environ.get("TARNWICK_DASK_CASES", 40 if CHECKED_BUILD else 160))
SEED = os.environ.get("TARNWICK_DASK_SEED", "")


def _outcome(make, ops, split_out=1):
    """("ok", names, kinds, csv text, last column's floats) or ("error", type,
    message); an int result for groups()."""
    try:
        frame = make()
        result = run_chain(frame, ops, split_out)
        if isinstance(result, int):
            return ("ok", result)
        if not isinstance(result, tarnwick.Frame):
            result = result.compute()
        floats = None
        kinds = result.dtypes()
        if kinds and kinds[-1] == "f64":
            floats = result.floats(result.names()[-1])
        return ("ok", result.names(), kinds, result.select(result.names()[:-1]).to_csv() if floats else
                result.to_csv(), floats, result.height())
    except (ValueError, TypeError, UnicodeDecodeError) as error:
        return ("error", type(error).__name__, str(error))


def _scale(text):
    """An upper bound of the sum of |values| of any group: the largest
    finite |value| of any number column times the rows."""
    try:
        frame = tarnwick.read_csv(text)
    except ValueError:
        return 0.0
    largest = 0.0
    for name, kind in zip(frame.names(), frame.dtypes()):
        if kind != "str":
            values = frame.ints(name) if kind == "i64" else frame.floats(name)
            largest = max([largest] + [abs(float(v)) for v in values if v is not None and math.isfinite(v)])
    return largest * frame.height()


def _close(a, b, scale):
    """f64 sums and means: the partitions' compensated sums added exactly
    and one compensated sum differ by at most a few units in the last place
    of the sum of magnitudes (the README's bound), and may reach an infinity
    where the other does not when magnitudes pass the largest double."""
    if a is None or b is None:
        return a is b
    if math.isnan(a) or math.isnan(b):
        return math.isnan(a) and math.isnan(b)
    if math.isinf(a) or math.isinf(b):
        return a == b or scale > 1e307
    return abs(a - b) <= 4 * 2.0 ** -52 * scale


def _same(one, other, ops, scale=0.0):
    if one[0] != other[0] or one[0] == "error" or len(one) == 2:
        return one == other
    exact_floats = not (ops and ops[-1][0] == "group" and ops[-1][1][1] in ("sum", "mean"))
    if one[1:4] != other[1:4] or one[5] != other[5]:
        return False
    if one[4] is None or exact_floats:
        return repr(one[4]) == repr(other[4])
    return all(_close(a, b, scale) for a, b in zip(one[4], other[4]))


@pytest.fixture
def unraisable():
    """Reports of frames dropped on another thread, and the like."""
    seen = []
    previous = sys.unraisablehook
    sys.unraisablehook = lambda report: seen.append(f"{report.exc_type.__name__}: {report.exc_value}")
    yield seen
    sys.unraisablehook = previous


def _write(tmp_path, name, text):
    path = tmp_path / name
    path.write_bytes(text.encode("utf-8", "surrogatepass"))
    return str(path)


@pytest.mark.parametrize("scheduler", ["sync", "threads"])
def test_one_file_in_random_blocks(tmp_path, scheduler, unraisable):
    rng = random.Random(f"one file {scheduler}{SEED}")
    # The threaded run is there to catch a frame that crosses a thread; the
    # synchronous run covers the chains with more cases at less cost.
    with dask.config.set(scheduler=scheduler):
        for case in range(CASES if scheduler == "sync" else CASES // 2):
            text = csv_text(rng)
            path = _write(tmp_path, f"{case}.csv", text)
            blocksize = blocks_for(rng, len(text.encode()))
            try:
                read = tarnwick.read_csv(text)
                names, kinds = read.names(), read.dtypes()
            except ValueError:
                names, kinds = ["a", "b"], None
            ops = chain(rng, names, kinds)
            one = _outcome(lambda: tarnwick.read_csv(text), ops)
            other = _outcome(lambda: td.read_csv(path, blocksize=blocksize), ops, rng.choice([1, 1, 2, 3]))
            assert _same(one, other, ops, _scale(text)), (case, text, blocksize, ops, one, other)
    assert not unraisable


@pytest.mark.parametrize("scheduler", ["sync", "threads"])
def test_frames_in_random_partitions(scheduler, unraisable):
    rng = random.Random(f"frames {scheduler}{SEED}")
    with dask.config.set(scheduler=scheduler):
        done = 0
        while done < CASES // 2:
            text = csv_text(rng)
            try:
                source = tarnwick.read_csv(text)
            except ValueError:
                continue
            done += 1
            ops = chain(rng, source.names(), source.dtypes())
            parts = rng.randint(1, 6)
            one = _outcome(lambda: tarnwick.read_csv(text), ops)
            other = _outcome(lambda: td.from_frame(tarnwick.read_csv(text), parts), ops, rng.choice([1, 2]))
            assert _same(one, other, ops, _scale(text)), (text, parts, ops, one, other)
    assert not unraisable


def _file_set(rng):
    """Files that each hold a header and some of the rows; the one text of
    all their rows; sometimes a file with another header or a fault."""
    text = csv_text(rng)
    lines = text.replace("\r\n", "\n").replace("\r", "\n").split("\n")
    if '"' in text or len(lines) < 2:
        return None
    header, rows = lines[0], [line for line in lines[1:] if line]
    files, start = [], 0
    count = rng.randint(1, 4)
    for i in range(count):
        stop = len(rows) if i == count - 1 else rng.randint(start, len(rows))
        files.append([header] + rows[start:stop])
        start = stop
    if rng.random() < 0.15 and len(files) > 1:
        files[-1][0] = header + ",extra"
    texts = ["\n".join(f) + rng.choice(["\n", "", "\r\n"]) for f in files]
    return texts


@pytest.mark.parametrize("scheduler", ["sync", "threads"])
def test_random_file_sets(tmp_path, scheduler, unraisable):
    rng = random.Random(f"file sets {scheduler}{SEED}")
    with dask.config.set(scheduler=scheduler):
        done = 0
        while done < CASES // 2:
            texts = _file_set(rng)
            if texts is None:
                continue
            case = tmp_path / f"set{done}"
            case.mkdir()
            paths = [_write(case, f"part{i}.csv", t) for i, t in enumerate(texts)]
            done += 1
            # One machine: the first file that fails, else one text of every file's rows.
            one, whole = None, ""
            headers = []
            for path, t in zip(paths, texts):
                try:
                    headers.append(tarnwick.read_csv(t).names())
                except ValueError as error:
                    one = ("error", "ValueError", str(error))
                    break
                if headers[-1] != headers[0]:
                    one = ("error", "ValueError", None)
                    break
            ops = chain(rng, headers[0] if headers else ["a"])
            if one is None:
                body = [texts[0] if texts[0].endswith(("\n", "\r")) or len(texts) == 1 else texts[0] + "\n"]
                for t in texts[1:]:
                    rest = t.split("\n", 1)[1] if "\n" in t else ""
                    body.append(rest if rest.endswith(("\n", "\r")) or not rest else rest + "\n")
                whole = "".join(body)
                one = _outcome(lambda: tarnwick.read_csv(whole), ops)
            other = _outcome(lambda: td.read_csv(str(case / "*.csv"), blocksize=blocks_for(rng, 40)), ops)
            if one[0] == "error" and one[2] is None:
                assert other[0] == "error" and "differs from the header of" in other[2], (texts, other)
                continue
            assert _same(one, other, ops, _scale(whole)), (texts, ops, one, other)
    assert not unraisable
