// The machine number types that arrive from other libraries (Arrow arrays,
// buffers of the buffer protocol), and the one dispatch from such a type to
// the C++ type that reads it.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

namespace tarnwick {

enum class NumberType : std::uint8_t { i8, i16, i32, i64, u8, u16, u32, u64, f16, f32, f64 };

// The bits of an IEEE half-precision float.
struct Half {
    std::uint16_t bits;
};

// Every half is exactly a double.
inline double half_to_double(Half half) {
    std::uint16_t h = half.bits;
    int sign = (h >> 15) & 1;
    int exponent = (h >> 10) & 0x1F;
    int mantissa = h & 0x3FF;
    double value;
    if (exponent == 0) {
        value = std::ldexp(static_cast<double>(mantissa), -24);
    } else if (exponent == 31) {
        value = mantissa == 0 ? std::numeric_limits<double>::infinity()
                              : std::numeric_limits<double>::quiet_NaN();
    } else {
        value = std::ldexp(static_cast<double>(mantissa + 1024), exponent - 25);
    }
    return sign ? -value : value;
}

template <class S>
inline constexpr bool is_integer_type = std::is_integral_v<S>;

// The value of a source number as T: an integer exactly, a float or half as
// the nearest double (every one of them is exact).
template <class T, class S>
T number_as(S value) {
    if constexpr (std::is_same_v<S, Half>) {
        return static_cast<T>(half_to_double(value));
    } else {
        return static_cast<T>(value);
    }
}

// Writes count numbers of type S as T: a copy of the bytes where the types
// are the same, number_as otherwise.
template <class T, class S>
void convert_numbers(const S* source, std::size_t count, T* target) {
    if constexpr (std::is_same_v<S, T>) {
        if (count != 0) std::memcpy(target, source, count * sizeof(T));
    } else {
        for (std::size_t i = 0; i < count; ++i)
            target[i] = number_as<T>(source[i]);
    }
}

// Calls f(std::type_identity<S>{}) with the C++ type S of `type`.
template <class F>
decltype(auto) visit_number_type(NumberType type, F&& f) {
    switch (type) {
        case NumberType::i8: return f(std::type_identity<std::int8_t>{});
        case NumberType::i16: return f(std::type_identity<std::int16_t>{});
        case NumberType::i32: return f(std::type_identity<std::int32_t>{});
        case NumberType::i64: return f(std::type_identity<std::int64_t>{});
        case NumberType::u8: return f(std::type_identity<std::uint8_t>{});
        case NumberType::u16: return f(std::type_identity<std::uint16_t>{});
        case NumberType::u32: return f(std::type_identity<std::uint32_t>{});
        case NumberType::u64: return f(std::type_identity<std::uint64_t>{});
        case NumberType::f16: return f(std::type_identity<Half>{});
        case NumberType::f32: return f(std::type_identity<float>{});
        case NumberType::f64: return f(std::type_identity<double>{});
    }
    std::unreachable();
}

inline bool is_integer(NumberType type) {
    return visit_number_type(type,
                             []<class S>(std::type_identity<S>) { return is_integer_type<S>; });
}

}  // namespace tarnwick
