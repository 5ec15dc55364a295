// The fast path for arrays with the buffer protocol. It is taken only where
// it gives exactly what iterating the object and converting each item gives:
// exact types whose iteration cannot be overridden, one dimension, contiguous,
// native integers (into i64 or f64) and float32/float64 (into f64). Anything
// else (bool, float16, object, non-native byte order, a uint64 beyond the i64
// range) goes the element way, which also raises the right error.
#include <cstring>
#include <limits>
#include <string_view>

#include "api/column_import.hpp"

namespace tarnwick::api {

namespace {

bool type_is(PyTypeObject* type, const char* module, const char* name) {
    Ref module_name(PyType_GetModuleName(type));
    Ref type_name(PyType_GetName(type));
    if (!module_name || !type_name) {
        PyErr_Clear();
        return false;
    }
    return PyUnicode_EqualToUTF8(module_name.get(), module) == 1 &&
           PyUnicode_EqualToUTF8(type_name.get(), name) == 1;
}

bool has_plain_iteration(PyObject* object) {
    if (PyBytes_CheckExact(object) || PyByteArray_CheckExact(object) ||
        PyMemoryView_Check(object)) {
        return true;
    }
    PyTypeObject* type = Py_TYPE(object);
    return type_is(type, "numpy", "ndarray") || type_is(type, "array", "array");
}

class Buffer {
  public:
    explicit Buffer(PyObject* object) {
        if (PyObject_GetBuffer(object, &view_, PyBUF_RECORDS_RO) == 0) {
            held_ = true;
        } else {
            PyErr_Clear();
        }
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() {
        if (held_) PyBuffer_Release(&view_);
    }
    // The one-character native format of a flat, contiguous view, else 0.
    char plain_format() const {
        if (!held_ || view_.ndim != 1 || view_.suboffsets != nullptr || view_.format == nullptr)
            return 0;
        if (view_.strides != nullptr && view_.strides[0] != view_.itemsize) return 0;
        std::string_view format = view_.format;
        if (format.starts_with('@')) format.remove_prefix(1);
        return format.size() == 1 ? format[0] : 0;
    }
    const Py_buffer& view() const { return view_; }

  private:
    Py_buffer view_{};
    bool held_ = false;
};

template <class S, class T>
void convert(const void* from, std::size_t count, T* to) {
    if (count == 0) return;
    if constexpr (std::is_same_v<S, T>) {
        std::memcpy(to, from, count * sizeof(T));
    } else {
        const S* source = static_cast<const S*>(from);
        for (std::size_t i = 0; i < count; ++i)
            to[i] = static_cast<T>(source[i]);
    }
}

// Element i of the view as T, by the view's format; false for a format or a
// value the fast path does not take.
template <class T>
bool copy_numbers(const Py_buffer& view, char format, PodVector<T>& out) {
    std::size_t count = static_cast<std::size_t>(view.len / view.itemsize);
    out.resize_for_overwrite(count);
    bool is_signed = std::string_view("bhilqn").find(format) != std::string_view::npos;
    bool is_unsigned = std::string_view("BHILQN").find(format) != std::string_view::npos;
    if (is_signed || is_unsigned) {
        switch (view.itemsize * (is_signed ? 1 : -1)) {
            case 1: convert<std::int8_t>(view.buf, count, out.data()); return true;
            case 2: convert<std::int16_t>(view.buf, count, out.data()); return true;
            case 4: convert<std::int32_t>(view.buf, count, out.data()); return true;
            case 8: convert<std::int64_t>(view.buf, count, out.data()); return true;
            case -1: convert<std::uint8_t>(view.buf, count, out.data()); return true;
            case -2: convert<std::uint16_t>(view.buf, count, out.data()); return true;
            case -4: convert<std::uint32_t>(view.buf, count, out.data()); return true;
            case -8: {
                const auto* source = static_cast<const std::uint64_t*>(view.buf);
                if constexpr (std::is_same_v<T, std::int64_t>) {
                    // Beyond the i64 range the element way raises OverflowError.
                    constexpr auto limit = std::uint64_t(std::numeric_limits<std::int64_t>::max());
                    for (std::size_t i = 0; i < count; ++i)
                        if (source[i] > limit) return false;
                }
                convert<std::uint64_t>(view.buf, count, out.data());
                return true;
            }
            default: return false;
        }
    }
    if constexpr (std::is_same_v<T, double>) {
        if (format == 'd' && view.itemsize == 8) {
            convert<double>(view.buf, count, out.data());
            return true;
        }
        if (format == 'f' && view.itemsize == 4) {
            convert<float>(view.buf, count, out.data());
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<ColumnValues> buffer_column(PyObject* object, DType kind) {
    if (!has_plain_iteration(object)) return std::nullopt;
    Buffer buffer(object);
    char format = buffer.plain_format();
    if (format == 0) return std::nullopt;
    if (kind == DType::i64) {
        PodVector<std::int64_t> values;
        if (!copy_numbers(buffer.view(), format, values)) return std::nullopt;
        return ColumnValues::of_i64(std::move(values));
    }
    PodVector<double> values;
    if (!copy_numbers(buffer.view(), format, values)) return std::nullopt;
    return ColumnValues::of_f64(std::move(values));
}

}  // namespace tarnwick::api
