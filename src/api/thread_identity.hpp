// Process-unique thread numbers: each thread gets the next number the first
// time it asks, and a number is never given again, even after its thread ends.
#pragma once

#include <cstdint>

namespace tarnwick::api {

std::uint64_t current_thread_number();

}  // namespace tarnwick::api
