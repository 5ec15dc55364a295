"""Objects belong to the thread that made them; uses of one object by
re-entrant calls follow the borrow rules."""
import atexit
import contextlib
import functools
import gc
import queue
import random
import re
import sys
import threading

import pytest

import tarnwick
from tarnwick import Frame

from helpers.frames import frame_of, snapshot


def run_in_thread(fn):
    outcome = {}

    def body():
        try:
            outcome["value"] = fn()
        except BaseException as error:  # PanicException is not an Exception
            # Without its traceback: that would hold this function's frame, and
            # through `fn` the test's objects, in a cycle that the collector
            # may free on another thread, which a Frame reports as a foreign drop.
            outcome["error"] = error.with_traceback(None)

    thread = threading.Thread(target=body)
    thread.start()
    thread.join()
    return outcome


def thread_number_of(message, side):
    return int(re.search(side + r": ThreadId\((\d+)\)", message).group(1))


@pytest.mark.parametrize("call", [
    lambda f: f.height(),
    lambda f: f.names(),
    lambda f: f.ints("a"),
    lambda f: f.add_ints("b", [1]),
    lambda f: f.free(),
])
def test_a_foreign_thread_is_refused(call, capsys):
    f = frame_of(a=[1])
    error = run_in_thread(lambda: call(f))["error"]
    panic = type(error)
    assert panic.__name__ == "PanicException"
    assert panic.__bases__ == (BaseException,)
    message = str(error)
    assert message.startswith(
        "assertion `left == right` failed: tarnwick::api::Frame is unsendable, "
        "but sent to another thread\n  left: ThreadId(")
    assert thread_number_of(message, "left") != thread_number_of(message, " right")
    assert "ThreadId(" in capsys.readouterr().err
    assert f.names() == ["a"]  # still fine on its own thread


def test_argument_errors_come_before_the_thread_check():
    f = Frame()
    error = run_in_thread(lambda: f.ints())["error"]
    assert type(error) is TypeError


def test_thread_numbers_are_never_reused():
    f = Frame()
    seen = set()
    for _ in range(5):
        message = str(run_in_thread(f.height)["error"])
        seen.add(thread_number_of(message, "left"))
    assert len(seen) == 5


def test_objects_made_on_a_thread_belong_to_it():
    made = run_in_thread(lambda: frame_of(a=[1, 2]))["value"]
    error = None
    try:
        made.height()
    except BaseException as e:
        error = e
    assert type(error).__name__ == "PanicException"
    OUTLIVING_THEIR_THREADS.append(made)


def test_dropping_on_a_foreign_thread_leaks_and_reports():
    reports = []
    old_hook = sys.unraisablehook
    sys.unraisablehook = lambda report: reports.append(report)
    try:
        gc.collect()  # frames other tests left to the collector go first
        reports.clear()
        holder = [frame_of(a=list(range(10)))]

        def drop():
            holder.pop()

        run_in_thread(drop)
    finally:
        sys.unraisablehook = old_hook
    assert len(reports) == 1
    assert type(reports[0].exc_value) is RuntimeError
    assert str(reports[0].exc_value) == (
        "tarnwick::api::Frame is unsendable, but is being dropped on another thread")


def test_panic_exception_escapes_except_exception():
    f = Frame()

    def attempt():
        try:
            f.height()
        except Exception:
            return "caught by except Exception"
        return "no error"

    error = run_in_thread(attempt).get("error")
    assert type(error).__name__ == "PanicException"


class CallsBack:
    """A sequence whose iteration first calls back into a frame."""

    def __init__(self, frame, action, items=(1,)):
        self.frame = frame
        self.action = action
        self.items = list(items)
        self.inner = None

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        raise AssertionError("iterated through __iter__, not __getitem__")

    def __iter__(self):
        try:
            self.inner = self.action(self.frame)
        except RuntimeError as error:
            self.inner = error
            raise
        return iter(self.items)


# Every method that converts a sequence, with items it accepts; the adding
# methods take the frame for exclusive use, the others for shared use.
SEQUENCE_METHODS = {
    "add_ints": (lambda f, v: f.add_ints("b", v), [1], "values"),
    "add_floats": (lambda f, v: f.add_floats("b", v), [1.5], "values"),
    "add_strings": (lambda f, v: f.add_strings("b", v), ["x"], "values"),
    "where_in": (lambda f, v: f.where_in("s", v), ["x"], "values"),
    "where_among": (lambda f, v: f.where_among("a", v), [1.0], "values"),
    "select": (lambda f, v: f.select(v), ["s"], "names"),
    "group": (lambda f, v: f.group(v), ["s"], "names"),
}
ADDING = ["add_ints", "add_floats", "add_strings"]


@pytest.mark.parametrize("method", ADDING)
def test_a_shared_call_inside_an_exclusive_use_is_refused(method):
    call, items, parameter = SEQUENCE_METHODS[method]
    f = frame_of(a=[1], s=["x"])
    before = snapshot(f)
    values = CallsBack(f, lambda frame: frame.height(), items)
    with pytest.raises(RuntimeError) as caught:
        call(f, values)
    assert str(caught.value) == "Already mutably borrowed"
    assert caught.value.__notes__ == [f"while processing '{parameter}'"]
    assert snapshot(f) == before  # and the use was given back


@pytest.mark.parametrize("method", SEQUENCE_METHODS)
def test_adding_to_the_frame_while_its_sequence_is_converted_is_refused(method):
    call, items, parameter = SEQUENCE_METHODS[method]
    f = frame_of(a=[1], s=["x"])
    before = snapshot(f)
    values = CallsBack(f, lambda frame: frame.add_ints("c", [1]), items)
    with pytest.raises(RuntimeError) as caught:
        call(f, values)
    assert caught.value is values.inner
    assert caught.value.args == ("Already borrowed",)
    assert caught.value.__notes__ == [f"while processing '{parameter}'"]
    assert snapshot(f) == before
    f.add_ints("c", [2])  # the use was given back
    assert f.ints("c") == [2]


@pytest.mark.parametrize("method", sorted(set(SEQUENCE_METHODS) - set(ADDING)))
def test_reading_the_frame_while_its_sequence_is_converted_is_allowed(method):
    call, items, _ = SEQUENCE_METHODS[method]
    f = frame_of(a=[1], s=["x"])
    values = CallsBack(f, lambda frame: (frame.height(), frame.where_in("s", ["x"]).height()),
                       items)
    result = call(f, values)
    assert values.inner == (1, 1)
    assert result is not None and snapshot(f) == snapshot(frame_of(a=[1], s=["x"]))


def panicking_argument(hook, touch):
    """An argument whose `hook` runs `touch`, which raises PanicException."""

    class Item:
        def __index__(self):
            touch()
            return 0

        def __float__(self):
            touch()
            return 0.0

    class Sequence:
        def __len__(self):
            if hook == "__len__":
                touch()
            return 1

        def __getitem__(self, i):
            if i > 0:
                raise IndexError(i)
            return 1

        def __iter__(self):
            if hook == "__iter__":
                touch()
            return iter([1])

    if hook in ("__index__", "__float__"):
        return [Item()] if hook == "__index__" else Item()
    return Sequence()


@pytest.mark.parametrize("hook,call", [
    ("__index__", lambda f, argument: f.add_ints("a", argument)),
    ("__len__", lambda f, argument: f.add_ints("a", argument)),
    ("__iter__", lambda f, argument: f.add_floats("a", argument)),
    ("__len__", lambda f, argument: f.where_among("n", argument)),
    ("__float__", lambda f, argument: f.where_gt("n", argument)),
], ids=["item __index__", "__len__", "__iter__", "__len__ of a shared call", "__float__"])
def test_a_panic_raised_in_python_code_is_not_a_conversion_failure(hook, call, capsys):
    foreign = run_in_thread(lambda: frame_of(a=[1]))["value"]
    raised = {}

    def touch():
        try:
            foreign.height()
        except BaseException as error:
            raised["inner"] = error.with_traceback(None)
            raise

    f = frame_of(n=[1, 2])
    before = snapshot(f)
    with pytest.raises(BaseException) as caught:
        call(f, panicking_argument(hook, touch))
    outer, inner = caught.value, raised["inner"]
    assert type(outer) is type(inner) and type(outer).__name__ == "PanicException"
    assert outer is not inner
    assert str(outer) == str(inner)
    assert not getattr(outer, "__notes__", None)
    err = capsys.readouterr().err
    assert "Traceback" in err and hook in err
    assert snapshot(f) == before
    # Its owner thread is gone, so it can never be freed: keep it for the life
    # of the test process rather than report its drop.
    OUTLIVING_THEIR_THREADS.append(foreign)


# --- Under load: many threads, each with its own frames ---------------------

THREADS = 8
ROUNDS = 30
PANIC_MESSAGE = re.compile(
    r"assertion `left == right` failed: tarnwick::api::(Frame|Grouped) is unsendable, "
    r"but sent to another thread\n  left: ThreadId\((\d+)\)\n right: ThreadId\((\d+)\)")


@contextlib.contextmanager
def busy_threads():
    """Threads switch often, and the collector stays off: a cycle that holds a
    frame, left over by an earlier test, would otherwise be freed on whatever
    thread the collector happens to run, which a frame reports as a foreign
    drop."""
    gc.collect()
    gc.disable()
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    try:
        yield
    finally:
        sys.setswitchinterval(interval)
        gc.enable()


def run_together(*bodies):
    threads = [threading.Thread(target=body) for body in bodies]
    with busy_threads():
        for t in threads:
            t.start()
        for t in threads:
            t.join()


def rows_of(seed, n):
    rng = random.Random(seed)
    return ([rng.randrange(-5, 15) for _ in range(n)],
            [rng.uniform(-50, 50) for _ in range(n)],
            [f"s{rng.randrange(30)}" for _ in range(n)])


def checked_round(seed):
    """Builds, filters, sorts, groups, writes and reads a frame, each result
    checked against the same computation in plain Python."""
    ks, xs, ss = rows_of(seed, 1500)
    f = Frame()
    f.add_ints("k", ks)
    f.add_floats("x", xs)
    f.add_strings("s", ss)
    rows = list(zip(ks, xs, ss))

    kept = [r for r in rows if r[1] > 0]
    g = f.where_gt("x", 0.0)
    assert g.floats("x") == [x for _, x, _ in kept]
    ordered = sorted(kept, key=lambda r: -r[0])  # stable, like sort
    h = g.sort("k", True)
    assert h.ints("k") == [k for k, _, _ in ordered] and h.strings("s") == [s for *_, s in ordered]
    chosen = {"s1", "s2", "s3"}
    assert f.where_in("s", sorted(chosen)).ints("k") == [k for k, _, s in rows if s in chosen]

    groups = {}
    for k, x, s in kept:
        groups.setdefault(s, []).append((k, x))
    grouped = g.group(["s"])
    assert grouped.groups() == len(groups)
    sums = grouped.sum("k")
    assert sums.strings("s") == list(groups)
    assert sums.ints("k") == [sum(k for k, _ in v) for v in groups.values()]
    assert grouped.max("x").floats("x") == [max(x for _, x in v) for v in groups.values()]
    assert grouped.count().ints("count") == [len(v) for v in groups.values()]

    back = tarnwick.read_csv(h.select(["s", "x", "k"]).to_csv())
    assert back.dtypes() == ["str", "f64", "i64"]
    assert (back.strings("s"), back.floats("x"), back.ints("k")) == (
        h.strings("s"), h.floats("x"), h.ints("k"))
    return f, h, grouped


def refused_here(target, call):
    """Calls `call(target)` on an object of another thread: the owner check
    refuses it. Returns the two thread numbers of the message."""
    try:
        call(target)
    except BaseException as error:
        assert type(error).__name__ == "PanicException", repr(error)
        match = PANIC_MESSAGE.fullmatch(str(error))
        assert match, str(error)
        return int(match.group(2)), int(match.group(3))
    raise AssertionError("a call from another thread went through")


FOREIGN_CALLS = [
    lambda f: f.height(),
    lambda f: f.where_gt("x", 0.0),
    lambda f: f.add_ints("stolen", [0]),
    lambda f: f.to_csv(),
    lambda f: f.group(["s"]),
    lambda f: repr(f),
]


def call_neighbour(objects, round_):
    target = objects[round_ % len(objects)]
    if type(target) is Frame:
        return refused_here(target, FOREIGN_CALLS[round_ % len(FOREIGN_CALLS)])
    return refused_here(target, lambda g: g.count())


def test_many_threads_each_with_their_own_frames(capsys):
    """Eight threads work on their own frames at once; each also calls into
    the frames and groupings of its neighbour, which must refuse it."""
    published = [None] * THREADS
    locks = [threading.Lock() for _ in range(THREADS)]
    failures = []
    refusals = []
    start = threading.Barrier(THREADS)

    def work(i):
        try:
            start.wait()
            for round_ in range(ROUNDS):
                f, h, grouped = checked_round(1000 * i + round_)
                with locks[i]:
                    published[i] = (f, h, grouped)
                neighbour = (i + 1) % THREADS
                with locks[neighbour]:
                    # Under the lock, so that only their owner ever drops them.
                    if published[neighbour] is not None:
                        refusals.append(call_neighbour(published[neighbour], round_))
                f.add_ints("mine", list(range(f.height())))  # still its owner's
            with locks[i]:
                published[i] = None
        except BaseException as error:
            failures.append(error.with_traceback(None))

    run_together(*(functools.partial(work, i) for i in range(THREADS)))
    assert failures == []
    assert len(refusals) > THREADS * ROUNDS // 2
    assert all(caller != owner for caller, owner in refusals)
    capsys.readouterr()  # the refusals' reports on standard error


def test_a_frame_dropped_on_another_thread_never_frees_shared_storage():
    """Thread A keeps deriving frames from one storage and dropping them while
    thread B drops others derived from it: B's drops must leave the storage
    alone (they are leaked and reported), so A's data stays intact. Under the
    sanitized build a free on B would show as a use after free on A."""
    handed = queue.Queue()
    reports = []
    outcome = {}
    n = 50_000

    def owner():
        try:
            ks, xs, ss = rows_of(7, n)
            f = frame_of(k=ks, x=xs, s=ss)
            expected = (f.ints("k"), f.floats("x"), f.strings("s"))
            for round_ in range(300):
                derived = [f.where_gt("x", 0.0), f.sort("k", round_ % 2 == 0),
                           f.head(n - round_), f.select(["s"]), f.group(["k"])]
                # The handed object's only reference is the box's, and only the
                # dropper takes it out: its last drop is on the dropper, always.
                box = [derived[round_ % len(derived)]]
                derived.clear()
                handed.put(box)
                del box
                again = f.tail(n - round_).where_lt("x", 10.0)
                assert again.height() == sum(1 for x in xs[round_:] if x < 10.0)
                del again
            outcome["intact"] = (f.ints("k"), f.floats("x"), f.strings("s")) == expected
            outcome["derived"] = f.sort("x", False).floats("x") == sorted(xs)
        except BaseException as error:
            outcome["error"] = error.with_traceback(None)
        finally:
            handed.put(None)

    def dropper():
        while (box := handed.get()) is not None:
            box.pop()  # the object taken out of the box is dropped here, on this thread

    old_hook = sys.unraisablehook
    sys.unraisablehook = reports.append
    try:
        run_together(owner, dropper)
    finally:
        sys.unraisablehook = old_hook
    assert outcome == {"intact": True, "derived": True}
    assert len(reports) == 300
    assert {str(r.exc_value) for r in reports} == {
        f"tarnwick::api::{kind} is unsendable, but is being dropped on another thread"
        for kind in ("Frame", "Grouped")}


OUTLIVING_THEIR_THREADS = []


@atexit.register
def drop_outliving_frames():
    """Their drop is reported by design; at exit that report is only noise."""
    hook = sys.unraisablehook
    sys.unraisablehook = lambda report: None
    OUTLIVING_THEIR_THREADS.clear()
    gc.collect()
    sys.unraisablehook = hook
