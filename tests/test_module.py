import inspect
import weakref

import pytest

import tarnwick
from tarnwick import Frame, Grouped

FREE_DOC = ("Nothing under CPython, which frees the object itself; in a page, "
            "the instance goes back to the library.")

FRAME_METHODS = [
    ("add_floats", "($self, name, values)"),
    ("add_ints", "($self, name, values)"),
    ("add_strings", "($self, name, values)"),
    ("height", "($self)"),
    ("width", "($self)"),
    ("names", "($self)"),
    ("dtypes", "($self)"),
    ("floats", "($self, name)"),
    ("ints", "($self, name)"),
    ("strings", "($self, name)"),
    ("to_csv", "($self)"),
    ("describe", "($self)"),
    ("free", "($self)"),
]


def test_namespace_is_exactly_the_public_names():
    public = {name for name in vars(tarnwick) if not name.startswith("__")}
    assert tarnwick.__all__ == ["read_csv", "Frame", "Grouped"]
    assert public == set(tarnwick.__all__)
    assert tarnwick.__doc__ == ""
    assert not hasattr(tarnwick, "PanicException")


def test_read_csv_is_a_module_function():
    fn = tarnwick.read_csv
    assert type(fn).__name__ == "builtin_function_or_method"
    assert fn.__name__ == fn.__qualname__ == "read_csv"
    assert fn.__module__ == "tarnwick"
    assert fn.__self__ is tarnwick
    assert fn.__doc__ is None and fn.__text_signature__ == "(text)"
    assert list(inspect.signature(fn).parameters) == ["text"]


def test_frame_class_presentation():
    assert Frame.__module__ == "builtins"
    assert Frame.__name__ == Frame.__qualname__ == "Frame"
    assert Frame.__doc__ == "A table: named columns of one length."
    assert Frame.__text_signature__ == "()"
    assert inspect.signature(Frame).parameters == {}


def test_grouped_class_presentation():
    assert Grouped.__module__ == "builtins"
    assert Grouped.__doc__ == ("A frame split by the values of some columns; each aggregation is a "
                               "`Frame` with the key\ncolumns first, one row per group.")
    with pytest.raises(TypeError):
        Grouped()


@pytest.mark.parametrize("name,signature", FRAME_METHODS)
def test_frame_method_signatures(name, signature):
    method = getattr(Frame, name)
    assert method.__text_signature__ == signature
    if name == "free":
        assert method.__doc__ == FREE_DOC


def test_frame_methods_are_listed_in_table_order():
    own = [name for name in vars(Frame) if not name.startswith("__")]
    assert own == [name for name, _ in FRAME_METHODS]


@pytest.mark.parametrize("cls", [Frame, Grouped])
def test_classes_cannot_be_subclassed(cls):
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


def test_instances_take_no_attributes_or_weak_references():
    f = Frame()
    with pytest.raises(AttributeError):
        f.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(f)


def test_no_argument_methods_refuse_arguments():
    with pytest.raises(TypeError):
        Frame().height(1)


def test_free_returns_none_and_keeps_the_frame_usable():
    f = Frame()
    f.add_ints("a", [1])
    assert f.free() is None
    assert f.ints("a") == [1]


def test_module_file_is_the_stable_abi_build():
    assert tarnwick.__file__.endswith(".abi3.so")
