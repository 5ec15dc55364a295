"""Running out of memory: MemoryError, the receiver unchanged, the interpreter
alive and the next call working. Each case runs in its own process under a
lowered address-space limit."""
import os
import subprocess
import sys
import textwrap

import pytest

pytestmark = pytest.mark.skipif(
    os.environ.get("TARNWICK_SANITIZED") == "1",
    reason="the sanitizer reserves far more address space than any limit allows")

PRELUDE = """
import resource
import tarnwick

def vm_size():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[0]) * resource.getpagesize()

def limit_to(extra):
    limit = vm_size() + extra
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

def expect_memory_error(call):
    try:
        call()
    except MemoryError:
        return
    raise SystemExit("no MemoryError")
"""


def run_case(body):
    script = PRELUDE + textwrap.dedent(body) + "\nprint('survived')\n"
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=300, env=dict(os.environ, PYTHONMALLOC="malloc"))
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.strip().endswith("survived")


def test_adding_a_column_too_big_for_memory():
    run_case("""
        f = tarnwick.Frame()
        f.add_ints("small", [1, 2, 3])
        values = range(3)
        big = tarnwick.Frame()
        limit_to(64 << 20)
        expect_memory_error(lambda: big.add_ints("a", range(100_000_000)))
        assert big.width() == 0
        expect_memory_error(lambda: big.add_strings("s", ["x" * 1000] * 1_000_000))
        assert big.width() == 0 and f.ints("small") == [1, 2, 3]
        big.add_ints("a", values)
        assert big.ints("a") == [0, 1, 2]
    """)


def test_sorting_and_reading_back_a_big_frame():
    run_case("""
        n = 8_000_000
        g = tarnwick.Frame()
        # From bytes, so that no freed Python objects leave room under the limit.
        g.add_floats("x", bytes(range(250)) * (n // 250))
        g.add_strings("s", ["ab"] * n)
        limit_to(48 << 20)
        expect_memory_error(lambda: g.sort("x", True))
        expect_memory_error(lambda: g.floats("x"))
        expect_memory_error(lambda: g.strings("s"))  # the list itself does not fit
        assert g.height() == n and g.width() == 2
        assert g.head(2).floats("x") == [0.0, 1.0]
        assert g.where_eq("x", 249.0).height() == n // 250
    """)


def test_adding_to_a_derived_frame_runs_out_while_materializing():
    run_case("""
        n = 4_000_000
        g = tarnwick.Frame()
        g.add_ints("a", range(n))
        g.add_strings("s", ["abcdefgh"] * n)
        derived = g.tail(n - 1)
        limit_to(24 << 20)
        expect_memory_error(lambda: derived.add_ints("b", range(n - 1)))
        assert derived.names() == ["a", "s"] and derived.height() == n - 1
        assert derived.head(1).ints("a") == [1]
    """)


@pytest.mark.parametrize("text", [
    # The tokenizer's spans do not fit: 12 bytes for every 2-byte field.
    """'"a,b",c,d\\n' + "1,2.5,x\\n" * 3_000_000""",
    # The spans fit; the strings built from them do not.
    """"s\\n" + ("x" * 120 + "\\n") * 300_000""",
], ids=["spans", "strings"])
def test_reading_a_text_whose_columns_do_not_fit(text):
    run_case(f"""
        text = {text}
        f = tarnwick.Frame()
        f.add_ints("small", [1, 2, 3])
        limit_to(24 << 20)
        expect_memory_error(lambda: tarnwick.read_csv(text))
        expect_memory_error(lambda: tarnwick.read_csv(text))
        assert f.ints("small") == [1, 2, 3] and f.names() == ["small"]
        assert tarnwick.read_csv(text[:200]).height() > 0
    """)


def test_grouping_whose_group_numbers_do_not_fit():
    run_case("""
        n = 8_000_000
        f = tarnwick.Frame()
        f.add_ints("k", bytes(range(250)) * (n // 250))
        limit_to(16 << 20)
        expect_memory_error(lambda: f.group(["k"]))
        assert f.height() == n and f.names() == ["k"]
        small = f.head(500).group(["k"])
        assert small.groups() == 250 and small.count().ints("count")[:2] == [2, 2]
    """)


def test_aggregations_whose_results_do_not_fit():
    run_case("""
        n = 3_000_000
        f = tarnwick.Frame()
        f.add_ints("k", range(n))
        f.add_floats("v", bytes(range(250)) * (n // 250))
        g = f.group(["k"])  # one group per row
        limit_to(16 << 20)
        for reduce in (g.count, lambda: g.sum("v"), lambda: g.mean("v"), lambda: g.max("v")):
            expect_memory_error(reduce)
        assert g.groups() == n and repr(g) == f"Grouped({n} groups by k)"
        assert f.height() == n and f.names() == ["k", "v"]
        assert f.tail(2).group(["k"]).sum("v").floats("v") == [248.0, 249.0]
    """)
