"""The operations of a chain: their arguments, checked when the chain is
built, and their application to one partition's frame inside a task.

Arguments are converted by tarnwick itself: each method is first called on an
empty frame, so a wrong argument raises exactly the TypeError (or
OverflowError, UnicodeEncodeError) and note that one machine raises, at the
call. Refusals that depend on the data (a missing column, a column of the
wrong kind, an invalid date) can only show when the partitions are computed.
"""

import operator

import tarnwick

from ._pieces import Failure

COMPARISONS = ("where_eq", "where_ne", "where_lt", "where_le", "where_gt", "where_ge")


def _convert(call):
    """Run ``call`` on an empty frame for its argument conversion; a refusal
    of the empty frame itself is not the caller's concern."""
    try:
        call(tarnwick.Frame())
    except ValueError:
        pass


def _text(value):
    # A str subclass becomes a plain str of the same text.
    return str.__str__(value)


def _texts(values):
    return tuple(_text(v) for v in values)


def _floats(values):
    return tuple(float(v) for v in values)


def where(method, name, value):
    if method in COMPARISONS:
        _convert(lambda f: getattr(f, method)(name, value))
        return (method, _text(name), float(value))
    if method == "where_is":
        _convert(lambda f: f.where_is(name, value))
        return ("where_in", _text(name), (_text(value),))
    if method == "where_in":
        _convert(lambda f: f.where_in(name, value))
        return ("where_in", _text(name), _texts(value))
    if method == "where_among":
        _convert(lambda f: f.where_among(name, value))
        return ("where_among", _text(name), _floats(value))
    raise AssertionError(method)


def select(names):
    _convert(lambda f: f.select(names))
    return ("select", _texts(names))


def sort(name, descending):
    _convert(lambda f: f.sort(name, descending))
    return ("sort", _text(name), bool(descending))


def head(n):
    _convert(lambda f: f.head(n))
    return ("head", operator.index(n))


def tail(n):
    _convert(lambda f: f.tail(n))
    return ("tail", operator.index(n))


def add_date_part(name, source, part):
    _convert(lambda f: f.add_date_part(name, source, part))
    return ("add_date_part", _text(name), _text(source), _text(part))


def group(names):
    _convert(lambda f: f.group(names))
    return _texts(names)


def aggregate_name(method, name):
    _convert(lambda f: getattr(f.group([]), method)(name))
    return _text(name)


def apply(frame, op):
    """One operation on a frame; tarnwick raises ValueError for a refusal."""
    kind = op[0]
    if kind in COMPARISONS:
        return getattr(frame, kind)(op[1], op[2])
    if kind == "where_in":
        return frame.where_in(op[1], list(op[2]))
    if kind == "where_among":
        return frame.where_among(op[1], list(op[2]))
    if kind == "select":
        return frame.select(list(op[1]))
    if kind == "sort":
        return frame.sort(op[1], op[2])
    if kind == "head":
        return frame.head(op[1])
    if kind == "tail":
        return frame.tail(op[1])
    if kind == "add_date_part":
        frame.add_date_part(op[1], op[2], op[3])
        return frame
    raise AssertionError(kind)


def run(frame, ops, rows):
    """Apply (depth, op) pairs in order. Returns the frame and None, or None
    and the first failure; ``rows`` gains the rows entering each
    ``add_date_part``."""
    for depth, op in ops:
        if op[0] == "add_date_part":
            rows[depth] = frame.height()
        try:
            frame = apply(frame, op)
        except ValueError as error:
            message = str(error)
        else:
            continue
        return None, _failure(depth, op, message)
    return frame, None


def _failure(depth, op, message):
    if op[0] == "add_date_part":
        # "column {source}, row {row}: {text} is not a YYYY-MM-DD date" names
        # the row within this partition; keep the parts around the number so
        # the row of the whole frame can be written in.
        from ._frames import quoted

        lead = f"column {quoted(op[2])}, row "
        if message.startswith(lead) and message.endswith(" is not a YYYY-MM-DD date"):
            digits = message[len(lead):].split(":", 1)[0]
            if digits.isdigit():
                return Failure(depth, "ValueError", (message,), row=int(digits),
                               prefix=lead, suffix=message[len(lead) + len(digits):], rank=1)
        if message == f"the frame has a column {quoted(op[1])} already":
            return Failure(depth, "ValueError", (message,), rank=2)
    return Failure.value_error(depth, message)
