#include "engine/pod_vector.hpp"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

namespace tarnwick {

namespace {

constexpr std::size_t huge_page = std::size_t{2} << 20;
// Below this a block is left to malloc: huge pages only pay off for big arrays.
constexpr std::size_t huge_threshold = huge_page;

}  // namespace

void* allocate_storage(std::size_t bytes) {
    if (bytes >= huge_threshold) {
        std::size_t rounded = (bytes + huge_page - 1) / huge_page * huge_page;
        void* block = std::aligned_alloc(huge_page, rounded);
        if (block == nullptr) throw std::bad_alloc();
        // Advice only: where the kernel declines, ordinary pages serve. The
        // last, partly used 2 MiB stays on ordinary pages, so that its unused
        // end is never resident.
        (void)madvise(block, bytes / huge_page * huge_page, MADV_HUGEPAGE);
        return block;
    }
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void release_storage(void* block, std::size_t) noexcept {
    std::free(block);
}

void release_unused_storage(void* block, std::size_t used, std::size_t bytes) noexcept {
    // Only blocks on huge pages: malloc's own blocks keep what they never touched.
    if (bytes < huge_threshold) return;
    constexpr std::uintptr_t page = 4096;
    auto start = reinterpret_cast<std::uintptr_t>(block);
    std::uintptr_t first = (start + used + page - 1) / page * page;
    std::uintptr_t last = (start + bytes) / page * page;
    // Advice only: where the kernel declines, the pages stay.
    if (last > first) (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

}  // namespace tarnwick
