// The translation service end to end against the fake managed service: what is sent, what is
// cached, batch semantics, and the time limits.

#include "translation/TranslationService.hpp"
#include "support/FakeManagedService.hpp"
#include "support/LoopbackProxy.hpp"
#include "support/MainLoopWait.hpp"
#include "translation/TranslationNetwork.hpp"

#include <gtest/gtest.h>

namespace aurelo::test {
namespace {

using Json = nlohmann::json;

class TranslationServiceTest : public ::testing::Test {
protected:
    FakeManagedService fake;
    HttpSession session{TranslationNetwork::sessionConfiguration()};
    TranslationRequestCache cache;
    TranslationService service{fake.origin(), session, cache};

    void SetUp() override {
        fake.setResponder([](const RecordedRequest& r) { return echoTranslation(r); });
    }
    static TranslationConfiguration
    configuration(std::string token = "token-1",
                  TranslationProvider provider = TranslationProvider::Google) {
        return TranslationConfiguration{provider, std::move(token), "", ""};
    }
    ServiceOutcome<TranslationResult>
    translate(const std::string& text, const std::string& target = "en",
              const TranslationConfiguration& config = configuration(),
              const TranslationService* through = nullptr) {
        std::optional<ServiceOutcome<TranslationResult>> outcome;
        (through ? *through : service).translate(text, target, config, [&](auto result) {
            outcome = std::move(result);
        });
        EXPECT_TRUE(runMainLoopUntil([&] { return outcome.has_value(); }));
        return outcome.value_or(std::unexpected(TranslationError::server("no answer")));
    }
    ServiceOutcome<std::vector<TranslationResult>>
    translateBatch(const std::vector<std::string>& texts, const std::string& target = "en",
                   const TranslationConfiguration& config = configuration()) {
        std::optional<ServiceOutcome<std::vector<TranslationResult>>> outcome;
        service.translateBatch(texts, target, config,
                               [&](auto result) { outcome = std::move(result); });
        EXPECT_TRUE(runMainLoopUntil([&] { return outcome.has_value(); }));
        return outcome.value_or(std::unexpected(TranslationError::server("no answer")));
    }
    template <typename T> static std::string failureText(const ServiceOutcome<T>& outcome) {
        return outcome ? std::string("<success>") : describe(outcome.error());
    }
};

TEST_F(TranslationServiceTest, SingleAndBatchRequestShapes) {
    auto outcome =
        translate("  Hello\n", "zh-CN", configuration("  tok\ten", TranslationProvider::DeepL));
    EXPECT_EQ(outcome.value_or(TranslationResult{}).text, "译:Hello") << failureText(outcome);
    ASSERT_EQ(fake.requests().size(), 1u);
    const auto& request = fake.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/api/translate");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.header("Authorization"), "Bearer   tok\ten") << "the token is sent untrimmed";
    ASSERT_TRUE(request.json);
    EXPECT_EQ(*request.json, (Json{{"text", "Hello"}, {"target", "zh-CN"}, {"provider", "deepl"}}));

    auto batch = translateBatch({" 一 ", "二\n", "三"}, "en",
                                configuration("t", TranslationProvider::Claude));
    ASSERT_EQ(batch.value_or(std::vector<TranslationResult>{}).size(), 3u) << failureText(batch);
    EXPECT_EQ((*batch)[2].text, "译:三");
    EXPECT_EQ(*fake.requests()[1].json,
              (Json{{"texts", {"一", "二", "三"}}, {"target", "en"}, {"provider", "claude"}}));
}

TEST_F(TranslationServiceTest, ABlankTokenOrOneWithALineBreakIsNeverSent) {
    EXPECT_EQ(failureText(translate("hi", "en", configuration(" \n\t"))),
              "请先登录Aurelo翻译器账号。");
    EXPECT_EQ(failureText(translateBatch({}, "en", configuration(""))),
              "请先登录Aurelo翻译器账号。");
    // A line break would split the Authorization header.
    EXPECT_EQ(failureText(translate("hi", "en", configuration("token\r\nX-Injected: 1"))),
              "无法发送请求：请求头含有换行或控制字符。");
    EXPECT_TRUE(fake.requests().empty());
    EXPECT_EQ(cache.size(), 0u);
}

TEST_F(TranslationServiceTest, TrimmedTextIsCachedPerTargetAndProvider) {
    ASSERT_TRUE(translate("  hello\n").has_value());
    ASSERT_TRUE(translate("hello").has_value());
    EXPECT_EQ(fake.requestCount("/api/translate"), 1u)
        << "the bare text is answered from the cache";
    ASSERT_TRUE(translate("hello", "zh-CN").has_value());
    ASSERT_TRUE(translate("hello", "en", configuration("token-1", TranslationProvider::OpenAI))
                    .has_value());
    EXPECT_EQ(fake.requestCount("/api/translate"), 3u);
    // Unicode white space (ideographic space, no-break space) is trimmed like ASCII space.
    ASSERT_TRUE(translate("\u3000hello\u00a0").has_value());
    EXPECT_EQ(fake.requestCount("/api/translate"), 3u);
}

TEST_F(TranslationServiceTest, BatchSendsOnlyMissesAndKeepsOrder) {
    ASSERT_TRUE(translate("cached").has_value());
    fake.clearRequests();
    auto outcome = translateBatch({"new", "cached", "new", " other "});
    ASSERT_TRUE(outcome.has_value()) << failureText(outcome);
    ASSERT_EQ(fake.requests().size(), 1u);
    EXPECT_EQ((*fake.requests()[0].json)["texts"], (Json{"new", "new", "other"}))
        << "duplicates are sent twice, hits not at all";
    std::vector<std::string> texts;
    for (const auto& r : *outcome)
        texts.push_back(r.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"译:new", "译:cached", "译:new", "译:other"}));

    fake.clearRequests();
    ASSERT_TRUE(translateBatch({"new", "other", "cached"}).has_value());
    auto empty = translateBatch({});
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
    EXPECT_TRUE(fake.requests().empty()) << "an all-cached or empty batch makes no request";
}

TEST_F(TranslationServiceTest, CountMismatchFailsTheWholeBatchAndCachesNothing) {
    ASSERT_TRUE(translate("hit").has_value());
    const std::size_t before = cache.size();
    for (const Json& results : {Json{{{"text", "only one"}}}, Json::array()}) {
        fake.enqueue("/api/translate", ScriptedAnswer::json(200, {{"results", results}}));
        EXPECT_EQ(failureText(translateBatch({"a", "hit", "b"})),
                  "翻译服务返回了无法识别的数据（批量翻译结果数量不匹配）。");
        EXPECT_EQ(cache.size(), before);
    }
}

TEST_F(TranslationServiceTest, ASilentServiceTimesOutAndAClosedPortCannotConnect) {
    fake.enqueue("/api/translate", ScriptedAnswer::silence());
    EXPECT_EQ(failureText(translate("never")), "请求超时。");

    const TranslationService refused("http://127.0.0.1:" + std::to_string(closedLoopbackPort()),
                                     session, cache);
    EXPECT_EQ(failureText(translate("hi", "en", configuration(), &refused)), "未能连接到服务器。");
}

// A cache owned by whoever made the request may be gone when the answer comes: the answer is
// still passed on, and nothing writes into the freed cache (the sanitizer build catches that).
TEST_F(TranslationServiceTest, AnAnswerAfterItsCacheIsGoneIsPassedOnNotStored) {
    fake.setResponder([](const RecordedRequest& r) {
        auto answer = echoTranslation(r);
        answer.delay = std::chrono::milliseconds(100);
        return answer;
    });
    auto ownCache = std::make_unique<TranslationRequestCache>();
    TranslationService shortLived{fake.origin(), session, *ownCache};
    int answered = 0;
    shortLived.translate("one", "en", configuration(),
                         [&](auto result) { answered += result.has_value(); });
    shortLived.translateBatch({"two", "three"}, "en", configuration(),
                              [&](auto result) { answered += result.has_value(); });
    ownCache.reset();
    EXPECT_TRUE(runMainLoopUntil([&] { return answered == 2; }));
}

} // namespace
} // namespace aurelo::test
