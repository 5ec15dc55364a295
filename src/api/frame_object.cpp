// The Frame class: its heap type from a slot table, constructor, deallocation and method table.
#include "api/frame_object.hpp"

#include "api/arguments.hpp"
#include "api/column_import.hpp"
#include "engine/slice.hpp"

namespace tarnwick::api {

namespace {

PyObject* frame_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* no_slots[1];
    if (!parse_call({display_name<"Frame", "__new__">.text, {}}, args, kwargs, no_slots)) {
        return nullptr;
    }
    return guarded([&] { return wrap_frame(type, Frame{}); });
}

void frame_dealloc(PyObject* self) {
    dealloc_instance<Frame>(self, ClassOf<Frame>::type_path);
}

// The parameters, each with the conversion of its argument.
using Name = Param<"name", to_text>;
using Source = Param<"source", to_text>;
using Part = Param<"part", to_text>;
using TextValue = Param<"value", to_text>;
using FloatValue = Param<"value", to_float>;
using IntegerValues = Param<"values", to_integer_values>;
using FloatValues = Param<"values", to_float_values>;
using TextValues = Param<"values", to_text_values>;
using FloatList = Param<"values", to_float_list>;
using TextList = Param<"values", to_text_list>;
using Names = Param<"names", to_text_list>;
using Count = Param<"n", to_integer>;
using Descending = Param<"descending", to_truth>;

template <Literal name, Use use, auto body, class P = Params<>, auto... bound>
using M = Method<Frame, name, use, body, P, bound...>;
constexpr Use shared = Use::shared;
constexpr Use exclusive = Use::exclusive;

// In the order users see them listed.
PyMethodDef frame_methods[] = {
    M<"add_floats", exclusive, frame_add_column, Params<Name, FloatValues>>::row(),
    M<"add_ints", exclusive, frame_add_column, Params<Name, IntegerValues>>::row(),
    M<"add_strings", exclusive, frame_add_column, Params<Name, TextValues>>::row(),
    M<"add_date_part", exclusive, frame_add_date_part, Params<Name, Source, Part>>::row(),
    M<"height", shared, frame_height>::row(),
    M<"width", shared, frame_width>::row(),
    M<"names", shared, frame_names>::row(),
    M<"dtypes", shared, frame_dtypes>::row(),
    M<"select", shared, frame_select, Params<Names>>::row(),
    M<"head", shared, frame_slice, Params<Count>, head>::row(),
    M<"tail", shared, frame_slice, Params<Count>, tail>::row(),
    M<"sort", shared, frame_sort, Params<Name, Descending>>::row(),
    M<"where_eq", shared, frame_compare, Params<Name, FloatValue>, CompareOp::eq>::row(),
    M<"where_ne", shared, frame_compare, Params<Name, FloatValue>, CompareOp::ne>::row(),
    M<"where_lt", shared, frame_compare, Params<Name, FloatValue>, CompareOp::lt>::row(),
    M<"where_le", shared, frame_compare, Params<Name, FloatValue>, CompareOp::le>::row(),
    M<"where_gt", shared, frame_compare, Params<Name, FloatValue>, CompareOp::gt>::row(),
    M<"where_ge", shared, frame_compare, Params<Name, FloatValue>, CompareOp::ge>::row(),
    M<"where_among", shared, frame_where_among, Params<Name, FloatList>>::row(),
    M<"where_is", shared, frame_where_is, Params<Name, TextValue>>::row(),
    M<"where_in", shared, frame_where_in, Params<Name, TextList>>::row(),
    M<"group", shared, frame_group, Params<Names>>::row(),
    M<"floats", shared, frame_column_list, Params<Name>, DType::f64>::row(),
    M<"ints", shared, frame_column_list, Params<Name>, DType::i64>::row(),
    M<"strings", shared, frame_column_list, Params<Name>, DType::str>::row(),
    M<"to_csv", shared, frame_to_csv>::row(),
    M<"describe", shared, frame_describe>::row(),
    M<"free", shared, frame_free>::row<free_documentation>(),
    // The Arrow PyCapsule interface (arrow_capsules.cpp); requested_schema
    // may be left out, as the protocol has it.
    M<"__arrow_c_schema__", shared, frame_arrow_c_schema>::row(),
    {"__arrow_c_stream__",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(frame_arrow_c_stream)),
     METH_FASTCALL | METH_KEYWORDS, "__arrow_c_stream__($self, requested_schema=None)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot frame_slots[] = {
    {Py_tp_doc, const_cast<char*>("Frame()\n--\n\nA table: named columns of one length.")},
    {Py_tp_new, reinterpret_cast<void*>(frame_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(frame_repr)},
    {Py_tp_str, reinterpret_cast<void*>(frame_repr)},
    {Py_tp_methods, frame_methods},
    {0, nullptr},
};

PyType_Spec frame_spec = {
    "builtins.Frame", static_cast<int>(sizeof(FrameObject)), 0, Py_TPFLAGS_DEFAULT, frame_slots,
};

}  // namespace

PyObject* make_frame_class(PyObject* module) {
    return PyType_FromModuleAndSpec(module, &frame_spec, nullptr);
}

bool is_frame_class(PyTypeObject* type) {
    return PyType_GetSlot(type, Py_tp_dealloc) == reinterpret_cast<void*>(frame_dealloc);
}

}  // namespace tarnwick::api
