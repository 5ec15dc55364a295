#include "engine/hash_keys.hpp"

#include <chrono>
#include <random>

namespace tarnwick {

namespace {

HashKeys draw_keys() {
    std::uint64_t words[4];
    try {
        std::random_device device;
        for (std::uint64_t& word : words)
            word = (std::uint64_t{device()} << 32) ^ device();
    } catch (...) {
        // No random source: the clock and where this process was loaded still
        // differ from run to run, which is all an attacker cannot foresee.
        std::uint64_t state = static_cast<std::uint64_t>(
                                  std::chrono::steady_clock::now().time_since_epoch().count()) ^
                              reinterpret_cast<std::uintptr_t>(&words);
        for (std::uint64_t& word : words) {
            state = fold_multiply(state ^ 0x9E3779B97F4A7C15ull, 0xBF58476D1CE4E5B9ull);
            word = state;
        }
    }
    // Odd multipliers lose no bit of the low half of the product.
    return {words[0], words[1] | 1, words[2] | 1, words[3]};
}

}  // namespace

const HashKeys& process_hash_keys() {
    static const HashKeys keys = draw_keys();
    return keys;
}

}  // namespace tarnwick
