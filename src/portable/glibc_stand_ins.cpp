// Stand-ins for the glibc symbols newer than 2.28 that the statically linked
// C++ and support runtimes refer to, so that the module loads on glibc 2.28.
// They are linked only into the module (hidden, and local by the version
// script), so they serve the runtime's copy inside it and nothing else.
//
//   __isoc23_strtoul (2.38)   the exception allocator reads a base-10 number
//                             from GLIBCXX_TUNABLES; the C23 variant differs
//                             only for "0b" prefixes with base 0 or 2
//   _dl_find_object (2.35)    the unwinder's look-up of unwind tables; the
//                             answer comes from dl_iterate_phdr, as unwinders
//                             found it before 2.35
//   pthread_once (2.34)       the unwinder's one-time set-up; 2.34 moved the
//                             function into libc with a new version
//   __libc_single_threaded (2.32)  a hint that lets reference counts skip
//                             atomic operations; 0 always takes the atomic
//                             path, which is correct with or without threads
//
// This file includes neither <stdlib.h> nor <atomic>: glibc's headers would
// redirect strtoul to the C23 name defined here. Built against an older glibc
// (an sdist elsewhere), the symbols its headers do not have are not defined.
#include <dlfcn.h>
#include <link.h>
#include <pthread.h>
#include <sched.h>

#include <cstdint>
#include <type_traits>

#if defined(__GLIBC__)

extern "C" {

char __libc_single_threaded = 0;

}  // extern "C"

#if __GLIBC_PREREQ(2, 38)
extern "C" {

unsigned long strtoul_before_c23(const char* text, char** end, int base) __asm__("strtoul");

unsigned long __isoc23_strtoul(const char* text, char** end, int base) {
    return strtoul_before_c23(text, end, base);
}

}  // extern "C"
#endif

#if defined(DLFO_STRUCT_HAS_EH_DBASE)
namespace {

struct ObjectSearch {
    std::uintptr_t address;
    dl_find_object* result;
    bool found;
};

// Called for each loaded object: fills the result when one of the object's
// loaded segments holds the address, and stops the walk.
int search_object(dl_phdr_info* info, std::size_t, void* data) {
    auto& search = *static_cast<ObjectSearch*>(data);
    std::uintptr_t start = UINTPTR_MAX;
    std::uintptr_t end = 0;
    bool holds = false;
    const ElfW(Phdr)* eh_frame = nullptr;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) & header = info->dlpi_phdr[i];
        if (header.p_type == PT_LOAD) {
            const std::uintptr_t low = info->dlpi_addr + header.p_vaddr;
            const std::uintptr_t high = low + header.p_memsz;
            if (low < start) start = low;
            if (high > end) end = high;
            if (search.address >= low && search.address < high) holds = true;
        } else if (header.p_type == PT_GNU_EH_FRAME) {
            eh_frame = &header;
        }
    }
    if (!holds) return 0;
    *search.result = dl_find_object{};
    search.result->dlfo_map_start = reinterpret_cast<void*>(start);
    search.result->dlfo_map_end = reinterpret_cast<void*>(end);
    search.result->dlfo_eh_frame =
        eh_frame ? reinterpret_cast<void*>(info->dlpi_addr + eh_frame->p_vaddr) : nullptr;
    search.found = true;
    return 1;
}

}  // namespace

extern "C" {

int _dl_find_object(void* address, dl_find_object* result) noexcept {
    ObjectSearch search{reinterpret_cast<std::uintptr_t>(address), result, false};
    dl_iterate_phdr(search_object, &search);
    return search.found ? 0 : -1;
}

}  // extern "C"
#endif

extern "C" {

// States of a once control; glibc's PTHREAD_ONCE_INIT is 0.
static_assert(std::is_same_v<pthread_once_t, int>);
constexpr int once_not_run = 0;
constexpr int once_running = 1;
constexpr int once_done = 2;

int pthread_once(pthread_once_t* control, void (*routine)()) {
    if (__atomic_load_n(control, __ATOMIC_ACQUIRE) == once_done) return 0;
    int expected = once_not_run;
    if (__atomic_compare_exchange_n(control, &expected, once_running, false, __ATOMIC_ACQ_REL,
                                    __ATOMIC_ACQUIRE)) {
        routine();
        __atomic_store_n(control, once_done, __ATOMIC_RELEASE);
        return 0;
    }
    // Another thread runs the routine (the runtime's routines are short).
    while (__atomic_load_n(control, __ATOMIC_ACQUIRE) != once_done)
        sched_yield();
    return 0;
}

}  // extern "C"

#endif  // __GLIBC__
