// Shared<T>: a reference to an immutable value, counted atomically; the value
// is freed with the last reference. Frames and groupings live on the thread
// that made them, but an Arrow export hands references to a consumer that may
// release them on any thread, while the owner keeps deriving frames from the
// same storage. Uncontended atomic increments cost a few cycles per column of
// a derived frame, which no benchmark task can see.
#pragma once

#include <atomic>
#include <cstddef>
#include <utility>

namespace tarnwick {

template <class T>
class Shared {
  public:
    Shared() = default;
    Shared(const Shared& other) : box_(other.box_) {
        if (box_ != nullptr) box_->count.fetch_add(1, std::memory_order_relaxed);
    }
    Shared(Shared&& other) noexcept : box_(std::exchange(other.box_, nullptr)) {}
    Shared& operator=(Shared other) noexcept {
        std::swap(box_, other.box_);
        return *this;
    }
    ~Shared() { reset(); }

    // Moves `value` into new shared storage with one reference.
    static Shared make(T value) {
        Shared result;
        result.box_ = new Box{std::move(value)};
        return result;
    }

    void reset() noexcept {
        // The last release must see every write made through other references
        // before it frees the value.
        if (box_ != nullptr && box_->count.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete box_;
        }
        box_ = nullptr;
    }

    const T& operator*() const { return box_->value; }
    const T* operator->() const { return &box_->value; }
    const T* get() const { return box_ == nullptr ? nullptr : &box_->value; }
    explicit operator bool() const { return box_ != nullptr; }
    std::size_t use_count() const {
        return box_ == nullptr ? 0 : box_->count.load(std::memory_order_relaxed);
    }

  private:
    struct Box {
        explicit Box(T&& v) : value(std::move(v)) {}
        std::atomic<std::size_t> count{1};
        T value;
    };
    Box* box_ = nullptr;
};

}  // namespace tarnwick
