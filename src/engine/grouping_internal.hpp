// What the grouping's tests reach that callers do not: a grouping whose hash
// is narrowed, so that distinct keys collide.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "base/hash.hpp"
#include "engine/grouping.hpp"

namespace tarnwick {

// How a grouping hashes its keys: the process's keys and all 64 bits, except
// where a test narrows the hash with `mask` to make distinct keys collide.
struct KeyHashing {
    HashKeys keys;
    std::uint64_t mask;
};
Result<Grouped> group(const Frame& frame, std::span<const std::string> names,
                      const KeyHashing& hashing);

}  // namespace tarnwick
