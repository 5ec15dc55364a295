// The discipline every call on an instance follows, after its arguments are
// parsed: the owner-thread check, taking the object for shared or exclusive
// use, the body (argument conversion and one engine operation), and giving the
// use back on every path. No C++ exception leaves a body.
#pragma once

#include <atomic>
#include <cstdint>
#include <new>
#include <string_view>

#include "api/errors.hpp"
#include "api/python.hpp"
#include "api/thread_identity.hpp"
#include "engine/error.hpp"

namespace tarnwick::api {

enum class Use { shared, exclusive };

// The layout of a Frame or Grouped object.
template <class Engine>
struct Instance {
    PyObject ob_base;
    Engine value;
    // 0 free, n > 0 shared uses in progress, -1 one exclusive use.
    std::atomic<std::intptr_t> borrow;
    // The thread that made the object; it alone may use or free the value.
    std::uint64_t owner;
};

// Raises PanicException unless the calling thread is `owner`.
bool check_owner(std::uint64_t owner, const char* type_path);
// Raises RuntimeError when the object is in a conflicting use.
bool take_use(std::atomic<std::intptr_t>& borrow, Use use);
void give_back(std::atomic<std::intptr_t>& borrow, Use use);

// Runs `body`, turning C++ exceptions into Python ones: running out of memory
// into MemoryError, anything else into PanicException.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& error) {
        raise_panic(error.what());
    } catch (...) {
        raise_panic("an unknown C++ exception");
    }
    return nullptr;
}

template <class Engine, Use use, class Body>
PyObject* run_method(PyObject* self, const char* type_path, Body&& body) {
    auto* instance = reinterpret_cast<Instance<Engine>*>(self);
    if (!check_owner(instance->owner, type_path)) return nullptr;
    if (!take_use(instance->borrow, use)) return nullptr;
    PyObject* result = guarded([&] { return body(instance->value); });
    give_back(instance->borrow, use);
    return result;
}

// A new instance of `type` holding `value`, owned by the calling thread.
template <class Engine>
PyObject* wrap_instance(PyTypeObject* type, Engine&& value) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* object = alloc(type, 0);
    if (object == nullptr) return nullptr;
    auto* instance = reinterpret_cast<Instance<Engine>*>(object);
    new (&instance->value) Engine(std::move(value));
    new (&instance->borrow) std::atomic<std::intptr_t>(0);
    instance->owner = current_thread_number();
    return object;
}

// Frees an instance. On a foreign thread the engine value is left alone (only
// the owner thread touches it) and the drop is reported.
template <class Engine>
void dealloc_instance(PyObject* self, const char* type_path) {
    auto* instance = reinterpret_cast<Instance<Engine>*>(self);
    PyTypeObject* type = Py_TYPE(self);
    if (instance->owner == current_thread_number()) {
        instance->value.~Engine();
    } else {
        report_foreign_drop(type_path);
    }
    auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free(self);
    Py_DECREF(type);
}

// A new instance of `type` holding the result's value, or the failure raised.
// `type` is asked for only on success.
template <class Engine, class TypeOf>
PyObject* wrap_or_raise(Result<Engine>&& result, TypeOf type_of) {
    if (!result) {
        raise_failure(result.error());
        return nullptr;
    }
    PyTypeObject* type = type_of();
    if (type == nullptr) return nullptr;
    return wrap_instance(type, std::move(*result));
}

// None, or the failure raised.
inline PyObject* none_or_raise(const Result<void>& result) {
    if (!result) {
        raise_failure(result.error());
        return nullptr;
    }
    Py_RETURN_NONE;
}

}  // namespace tarnwick::api
