// read_csv(text): CSV text held in a str to a new Frame.
#include "api/read_csv.hpp"

#include "api/arguments.hpp"
#include "api/call.hpp"
#include "api/frame_object.hpp"
#include "api/method.hpp"
#include "api/module.hpp"
#include "csv/reader.hpp"

namespace tarnwick::api {

namespace {

PyObject* read_csv_body(PyObject* module, std::string_view text) {
    // The str's own UTF-8 form: no copy at all for an ASCII str.
    return wrap_or_raise(read_csv(text), [module] { return frame_class_of(module); });
}

PyMethodDef read_csv_definition =
    Function<"read_csv", read_csv_body, Params<Param<"text", to_text>>>::row();

}  // namespace

PyObject* make_read_csv_function(PyObject* module) {
    // As PyModule_AddFunctions makes module functions: bound to the module,
    // with the module's name as __module__.
    Ref name(PyModule_GetNameObject(module));
    if (!name) return nullptr;
    return PyCFunction_NewEx(&read_csv_definition, module, name.get());
}

}  // namespace tarnwick::api
