// Reads a text of float columns of one width, for tests/test_read_width.py,
// which runs it under cachegrind: the text is made first, and only the read is
// measured. Prints the text's bytes and the fields read.
//
//     read_width_probe WIDTH BYTES
#include <cstdio>
#include <cstdlib>
#include <format>
#include <random>
#include <string>

#include "csv/reader.hpp"

#if __has_include(<valgrind/cachegrind.h>)
#include <valgrind/cachegrind.h>
#define PROBE_MEASURES 1
#endif

int main(int argc, char** argv) {
#ifndef PROBE_MEASURES
    std::puts("built without valgrind/cachegrind.h: nothing to measure");
    return 2;
#else
    if (argc != 3) return 2;
    std::size_t width = std::strtoull(argv[1], nullptr, 10);
    std::size_t bytes = std::strtoull(argv[2], nullptr, 10);
    if (width == 0) return 2;
    // Doubles in [0, 1) by their shortest texts, about 19 bytes a field.
    std::mt19937_64 random(width);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::string text;
    text.reserve(bytes + 64 * width);
    for (std::size_t c = 0; c < width; ++c)
        text += std::format("{}f{}", c == 0 ? "" : ",", c);
    text += '\n';
    while (text.size() < bytes) {
        for (std::size_t c = 0; c < width; ++c) {
            text += std::format("{}", unit(random));
            text += c + 1 < width ? ',' : '\n';
        }
    }
    CACHEGRIND_START_INSTRUMENTATION;
    tarnwick::Result<tarnwick::Frame> frame = tarnwick::read_csv(text);
    CACHEGRIND_STOP_INSTRUMENTATION;
    if (!frame || frame->width() != width) return 1;
    std::printf("%zu %zu\n", text.size(), static_cast<std::size_t>(frame->height()) * width);
    return 0;
#endif
}
