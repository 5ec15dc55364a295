"""The reader's work per byte does not grow with the width of the table.

Counted, not timed: tests/cpp/read_width_probe.cpp reads float columns of
several widths (4 MB of text each) under cachegrind, once with a model of a
core's caches (48 KiB 12-way L1, 2 MiB 16-way L2) and once with a model of its
first-level TLB (64 fully associative entries of 4 KiB pages). Both models
are deterministic, so the counts are the same on every run.

The faults this guards against are those of reading wide tables one column at
a time: one output stream per column written at once (every stream at the
same offset within a page falls into one cache set, which thrashes past its
ways), and a pass per column over the whole text (a new page every few fields,
and lines the hardware does not fetch ahead). Either made the time per field
grow two to four times between 8 and 16 columns."""
import concurrent.futures
import os
import pathlib
import re
import shutil
import subprocess

import pytest

import tarnwick

PROBE = pathlib.Path(tarnwick.__file__).with_name("read_width_probe")
TEXT_BYTES = 4_000_000
CACHES = ["--D1=49152,12,64", "--LL=2097152,16,64"]
PAGES = ["--D1=262144,64,4096", "--LL=8388608,16,4096"]

pytestmark = [
    pytest.mark.skipif(shutil.which("valgrind") is None, reason="valgrind is not installed"),
    pytest.mark.skipif(not PROBE.exists(), reason="the probe is built with the C++ tests"),
    pytest.mark.skipif(os.environ.get("TARNWICK_SANITIZED") == "1",
                       reason="valgrind does not run sanitized programs"),
]


def counts(width, model, tmp_path):
    """Cachegrind's counts for reading `width` float columns, per byte of text."""
    tmp_path.mkdir(exist_ok=True)
    done = subprocess.run(
        ["valgrind", "--tool=cachegrind", "--cache-sim=yes", "--instr-at-start=no", *model,
         f"--cachegrind-out-file={tmp_path / f'{width}.out'}", str(PROBE), str(width),
         str(TEXT_BYTES)], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr[-2000:]
    text_bytes, fields = map(int, done.stdout.split())
    assert fields > 0

    def count(label):
        found = re.search(label + r":\s+([\d,]+)", done.stderr)
        return int(found.group(1).replace(",", "")) / text_bytes

    return {"instructions": count("I refs"), "first": count("D1  misses"),
            "second": count("LLd misses"), "bytes per field": text_bytes / fields}


@pytest.fixture(scope="module")
def measured(tmp_path_factory):
    tmp_path = tmp_path_factory.mktemp("cachegrind")
    runs = [(width, name, model) for width in (4, 16, 64)
            for name, model in (("caches", CACHES), ("pages", PAGES))]
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 1) as pool:
        results = pool.map(lambda run: counts(run[0], run[2], tmp_path / run[1]), runs)
        found = {}
        for (width, name, _), result in zip(runs, results):
            found.setdefault(width, {})[name] = result
    return found


@pytest.mark.parametrize("width", [16, 64])
def test_work_per_byte_does_not_grow_with_width(measured, width):
    narrow, wide = measured[4]["caches"], measured[width]["caches"]
    assert wide["instructions"] <= 1.1 * narrow["instructions"], (narrow, wide)
    # L1 misses per byte: a cache set thrashed by many output streams made
    # every span written one (five times as many at 32 columns and more).
    assert wide["first"] <= 1.25 * narrow["first"], (narrow, wide)
    assert wide["second"] <= 1.25 * narrow["second"], (narrow, wide)


@pytest.mark.parametrize("width", [4, 16, 64])
def test_pages_are_touched_a_block_at_a_time(measured, width):
    # A pass per column over the text touched a new page every 3 fields at 64
    # columns (0.31 misses per field); a block at a time, the text's and the
    # block's pages serve every column: far fewer than one miss per 20 fields.
    pages = measured[width]["pages"]
    per_field = pages["first"] * pages["bytes per field"]
    assert per_field < 0.05, pages
