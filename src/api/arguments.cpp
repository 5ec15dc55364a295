#include "api/arguments.hpp"

#include "api/errors.hpp"

namespace tarnwick::api {

namespace {

// "'name' and 'values'", "'name', 'source', and 'part'".
std::string quoted_parameter_list(const std::vector<const char*>& names) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() == 2) {
                list += " and ";
            } else {
                list += i + 1 == names.size() ? ", and " : ", ";
            }
        }
        list += '\'';
        list += names[i];
        list += '\'';
    }
    return list;
}

bool too_many_positional(const Parameters& parameters, Py_ssize_t given) {
    PyErr_Format(PyExc_TypeError, "%s takes %zd positional arguments but %zd %s given",
                 parameters.display_name, static_cast<Py_ssize_t>(parameters.names.size()), given,
                 given == 1 ? "was" : "were");
    return false;
}

// Puts one keyword argument into its slot.
bool fill_keyword(const Parameters& parameters, PyObject* keyword, PyObject* value,
                  PyObject** slots) {
    for (std::size_t i = 0; i < parameters.names.size(); ++i) {
        if (PyUnicode_EqualToUTF8(keyword, parameters.names[i]) != 1) continue;
        if (slots[i] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%U'",
                         parameters.display_name, keyword);
            return false;
        }
        slots[i] = value;
        return true;
    }
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'",
                 parameters.display_name, keyword);
    return false;
}

bool check_all_filled(const Parameters& parameters, PyObject** slots) {
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < parameters.names.size(); ++i) {
        if (slots[i] == nullptr) missing.push_back(parameters.names[i]);
    }
    if (missing.empty()) return true;
    std::string list = quoted_parameter_list(missing);
    PyErr_Format(PyExc_TypeError, "%s missing %zd required positional %s: %s",
                 parameters.display_name, static_cast<Py_ssize_t>(missing.size()),
                 missing.size() == 1 ? "argument" : "arguments", list.c_str());
    return false;
}

// "'int' object is not an instance of 'str'"; None has its own wording.
void refuse_type(PyObject* object, const char* wanted) {
    if (object == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", wanted);
        return;
    }
    Ref name(PyType_GetQualName(Py_TYPE(object)));
    if (!name) return;
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", name.get(), wanted);
}

template <class T>
std::optional<T> failed(const char* parameter) {
    note_conversion_failure(parameter);
    return std::nullopt;
}

// Item conversions: nullopt with the exception set and no note yet.
std::optional<std::string_view> item_text(PyObject* object) {
    if (!PyUnicode_Check(object)) {
        refuse_type(object, "str");
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* bytes = PyUnicode_AsUTF8AndSize(object, &size);
    if (bytes == nullptr) return std::nullopt;
    return std::string_view(bytes, static_cast<std::size_t>(size));
}

std::optional<std::int64_t> item_integer(PyObject* object) {
    long value = PyLong_AsLong(object);
    if (value == -1 && PyErr_Occurred()) return std::nullopt;
    return value;
}

std::optional<double> item_float(PyObject* object) {
    double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return std::nullopt;
    return value;
}

// Steps shared by every sequence kind: the refusals, the length as a size hint
// and the iteration. `take(item)` converts one item; it returns false with an
// exception set to stop. Returns false with an exception set on failure.
template <class Take>
bool for_each_item(PyObject* object, Py_ssize_t& size_hint, Take&& take) {
    if (PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return false;
    }
    if (!PySequence_Check(object)) {
        refuse_type(object, "Sequence");
        return false;
    }
    size_hint = PySequence_Size(object);
    if (size_hint < 0) {
        // The length is only a hint, and a failure to give it is dropped; but
        // a PanicException raised by __len__ is never hidden.
        if (panic_is_raised()) return false;
        PyErr_Clear();
        size_hint = 0;
    }
    // Only a list's or tuple's length is sure to be true; for anything else a
    // huge claimed length must not reserve huge memory up front.
    constexpr Py_ssize_t untrusted_limit = 1 << 16;
    if (!PyList_CheckExact(object) && !PyTuple_CheckExact(object) && size_hint > untrusted_limit) {
        size_hint = untrusted_limit;
    }
    if (PyTuple_CheckExact(object)) {
        Py_ssize_t size = PyTuple_Size(object);
        for (Py_ssize_t i = 0; i < size; ++i) {
            if (!take(PyTuple_GetItem(object, i))) return false;
        }
        return true;
    }
    if (PyList_CheckExact(object)) {
        // As the list iterator does: the length is read afresh at each step,
        // since converting an item may run code that changes the list.
        for (Py_ssize_t i = 0; i < PyList_Size(object); ++i) {
            Ref item(PyList_GetItemRef(object, i));
            if (!item) return false;
            if (!take(item.get())) return false;
        }
        return true;
    }
    Ref iterator(PyObject_GetIter(object));
    if (!iterator) return false;
    while (true) {
        PyObject* raw = nullptr;
        int status = PyIter_NextItem(iterator.get(), &raw);
        if (status < 0) return false;
        if (status == 0) return true;
        Ref item(raw);
        if (!take(item.get())) return false;
    }
}

template <class T, class Convert>
std::optional<ColumnValues> to_number_column(PyObject* object, const char* parameter,
                                             Convert convert) {
    PodVector<T> values;
    Py_ssize_t hint = 0;
    bool ok = for_each_item(object, hint, [&](PyObject* item) {
        if (values.capacity() == 0 && hint > 0) values.reserve(static_cast<std::size_t>(hint));
        std::optional<T> value = convert(item);
        if (!value) return false;
        values.push_back(*value);
        return true;
    });
    if (!ok) return failed<ColumnValues>(parameter);
    return ColumnValues::of_numbers(std::move(values));
}

}  // namespace

bool parse_call(const Parameters& parameters, PyObject* const* args, Py_ssize_t nargs,
                PyObject* kwnames, PyObject** slots) {
    Py_ssize_t count = static_cast<Py_ssize_t>(parameters.names.size());
    for (Py_ssize_t i = 0; i < count; ++i)
        slots[i] = i < nargs ? args[i] : nullptr;
    if (nargs > count) return too_many_positional(parameters, nargs);
    if (kwnames != nullptr) {
        Py_ssize_t keywords = PyTuple_Size(kwnames);
        for (Py_ssize_t k = 0; k < keywords; ++k) {
            if (!fill_keyword(parameters, PyTuple_GetItem(kwnames, k), args[nargs + k], slots)) {
                return false;
            }
        }
    }
    return check_all_filled(parameters, slots);
}

bool parse_call(const Parameters& parameters, PyObject* args, PyObject* kwargs, PyObject** slots) {
    Py_ssize_t count = static_cast<Py_ssize_t>(parameters.names.size());
    Py_ssize_t nargs = args == nullptr ? 0 : PyTuple_Size(args);
    for (Py_ssize_t i = 0; i < count; ++i) {
        slots[i] = i < nargs ? PyTuple_GetItem(args, i) : nullptr;
    }
    if (nargs > count) return too_many_positional(parameters, nargs);
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* keyword = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &keyword, &value)) {
            if (!fill_keyword(parameters, keyword, value, slots)) return false;
        }
    }
    return check_all_filled(parameters, slots);
}

std::optional<std::string_view> to_text(PyObject* object, const char* parameter) {
    std::optional<std::string_view> text = item_text(object);
    if (!text) return failed<std::string_view>(parameter);
    return text;
}

std::optional<std::int64_t> to_integer(PyObject* object, const char* parameter) {
    std::optional<std::int64_t> value = item_integer(object);
    if (!value) return failed<std::int64_t>(parameter);
    return value;
}

std::optional<double> to_float(PyObject* object, const char* parameter) {
    std::optional<double> value = item_float(object);
    if (!value) return failed<double>(parameter);
    return value;
}

namespace {

bool is_numpy_bool_type(PyTypeObject* type) {
    Ref module(PyType_GetModuleName(type));
    if (!module) {
        PyErr_Clear();
        return false;
    }
    if (PyUnicode_EqualToUTF8(module.get(), "numpy") != 1) return false;
    Ref name(PyType_GetName(type));
    if (!name) {
        PyErr_Clear();
        return false;
    }
    return PyUnicode_EqualToUTF8(name.get(), "bool") == 1 ||
           PyUnicode_EqualToUTF8(name.get(), "bool_") == 1;
}

// numpy's bool: the result of its type's __bool__, which must be a bool.
std::optional<bool> numpy_truth(PyObject* object) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(object));
    Ref method(PyObject_GetAttrString(type, "__bool__"));
    if (!method) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return std::nullopt;
        PyErr_Clear();
        Ref text(PyObject_Str(type));
        if (!text) return std::nullopt;
        PyErr_Format(PyExc_TypeError, "object of type '%U' does not define a '__bool__' conversion",
                     text.get());
        return std::nullopt;
    }
    Ref result(PyObject_CallFunctionObjArgs(method.get(), object, nullptr));
    if (!result) return std::nullopt;
    if (!PyBool_Check(result.get())) {
        refuse_type(result.get(), "bool");
        return std::nullopt;
    }
    return result.get() == Py_True;
}

}  // namespace

std::optional<bool> to_truth(PyObject* object, const char* parameter) {
    if (PyBool_Check(object)) return object == Py_True;
    std::optional<bool> value;
    if (is_numpy_bool_type(Py_TYPE(object))) {
        value = numpy_truth(object);
    } else {
        refuse_type(object, "bool");
    }
    if (!value) return failed<bool>(parameter);
    return value;
}

std::optional<ColumnValues> to_integer_sequence(PyObject* object, const char* parameter) {
    return to_number_column<std::int64_t>(object, parameter, item_integer);
}

std::optional<ColumnValues> to_float_sequence(PyObject* object, const char* parameter) {
    return to_number_column<double>(object, parameter, item_float);
}

std::optional<ColumnValues> to_text_sequence(PyObject* object, const char* parameter) {
    StringColumnBuilder builder;
    Py_ssize_t hint = 0;
    bool reserved = false;
    bool ok = for_each_item(object, hint, [&](PyObject* item) {
        if (!reserved) {
            builder.reserve(static_cast<std::size_t>(hint), static_cast<std::size_t>(hint) * 8);
            reserved = true;
        }
        std::optional<std::string_view> text = item_text(item);
        if (!text) return false;
        builder.append(*text);
        return true;
    });
    if (!ok) return failed<ColumnValues>(parameter);
    return builder.finish();
}

std::optional<std::vector<double>> to_float_list(PyObject* object, const char* parameter) {
    std::vector<double> values;
    Py_ssize_t hint = 0;
    bool ok = for_each_item(object, hint, [&](PyObject* item) {
        std::optional<double> value = item_float(item);
        if (!value) return false;
        values.push_back(*value);
        return true;
    });
    if (!ok) return failed<std::vector<double>>(parameter);
    return values;
}

std::optional<std::vector<std::string>> to_text_list(PyObject* object, const char* parameter) {
    std::vector<std::string> values;
    Py_ssize_t hint = 0;
    bool ok = for_each_item(object, hint, [&](PyObject* item) {
        std::optional<std::string_view> text = item_text(item);
        if (!text) return false;
        values.emplace_back(*text);
        return true;
    });
    if (!ok) return failed<std::vector<std::string>>(parameter);
    return values;
}

}  // namespace tarnwick::api
