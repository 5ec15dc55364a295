#include "engine/key_hash.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "engine/compensated_sum.hpp"
#include "engine/key_text.hpp"
#include "engine/pod_vector.hpp"

namespace tarnwick {
namespace {

// Fixed keys, so that a failure repeats; the process's keys are random.
constexpr HashKeys fixed_keys{0x0123456789abcdefull, 0x9e3779b97f4a7c15ull | 1,
                              0xbf58476d1ce4e5b9ull, 0x94d049bb133111ebull};

TEST(KeyHash, SeparatesKindsAndSplitsOfTexts) {
    KeyHasher hasher(fixed_keys);
    std::uint64_t h = hasher.start();
    EXPECT_EQ(hasher.f64(h, 1.0), hasher.i64(h, std::bit_cast<std::int64_t>(1.0)));
    // The length in a text's last step keeps the split between two texts
    // visible, and a trailing zero byte apart from its absence.
    EXPECT_NE(hasher.str(hasher.str(h, "ab"), "c"), hasher.str(hasher.str(h, "a"), "bc"));
    EXPECT_NE(hasher.str(h, std::string("ab\0", 3)), hasher.str(h, "ab"));
    EXPECT_NE(hasher.str(h, std::string(8, '\0')), hasher.str(h, ""));
    EXPECT_NE(hasher.missing(h), hasher.str(h, ""));
    EXPECT_NE(hasher.missing(h), hasher.i64(h, 0));
}

TEST(KeyHash, EqualKeysHashAlike) {
    KeyHasher hasher(fixed_keys);
    std::uint64_t h = hasher.start();
    EXPECT_EQ(hasher.f64(h, 0.0), hasher.f64(h, -0.0));
    EXPECT_EQ(hasher.f64(h, -0.0), hasher.i64(h, 0));
    double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_NE(hasher.f64(h, nan), hasher.f64(h, -nan));  // a NaN hashes by its own bits
}

TEST(HashKeys, AreDrawnOnceWithOddMultipliers) {
    const HashKeys& keys = process_hash_keys();
    EXPECT_EQ(&keys, &process_hash_keys());
    EXPECT_EQ(keys.word & 1, 1u);
    EXPECT_EQ(keys.text & 1, 1u);
}

// hash_bytes reads only the bytes it is given (the sanitizer build checks
// that at the ends of exactly sized buffers) and tells apart texts that share
// their first and last words or differ in length only.
TEST(HashBytes, ReadsOnlyItsTextAndSeesEveryPart) {
    std::vector<std::uint64_t> seen;
    for (std::size_t length = 0; length <= 40; ++length) {
        for (char fill : {'a', 'b'}) {
            if (length == 0 && fill == 'b') continue;  // the same empty text
            auto text = std::make_unique<char[]>(length);
            for (std::size_t i = 0; i < length; ++i)
                text[i] = static_cast<char>(fill + (i * 37) % 50);
            seen.push_back(hash_bytes(fixed_keys, text.get(), length));
            if (length > 17) {
                text[length / 2] ^= 1;  // a middle byte only
                seen.push_back(hash_bytes(fixed_keys, text.get(), length));
            }
        }
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
    EXPECT_NE(hash_bytes(fixed_keys, "aaaaaaaaa", 9), hash_bytes(fixed_keys, "aaaaaaaaaa", 10));
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
        for (const HashKeys& keys : {fixed_keys, process_hash_keys()}) {
            KeyHasher hasher(keys);
            for (std::uint64_t state : {keys.start, std::uint64_t{12345}}) {
                EXPECT_EQ(buffer.keys().hash(hasher, state, i), hasher.str(state, buffer.texts[i]))
                    << "length " << i;
            }
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
