#include "translation/TranslationError.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

TEST(TranslationError, DescriptionsAreTheFixedTexts) {
    struct Case {
        TranslationError error;
        const char* expected;
    } cases[] = {
        {TranslationError::invalidResponse(), "翻译服务返回了无法识别的数据，请稍后重试。"},
        {TranslationError::invalidResponse(""), "翻译服务返回了无法识别的数据，请稍后重试。"},
        {TranslationError::invalidResponse("批量翻译结果数量不匹配"),
         "翻译服务返回了无法识别的数据（批量翻译结果数量不匹配）。"},
        {TranslationError::server("登录已失效，请重新登录。"), "登录已失效，请重新登录。"},
        {TranslationError::server(""), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.error.description(), c.expected);
}

TEST(TranslationError, OtherFailuresKeepTheirOwnDescription) {
    EXPECT_EQ(describe(TransportError::make(TransportError::Kind::TimedOut)), "请求超时。");
    EXPECT_EQ(describe(DecodingError::keyNotFound("text")), "未能读取数据，因为缺少“text”。");
    EXPECT_EQ(describe(ServiceFailure(TranslationError::server("额度已用完"))), "额度已用完");
}

} // namespace
} // namespace aurelo
