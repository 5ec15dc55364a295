// How failures become Python exceptions.
#pragma once

#include <source_location>
#include <string_view>

#include "api/python.hpp"
#include "engine/error.hpp"

namespace tarnwick::api {

// The PanicException class: derived directly from BaseException, made once per
// process on first need, and not an attribute of the module. Borrowed; nullptr
// with an exception set if it could not be made.
PyObject* panic_exception_type();

// Whether the pending exception is a PanicException.
bool panic_is_raised();

// Raises an engine failure: ValueError with the message, or PanicException for
// a broken invariant (after a report on standard error).
void raise_failure(const Failure& failure);

// Reports a failed internal check on standard error, then raises
// PanicException with `text` as its only argument.
void raise_panic(std::string_view text,
                 std::source_location where = std::source_location::current());

// Called with a conversion's exception pending: attaches the note
// "while processing '{parameter}'". A PanicException raised by Python code is
// not a conversion failure: it is reported and raised afresh.
void note_conversion_failure(const char* parameter);

// Passes "{type_path} is unsendable, but is being dropped on another thread" to
// the unraisable-exception hook, leaving any pending exception in place.
void report_foreign_drop(const char* type_path);

}  // namespace tarnwick::api
