// read_csv(text): CSV text held in a str to a new Frame.
#include "api/read_csv.hpp"

#include <array>

#include "api/arguments.hpp"
#include "api/call.hpp"
#include "api/frame_object.hpp"
#include "api/module.hpp"
#include "csv/reader.hpp"

namespace tarnwick::api {

namespace {

constexpr std::array<const char*, 1> text_only{"text"};

PyObject* read_csv_call(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
    PyObject* slots[1];
    if (!parse_call({"read_csv()", text_only}, args, nargs, kwnames, slots)) return nullptr;
    return guarded([&]() -> PyObject* {
        // The str's own UTF-8 form: no copy at all for an ASCII str.
        std::optional<std::string_view> text = to_text(slots[0], "text");
        if (!text) return nullptr;
        return wrap_or_raise(read_csv(*text), [module] { return frame_class_of(module); });
    });
}

PyMethodDef read_csv_definition = {
    "read_csv",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_csv_call)),
    METH_FASTCALL | METH_KEYWORDS,
    "read_csv(text)\n--\n\n",
};

}  // namespace

PyObject* make_read_csv_function(PyObject* module) {
    // As PyModule_AddFunctions makes module functions: bound to the module,
    // with the module's name as __module__.
    Ref name(PyModule_GetNameObject(module));
    if (!name) return nullptr;
    return PyCFunction_NewEx(&read_csv_definition, module, name.get());
}

}  // namespace tarnwick::api
