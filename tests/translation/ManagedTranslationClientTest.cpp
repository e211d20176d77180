// How every answer of the managed service becomes a result or an error, over real HTTP.

#include "TranslationTestFixture.hpp"

namespace aurelo::test {
namespace {

using Json = nlohmann::json;

class ManagedAnswers : public TranslationTestFixture {};

TEST_F(ManagedAnswers, ErrorStatusesBecomeTheFixedMessages) {
    struct Case {
        ScriptedAnswer answer;
        const char* expected;
        bool batch = false;
    } cases[] = {
        {ScriptedAnswer::json(401, {{"error", "token expired"}}), "登录已失效，请重新登录。"},
        {ScriptedAnswer::json(401, Json::object()), "登录已失效，请重新登录。"},
        {ScriptedAnswer::json(500, {{"error", "翻译引擎暂时不可用"}}), "翻译引擎暂时不可用"},
        {ScriptedAnswer::json(429, {{"error", 42}}), "后台翻译服务请求失败（429）"},
        {ScriptedAnswer::json(500, Json::array({"error"})), "后台翻译服务请求失败（500）"},
        {ScriptedAnswer::text(502, "<html><body>Bad Gateway</body></html>", "text/html"),
         "后台翻译服务请求失败（502）"},
        {ScriptedAnswer::text(502, "<html>Bad Gateway</html>", "text/html"),
         "后台批量翻译请求失败（502）", true},
        {ScriptedAnswer::json(401, {{"error", "x"}}), "登录已失效，请重新登录。", true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer.body);
        fake.enqueue("/api/translate", c.answer);
        const std::string text = "hello " + std::to_string(n++);
        if (c.batch) {
            EXPECT_EQ(failureText(translateBatch({text, "b"})), c.expected);
            continue;
        }
        auto outcome = translate(text);
        EXPECT_EQ(failureText(outcome), c.expected);
        ASSERT_FALSE(outcome.has_value());
        EXPECT_TRUE(std::holds_alternative<TranslationError>(outcome.error()));
    }
}

TEST_F(ManagedAnswers, SuccessBodiesAreDecodedStrictly) {
    const struct {
        Json body;
        const char* text;
        std::optional<std::string> detected;
    } cases[] = {
        {{{"text", "你好"}}, "你好", std::nullopt},
        {{{"text", " 你好\n"}, {"detectedLanguage", "en"}, {"x", 1}}, " 你好\n", "en"},
        {{{"text", "hi"}, {"detectedLanguage", nullptr}}, "hi", std::nullopt},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body.dump());
        fake.enqueue("/api/translate", ScriptedAnswer::json(200, c.body));
        auto outcome = translate("success " + std::to_string(n++));
        ASSERT_TRUE(outcome.has_value());
        EXPECT_EQ(outcome->text, c.text) << "results are not trimmed";
        EXPECT_EQ(outcome->detectedLanguage, c.detected);
    }
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
        {ScriptedAnswer::json(200, {{"detectedLanguage", "en"}}), true,
         "未能读取数据，因为缺少“text”。"},
        {ScriptedAnswer::json(200, {{"text", "hi"}, {"detectedLanguage", 3}}), true,
         "未能读取数据，因为“detectedLanguage”的类型不正确。"},
        {ScriptedAnswer::text(200, "<html>ok</html>", "text/html"), true,
         "未能读取数据，因为它的格式不正确。"},
        {ScriptedAnswer::text(200, "", "application/json"), true,
         "未能读取数据，因为它的格式不正确。"},
        {ScriptedAnswer::json(200, Json::array({{{"text", "hi"}}})), true,
         "未能读取数据，因为它的格式不正确。"},
    };
    int n = 0;
    for (const auto& c : cases) {
        fake.enqueue("/api/translate", c.answer);
        auto outcome = translate("text " + std::to_string(n++));
        ASSERT_FALSE(outcome.has_value()) << c.answer.body;
        EXPECT_EQ(std::holds_alternative<DecodingError>(outcome.error()), c.isDecodingError)
            << c.answer.body;
        EXPECT_EQ(describe(outcome.error()), c.expected) << c.answer.body;
    }
}

TEST_F(ManagedAnswers, BatchAcceptsEmptyTextsAndChecksTheShape) {
    fake.enqueue(
        "/api/translate",
        ScriptedAnswer::json(
            200, {{"results", {{{"text", ""}}, {{"text", "b"}, {"detectedLanguage", "de"}}}}}));
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
