// The translation service end to end against the fake managed service: what is sent, what is
// cached, batch semantics, and the time limits.

#include "TranslationTestFixture.hpp"

#include "support/LoopbackProxy.hpp"

#include <chrono>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

class TranslationServiceTest : public TranslationTestFixture {
protected:
    void SetUp() override {
        fake.setResponder([](const RecordedRequest& r) { return echoTranslation(r); });
    }
};

TEST_F(TranslationServiceTest, SingleRequestShape) {
    auto outcome =
        translate("  Hello\n", "zh-CN", configuration("  tok\ten", TranslationProvider::DeepL));
    ASSERT_TRUE(outcome.has_value()) << failureText(outcome);
    EXPECT_EQ(outcome->text, "译:Hello");

    ASSERT_EQ(fake.requests().size(), 1u);
    const auto& request = fake.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/api/translate");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.header("Authorization"), "Bearer   tok\ten") << "the token is sent untrimmed";
    ASSERT_TRUE(request.json);
    EXPECT_EQ(*request.json,
              (nlohmann::json{{"text", "Hello"}, {"target", "zh-CN"}, {"provider", "deepl"}}));
}

TEST_F(TranslationServiceTest, BatchRequestShape) {
    auto outcome = translateBatch({" 一 ", "二\n", "三"}, "en",
                                  configuration("t", TranslationProvider::Claude));
    ASSERT_TRUE(outcome.has_value()) << failureText(outcome);
    ASSERT_EQ(fake.requests().size(), 1u);
    EXPECT_EQ(
        *fake.requests()[0].json,
        (nlohmann::json{{"texts", {"一", "二", "三"}}, {"target", "en"}, {"provider", "claude"}}));
    ASSERT_EQ(outcome->size(), 3u);
    EXPECT_EQ((*outcome)[2].text, "译:三");
}

TEST_F(TranslationServiceTest, ABlankTokenOrOneWithALineBreakIsNeverSent) {
    EXPECT_EQ(failureText(translate("hi", "en", configuration(" \n\t"))),
              "请先登录Aurelo翻译器账号。");
    EXPECT_EQ(failureText(translateBatch({}, "en", configuration(""))),
              "请先登录Aurelo翻译器账号。");
    // A line break would split the Authorization header.
    auto injected = translate("hi", "en", configuration("token\r\nX-Injected: 1"));
    ASSERT_FALSE(injected.has_value());
    EXPECT_TRUE(std::holds_alternative<TransportError>(injected.error()));
    EXPECT_EQ(failureText(injected), "无法发送请求：请求头含有换行或控制字符。");
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

TEST_F(TranslationServiceTest, FailuresAreNotCached) {
    fake.enqueue("/api/translate", ScriptedAnswer::json(500, {{"error", "暂时不可用"}}));
    EXPECT_EQ(failureText(translate("retry me")), "暂时不可用");
    ASSERT_TRUE(translate("retry me").has_value());
    EXPECT_EQ(fake.requestCount("/api/translate"), 2u);
}

TEST_F(TranslationServiceTest, BatchSendsOnlyMissesAndKeepsOrder) {
    ASSERT_TRUE(translate("cached").has_value());
    fake.clearRequests();

    auto outcome = translateBatch({"new", "cached", "new", " other "});
    ASSERT_TRUE(outcome.has_value()) << failureText(outcome);
    ASSERT_EQ(fake.requests().size(), 1u);
    EXPECT_EQ((*fake.requests()[0].json)["texts"], (nlohmann::json{"new", "new", "other"}))
        << "duplicates are sent twice, hits not at all";
    std::vector<std::string> texts;
    for (const auto& r : *outcome)
        texts.push_back(r.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"译:new", "译:cached", "译:new", "译:other"}));

    fake.clearRequests();
    ASSERT_TRUE(translateBatch({"new", "other", "cached"}).has_value());
    EXPECT_TRUE(fake.requests().empty()) << "an all-cached batch makes no request";

    auto empty = translateBatch({});
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
    EXPECT_TRUE(fake.requests().empty());
}

TEST_F(TranslationServiceTest, CountMismatchFailsTheWholeBatchAndCachesNothing) {
    ASSERT_TRUE(translate("hit").has_value());
    std::size_t before = cache.size();
    fake.enqueue("/api/translate",
                 ScriptedAnswer::json(200, {{"results", {{{"text", "only one"}}}}}));
    EXPECT_EQ(failureText(translateBatch({"a", "hit", "b"})),
              "翻译服务返回了无法识别的数据（批量翻译结果数量不匹配）。");
    EXPECT_EQ(cache.size(), before);

    fake.enqueue("/api/translate",
                 ScriptedAnswer::json(200, {{"results", nlohmann::json::array()}}));
    EXPECT_EQ(failureText(translateBatch({"a", "b"})),
              "翻译服务返回了无法识别的数据（批量翻译结果数量不匹配）。");
    EXPECT_EQ(cache.size(), before);
}

TEST_F(TranslationServiceTest, OverlappingCallsAllComplete) {
    int done = 0;
    for (int i = 0; i < 20; ++i)
        service.translate("parallel " + std::to_string(i % 5), "en", configuration(),
                          [&](auto outcome) { done += outcome.has_value(); });
    EXPECT_TRUE(runMainLoopUntil([&] { return done == 20; }));
}

TEST_F(TranslationServiceTest, ASilentServiceTimesOut) {
    fake.enqueue("/api/translate", ScriptedAnswer::silence());
    std::optional<ServiceOutcome<TranslationResult>> outcome;
    service.translate("never", "en", configuration(), [&](auto r) { outcome = std::move(r); });
    ASSERT_TRUE(runMainLoopUntil([&] { return outcome.has_value(); }, 15s));
    ASSERT_FALSE(outcome->has_value());
    ASSERT_TRUE(std::holds_alternative<TransportError>(outcome->error()));
    EXPECT_EQ(std::get<TransportError>(outcome->error()).kind, TransportError::Kind::TimedOut);
    EXPECT_EQ(describe(outcome->error()), "请求超时。");
}

TEST(TranslationServiceRefused, ConnectionRefusedFailsAtOnce) {
    HttpSession session(TranslationNetwork::sessionConfiguration());
    TranslationRequestCache cache;
    TranslationService service("http://127.0.0.1:" + std::to_string(closedLoopbackPort()), session,
                               cache);
    std::optional<ServiceOutcome<TranslationResult>> outcome;
    service.translate("hi", "en",
                      TranslationConfiguration{TranslationProvider::Google, "t", "", ""},
                      [&](auto r) { outcome = std::move(r); });
    ASSERT_TRUE(runMainLoopUntil([&] { return outcome.has_value(); }, 3s));
    ASSERT_FALSE(outcome->has_value());
    ASSERT_TRUE(std::holds_alternative<TransportError>(outcome->error()));
    EXPECT_EQ(std::get<TransportError>(outcome->error()).kind, TransportError::Kind::CannotConnect);
    EXPECT_EQ(describe(outcome->error()), "未能连接到服务器。");
}

} // namespace
} // namespace aurelo::test
