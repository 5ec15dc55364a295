// A growable array of trivially copyable values that never initialises what it
// allocates. Column storage, row selections and builders use it instead of
// std::vector so that building a million values costs one write per value, and
// so that large arrays land on huge pages (first touch of ordinary pages is the
// dominant cost of building big columns on the machines we measure on).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>
#include <utility>

namespace tarnwick {

// Raw storage for PodVector: ordinary malloc for small blocks, 2 MiB-aligned
// blocks advised for transparent huge pages for large ones. Throws
// std::bad_alloc when memory runs out.
void* allocate_storage(std::size_t bytes);
void release_storage(void* block, std::size_t bytes) noexcept;
// Gives the whole pages of a block past its first `used` bytes back to the
// system, keeping the block: they read as zeros when touched again.
void release_unused_storage(void* block, std::size_t used, std::size_t bytes) noexcept;

template <class T>
class PodVector {
    static_assert(std::is_trivially_copyable_v<T>);

  public:
    PodVector() = default;
    explicit PodVector(std::size_t size) { resize_for_overwrite(size); }
    PodVector(std::initializer_list<T> values) {
        reserve(values.size());
        for (const T& v : values)
            data_[size_++] = v;
    }
    PodVector(const PodVector&) = delete;
    PodVector& operator=(const PodVector&) = delete;
    PodVector(PodVector&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    PodVector& operator=(PodVector&& other) noexcept {
        if (this != &other) {
            release();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            capacity_ = std::exchange(other.capacity_, 0);
        }
        return *this;
    }
    ~PodVector() { release(); }

    // An independent copy of the values.
    PodVector clone() const {
        PodVector copy;
        copy.resize_for_overwrite(size_);
        if (size_ != 0) std::memcpy(copy.data_, data_, size_ * sizeof(T));
        return copy;
    }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::size_t capacity() const { return capacity_; }
    T* data() { return data_; }
    const T* data() const { return data_; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    T* begin() { return data_; }
    T* end() { return data_ + size_; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }
    T& back() { return data_[size_ - 1]; }
    std::span<T> span() { return {data_, size_}; }
    std::span<const T> span() const { return {data_, size_}; }

    void reserve(std::size_t wanted) {
        if (wanted > capacity_) reallocate(wanted);
    }
    // Grows or shrinks to `size`; new elements hold whatever the memory held.
    void resize_for_overwrite(std::size_t size) {
        reserve(size);
        size_ = size;
    }
    void resize(std::size_t size, T fill) {
        std::size_t old = size_;
        resize_for_overwrite(size);
        for (std::size_t i = old; i < size; ++i)
            data_[i] = fill;
    }
    void clear() { size_ = 0; }
    void push_back(T value) {
        if (size_ == capacity_) grow(size_ + 1);
        data_[size_++] = value;
    }
    void append(const T* values, std::size_t count) {
        if (count == 0) return;
        if (size_ + count > capacity_) grow(size_ + count);
        std::memcpy(data_ + size_, values, count * sizeof(T));
        size_ += count;
    }
    // Gives back capacity beyond the size when it is a large share of it.
    void shrink_to_fit() {
        if (capacity_ - size_ > capacity_ / 4 && capacity_ > 64) reallocate(size_);
    }
    // Gives the memory past the size back without moving the values, for an
    // array reserved for more than it came to hold: a huge page touched at its
    // end would otherwise keep the unused rest of its 2 MiB resident. The
    // capacity stays, and reads as whatever it held.
    void release_unused_memory() noexcept {
        if (data_ != nullptr)
            release_unused_storage(data_, size_ * sizeof(T), capacity_ * sizeof(T));
    }

  private:
    void grow(std::size_t needed) {
        std::size_t doubled = capacity_ < 8 ? 8 : capacity_ * 2;
        reallocate(needed > doubled ? needed : doubled);
    }
    void reallocate(std::size_t capacity) {
        T* fresh =
            capacity == 0 ? nullptr : static_cast<T*>(allocate_storage(capacity * sizeof(T)));
        if (size_ != 0) std::memcpy(fresh, data_, size_ * sizeof(T));
        release();
        data_ = fresh;
        capacity_ = capacity;
    }
    void release() noexcept {
        if (data_ != nullptr) release_storage(data_, capacity_ * sizeof(T));
        data_ = nullptr;
        capacity_ = 0;
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace tarnwick
