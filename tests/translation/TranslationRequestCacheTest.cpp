#include "translation/TranslationRequestCache.hpp"

#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

namespace aurelo::test {
namespace {

using Key = TranslationRequestCache::Key;

Key key(int i) {
    return Key{"text " + std::to_string(i), "en", "google"};
}

TranslationResult resultFor(const std::string& text) {
    return TranslationResult{"译 " + text, std::nullopt};
}

// Asks through result() with an operation that answers at once; returns whether it ran.
bool ask(TranslationRequestCache& cache, const Key& k, bool fail = false) {
    bool ran = false, done = false;
    cache.result(
        k,
        [&](ServiceCompletion<TranslationResult> finish) {
            ran = true;
            if (fail)
                finish(std::unexpected(TranslationError::server("失败")));
            else
                finish(resultFor(k.text));
        },
        [&](ServiceOutcome<TranslationResult>) { done = true; });
    EXPECT_TRUE(runMainLoopUntil([&] { return done; }));
    return ran;
}

TEST(TranslationRequestCache, EvictsInTheOrderOfStoring) {
    TranslationRequestCache cache;
    for (int i = 1; i <= 500; ++i)
        cache.store(resultFor(key(i).text), key(i));
    EXPECT_EQ(cache.size(), 500u);
    EXPECT_TRUE(cache.cachedResult(key(1)));

    // Reading a hit does not refresh it.
    EXPECT_FALSE(ask(cache, key(1)));
    EXPECT_TRUE(ask(cache, key(501)));
    EXPECT_EQ(cache.size(), 500u);
    EXPECT_FALSE(cache.cachedResult(key(1))) << "the 501st entry evicts the first";
    EXPECT_TRUE(cache.cachedResult(key(2)));
    EXPECT_TRUE(ask(cache, key(1))) << "an evicted text is asked for again";
}

TEST(TranslationRequestCache, StoringAgainMovesToYoungestAndReplaces) {
    TranslationRequestCache cache(3);
    cache.store(resultFor("a"), key(1));
    cache.store(resultFor("b"), key(2));
    cache.store(resultFor("c"), key(3));
    cache.store(TranslationResult{"new", "fr"}, key(1));
    EXPECT_EQ(cache.size(), 3u);
    EXPECT_EQ(cache.orderLength(), 3u);
    EXPECT_EQ(cache.cachedResult(key(1))->text, "new");
    cache.store(resultFor("d"), key(4));
    EXPECT_FALSE(cache.cachedResult(key(2))) << "key 2 is now the oldest";
    EXPECT_TRUE(cache.cachedResult(key(1)));
    EXPECT_TRUE(ask(cache, key(9), /*fail=*/true));
    EXPECT_EQ(cache.orderLength(), 3u) << "a failure is never stored";
    EXPECT_FALSE(cache.cachedResult(key(9)));
}

TEST(TranslationRequestCache, OverlappingMissesBothRunAndKeepTheKeyOnceInTheOrder) {
    TranslationRequestCache cache(2);
    std::vector<ServiceCompletion<TranslationResult>> pending;
    int answered = 0;
    for (int i = 0; i < 2; ++i)
        cache.result(
            key(1),
            [&](ServiceCompletion<TranslationResult> finish) {
                pending.push_back(std::move(finish));
            },
            [&](ServiceOutcome<TranslationResult>) { ++answered; });
    ASSERT_EQ(pending.size(), 2u) << "no merging of identical requests in flight";
    pending[0](TranslationResult{"first", std::nullopt});
    pending[1](TranslationResult{"second", std::nullopt});
    EXPECT_EQ(answered, 2);
    EXPECT_EQ(cache.cachedResult(key(1))->text, "second");
    EXPECT_EQ(cache.orderLength(), 1u);

    // Two distinct keys fit a cache of two: a stale second order entry for key 1 must not evict
    // its fresh result.
    cache.store(resultFor("other"), key(2));
    EXPECT_EQ(cache.cachedResult(key(1))->text, "second");
    EXPECT_EQ(cache.orderLength(), 2u);
    cache.store(resultFor("third"), key(3));
    EXPECT_FALSE(cache.cachedResult(key(1))) << "key 1 was stored longest ago";
    EXPECT_TRUE(cache.cachedResult(key(2)));
}

} // namespace
} // namespace aurelo::test
