#include "base/text_cache.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <set>
#include <string>

namespace tarnwick {
namespace {

// Texts of every length up to 40, and for each the same text with one byte
// changed at every position: equal lengths, differing in one byte, is where
// the two-word form of short texts could go wrong.
std::deque<std::string> near_texts() {
    std::deque<std::string> texts;
    for (std::size_t n = 0; n <= 40; ++n) {
        std::string base;
        for (std::size_t i = 0; i < n; ++i)
            base += static_cast<char>('a' + i % 26);
        texts.push_back(base);
        for (std::size_t i = 0; i < n; ++i) {
            std::string changed = base;
            changed[i] = '\x80';
            texts.push_back(changed);
        }
    }
    return texts;
}

// The key of a text, with its hash replaced when `colliding`: then every key
// lands in one chain with one tag, and only the comparison of the texts
// themselves tells them apart.
TextKey key_of(const std::string& text, bool colliding) {
    TextKey key(text, process_hash_keys());
    if (colliding) key.hash = 0;
    return key;
}

class TextCacheFinds : public testing::TestWithParam<bool> {};

TEST_P(TextCacheFinds, ExactlyTheTextsItRemembers) {
    bool colliding = GetParam();
    std::deque<std::string> texts = near_texts();
    TextCache cache;
    // Every other text is remembered; the rest must never be found.
    for (std::size_t i = 0; i < texts.size(); i += 2)
        cache.remember(key_of(texts[i], colliding), &texts[i]);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        void* expected = i % 2 == 0 ? &texts[i] : nullptr;
        // A copy at another address: short texts compare by value, long ones by bytes.
        std::string copy = texts[i];
        EXPECT_EQ(cache.use(key_of(copy, colliding)), expected) << i << " " << texts[i].size();
    }
    // Each remembered text was used once, and only those.
    std::set<void*> remembered;
    for (std::size_t i = 0; i < texts.size(); i += 2)
        remembered.insert(&texts[i]);
    std::set<void*> used;
    cache.for_each_use([&](void* object, std::uint64_t uses) {
        EXPECT_EQ(uses, 1u);
        used.insert(object);
    });
    EXPECT_EQ(used, remembered);
}

INSTANTIATE_TEST_SUITE_P(Hashes, TextCacheFinds, testing::Values(false, true));

TEST(TextCache, StopsGrowingAtItsLimitAndStaysExact) {
    std::deque<std::string> texts;
    TextCache cache;
    for (std::size_t i = 0; i < TextCache::max_texts + 1000; ++i) {
        texts.push_back("text number " + std::to_string(i));
        cache.remember(TextKey(texts.back(), process_hash_keys()), &texts.back());
    }
    EXPECT_EQ(cache.size(), TextCache::max_texts);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        void* expected = i < TextCache::max_texts ? &texts[i] : nullptr;
        EXPECT_EQ(cache.use(TextKey(texts[i], process_hash_keys())), expected) << i;
    }
}

}  // namespace
}  // namespace tarnwick
