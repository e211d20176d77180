// How every answer of the managed service becomes a result or an error.

#include "translation/ManagedTranslationClient.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

// Results as "text|detected" joined by ","; an error as the user reads it, after its kind.
template <typename T> std::string shown(const ServiceOutcome<T>& outcome) {
    if (!outcome)
        return (std::holds_alternative<DecodingError>(outcome.error()) ? "decoding: " : "") +
               describe(outcome.error());
    std::string text;
    for (const TranslationResult& r : std::vector<TranslationResult>{*outcome})
        text += (text.empty() ? "" : ",") + r.text + "|" + r.detectedLanguage.value_or("-");
    return text;
}

struct AnswerCase {
    unsigned status;
    const char* body;
    const char* shown;
};

TEST(ManagedAnswers, SingleAnswersAreDecodedStrictlyAndFailuresGiveTheFixedMessages) {
    const AnswerCase cases[] = {
        {200, R"({"text":"你好"})", "你好|-"},
        {200, R"({"text":" 你好\n","detectedLanguage":"en","x":1})", " 你好\n|en"},
        {200, R"({"text":"hi","detectedLanguage":null})", "hi|-"},
        {401, R"({"error":"token expired"})", "登录已失效，请重新登录。"},
        {401, "{}", "登录已失效，请重新登录。"},
        {500, R"({"error":"翻译引擎暂时不可用"})", "翻译引擎暂时不可用"},
        {429, R"({"error":" 请稍后再试 "})", " 请稍后再试 "},
        {429, R"({"error":42})", "后台翻译服务请求失败（429）"},
        {500, R"(["error"])", "后台翻译服务请求失败（500）"},
        // A blank error text must still tell the user something.
        {500, R"({"error":""})", "后台翻译服务请求失败（500）"},
        {503, "{\"error\":\" \\n\\t\\u3000\"}", "后台翻译服务请求失败（503）"},
        {502, "<html><body>Bad Gateway</body></html>", "后台翻译服务请求失败（502）"},
        {200, R"({"text":"","detectedLanguage":"en"})",
         "翻译服务返回了无法识别的数据，请稍后重试。"},
        {200, R"({"text":12})", "decoding: 未能读取数据，因为“text”的类型不正确。"},
        {200, R"({"detectedLanguage":"en"})", "decoding: 未能读取数据，因为缺少“text”。"},
        {200, R"({"text":"hi","detectedLanguage":3})",
         "decoding: 未能读取数据，因为“detectedLanguage”的类型不正确。"},
        {200, "<html>ok</html>", "decoding: 未能读取数据，因为它的格式不正确。"},
        {200, "", "decoding: 未能读取数据，因为它的格式不正确。"},
        {200, R"([{"text":"hi"}])", "decoding: 未能读取数据，因为它的格式不正确。"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shown(ManagedTranslationClient::readSingleAnswer({c.status, c.body})), c.shown)
            << c.status << " " << c.body;
}

TEST(ManagedAnswers, BatchAnswersAcceptEmptyTextsAndCheckTheShape) {
    const AnswerCase cases[] = {
        {200, R"({"results":[{"text":""},{"text":"b","detectedLanguage":"de"}]})", "|-,b|de"},
        {401, R"({"error":"x"})", "登录已失效，请重新登录。"},
        {500, R"({"error":""})", "后台批量翻译请求失败（500）"},
        {502, "<html>Bad Gateway</html>", "后台批量翻译请求失败（502）"},
        {200, R"({"result":[]})", "decoding: 未能读取数据，因为缺少“results”。"},
        {200, R"({"results":[{"text":1}]})", "decoding: 未能读取数据，因为“text”的类型不正确。"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shown(ManagedTranslationClient::readBatchAnswer({c.status, c.body})), c.shown)
            << c.status << " " << c.body;
}

} // namespace
} // namespace aurelo
