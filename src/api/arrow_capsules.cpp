// The Arrow PyCapsule interface: a frame exported as an "arrow_schema" and an
// "arrow_array_stream" capsule, and columns imported from any object that
// exports "arrow_array_stream" or "arrow_schema" and "arrow_array" capsules.
// The structs and their conversion are in src/arrow; this file moves them in
// and out of capsules and turns failures into exceptions.
#include <array>
#include <memory>

#include "api/arguments.hpp"
#include "api/column_import.hpp"
#include "api/errors.hpp"
#include "api/frame_object.hpp"
#include "arrow/export.hpp"
#include "arrow/import.hpp"

namespace tarnwick::api {

namespace {

constexpr const char* schema_capsule = "arrow_schema";
constexpr const char* array_capsule = "arrow_array";
constexpr const char* stream_capsule = "arrow_array_stream";

// Capsule destructors: a consumer that moved the struct out left its release
// null; otherwise the struct is released here.
template <class T, const char* const* name>
void destroy_capsule(PyObject* capsule) {
    auto* s = static_cast<T*>(PyCapsule_GetPointer(capsule, *name));
    if (s == nullptr) {
        PyErr_WriteUnraisable(capsule);
        return;
    }
    arrow::release_if_live(*s);
    delete s;
}

constexpr const char* const* schema_name = &schema_capsule;
constexpr const char* const* stream_name = &stream_capsule;

// A capsule owning `s`, which is released if the capsule cannot be made.
template <class T, const char* const* name>
PyObject* capsule_of(std::unique_ptr<T> s) {
    PyObject* capsule = PyCapsule_New(s.get(), *name, destroy_capsule<T, name>);
    if (capsule == nullptr) {
        arrow::release_if_live(*s);
        return nullptr;
    }
    s.release();
    return capsule;
}

template <class T>
std::unique_ptr<T> released_struct() {
    auto s = std::make_unique<T>();
    s->release = nullptr;
    return s;
}

void raise_import_failure(const arrow::ImportFailure& failure, const char* parameter) {
    PyObject* type = failure.fault == arrow::ImportFault::type       ? PyExc_TypeError
                     : failure.fault == arrow::ImportFault::overflow ? PyExc_OverflowError
                                                                     : PyExc_ValueError;
    PyErr_SetString(type, failure.message.c_str());
    note_conversion_failure(parameter);
}

std::nullopt_t fail(const char* parameter) {
    note_conversion_failure(parameter);
    return std::nullopt;
}

// A struct received from a producer, released when it goes. A release
// callback may run Python code (a producer written in Python), which must not
// meet a pending exception: the failure being raised waits meanwhile.
template <class T>
class Received : public arrow::Owned<T> {
  public:
    Received() = default;
    ~Received() {
        if (!this->live()) return;
        PyObject* pending = PyErr_GetRaisedException();
        this->reset();
        if (pending != nullptr) PyErr_SetRaisedException(pending);
    }
};

// Moves the struct out of a capsule of the given name; the capsule keeps a
// released husk.
template <class T>
bool take_from_capsule(PyObject* capsule, const char* name, Received<T>& into) {
    auto* s = static_cast<T*>(PyCapsule_GetPointer(capsule, name));
    if (s == nullptr) return false;
    if (s->release == nullptr) {
        PyErr_Format(PyExc_ValueError, "the \"%s\" capsule was consumed already", name);
        return false;
    }
    *into.get() = *s;
    s->release = nullptr;
    return true;
}

// The message a stream gives for a failed call, or a plain one.
void raise_stream_error(ArrowArrayStream* stream, int code, const char* step) {
    const char* text = stream->get_last_error == nullptr ? nullptr : stream->get_last_error(stream);
    if (text != nullptr) {
        PyErr_Format(PyExc_ValueError, "the Arrow stream failed to give its %s: %s", step, text);
    } else {
        PyErr_Format(PyExc_ValueError, "the Arrow stream failed to give its %s (error %d)", step,
                     code);
    }
}

std::optional<ColumnValues> import_stream(PyObject* object, DType kind, const char* parameter) {
    Ref capsule(PyObject_CallMethod(object, "__arrow_c_stream__", nullptr));
    if (!capsule) return fail(parameter);
    Received<ArrowArrayStream> stream;
    if (!take_from_capsule(capsule.get(), stream_capsule, stream)) return fail(parameter);
    Received<ArrowSchema> schema;
    if (int code = stream->get_schema(stream.get(), schema.get()); code != 0) {
        raise_stream_error(stream.get(), code, "schema");
        return fail(parameter);
    }
    if (auto checked = arrow::ColumnImport::check_type(*schema.get(), kind); !checked) {
        raise_import_failure(checked.error(), parameter);
        return std::nullopt;
    }
    arrow::ColumnImport column(*schema.get(), kind);
    while (true) {
        Received<ArrowArray> array;
        if (int code = stream->get_next(stream.get(), array.get()); code != 0) {
            raise_stream_error(stream.get(), code, "next array");
            return fail(parameter);
        }
        if (!array.live()) break;
        if (auto appended = column.append(*array.get()); !appended) {
            raise_import_failure(appended.error(), parameter);
            return std::nullopt;
        }
    }
    return column.finish();
}

std::optional<ColumnValues> import_array(PyObject* object, DType kind, const char* parameter) {
    Ref pair(PyObject_CallMethod(object, "__arrow_c_array__", nullptr));
    if (!pair) return fail(parameter);
    if (!PyTuple_Check(pair.get()) || PyTuple_Size(pair.get()) != 2) {
        PyErr_SetString(PyExc_TypeError, "__arrow_c_array__ must return a tuple of two capsules");
        return fail(parameter);
    }
    Received<ArrowSchema> schema;
    Received<ArrowArray> array;
    if (!take_from_capsule(PyTuple_GetItem(pair.get(), 0), schema_capsule, schema) ||
        !take_from_capsule(PyTuple_GetItem(pair.get(), 1), array_capsule, array)) {
        return fail(parameter);
    }
    if (auto checked = arrow::ColumnImport::check_type(*schema.get(), kind); !checked) {
        raise_import_failure(checked.error(), parameter);
        return std::nullopt;
    }
    arrow::ColumnImport column(*schema.get(), kind);
    if (auto appended = column.append(*array.get()); !appended) {
        raise_import_failure(appended.error(), parameter);
        return std::nullopt;
    }
    return column.finish();
}

int type_has(PyObject* object, const char* name) {
    PyObject* attribute = nullptr;
    int found = PyObject_GetOptionalAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), name,
                                               &attribute);
    Py_XDECREF(attribute);
    return found;
}

std::optional<arrow::ExportedTable> exported(const Frame& frame) {
    Result<arrow::ExportedTable> table = arrow::export_table(frame);
    if (!table) {
        raise_failure(table.error());
        return std::nullopt;
    }
    return std::move(*table);
}

constexpr std::array<const char*, 1> requested_only{"requested_schema"};

}  // namespace

int is_arrow_exporter(PyObject* object) {
    int stream = type_has(object, "__arrow_c_stream__");
    if (stream != 0) return stream;
    return type_has(object, "__arrow_c_array__");
}

std::optional<ColumnValues> arrow_column(PyObject* object, DType kind, const char* parameter) {
    int stream = type_has(object, "__arrow_c_stream__");
    if (stream < 0) return fail(parameter);
    return stream == 1 ? import_stream(object, kind, parameter)
                       : import_array(object, kind, parameter);
}

PyObject* frame_arrow_c_schema(PyObject*, Frame& frame) {
    std::optional<arrow::ExportedTable> table = exported(frame);
    if (!table) return nullptr;
    auto schema = released_struct<ArrowSchema>();
    arrow::export_schema(*table, schema.get());
    return capsule_of<ArrowSchema, schema_name>(std::move(schema));
}

PyObject* frame_arrow_c_stream(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
    // requested_schema is optional, as the protocol has it.
    PyObject* slots[1] = {Py_None};
    if ((nargs > 0 || kwnames != nullptr) &&
        !parse_call({display_name<"Frame", "__arrow_c_stream__">.text, requested_only}, args, nargs,
                    kwnames, slots)) {
        return nullptr;
    }
    return run_method<Frame, Use::shared>(
        self, ClassOf<Frame>::type_path, [&](Frame& frame) -> PyObject* {
            PyObject* requested = slots[0];
            if (requested != Py_None && !PyCapsule_IsValid(requested, schema_capsule)) {
                PyErr_SetString(PyExc_TypeError,
                                "requested_schema is neither None nor an \"arrow_schema\" capsule");
                note_conversion_failure("requested_schema");
                return nullptr;
            }
            std::optional<arrow::ExportedTable> table = exported(frame);
            if (!table) return nullptr;
            if (requested != Py_None) {
                auto* schema =
                    static_cast<ArrowSchema*>(PyCapsule_GetPointer(requested, schema_capsule));
                if (schema == nullptr) return nullptr;
                if (schema->release == nullptr) {
                    PyErr_SetString(PyExc_ValueError, "the requested schema was released already");
                    note_conversion_failure("requested_schema");
                    return nullptr;
                }
                Result<void> applied = arrow::apply_requested_schema(*table, *schema);
                if (!applied) {
                    raise_failure(applied.error());
                    note_conversion_failure("requested_schema");
                    return nullptr;
                }
            }
            auto stream = released_struct<ArrowArrayStream>();
            arrow::export_stream(std::move(*table), stream.get());
            return capsule_of<ArrowArrayStream, stream_name>(std::move(stream));
        });
}

}  // namespace tarnwick::api
