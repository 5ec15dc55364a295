#include "api/call.hpp"

#include <string>

namespace tarnwick::api {

bool check_owner(std::uint64_t owner, const char* type_path) {
    std::uint64_t caller = current_thread_number();
    if (caller == owner) return true;
    std::string text = std::string("assertion `left == right` failed: ") + type_path +
                       " is unsendable, but sent to another thread\n  left: ThreadId(" +
                       std::to_string(caller) + ")\n right: ThreadId(" + std::to_string(owner) +
                       ")";
    raise_panic(text);
    return false;
}

bool take_use(std::atomic<std::intptr_t>& borrow, Use use) {
    if (use == Use::exclusive) {
        std::intptr_t expected = 0;
        if (borrow.compare_exchange_strong(expected, -1, std::memory_order_acquire)) return true;
        PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
        return false;
    }
    std::intptr_t current = borrow.load(std::memory_order_relaxed);
    while (current != -1) {
        if (borrow.compare_exchange_weak(current, current + 1, std::memory_order_acquire))
            return true;
    }
    PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
    return false;
}

void give_back(std::atomic<std::intptr_t>& borrow, Use use) {
    if (use == Use::exclusive) {
        borrow.store(0, std::memory_order_release);
    } else {
        borrow.fetch_sub(1, std::memory_order_release);
    }
}

}  // namespace tarnwick::api
