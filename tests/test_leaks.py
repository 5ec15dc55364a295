"""Every public operation, succeeding or failing, called many times: resident
memory stays flat and the argument objects keep their reference counts."""
import gc
import os
import resource
import sys

import pytest

import tarnwick
from tarnwick import Frame

from helpers.frames import frame_of

pytestmark = pytest.mark.skipif(
    os.environ.get("TARNWICK_SANITIZED") == "1",
    reason="the sanitizer's quarantine holds freed memory on purpose")

CALLS = 100_000
# A leak of one small heap block per call grows memory by at least 3 MB over
# the loop; the interpreter's own caches settle within the warm-up.
TOLERANCE = 1_000_000


def resident():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * resource.getpagesize()


def small_frame():
    return frame_of(n=[3, 1, 2, 1], x=[0.5, -1.0, float("nan"), 2.0], s=["b", "a", "", "a"],
                 d=["2024-02-29", "1999-12-31", "0001-01-01", "2000-01-01"])


# name -> (arguments factory, call). The arguments are built once so that their
# reference counts can be compared before and after the loop.
OPERATIONS = {
    "height": (lambda: (), lambda f: f.height()),
    "names": (lambda: (), lambda f: f.names()),
    "dtypes": (lambda: (), lambda f: f.dtypes()),
    "ints": (lambda: ("n",), lambda f, a: f.ints(a)),
    "floats": (lambda: ("x",), lambda f, a: f.floats(a)),
    "strings": (lambda: ("s",), lambda f, a: f.strings(a)),
    "add_ints": (lambda: ("new", [1, 2, 3, 4]), lambda f, n, v: Frame().add_ints(n, v)),
    "add_floats": (lambda: ("new", [1.0, 2, 3, 4]), lambda f, n, v: Frame().add_floats(n, v)),
    "add_strings": (lambda: ("new", ["a", "bb", "", "é"]), lambda f, n, v: Frame().add_strings(n, v)),
    "where_gt": (lambda: ("x", 0.0), lambda f, n, v: f.where_gt(n, v)),
    "where_eq i64": (lambda: ("n", 1), lambda f, n, v: f.where_eq(n, v)),
    "where_in": (lambda: ("s", ["a", "z"]), lambda f, n, v: f.where_in(n, v)),
    "where_is": (lambda: ("s", "a"), lambda f, n, v: f.where_is(n, v)),
    "where_among": (lambda: ("n", [1.0, 3.0]), lambda f, n, v: f.where_among(n, v)),
    "select": (lambda: (["s", "n"],), lambda f, v: f.select(v)),
    "sort": (lambda: ("s", True), lambda f, n, d: f.sort(n, d)),
    "head": (lambda: (-1,), lambda f, k: f.head(k)),
    "tail": (lambda: (2,), lambda f, k: f.tail(k)),
    "add_date_part": (lambda: ("y", "d", "year"),
                      lambda f, n, s, p: f.select(["d"]).add_date_part(n, s, p)),
    "free": (lambda: (), lambda f: f.free()),
    "group": (lambda: (["s", "n"],), lambda f, k: f.group(k)),
    "groups": (lambda: (), lambda f: f.group(["s"]).groups()),
    "describe grouped": (lambda: (), lambda f: repr(f.group(["s"]))),
    "count": (lambda: (), lambda f: f.group(["s"]).count()),
    "sum": (lambda: ("x",), lambda f, n: f.group(["s"]).sum(n)),
    "mean": (lambda: ("n",), lambda f, n: f.group(["s"]).mean(n)),
    "min": (lambda: ("s",), lambda f, n: f.group(["n"]).min(n)),
    "max": (lambda: ("x",), lambda f, n: f.group([]).max(n)),
    "read_csv": (lambda: ('a,b,c,d\n1,"x,""y""",2.5,\n,z\u00e9,-inf,7\n',),
                 lambda f, t: tarnwick.read_csv(t)),
    "to_csv": (lambda: (), lambda f: f.to_csv()),
    "describe": (lambda: (), lambda f: f.describe()),
    "repr": (lambda: (), lambda f: repr(f)),
    "str": (lambda: (), lambda f: str(f)),
}

FAILURES = {
    "no such column": (lambda: ("zz",), lambda f, a: f.ints(a)),
    "wrong kind": (lambda: ("s",), lambda f, a: f.floats(a)),
    "name taken": (lambda: ("n", [1, 2, 3, 4]), lambda f, n, v: f.add_ints(n, v)),
    "wrong length": (lambda: ("q", [1]), lambda f, n, v: f.add_ints(n, v)),
    "bad item": (lambda: ("q", [1, 2.5, 3, 4]), lambda f, n, v: f.add_ints(n, v)),
    "str as values": (lambda: ("q", "abcd"), lambda f, n, v: f.add_strings(n, v)),
    "not a sequence": (lambda: ("q", {1: 2}), lambda f, n, v: f.add_ints(n, v)),
    "overflow": (lambda: ("q", [2**64] * 4), lambda f, n, v: f.add_ints(n, v)),
    "call shape": (lambda: ("n",), lambda f, a: f.ints(a, a)),
    "unknown keyword": (lambda: ("n",), lambda f, a: f.ints(nme=a)),
    "str compared": (lambda: ("s", 1.0), lambda f, n, v: f.where_gt(n, v)),
    "select twice": (lambda: (["n", "n"],), lambda f, v: f.select(v)),
    "bad date": (lambda: ("y", "s", "year"), lambda f, n, s, p: f.add_date_part(n, s, p)),
    "bad part": (lambda: ("y", "d", "week"), lambda f, n, s, p: f.add_date_part(n, s, p)),
    "not a bool": (lambda: ("n", 1), lambda f, n, d: f.sort(n, d)),
    "group unknown key": (lambda: (["s", "zz"],), lambda f, k: f.group(k)),
    "sum of str": (lambda: ("s",), lambda f, n: f.group(["n"]).sum(n)),
    "reduce a key": (lambda: ("n",), lambda f, n: f.group(["n"]).max(n)),
    "sum overflows": (lambda: ("big",), lambda f, n: OVERFLOWING.group([]).sum(n)),
    "no header line": (lambda: ("\n\r\n",), lambda f, t: tarnwick.read_csv(t)),
    "quoted field never closed": (lambda: ('a,b\n1,"x\n',), lambda f, t: tarnwick.read_csv(t)),
    "text after a closing quote": (lambda: ('a\n"x"y\n',), lambda f, t: tarnwick.read_csv(t)),
    "field count": (lambda: ("a,b\n1,2\n3\n",), lambda f, t: tarnwick.read_csv(t)),
    "repeated name": (lambda: ("a,b,a\n1,x,2\n",), lambda f, t: tarnwick.read_csv(t)),
    "text not a str": (lambda: (b"a\n1",), lambda f, t: tarnwick.read_csv(t)),
    "text without UTF-8": (lambda: ("a\n\ud800",), lambda f, t: tarnwick.read_csv(t)),
    "read_csv call shape": (lambda: ("a",), lambda f, t: tarnwick.read_csv(t, text=t)),
    "to_csv with an argument": (lambda: (1,), lambda f, a: f.to_csv(a)),
    "describe with an argument": (lambda: (1,), lambda f, a: f.describe(a)),
}

OVERFLOWING = frame_of(big=[2**62, 2**62, -2**62])


def loop(frame, make_args, call, expect_failure):
    args = make_args()
    for _ in range(1000):  # warm-up: caches, free lists, arenas
        run_once(frame, args, call, expect_failure)
    gc.collect()
    counts = [sys.getrefcount(a) for a in args]
    before = resident()
    for _ in range(CALLS):
        run_once(frame, args, call, expect_failure)
    gc.collect()
    grown = resident() - before
    assert [sys.getrefcount(a) for a in args] == counts
    return grown


def run_once(frame, args, call, expect_failure):
    if expect_failure:
        try:
            call(frame, *args)
        except (ValueError, TypeError, OverflowError):
            return
        raise AssertionError("the call was expected to fail")
    call(frame, *args)


@pytest.mark.parametrize("name", OPERATIONS)
def test_successful_calls_leave_memory_flat(name):
    make_args, call = OPERATIONS[name]
    assert loop(small_frame(), make_args, call, expect_failure=False) < TOLERANCE


@pytest.mark.parametrize("name", FAILURES)
def test_failing_calls_give_back_what_they_took(name):
    make_args, call = FAILURES[name]
    frame = small_frame()
    assert loop(frame, make_args, call, expect_failure=True) < TOLERANCE
    assert frame.names() == ["n", "x", "s", "d"]


def test_big_frames_leave_memory_flat():
    n = 1_000_000
    frame = frame_of(n=list(range(n)), x=[i * 0.5 for i in range(n)],
                     s=[f"k{i % 1000}" for i in range(n)])
    operations = [lambda: frame.sort("x", True), lambda: frame.where_gt("x", 1000.0),
                  lambda: frame.where_in("s", ["k1", "k2"]), lambda: frame.ints("n"),
                  lambda: frame.strings("s"), lambda: frame.head(-10),
                  lambda: frame.group(["s"]).sum("x"), lambda: frame.group(["n"]).count()]
    for op in operations:
        op()
    gc.collect()
    before = resident()
    for _ in range(10):
        for op in operations:
            op()
    gc.collect()
    assert resident() - before < 8 * TOLERANCE
