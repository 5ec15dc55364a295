// Shared<T>: a reference to an immutable value, counted with a plain integer.
// Frames and groupings live on the thread that made them, so the count needs
// no atomic operations; the value is freed with the last reference.
#pragma once

#include <cstddef>
#include <utility>

namespace tarnwick {

template <class T>
class Shared {
  public:
    Shared() = default;
    Shared(const Shared& other) : box_(other.box_) {
        if (box_ != nullptr) ++box_->count;
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
        result.box_ = new Box{1, std::move(value)};
        return result;
    }

    void reset() noexcept {
        if (box_ != nullptr && --box_->count == 0) delete box_;
        box_ = nullptr;
    }

    const T& operator*() const { return box_->value; }
    const T* operator->() const { return &box_->value; }
    const T* get() const { return box_ == nullptr ? nullptr : &box_->value; }
    explicit operator bool() const { return box_ != nullptr; }
    std::size_t use_count() const { return box_ == nullptr ? 0 : box_->count; }

  private:
    struct Box {
        std::size_t count;
        T value;
    };
    Box* box_ = nullptr;
};

}  // namespace tarnwick
