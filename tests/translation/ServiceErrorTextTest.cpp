// A failed answer whose "error" text is blank must still tell the user something: the fixed
// message with the status stands in, as for an answer without any error text.

#include "translation/ManagedTranslationClient.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

std::string failureOf(const ServiceOutcome<TranslationResult>& outcome) {
    return outcome ? std::string("(success)") : describe(outcome.error());
}

std::string failureOf(const ServiceOutcome<std::vector<TranslationResult>>& outcome) {
    return outcome ? std::string("(success)") : describe(outcome.error());
}

TEST(ServiceErrorText, BlankErrorTextsGiveTheMessageWithTheStatus) {
    const struct {
        HttpResponse response;
        const char* single;
        const char* batch;
    } cases[] = {
        {{500, R"({"error":""})"}, "后台翻译服务请求失败（500）", "后台批量翻译请求失败（500）"},
        {{503, "{\"error\":\" \\n\\t\\u3000\"}"},
         "后台翻译服务请求失败（503）",
         "后台批量翻译请求失败（503）"},
        {{429, R"({"error":" 请稍后再试 "})"}, " 请稍后再试 ", " 请稍后再试 "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(failureOf(ManagedTranslationClient::readSingleAnswer(c.response)), c.single)
            << c.response.body;
        EXPECT_EQ(failureOf(ManagedTranslationClient::readBatchAnswer(c.response)), c.batch)
            << c.response.body;
    }
}

} // namespace
} // namespace aurelo
