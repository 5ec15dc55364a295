"""Objects belong to the thread that made them; uses of one object by
re-entrant calls follow the borrow rules."""
import atexit
import gc
import re
import sys
import threading

import pytest

import tarnwick
from tarnwick import Frame

from conftest import frame_of


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
    """A sequence whose iteration calls back into a frame."""

    def __init__(self, frame, action):
        self.frame = frame
        self.action = action
        self.inner = None

    def __len__(self):
        return 1

    def __getitem__(self, i):
        raise AssertionError("iterated through __iter__, not __getitem__")

    def __iter__(self):
        try:
            self.inner = self.action(self.frame)
        except RuntimeError as error:
            self.inner = error
            raise
        return iter([1])


def test_a_shared_call_inside_an_exclusive_use_is_refused():
    f = frame_of(a=[1])
    values = CallsBack(f, lambda frame: frame.height())
    with pytest.raises(RuntimeError) as caught:
        f.add_ints("b", values)
    assert str(caught.value) == "Already mutably borrowed"
    assert caught.value.__notes__ == ["while processing 'values'"]
    assert f.names() == ["a"] and f.height() == 1  # the use was given back


def test_an_exclusive_call_inside_an_exclusive_use_is_refused():
    f = frame_of(a=[1])
    values = CallsBack(f, lambda frame: frame.add_ints("c", [1]))
    with pytest.raises(RuntimeError) as caught:
        f.add_ints("b", values)
    assert caught.value.args == ("Already borrowed",)
    assert f.names() == ["a"]


def test_many_threads_each_with_their_own_frames():
    results = {}

    def work(i):
        f = frame_of(n=list(range(i, i + 1000)), s=[str(k) for k in range(1000)])
        results[i] = (f.height(), sum(f.ints("n")), f.strings("s")[-1])

    threads = [threading.Thread(target=work, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == {i: (1000, sum(range(i, i + 1000)), "999") for i in range(8)}


def test_a_panic_raised_in_python_code_is_not_a_conversion_failure(capsys):
    foreign = run_in_thread(lambda: frame_of(a=[1]))["value"]
    raised = {}

    class Touches:
        def __index__(self):
            try:
                foreign.height()
            except BaseException as error:
                raised["inner"] = error
                raise
            return 0

    f = Frame()
    with pytest.raises(BaseException) as caught:
        f.add_ints("a", [Touches()])
    outer, inner = caught.value, raised["inner"]
    assert type(outer) is type(inner) and type(outer).__name__ == "PanicException"
    assert outer is not inner
    assert str(outer) == str(inner)
    assert not getattr(outer, "__notes__", None)
    err = capsys.readouterr().err
    assert "Traceback" in err and "__index__" in err
    assert f.width() == 0
    # Its owner thread is gone, so it can never be freed: keep it for the life
    # of the test process rather than report its drop.
    OUTLIVING_THEIR_THREADS.append(foreign)


OUTLIVING_THEIR_THREADS = []


@atexit.register
def drop_outliving_frames():
    """Their drop is reported by design; at exit that report is only noise."""
    hook = sys.unraisablehook
    sys.unraisablehook = lambda report: None
    OUTLIVING_THEIR_THREADS.clear()
    gc.collect()
    sys.unraisablehook = hook
