"""Where a task's frames live: one helper thread per task thread.

A tarnwick frame must be dropped on the thread that made it (elsewhere it is
leaked, by design). A task that keeps its frames in local variables drops
them when its functions return, on its own thread, unless something else
holds those functions' Python frames: distributed's worker samples the
stacks of the threads running tasks every few milliseconds for its profile,
and a Python frame still held when its call returns keeps its locals, which
the sampler then releases on the event loop's thread. So every function that
makes or takes frames runs on a helper thread that belongs to the calling
thread and that no sampler watches; what comes back is Arrow data and plain
values, and an exception comes back without the traceback that would hold
the helper's frames.
"""

import functools
import queue
import threading
import traceback

_local = threading.local()


def _serve(requests):
    _local.inside = True
    while True:
        item = requests.get()
        if item is None:
            return
        function, args, kwargs, reply = item
        del item
        try:
            outcome = (True, function(*args, **kwargs))
        except BaseException as error:
            text = traceback.format_exc()
            _strip(error)
            outcome = (False, (error, text))
        del function, args, kwargs
        reply.put(outcome)
        del outcome, reply


def _strip(error):
    seen = set()
    while error is not None and id(error) not in seen:
        seen.add(id(error))
        error.__traceback__ = None
        error = error.__cause__ or error.__context__


class _Helper:
    def __init__(self):
        self._requests = queue.SimpleQueue()
        threading.Thread(target=_serve, args=(self._requests,), name="tarnwick_dask frames", daemon=True).start()

    def call(self, function, args, kwargs):
        reply = queue.SimpleQueue()
        self._requests.put((function, args, kwargs, reply))
        ok, value = reply.get()
        if ok:
            return value
        error, text = value
        error.add_note(f"on the thread that held the task's frames:\n{text}")
        raise error

    def __del__(self):
        # The calling thread ended: its helper ends too.
        self._requests.put(None)


def owns_frames(function):
    """Runs the function on the calling thread's helper thread (at once when
    already there)."""

    @functools.wraps(function)
    def run(*args, **kwargs):
        if getattr(_local, "inside", False):
            return function(*args, **kwargs)
        helper = getattr(_local, "helper", None)
        if helper is None:
            helper = _local.helper = _Helper()
        return helper.call(function, args, kwargs)

    return run
