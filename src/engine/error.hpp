// Failures are values in the engine: every operation that can fail returns
// Result<T>, and only the Python surface turns a failure into an exception.
#pragma once

#include <expected>
#include <source_location>
#include <string>
#include <variant>

namespace tarnwick {

// A refusal the user can cause; Python sees it as ValueError with this text.
struct FrameError {
    std::string message;
};

// A broken invariant of the engine itself: a bug, never the user's doing.
// Python sees it as PanicException, after a report on standard error.
struct InternalError {
    std::string message;
    std::source_location where;
};

using Failure = std::variant<FrameError, InternalError>;

// A value, or the failure that prevented it. Parts with failures of their own
// kind (the Arrow import) use the same shape with another error type.
template <class T, class E = Failure>
using Result = std::expected<T, E>;

inline std::unexpected<Failure> frame_error(std::string message) {
    return std::unexpected<Failure>(FrameError{std::move(message)});
}

inline std::unexpected<Failure> internal_error(
    std::string message, std::source_location where = std::source_location::current()) {
    return std::unexpected<Failure>(InternalError{std::move(message), where});
}

}  // namespace tarnwick

// The one way a failure travels up: from a Result-returning call inside a
// function that returns a Result (of any value type, with the same error
// type).
//
//   TARNWICK_ASSIGN_OR_RETURN(const Column* column, find_column(frame, name));
//   TARNWICK_RETURN_IF_FAILED(add_column(frame, name, std::move(values)));
#define TARNWICK_ASSIGN_OR_RETURN(declaration, expression)                                 \
    TARNWICK_ASSIGN_OR_RETURN_WITH(TARNWICK_JOIN(tarnwick_result_, __LINE__), declaration, \
                                   expression)
#define TARNWICK_RETURN_IF_FAILED(expression)                            \
    do {                                                                 \
        if (auto tarnwick_checked = (expression); !tarnwick_checked)     \
            return std::unexpected(std::move(tarnwick_checked).error()); \
    } while (false)

#define TARNWICK_ASSIGN_OR_RETURN_WITH(result, declaration, expression) \
    auto result = (expression);                                         \
    if (!result) return std::unexpected(std::move(result).error());     \
    declaration = std::move(*result)
#define TARNWICK_JOIN(a, b) TARNWICK_JOIN_EXPANDED(a, b)
#define TARNWICK_JOIN_EXPANDED(a, b) a##b
