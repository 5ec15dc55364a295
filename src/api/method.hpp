// Each Python-facing callable described once. A description names the
// callable, its use of the object, its parameters (name and conversion) and
// the body that does the work; from it come the method table's row, the
// doc string with its text signature, the display name of call-shape errors,
// the parameter names that keywords match, and the parameter notes of failed
// conversions. The body receives the converted values:
//
//   PyObject* body(PyObject* self, Frame& frame, <bound constants...>, <converted parameters...>)
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <tuple>
#include <utility>

#include "api/arguments.hpp"
#include "api/call.hpp"
#include "api/python.hpp"

namespace tarnwick::api {

// A string literal as a template argument.
template <std::size_t N>
struct Literal {
    char text[N]{};
    constexpr Literal(const char (&literal)[N]) { std::copy_n(literal, N, text); }
    constexpr std::string_view view() const { return {text, N - 1}; }
};

// A text made at compile time, in static storage when held by a constexpr
// variable.
struct StaticText {
    char text[192]{};
    std::size_t size = 0;

    constexpr StaticText& operator+=(std::string_view part) {
        for (char c : part)
            text[size++] = c;  // too long a text fails to compile
        text[size] = '\0';
        return *this;
    }
};

// A parameter: its name and the conversion of its argument (a converter of
// arguments.hpp or column_import.hpp, which attaches the parameter's note when
// it fails).
template <Literal name_text, auto convert_argument>
struct Param {
    static constexpr const char* name = name_text.text;
    static constexpr auto convert = convert_argument;
    using Value = typename decltype(convert_argument(nullptr, ""))::value_type;
};

template <class... P>
struct Params {
    static constexpr std::size_t count = sizeof...(P);
    static constexpr std::array<const char*, count> names{P::name...};

    // The parameter list of a text signature, after "$self" for a method.
    static constexpr void append_list(StaticText& text, bool with_self) {
        std::string_view separator;
        if (with_self) {
            text += "$self";
            separator = ", ";
        }
        for (const char* name : names) {
            text += separator;
            text += name;
            separator = ", ";
        }
    }

    // Converts the arguments in parameter order, stopping at the first that
    // fails (its exception set and noted), then calls call(converted...).
    template <class Call>
    static PyObject* convert_then(PyObject* const* slots, Call&& call) {
        return convert_each(slots, std::forward<Call>(call), std::index_sequence_for<P...>{});
    }

  private:
    template <class Call, std::size_t... I>
    static PyObject* convert_each(PyObject* const* slots, Call&& call, std::index_sequence<I...>) {
        std::tuple<std::optional<typename P::Value>...> values;
        bool converted = ((std::get<I>(values) = P::convert(slots[I], P::name),
                           std::get<I>(values).has_value()) &&
                          ...);
        if (!converted) return nullptr;
        return call(std::move(*std::get<I>(values))...);
    }
};

// The doc string CPython reads the text signature from: "name($self, a, b)",
// then "\n--\n\n", then the documentation proper.
template <Literal name, class P, bool with_self, Literal documentation>
inline constexpr StaticText doc_text = [] {
    StaticText text;
    text += name.view();
    text += "(";
    P::append_list(text, with_self);
    text += ")\n--\n\n";
    text += documentation.view();
    return text;
}();

// "Frame.add_ints()", or "read_csv()" for a function.
template <Literal owner, Literal name>
inline constexpr StaticText display_name = [] {
    StaticText text;
    if (!owner.view().empty()) {
        text += owner.view();
        text += ".";
    }
    text += name.view();
    text += "()";
    return text;
}();

// The documentation of free() in both classes.
inline constexpr Literal free_documentation =
    "Nothing under CPython, which frees the object itself; in a page, the instance goes back "
    "to the library.";

// How a class's methods reach their instances: the engine value, its class
// name in display names and its type path in thread messages.
template <class Engine>
struct ClassOf;

// A method of the class of Engine. Without parameters it uses the
// interpreter's no-argument convention; with them the fast call with keywords.
template <class Engine, Literal name, Use use, auto body, class P = Params<>, auto... bound>
struct Method {
    using Class = ClassOf<Engine>;
    static constexpr auto& display = display_name<Class::name, name>;

    static PyObject* fast(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
        PyObject* slots[P::count];
        if (!parse_call({display.text, P::names}, args, nargs, kwnames, slots)) return nullptr;
        return run_method<Engine, use>(self, Class::type_path, [&](Engine& value) {
            return P::convert_then(slots, [&](auto&&... converted) -> PyObject* {
                return body(self, value, bound..., std::forward<decltype(converted)>(converted)...);
            });
        });
    }

    static PyObject* plain(PyObject* self, PyObject*) {
        return run_method<Engine, use>(self, Class::type_path,
                                       [&](Engine& value) { return body(self, value, bound...); });
    }

    // The row of the method table, with `documentation` after the signature.
    template <Literal documentation = "">
    static constexpr PyMethodDef row() {
        const char* text = doc_text<name, P, true, documentation>.text;
        if constexpr (P::count == 0) {
            return {name.text, plain, METH_NOARGS, text};
        } else {
            // Fast methods have another C signature than PyCFunction; the
            // flags tell CPython how to call them.
            return {name.text, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fast)),
                    METH_FASTCALL | METH_KEYWORDS, text};
        }
    }
};

// A module function: no object, so no thread check and no borrow.
template <Literal name, auto body, class P>
struct Function {
    static constexpr auto& display = display_name<"", name>;

    static PyObject* fast(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
        PyObject* slots[P::count];
        if (!parse_call({display.text, P::names}, args, nargs, kwnames, slots)) return nullptr;
        return guarded([&] {
            return P::convert_then(slots, [&](auto&&... converted) -> PyObject* {
                return body(module, std::forward<decltype(converted)>(converted)...);
            });
        });
    }

    static constexpr PyMethodDef row() {
        return {name.text, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fast)),
                METH_FASTCALL | METH_KEYWORDS, doc_text<name, P, false, "">.text};
    }
};

}  // namespace tarnwick::api
