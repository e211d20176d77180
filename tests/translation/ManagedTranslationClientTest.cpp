// How every answer of the managed service becomes a result or an error, over real HTTP.

#include "TranslationTestFixture.hpp"

namespace aurelo::test {
namespace {

using Json = nlohmann::json;

class ManagedAnswers : public TranslationTestFixture {};

TEST_F(ManagedAnswers, SingleErrorStatusesBecomeTheFixedMessages) {
    struct Case {
        ScriptedAnswer answer;
        const char* expected;
    } cases[] = {
        {ScriptedAnswer::json(401, {{"error", "token expired"}}), "登录已失效，请重新登录。"},
        {ScriptedAnswer::json(401, Json::object()), "登录已失效，请重新登录。"},
        {ScriptedAnswer::json(500, {{"error", "翻译引擎暂时不可用"}}), "翻译引擎暂时不可用"},
        {ScriptedAnswer::json(429, {{"error", 42}}), "后台翻译服务请求失败（429）"},
        {ScriptedAnswer::json(500, Json::array({"error"})), "后台翻译服务请求失败（500）"},
        {ScriptedAnswer::text(502, "<html><body>Bad Gateway</body></html>", "text/html"),
         "后台翻译服务请求失败（502）"},
    };
    for (const auto& c : cases) {
        fake.enqueue("/api/translate", c.answer);
        auto outcome = translate("hello " + std::to_string(c.answer.status));
        EXPECT_EQ(failureText(outcome), c.expected) << c.answer.body;
        ASSERT_FALSE(outcome.has_value());
        EXPECT_TRUE(std::holds_alternative<TranslationError>(outcome.error()));
    }
}

TEST_F(ManagedAnswers, BatchErrorStatusUsesTheBatchMessage) {
    fake.enqueue("/api/translate", ScriptedAnswer::text(502, "<html>Bad Gateway</html>", "text/html"));
    EXPECT_EQ(failureText(translateBatch({"a", "b"})), "后台批量翻译请求失败（502）");
    fake.enqueue("/api/translate", ScriptedAnswer::json(401, {{"error", "x"}}));
    EXPECT_EQ(failureText(translateBatch({"a", "b"})), "登录已失效，请重新登录。");
}

TEST_F(ManagedAnswers, SuccessBodiesAreDecodedStrictly) {
    fake.enqueue("/api/translate", ScriptedAnswer::json(200, {{"text", "你好"}}));
    auto plain = translate("hello");
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(plain->text, "你好");
    EXPECT_FALSE(plain->detectedLanguage.has_value());

    fake.enqueue("/api/translate",
                 ScriptedAnswer::json(200, {{"text", " 你好\n"}, {"detectedLanguage", "en"}, {"x", 1}}));
    auto detected = translate("hello again");
    ASSERT_TRUE(detected.has_value());
    EXPECT_EQ(detected->text, " 你好\n") << "results are not trimmed";
    EXPECT_EQ(detected->detectedLanguage, "en");

    fake.enqueue("/api/translate", ScriptedAnswer::json(200, {{"text", "hi"}, {"detectedLanguage", nullptr}}));
    auto nullDetected = translate("null language");
    ASSERT_TRUE(nullDetected.has_value());
    EXPECT_FALSE(nullDetected->detectedLanguage.has_value());
}

TEST_F(ManagedAnswers, MalformedSuccessBodiesFailWithTheirOwnKindOfError) {
    struct Case {
        ScriptedAnswer answer;
        bool isDecodingError;
        const char* expected;
    } cases[] = {
        {ScriptedAnswer::json(200, {{"text", ""}, {"detectedLanguage", "en"}}), false,
         "翻译服务返回了无法识别的数据，请稍后重试。"},
        {ScriptedAnswer::json(200, {{"text", 12}}), true, "未能读取数据，因为“text”的类型不正确。"},
        {ScriptedAnswer::json(200, {{"detectedLanguage", "en"}}), true, "未能读取数据，因为缺少“text”。"},
        {ScriptedAnswer::json(200, {{"text", "hi"}, {"detectedLanguage", 3}}), true,
         "未能读取数据，因为“detectedLanguage”的类型不正确。"},
        {ScriptedAnswer::text(200, "<html>ok</html>", "text/html"), true,
         "未能读取数据，因为它的格式不正确。"},
        {ScriptedAnswer::text(200, "", "application/json"), true, "未能读取数据，因为它的格式不正确。"},
        {ScriptedAnswer::json(200, Json::array({{{"text", "hi"}}})), true,
         "未能读取数据，因为它的格式不正确。"},
    };
    int n = 0;
    for (const auto& c : cases) {
        fake.enqueue("/api/translate", c.answer);
        auto outcome = translate("text " + std::to_string(n++));
        ASSERT_FALSE(outcome.has_value()) << c.answer.body;
        EXPECT_EQ(std::holds_alternative<DecodingError>(outcome.error()), c.isDecodingError) << c.answer.body;
        EXPECT_EQ(describe(outcome.error()), c.expected) << c.answer.body;
    }
}

TEST_F(ManagedAnswers, BatchAcceptsEmptyTextsAndChecksTheShape) {
    fake.enqueue("/api/translate",
                 ScriptedAnswer::json(200, {{"results", {{{"text", ""}}, {{"text", "b"}, {"detectedLanguage", "de"}}}}}));
    auto outcome = translateBatch({"one", "two"});
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ((*outcome)[0].text, "");
    EXPECT_EQ((*outcome)[1].detectedLanguage, "de");

    fake.enqueue("/api/translate", ScriptedAnswer::json(200, {{"result", Json::array()}}));
    EXPECT_EQ(failureText(translateBatch({"x"})), "未能读取数据，因为缺少“results”。");
    fake.enqueue("/api/translate", ScriptedAnswer::json(200, {{"results", {{{"text", 1}}}}}));
    EXPECT_EQ(failureText(translateBatch({"y"})), "未能读取数据，因为“text”的类型不正确。");
}

} // namespace
} // namespace aurelo::test
