// The three structs of the Arrow C data and C stream interfaces, as the
// interface's document prescribes them, under its include guards: a unit that
// also includes another library's copy of these definitions gets one of them.
// Producers and consumers in other libraries see exactly these layouts.
#pragma once

#include <stdint.h>

extern "C" {

#ifndef ARROW_C_DATA_INTERFACE
#define ARROW_C_DATA_INTERFACE

#define ARROW_FLAG_DICTIONARY_ORDERED 1
#define ARROW_FLAG_NULLABLE 2
#define ARROW_FLAG_MAP_KEYS_SORTED 4

struct ArrowSchema {
    const char* format;
    const char* name;
    const char* metadata;
    int64_t flags;
    int64_t n_children;
    struct ArrowSchema** children;
    struct ArrowSchema* dictionary;

    void (*release)(struct ArrowSchema*);
    void* private_data;
};

struct ArrowArray {
    int64_t length;
    int64_t null_count;
    int64_t offset;
    int64_t n_buffers;
    int64_t n_children;
    const void** buffers;
    struct ArrowArray** children;
    struct ArrowArray* dictionary;

    void (*release)(struct ArrowArray*);
    void* private_data;
};

#endif  // ARROW_C_DATA_INTERFACE

#ifndef ARROW_C_STREAM_INTERFACE
#define ARROW_C_STREAM_INTERFACE

struct ArrowArrayStream {
    int (*get_schema)(struct ArrowArrayStream*, struct ArrowSchema* out);
    int (*get_next)(struct ArrowArrayStream*, struct ArrowArray* out);
    const char* (*get_last_error)(struct ArrowArrayStream*);

    void (*release)(struct ArrowArrayStream*);

    void* private_data;
};

#endif  // ARROW_C_STREAM_INTERFACE
}

namespace tarnwick::arrow {

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
