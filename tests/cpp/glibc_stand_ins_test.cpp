// The glibc stand-ins linked into the module, against glibc's own functions
// where the running glibc has them (looked up by their versions). Unwinding
// through them inside the module is covered by the Python tests that run out
// of memory: std::bad_alloc is thrown and caught there.
#include <dlfcn.h>
#include <pthread.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using StringToUnsigned = unsigned long (*)(const char*, char**, int);

template <typename Function>
Function glibc_function(const char* name, const char* version) {
    return reinterpret_cast<Function>(dlvsym(RTLD_NEXT, name, version));
}

#if defined(DLFO_STRUCT_HAS_EH_DBASE)
using FindObject = int (*)(void*, dl_find_object*);

int data_in_this_program = 1;

TEST(GlibcStandIns, FindObjectAgreesWithGlibc) {
    const auto glibc_find = glibc_function<FindObject>("_dl_find_object", "GLIBC_2.35");
    if (glibc_find == nullptr) GTEST_SKIP() << "this glibc has no _dl_find_object";
    int on_stack = 0;
    std::vector<int> on_heap(1);
    void* addresses[] = {
        reinterpret_cast<void*>(&glibc_function<FindObject>),  // code of this program
        &data_in_this_program,
        reinterpret_cast<void*>(&dlvsym),                          // code of libc or libdl
        reinterpret_cast<void*>(&std::free),                       // code of libc
        reinterpret_cast<void*>(&testing::UnitTest::GetInstance),  // code of a library
        &on_stack,
        on_heap.data(),
        nullptr,
    };
    for (void* address : addresses) {
        SCOPED_TRACE(address);
        dl_find_object ours{};
        dl_find_object theirs{};
        const int found = _dl_find_object(address, &ours);
        ASSERT_EQ(found, glibc_find(address, &theirs));
        if (found != 0) continue;
        EXPECT_EQ(ours.dlfo_eh_frame, theirs.dlfo_eh_frame);
        EXPECT_NE(ours.dlfo_eh_frame, nullptr);
        EXPECT_LE(ours.dlfo_map_start, address);
        EXPECT_GT(ours.dlfo_map_end, address);
    }
}

#endif

std::atomic<int> once_runs{0};
std::atomic<bool> once_finished{false};

void slow_once_routine() {
    once_runs.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    once_finished.store(true);
}

TEST(GlibcStandIns, OnceRunsTheRoutineOnceAndOthersWaitForIt) {
    pthread_once_t control = PTHREAD_ONCE_INIT;
    std::atomic<int> returned_early{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            ASSERT_EQ(pthread_once(&control, slow_once_routine), 0);
            if (!once_finished.load()) returned_early.fetch_add(1);
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(pthread_once(&control, slow_once_routine), 0);
    EXPECT_EQ(once_runs.load(), 1);
    EXPECT_EQ(returned_early.load(), 0);
}

TEST(GlibcStandIns, DecimalStrtoulAgreesWithGlibc) {
    const auto glibc_strtoul = glibc_function<StringToUnsigned>("__isoc23_strtoul", "GLIBC_2.38");
    if (glibc_strtoul == nullptr) GTEST_SKIP() << "this glibc has no __isoc23_strtoul";
    // std::strtoul is the C23 name under these headers, which the stand-in defines.
    for (const char* text : {"0", "42", "  17xyz", "-1", "+9", "007", "18446744073709551615",
                             "18446744073709551616", "", "abc", "0b101", "0x1f"}) {
        SCOPED_TRACE(text);
        char* our_end = nullptr;
        char* their_end = nullptr;
        errno = 0;
        const unsigned long ours = std::strtoul(text, &our_end, 10);
        const int our_errno = errno;
        errno = 0;
        const unsigned long theirs = glibc_strtoul(text, &their_end, 10);
        EXPECT_EQ(ours, theirs);
        EXPECT_EQ(our_end, their_end);
        EXPECT_EQ(our_errno, errno);
    }
}

}  // namespace
