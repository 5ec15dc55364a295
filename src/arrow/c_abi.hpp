// The three structs of the Arrow C data and C stream interfaces, laid out as
// that ABI defines them, with the flag bits we read or set. Producers and
// consumers in other libraries see exactly these layouts.
#pragma once

#include <cstdint>

extern "C" {

struct ArrowSchema {
    const char* format;
    const char* name;
    const char* metadata;
    std::int64_t flags;
    std::int64_t n_children;
    ArrowSchema** children;
    ArrowSchema* dictionary;
    void (*release)(ArrowSchema*);
    void* private_data;
};

struct ArrowArray {
    std::int64_t length;
    std::int64_t null_count;
    std::int64_t offset;
    std::int64_t n_buffers;
    std::int64_t n_children;
    const void** buffers;
    ArrowArray** children;
    ArrowArray* dictionary;
    void (*release)(ArrowArray*);
    void* private_data;
};

struct ArrowArrayStream {
    int (*get_schema)(ArrowArrayStream*, ArrowSchema* out);
    int (*get_next)(ArrowArrayStream*, ArrowArray* out);
    const char* (*get_last_error)(ArrowArrayStream*);
    void (*release)(ArrowArrayStream*);
    void* private_data;
};
}

namespace tarnwick::arrow {

constexpr std::int64_t flag_dictionary_ordered = 1;
constexpr std::int64_t flag_nullable = 2;

// A struct whose release is null has been released or moved from.
template <class T>
void release_if_live(T& s) noexcept {
    if (s.release == nullptr) return;
    s.release(&s);
    // A producer must mark the struct released; one that forgets must not
    // be called twice.
    s.release = nullptr;
}

// Owns one struct received from a producer and releases it on every path.
template <class T>
class Owned {
  public:
    Owned() { s_.release = nullptr; }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { release_if_live(s_); }
    T* get() { return &s_; }
    const T* get() const { return &s_; }
    T* operator->() { return &s_; }
    const T* operator->() const { return &s_; }
    bool live() const { return s_.release != nullptr; }
    void reset() { release_if_live(s_); }

  private:
    T s_{};
};

}  // namespace tarnwick::arrow
