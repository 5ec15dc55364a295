#include "api/errors.hpp"

#include <atomic>
#include <string>

#include "api/thread_identity.hpp"

namespace tarnwick::api {

namespace {

std::atomic<PyObject*> panic_type{nullptr};

constexpr const char* panic_doc =
    "Raised when tarnwick meets a state it must not be in: a call from a thread\n"
    "that does not own the object, or a failed internal check. It derives from\n"
    "BaseException so that `except Exception` does not swallow it.";

PyObject* make_str(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

// Writes one line to the interpreter's standard error stream.
void write_stderr(const std::string& line) {
    PySys_FormatStderr("%s\n", line.c_str());
}

void report(std::string_view text, std::source_location where) {
    std::string line = "tarnwick: internal check failed on ThreadId(" +
                       std::to_string(current_thread_number()) + ") at " + where.file_name() + ":" +
                       std::to_string(where.line()) + ": " + std::string(text);
    write_stderr(line);
}

void raise_panic_text(PyObject* text) {
    PyObject* type = panic_exception_type();
    if (type == nullptr) return;
    PyErr_SetObject(type, text);
}

}  // namespace

PyObject* panic_exception_type() {
    PyObject* type = panic_type.load(std::memory_order_acquire);
    if (type != nullptr) return type;
    PyObject* made = PyErr_NewExceptionWithDoc("tarnwick_runtime.PanicException", panic_doc,
                                               PyExc_BaseException, nullptr);
    if (made == nullptr) return nullptr;
    PyObject* expected = nullptr;
    if (!panic_type.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) {
        Py_DECREF(made);  // another thread made it first
        return expected;
    }
    return made;  // kept for the life of the process
}

bool panic_is_raised() {
    // Before the class is made no PanicException can be pending.
    PyObject* type = panic_type.load(std::memory_order_acquire);
    return type != nullptr && PyErr_ExceptionMatches(type);
}

void raise_panic(std::string_view text, std::source_location where) {
    report(text, where);
    Ref message(make_str(text));
    if (message) raise_panic_text(message.get());
}

void raise_failure(const Failure& failure) {
    if (const auto* error = std::get_if<FrameError>(&failure)) {
        Ref message(make_str(error->message));
        if (message) PyErr_SetObject(PyExc_ValueError, message.get());
        return;
    }
    const auto& internal = std::get<InternalError>(failure);
    raise_panic(internal.message, internal.where);
}

void note_conversion_failure(const char* parameter) {
    Ref raised(PyErr_GetRaisedException());
    if (!raised) return;
    PyObject* panic = panic_exception_type();
    if (panic != nullptr && PyObject_IsInstance(raised.get(), panic) == 1) {
        write_stderr("tarnwick: a PanicException was raised in Python code called by tarnwick:");
        PyErr_DisplayException(raised.get());
        Ref text(PyObject_Str(raised.get()));
        if (!text) return;  // leaves the failure of str() set
        if (PyUnicode_GetLength(text.get()) == 0) {
            text = Ref(PyUnicode_FromString("a PanicException without a message"));
            if (!text) return;
        }
        raise_panic_text(text.get());
        return;
    }
    PyErr_Clear();
    Ref note(PyUnicode_FromFormat("while processing '%s'", parameter));
    if (note) {
        Ref result(PyObject_CallMethod(raised.get(), "add_note", "O", note.get()));
    }
    PyErr_Clear();  // a note that cannot be attached is left off
    PyErr_SetRaisedException(raised.release());
}

void report_foreign_drop(const char* type_path) {
    PyObject* pending = PyErr_GetRaisedException();
    PyErr_Format(PyExc_RuntimeError, "%s is unsendable, but is being dropped on another thread",
                 type_path);
    PyErr_WriteUnraisable(nullptr);
    PyErr_SetRaisedException(pending);
}

}  // namespace tarnwick::api
