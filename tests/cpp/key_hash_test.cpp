#include "engine/key_hash.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>

#include "engine/compensated_sum.hpp"
#include "engine/key_text.hpp"
#include "engine/pod_vector.hpp"

namespace tarnwick {
namespace {

TEST(Fnv1a, KnownValues) {
    EXPECT_EQ(fnv1a_bytes(fnv_offset_basis, ""), 0xcbf29ce484222325ull);
    EXPECT_EQ(fnv1a_bytes(fnv_offset_basis, "a"), 0xaf63dc4c8601ec8cull);
    EXPECT_EQ(fnv1a_bytes(fnv_offset_basis, "foobar"), 0x85944171f73967e8ull);
}

TEST(KeyHash, FeedsTheBytesOfEachKind) {
    std::uint64_t h = fnv_offset_basis;
    EXPECT_EQ(hash_missing(h), fnv1a_byte(h, 0));
    EXPECT_EQ(hash_i64(h, 1), fnv1a_bytes(h, std::string("\x01\0\0\0\0\0\0\0", 8)));
    EXPECT_EQ(hash_i64(h, -1), fnv1a_bytes(h, std::string(8, '\xff')));
    EXPECT_EQ(hash_f64(h, 1.0), hash_i64(h, std::bit_cast<std::int64_t>(1.0)));
    EXPECT_EQ(hash_str(h, "ab"), fnv1a_byte(fnv1a_bytes(h, "ab"), 0xFF));
    // The closing byte keeps the split between two texts visible.
    EXPECT_NE(hash_str(hash_str(h, "ab"), "c"), hash_str(hash_str(h, "a"), "bc"));
}

TEST(KeyHash, EqualKeysHashAlike) {
    std::uint64_t h = fnv_offset_basis;
    EXPECT_EQ(hash_f64(h, 0.0), hash_f64(h, -0.0));
    EXPECT_EQ(hash_f64(h, -0.0), fnv1a_bytes(h, std::string(8, '\0')));
    double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_NE(hash_f64(h, nan), hash_f64(h, -nan));  // a NaN hashes by its own bits
    EXPECT_NE(hash_missing(h), hash_str(h, ""));
}

// Texts of every length up to 40 bytes, stored one after another, so that they
// start and end at every offset within a word, the first ones within eight
// bytes of the buffer's start.
struct TextBuffer {
    std::vector<std::string> texts;
    PodVector<std::uint64_t> offsets{0};
    std::string bytes;

    explicit TextBuffer(char fill) {
        for (std::size_t length = 0; length <= 40; ++length) {
            std::string text;
            for (std::size_t i = 0; i < length; ++i)
                text += static_cast<char>(fill + i * 37);
            texts.push_back(text);
            bytes += text;
            offsets.push_back(bytes.size());
        }
    }
    KeyText keys() const { return KeyText(offsets.data(), bytes.data()); }
};

TEST(KeyText, HashesLikeTheByteByByteHash) {
    TextBuffer buffer('a');
    for (std::size_t i = 0; i < buffer.texts.size(); ++i) {
        for (std::uint64_t seed : {fnv_offset_basis, std::uint64_t{12345}}) {
            EXPECT_EQ(buffer.keys().hash(seed, i), hash_str(seed, buffer.texts[i]))
                << "length " << i;
        }
    }
}

TEST(KeyText, ComparesEveryByteAcrossBuffers) {
    TextBuffer one('a');
    TextBuffer same('a');
    TextBuffer other('b');
    for (std::size_t i = 0; i < one.texts.size(); ++i) {
        EXPECT_TRUE(one.keys().equal(i, same.keys(), i)) << "length " << i;
        if (i > 0) {
            EXPECT_FALSE(one.keys().equal(i, other.keys(), i)) << "length " << i;
            EXPECT_FALSE(one.keys().equal(i, same.keys(), i - 1)) << "length " << i;
        }
    }
    // Texts that differ only in their first or last byte.
    PodVector<std::uint64_t> offsets{0, 9, 18, 27};
    std::string bytes = "xabcdefghyabcdefghxabcdefgi";
    KeyText keys(offsets.data(), bytes.data());
    EXPECT_FALSE(keys.equal(0, keys, 1));
    EXPECT_FALSE(keys.equal(0, keys, 2));
}

double compensated(std::initializer_list<double> values) {
    CompensatedSum sum;
    for (double v : values)
        sum.add(v);
    return sum.result();
}

TEST(CompensatedSum, RecoversWhatEachAdditionLoses) {
    EXPECT_EQ(compensated({1e16, 1.0, -1e16}), 1.0);
    EXPECT_EQ(compensated({1.0, 1e100, 1.0, -1e100}), 2.0);
    EXPECT_EQ(compensated({0.1, 0.2, 0.3}), 0.6);
}

TEST(CompensatedSum, InfinitiesNanAndZeros) {
    double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(compensated({inf, 1.0}), inf);
    EXPECT_EQ(compensated({1.0, -inf}), -inf);
    EXPECT_TRUE(std::isnan(compensated({inf, -inf})));
    EXPECT_TRUE(std::isnan(compensated({1.0, std::nan(""), 2.0})));
    double empty = compensated({});
    EXPECT_EQ(empty, 0.0);
    EXPECT_FALSE(std::signbit(empty));
    double negative_zeros = compensated({-0.0, -0.0});
    EXPECT_EQ(negative_zeros, 0.0);
    EXPECT_FALSE(std::signbit(negative_zeros));
}

}  // namespace
}  // namespace tarnwick
