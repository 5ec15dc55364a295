#include "api/thread_identity.hpp"

#include <atomic>

namespace tarnwick::api {

namespace {
std::atomic<std::uint64_t> last_thread_number{0};
thread_local std::uint64_t this_thread_number = 0;
}  // namespace

std::uint64_t current_thread_number() {
    if (this_thread_number == 0) {
        this_thread_number = last_thread_number.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    return this_thread_number;
}

}  // namespace tarnwick::api
