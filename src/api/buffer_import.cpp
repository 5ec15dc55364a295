// The fast path for arrays with the buffer protocol. It is taken only where
// it gives exactly what iterating the object and converting each item gives:
// exact types whose iteration cannot be overridden, one dimension, contiguous,
// native integers (into i64 or f64) and float32/float64 (into f64). Anything
// else (bool, float16, object, non-native byte order, a uint64 beyond the i64
// range) goes the element way, which also raises the right error.
#include <limits>
#include <string_view>

#include "api/column_import.hpp"
#include "base/number_types.hpp"
#include "engine/column_view.hpp"

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
    // The number type of a flat, contiguous view whose one-character native
    // format the fast path takes: native integers, float32 and float64.
    std::optional<NumberType> number_type() const {
        if (!held_ || view_.ndim != 1 || view_.suboffsets != nullptr || view_.format == nullptr)
            return std::nullopt;
        if (view_.strides != nullptr && view_.strides[0] != view_.itemsize) return std::nullopt;
        std::string_view format = view_.format;
        if (format.starts_with('@')) format.remove_prefix(1);
        if (format.size() != 1) return std::nullopt;
        char code = format[0];
        Py_ssize_t size = view_.itemsize;
        bool is_signed = std::string_view("bhilqn").find(code) != std::string_view::npos;
        bool is_unsigned = std::string_view("BHILQN").find(code) != std::string_view::npos;
        if (is_signed || is_unsigned) {
            switch (size) {
                case 1: return is_signed ? NumberType::i8 : NumberType::u8;
                case 2: return is_signed ? NumberType::i16 : NumberType::u16;
                case 4: return is_signed ? NumberType::i32 : NumberType::u32;
                case 8: return is_signed ? NumberType::i64 : NumberType::u64;
                default: return std::nullopt;
            }
        }
        if (code == 'd' && size == 8) return NumberType::f64;
        if (code == 'f' && size == 4) return NumberType::f32;
        return std::nullopt;
    }
    const Py_buffer& view() const { return view_; }

  private:
    Py_buffer view_{};
    bool held_ = false;
};

// The view's numbers as T, or false where the element way must decide: a
// float into i64 (which it refuses), a uint64 beyond the i64 range (which it
// refuses with OverflowError).
template <class T>
bool copy_numbers(const Py_buffer& view, NumberType type, PodVector<T>& out) {
    return visit_number_type(type, [&]<class S>(std::type_identity<S>) {
        if constexpr (std::is_same_v<T, std::int64_t> && !is_integer_type<S>) {
            return false;
        } else {
            std::size_t count = static_cast<std::size_t>(view.len / view.itemsize);
            const auto* source = static_cast<const S*>(view.buf);
            if constexpr (std::is_same_v<T, std::int64_t> && std::is_same_v<S, std::uint64_t>) {
                constexpr auto limit = std::uint64_t(std::numeric_limits<std::int64_t>::max());
                for (std::size_t i = 0; i < count; ++i)
                    if (source[i] > limit) return false;
            }
            out.resize_for_overwrite(count);
            convert_numbers(source, count, out.data());
            return true;
        }
    });
}

}  // namespace

std::optional<ColumnValues> buffer_column(PyObject* object, DType kind) {
    return visit_kind(
        kind, Overloaded{
                  [](std::type_identity<TextView>) -> std::optional<ColumnValues> {
                      return std::nullopt;
                  },
                  [&]<class T>(std::type_identity<NumberView<T>>) -> std::optional<ColumnValues> {
                      if (!has_plain_iteration(object)) return std::nullopt;
                      Buffer buffer(object);
                      std::optional<NumberType> type = buffer.number_type();
                      if (!type) return std::nullopt;
                      PodVector<T> values;
                      if (!copy_numbers(buffer.view(), *type, values)) return std::nullopt;
                      return ColumnValues::of_numbers(std::move(values));
                  },
              });
}

}  // namespace tarnwick::api
