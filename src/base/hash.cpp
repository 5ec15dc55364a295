#include "base/hash.hpp"

#include <sys/random.h>

#include <chrono>
#include <cstddef>

namespace tarnwick {

namespace {

// The kernel's random source, asked directly: the C++ library's random device
// would tie the module to a newer C library (its arc4random) for nothing.
bool read_random(std::uint64_t (&words)[4]) {
    auto* bytes = reinterpret_cast<char*>(words);
    std::size_t got = 0;
    while (got < sizeof words) {
        ssize_t n = getrandom(bytes + got, sizeof words - got, GRND_NONBLOCK);
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

HashKeys draw_keys() {
    std::uint64_t words[4];
    if (!read_random(words)) {
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
