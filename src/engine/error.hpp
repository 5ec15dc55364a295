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

template <class T>
using Result = std::expected<T, Failure>;

inline std::unexpected<Failure> frame_error(std::string message) {
    return std::unexpected<Failure>(FrameError{std::move(message)});
}

inline std::unexpected<Failure> internal_error(
    std::string message, std::source_location where = std::source_location::current()) {
    return std::unexpected<Failure>(InternalError{std::move(message), where});
}

}  // namespace tarnwick
