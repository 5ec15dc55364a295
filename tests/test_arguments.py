"""How calls are matched to parameters and how each argument is converted."""
import fractions
import sys

import pytest

import tarnwick
from tarnwick import Frame

from helpers.frames import frame_of, snapshot
from helpers.messages import STR_AS_SEQUENCE, not_an_instance


@pytest.fixture
def f():
    return frame_of(a=[1, 2, 3])


@pytest.mark.parametrize("call,message", [
    (lambda f: f.add_ints("a"),
     "Frame.add_ints() missing 1 required positional argument: 'values'"),
    (lambda f: f.add_ints(),
     "Frame.add_ints() missing 2 required positional arguments: 'name' and 'values'"),
    (lambda f: f.add_floats(values=[1.0]),
     "Frame.add_floats() missing 1 required positional argument: 'name'"),
    (lambda f: f.ints("a", "b"),
     "Frame.ints() takes 1 positional arguments but 2 were given"),
    (lambda f: f.add_strings("a", [], 3),
     "Frame.add_strings() takes 2 positional arguments but 3 were given"),
    (lambda f: f.ints(name="a", nme="b"),
     "Frame.ints() got an unexpected keyword argument 'nme'"),
    (lambda f: f.ints("a", name="a"),
     "Frame.ints() got multiple values for argument 'name'"),
    (lambda f: f.add_ints(name="a", values=[], **{"name\u00e9": 1}),
     "Frame.add_ints() got an unexpected keyword argument 'name\u00e9'"),
    (lambda f: Frame(1), "Frame.__new__() takes 0 positional arguments but 1 was given"),
    (lambda f: Frame(1, 2), "Frame.__new__() takes 0 positional arguments but 2 were given"),
    (lambda f: Frame(x=1), "Frame.__new__() got an unexpected keyword argument 'x'"),
])
def test_call_shape_messages(f, call, message):
    with pytest.raises(TypeError) as caught:
        call(f)
    assert str(caught.value) == message
    assert not getattr(caught.value, "__notes__", None)


def test_too_many_positional_is_reported_before_keywords(f):
    with pytest.raises(TypeError, match=r"takes 1 positional arguments but 2 were given"):
        f.ints("a", "b", bogus=1)


def test_keywords_work_like_positions(f):
    assert f.ints(name="a") == f.ints("a")
    f.add_floats(values=[1, 2, 3], name="x")
    assert f.floats("x") == [1.0, 2.0, 3.0]


def conversion_error(call):
    with pytest.raises(Exception) as caught:
        call()
    return caught.value


@pytest.mark.parametrize("values,kind,message", [
    ("abc", TypeError, STR_AS_SEQUENCE),
    ({1: 2}, TypeError, not_an_instance("dict", "Sequence")),
    ({1, 2}, TypeError, not_an_instance("set", "Sequence")),
    ((x for x in [1]), TypeError, not_an_instance("generator", "Sequence")),
    (iter([1]), TypeError, not_an_instance("list_iterator", "Sequence")),
    (None, TypeError, not_an_instance("None", "Sequence")),
    (5, TypeError, not_an_instance("int", "Sequence")),
    ([1, 2.5], TypeError, "'float' object cannot be interpreted as an integer"),
    ([1, "2"], TypeError, "'str' object cannot be interpreted as an integer"),
    ([2**63], OverflowError, None),
    ([-2**63 - 1], OverflowError, None),
])
def test_integer_sequence_refusals_carry_the_note(values, kind, message):
    f = Frame()
    error = conversion_error(lambda: f.add_ints("a", values))
    assert type(error) is kind
    if message is not None:
        assert str(error) == message
    assert error.__notes__ == ["while processing 'values'"]
    assert f.width() == 0


class Indexable:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Floaty:
    def __float__(self):
        return 0.25


class OnlyGetitem:
    """A sequence by the old protocol: __getitem__ until IndexError."""

    def __getitem__(self, i):
        if i >= 3:
            raise IndexError(i)
        return i * 10


@pytest.mark.parametrize("values,expected", [
    ([True, False, 7], [1, 0, 7]),
    ((1, 2), [1, 2]),
    (range(3), [0, 1, 2]),
    (b"\x01\x02", [1, 2]),
    (bytearray(b"\xff"), [255]),
    ([Indexable(-5)], [-5]),
    ([2**63 - 1, -2**63], [2**63 - 1, -2**63]),
    (OnlyGetitem(), [0, 10, 20]),
])
def test_integer_sequences_accepted(values, expected):
    f = Frame()
    f.add_ints("a", values)
    assert f.ints("a") == expected


@pytest.mark.parametrize("values,expected", [
    ([1, 2], [1.0, 2.0]),
    ([True, 0.5], [1.0, 0.5]),
    ([Floaty(), Indexable(3)], [0.25, 3.0]),
    (b"\x01", [1.0]),
    ([fractions.Fraction(1, 4)], [0.25]),
    ([2**60 + 1], [float(2**60)]),
])
def test_float_sequences_accepted(values, expected):
    f = Frame()
    f.add_floats("x", values)
    assert f.floats("x") == expected


def test_float_conversion_failures_are_the_interpreters():
    f = Frame()
    assert type(conversion_error(lambda: f.add_floats("x", [10**400]))) is OverflowError
    error = conversion_error(lambda: f.add_floats("x", ["1.5"]))
    assert type(error) is TypeError and error.__notes__ == ["while processing 'values'"]


@pytest.mark.parametrize("name,message", [
    (5, not_an_instance("int", "str")),
    (None, not_an_instance("None", "str")),
    (b"a", not_an_instance("bytes", "str")),
    (Indexable(1), not_an_instance("Indexable", "str")),
])
def test_text_refusals(f, name, message):
    error = conversion_error(lambda: f.ints(name))
    assert type(error) is TypeError and str(error) == message
    assert error.__notes__ == ["while processing 'name'"]


def test_str_subclass_is_text(f):
    class Name(str):
        pass

    assert f.ints(Name("a")) == [1, 2, 3]


def test_text_without_utf8_form_is_the_interpreters_error(f):
    error = conversion_error(lambda: f.ints("\ud800"))
    assert type(error) is UnicodeEncodeError
    assert error.__notes__ == ["while processing 'name'"]


def test_text_items_are_checked_one_by_one():
    f = Frame()
    error = conversion_error(lambda: f.add_strings("s", ["a", 1]))
    assert str(error) == not_an_instance("int", "str")
    assert error.__notes__ == ["while processing 'values'"]


def test_name_is_converted_before_values():
    f = Frame()
    error = conversion_error(lambda: f.add_ints(1, "abc"))
    assert error.__notes__ == ["while processing 'name'"]


def test_conversion_stops_at_the_first_failing_item():
    seen = []

    class Recorder:
        def __init__(self, value):
            self.value = value

        def __index__(self):
            seen.append(self.value)
            if self.value == 2:
                raise ZeroDivisionError("two")
            return self.value

    f = Frame()
    error = conversion_error(lambda: f.add_ints("a", [Recorder(1), Recorder(2), Recorder(3)]))
    assert type(error) is ZeroDivisionError and seen == [1, 2]


# Every method that converts a sequence: (call, three items it accepts, the
# result to compare). The adding methods add column "b" and show it.
SEQUENCE_CALLS = {
    "add_ints": (lambda f, v: f.add_ints("b", v), [0, 10, 20], lambda f, r: f.ints("b")),
    "add_floats": (lambda f, v: f.add_floats("b", v), [0.5, 1.5, 2.5], lambda f, r: f.floats("b")),
    "add_strings": (lambda f, v: f.add_strings("b", v), ["x", "", "z"],
                    lambda f, r: f.strings("b")),
    "where_in": (lambda f, v: f.where_in("s", v), ["x", "q", "z"], lambda f, r: snapshot(r)),
    "where_among": (lambda f, v: f.where_among("a", v), [1.0, 3.0, 9.0], lambda f, r: snapshot(r)),
    "select": (lambda f, v: f.select(v), ["s", "a", "x"], lambda f, r: snapshot(r)),
    "group": (lambda f, v: f.group(v), ["s", "a", "x"], lambda f, r: repr(r.count())),
}


def sequence_frame():
    return frame_of(a=[1, 2, 3], s=["x", "y", "z"], x=[0.5, 1.5, 2.5])


class Lying:
    """A sequence by the old protocol whose __len__ says what it is told."""

    def __init__(self, items, length):
        self.items = items
        self.length = length

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length

    def __getitem__(self, i):
        return self.items[i]  # IndexError past the end


@pytest.mark.parametrize("length", [
    2**62, sys.maxsize, 2**64, -1, 0, 1, "three", RuntimeError("no length"),
], ids=["huge", "maxsize", "beyond an index", "negative", "zero", "short", "not an int", "raises"])
@pytest.mark.parametrize("method", SEQUENCE_CALLS)
def test_the_length_is_only_a_hint(method, length):
    call, items, result_of = SEQUENCE_CALLS[method]
    plain = sequence_frame()
    expected = result_of(plain, call(plain, list(items)))
    f = sequence_frame()
    assert result_of(f, call(f, Lying(items, length))) == expected


class BreaksMidway(Lying):
    def __getitem__(self, i):
        if i == 2:
            raise KeyError("midway")
        return self.items[i]


class IteratorBreaksMidway(Lying):
    def __iter__(self):
        yield from self.items[:2]
        raise KeyError("midway")


@pytest.mark.parametrize("protocol", [BreaksMidway, IteratorBreaksMidway])
@pytest.mark.parametrize("method", SEQUENCE_CALLS)
def test_iteration_failure_midway_leaves_the_frame_unchanged(method, protocol):
    call, items, _ = SEQUENCE_CALLS[method]
    f = sequence_frame()
    before = snapshot(f)
    error = conversion_error(lambda: call(f, protocol(items, 3)))
    assert type(error) is KeyError and len(error.__notes__) == 1
    assert error.__notes__[0] in ("while processing 'values'", "while processing 'names'")
    assert snapshot(f) == before


def test_a_list_changed_while_it_is_converted_is_read_as_it_changes():
    values = []

    class Shrinks:
        def __index__(self):
            values.clear()
            return 7

    class Grows:
        def __index__(self):
            if len(values) < 5:
                values.append(Grows())
            return len(values)

    f = Frame()
    values[:] = [Shrinks(), 1, 2]
    f.add_ints("a", values)
    assert f.ints("a") == [7]
    values[:] = [Grows()]
    f = Frame()
    f.add_ints("a", values)
    assert f.ints("a") == [2, 3, 4, 5, 5]


def test_a_note_that_cannot_be_attached_is_left_off():
    class Stubborn(Exception):
        def add_note(self, note):
            raise RuntimeError("no notes here")

    class Raiser:
        def __index__(self):
            raise Stubborn("mine")

    f = Frame()
    error = conversion_error(lambda: f.add_ints("a", [Raiser()]))
    assert type(error) is Stubborn and str(error) == "mine"
    assert not hasattr(error, "__notes__")


def test_engine_refusals_are_value_errors_with_one_argument(f):
    error = conversion_error(lambda: f.ints("nope"))
    assert type(error) is ValueError
    assert error.args == ('no column "nope" (the frame has "a")',)
