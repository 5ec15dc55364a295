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
    ("add_date_part", "($self, name, source, part)"),
    ("height", "($self)"),
    ("width", "($self)"),
    ("names", "($self)"),
    ("dtypes", "($self)"),
    ("select", "($self, names)"),
    ("head", "($self, n)"),
    ("tail", "($self, n)"),
    ("sort", "($self, name, descending)"),
    ("where_eq", "($self, name, value)"),
    ("where_ne", "($self, name, value)"),
    ("where_lt", "($self, name, value)"),
    ("where_le", "($self, name, value)"),
    ("where_gt", "($self, name, value)"),
    ("where_ge", "($self, name, value)"),
    ("where_among", "($self, name, values)"),
    ("where_is", "($self, name, value)"),
    ("where_in", "($self, name, values)"),
    ("group", "($self, names)"),
    ("floats", "($self, name)"),
    ("ints", "($self, name)"),
    ("strings", "($self, name)"),
    ("to_csv", "($self)"),
    ("describe", "($self)"),
    ("free", "($self)"),
]

GROUPED_METHODS = [
    ("groups", "($self)"),
    ("count", "($self)"),
    ("sum", "($self, name)"),
    ("mean", "($self, name)"),
    ("min", "($self, name)"),
    ("max", "($self, name)"),
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


ALL_METHODS = [(Frame, *m) for m in FRAME_METHODS] + [(Grouped, *m) for m in GROUPED_METHODS]


@pytest.mark.parametrize("cls,name,signature", ALL_METHODS + [
    (Frame, "__arrow_c_schema__", "($self)"),
    (Frame, "__arrow_c_stream__", "($self, requested_schema=None)"),
])
def test_method_signatures(cls, name, signature):
    """Each doc string is the text signature line and "\n--\n\n", then
    nothing but for free()."""
    method = getattr(cls, name)
    assert method.__text_signature__ == signature
    assert method.__doc__ == (FREE_DOC if name == "free" else None)


def parameter_list(names):
    quoted = [f"'{n}'" for n in names]
    if len(quoted) <= 2:
        return " and ".join(quoted)
    return ", ".join(quoted[:-1]) + ", and " + quoted[-1]


@pytest.mark.parametrize("cls,name,signature", [m for m in ALL_METHODS if "," in m[2]])
def test_call_shape_errors_name_the_method_and_its_parameters(cls, name, signature):
    """The display name and the parameter names that the call-shape messages
    use are those of the text signature, in its order."""
    parameters = [p.strip() for p in signature.strip("()").split(",")[1:]]
    method = getattr(Frame() if cls is Frame else Frame().group([]), name)
    count = len(parameters)
    with pytest.raises(TypeError) as missing:
        method()
    assert str(missing.value) == (f"{cls.__name__}.{name}() missing {count} required positional "
                                  f"argument{'s' if count > 1 else ''}: {parameter_list(parameters)}")
    with pytest.raises(TypeError) as unknown:
        method(*[None] * count, extra=1)
    assert str(unknown.value) == f"{cls.__name__}.{name}() got an unexpected keyword argument 'extra'"
    with pytest.raises(TypeError) as repeated:
        method(*[None] * count, **{parameters[0]: None})
    assert str(repeated.value) == (f"{cls.__name__}.{name}() got multiple values for argument "
                                   f"'{parameters[0]}'")
    with pytest.raises(TypeError) as first:  # conversion starts with the first parameter
        method(*[object()] * count)
    assert getattr(first.value, "__notes__", None) == [f"while processing '{parameters[0]}'"]


def test_read_csv_call_shape():
    with pytest.raises(TypeError, match=r"^read_csv\(\) missing 1 required positional argument: 'text'$"):
        tarnwick.read_csv()


@pytest.mark.parametrize("cls,methods", [(Frame, FRAME_METHODS), (Grouped, GROUPED_METHODS)])
def test_methods_are_listed_in_table_order(cls, methods):
    own = [name for name in vars(cls) if not name.startswith("__")]
    assert own == [name for name, _ in methods]


@pytest.mark.parametrize("cls", [Frame, Grouped])
def test_classes_cannot_be_subclassed(cls):
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


@pytest.mark.parametrize("make", [Frame, lambda: Frame().group([])])
def test_instances_take_no_attributes_or_weak_references(make):
    instance = make()
    with pytest.raises(AttributeError):
        instance.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(instance)


def test_no_argument_methods_refuse_arguments():
    with pytest.raises(TypeError):
        Frame().height(1)
    with pytest.raises(TypeError):
        Frame().group([]).count(1)


def test_free_returns_none_and_keeps_the_object_usable():
    f = Frame()
    f.add_ints("a", [1])
    assert f.free() is None
    assert f.ints("a") == [1]
    g = f.group(["a"])
    assert g.free() is None
    assert g.groups() == 1


def test_module_file_is_the_stable_abi_build():
    assert tarnwick.__file__.endswith(".abi3.so")


def panic_of(call):
    with pytest.raises(BaseException) as caught:  # PanicException is not an Exception
        call()
    assert type(caught.value).__name__ == "PanicException"
    return str(caught.value)


@pytest.mark.parametrize("attribute,stand_in", [
    ("Frame", int), ("Frame", Grouped), ("Frame", None),
    ("Grouped", Frame), ("Grouped", "Grouped"), ("Grouped", None),
])
def test_calls_that_make_an_object_of_the_other_class_need_it_in_the_module(attribute, stand_in):
    """read_csv and the reductions make Frames, group makes Groupeds; they find
    the class in the module. With it replaced (or deleted: None here) they
    fail with PanicException and leave every object usable; the class put
    back, all works again. Calls that make an object of their own class do
    not need the module's attribute."""
    f = Frame()
    f.add_ints("k", [1, 1, 2])
    f.add_floats("v", [0.5, 1.5, 2.5])
    g = f.group(["k"])
    makes_frames = [lambda: tarnwick.read_csv("a\n1\n"), g.count] + \
        [lambda how=how: getattr(g, how)("v") for how in ("sum", "mean", "min", "max")]
    makes_groupeds = [lambda: f.group(["k"]), lambda: f.where_gt("v", 1.0).group([])]
    original = getattr(tarnwick, attribute)
    if stand_in is None:
        delattr(tarnwick, attribute)
    else:
        setattr(tarnwick, attribute, stand_in)
    try:
        for call in makes_frames if attribute == "Frame" else makes_groupeds:
            assert panic_of(call) == f"the {attribute} class of the tarnwick module was replaced or removed"
        assert f.where_gt("v", 1.0).floats("v") == [1.5, 2.5]
        assert g.groups() == 2
    finally:
        setattr(tarnwick, attribute, original)
    assert tarnwick.read_csv("a\n1\n").ints("a") == [1]
    assert [call().height() for call in makes_frames[1:]] == [2] * 5
    assert [call().groups() for call in makes_groupeds] == [2, 1]
