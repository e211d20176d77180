// The translation request, the result cache, the offline engine and the desktop client.

#include "ServiceHarness.hpp"

#include "service/ApertiumEngine.hpp"
#include "support/MainLoopWait.hpp"
#include "translation/TranslationNetwork.hpp"
#include "translation/TranslationService.hpp"

#include <gtest/gtest.h>

namespace aurelo::service::test {
namespace {

using nlohmann::json;

// The harness's Google fake ("译:<text>"), counting the texts it was sent.
struct EchoGoogle {
    FakeUpstream fake{[this](const UpstreamRequest& r) {
        textsSent +=
            static_cast<int>(r.json.value_or(json::object()).value("q", json::array()).size());
        return googleTranslations(r, {});
    }};
    int textsSent = 0;
};

TEST(ServiceTranslate, RefusesMalformedRequestsWithAChineseError) {
    ServiceHarness harness;
    std::string token = harness.userWithToken("alice");
    harness.enableEngine("alice", "google");
    std::string longText(10001, 'a');
    std::vector<std::string> tooMany(101, "x");
    struct Case {
        std::string body;
        unsigned status;
        const char* error;
    } cases[] = {
        {"{\"text\": ", 400, "请求正文不是有效的 JSON 对象。"},
        {R"(["hi"])", 400, "请求正文不是有效的 JSON 对象。"},
        {"{\"text\":\"\xff\xfe\",\"target\":\"en\",\"provider\":\"google\"}", 400,
         "请求正文不是有效的 JSON 对象。"},
        {R"({"text":"hi","target":"en"})", 400, "请求缺少翻译引擎（provider）。"},
        {R"({"text":"hi","target":"en","provider":"babel"})", 400, "不支持的翻译引擎：babel"},
        {R"({"text":"hi","provider":"google"})", 400, "目标语言无效。"},
        {R"({"text":"hi","target":"auto","provider":"google"})", 400, "目标语言无效。"},
        {R"({"text":"hi","target":"en/../x","provider":"google"})", 400, "目标语言无效。"},
        {R"({"target":"en","provider":"google"})", 400, "请求须包含 text 或 texts 之一。"},
        {R"({"text":"a","texts":["b"],"target":"en","provider":"google"})", 400,
         "请求须包含 text 或 texts 之一。"},
        {R"({"text":5,"target":"en","provider":"google"})", 400, "text 必须是字符串。"},
        {R"({"texts":["a",5],"target":"en","provider":"google"})", 400, "texts 必须是字符串数组。"},
        {R"({"text":"  \n ","target":"en","provider":"google"})", 400, "待翻译的文本为空。"},
        {translationBody(longText, "en", "google").dump(), 413, "单条文本过长（最多 10000 字）。"},
        {translationBody(tooMany, "en", "google").dump(), 413, "单次批量翻译最多 100 条文本。"},
        {R"({"text":"hi","target":"en","provider":"deepl"})", 403,
         "当前账号未启用 DeepL，请联系管理员。"},
        {R"({"text":"hi","target":"en","provider":"google"})", 503,
         "服务端尚未配置 Google Translate 的 API 密钥，请联系管理员。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body.substr(0, 80));
        Reply reply = harness.callRaw("POST", "/api/translate", c.body,
                                      {{"Authorization", "Bearer " + token}});
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.error(), c.error);
    }
}

TEST(ServiceTranslate, AnswersBatchesInOrderSendsEachDistinctTextOnceAndLogsNoText) {
    ServiceHarness harness;
    EchoGoogle google;
    std::string token = harness.userWithEngine("alice", "google", google.fake);
    Reply reply = harness.translate(token, {" hello ", "", "world", "hello", "\n"}, "de");
    ASSERT_EQ(reply.status, 200u) << reply.body;
    EXPECT_EQ(
        reply.json,
        json::parse(
            R"({"results":[{"text":"译:hello","detectedLanguage":"en"},{"text":""},{"text":"译:world","detectedLanguage":"en"},{"text":"译:hello","detectedLanguage":"en"},{"text":""}]})"));
    EXPECT_EQ(google.textsSent, 2);
    Reply empty = harness.translate(token, json::array(), "de");
    EXPECT_EQ(empty.json, json::parse(R"({"results":[]})"));

    // The log names requests but never texts or tokens.
    harness.translate(token, "my secret message", "de");
    ASSERT_FALSE(harness.logLines().empty());
    for (const auto& line : harness.logLines()) {
        EXPECT_EQ(line.find("secret message"), std::string::npos) << line;
        EXPECT_EQ(line.find(token), std::string::npos) << line;
        EXPECT_EQ(line.find("pw-alice"), std::string::npos) << line;
        EXPECT_TRUE(json::parse(line, nullptr, false).is_object()) << line;
    }
    auto last = json::parse(harness.logLines().back());
    EXPECT_EQ(last["path"], "/api/translate");
    EXPECT_EQ(last["status"], 200);
    EXPECT_EQ(last["user"], "alice");
    EXPECT_EQ(last["provider"], "google");
}

TEST(ServiceTranslate, CachesResultsPerAccountTextTargetAndEngine) {
    ServiceHarness harness;
    EchoGoogle google;
    std::string alice = harness.userWithEngine("alice", "google", google.fake);
    std::string bob = harness.userWithToken("bob");
    std::string carol = harness.userWithToken("carol");
    harness.enableEngine("bob", "google", "apertium"); // the same provider value, another engine
    harness.enableEngine("carol", "google");
    auto morning = [&](const std::string& token, const std::string& target) {
        return harness.translate(token, {"Good morning"}, target);
    };

    ASSERT_EQ(morning(alice, "es").status, 200u);
    EXPECT_EQ(morning(alice, "es").json["results"][0]["text"], "译:Good morning");
    EXPECT_EQ(google.textsSent, 1) << "answered from the cache";
    morning(alice, "fr");
    EXPECT_EQ(google.textsSent, 2) << "another target is another entry";
    // Another account never gets alice's results, so that one account cannot plant a result
    // (say, by steering a language model) that another is served.
    EXPECT_EQ(morning(carol, "es").json["results"][0]["text"], "译:Good morning");
    EXPECT_EQ(google.textsSent, 3);
    EXPECT_NE(harness.logLines().back().find("\"cacheHits\":0"), std::string::npos);
    Reply other = morning(bob, "es");
    ASSERT_EQ(other.status, 200u) << other.body;
    EXPECT_NE(other.json["results"][0]["text"], "译:Good morning")
        << "bob's google is the offline engine, never alice's cache";
    EXPECT_EQ(google.textsSent, 3);
}

TEST(ServiceTranslate, AnEmptyTranslationOfASingleTextIsAnErrorAndIsNotCached) {
    ServiceHarness harness;
    FakeUpstream google([](const UpstreamRequest&) {
        return UpstreamAnswer::json(200,
                                    {{"data", {{"translations", {{{"translatedText", ""}}}}}}});
    });
    std::string token = harness.userWithEngine("alice", "google", google);
    for (int attempt = 0; attempt < 2; ++attempt) {
        Reply reply = harness.translate(token, "hi", "de");
        EXPECT_EQ(reply.status, 502u);
        EXPECT_EQ(reply.error(), "翻译引擎返回了空译文，请稍后重试。");
    }
    EXPECT_EQ(google.requests().size(), 2u);
}

TEST(Apertium, TranslatesARealPairAndRefusesPairsItLacks) {
    ServiceHarness harness;
    std::string token = harness.userWithToken("demo");
    harness.enableEngine("demo", "google", "apertium");
    Reply reply = harness.translate(
        token, {"The cat is black.", "Good morning", "Price: $5 [sale] {new} <b> x\\y"}, "es");
    ASSERT_EQ(reply.status, 200u) << reply.body;
    EXPECT_EQ(reply.json["results"][0]["text"], "El gato es negro.");
    EXPECT_EQ(reply.json["results"][1]["text"], "Buenos días");
    std::string third = reply.json["results"][2]["text"];
    for (const char* kept : {"$5", "[", "{", "<b>", "x\\y"})
        EXPECT_NE(third.find(kept), std::string::npos) << kept << " in " << third;

    Reply back = harness.translate(token, "Buenos días", "en");
    EXPECT_EQ(back.json["text"], "Good morning");

    Reply chinese = harness.translate(token, "Hello", "zh-CN");
    EXPECT_EQ(chinese.status, 422u);
    EXPECT_EQ(chinese.error(),
              "离线演示引擎 (Apertium) "
              "不支持翻译成简体中文。本机只安装了：英语→西班牙语、西班牙语→英语。");
}

TEST(Apertium, AMissingProgramIsAClearError) {
    ServiceHarness harness(
        [](ServiceConfiguration& c) { c.apertium.program = "/nonexistent/apertium"; });
    std::string token = harness.userWithToken("demo");
    harness.enableEngine("demo", "deepl", "apertium");
    Reply reply = harness.translate(token, "Hello", "es", "deepl");
    EXPECT_EQ(reply.status, 503u);
    EXPECT_TRUE(reply.error().starts_with("离线演示引擎 (Apertium) 无法启动")) << reply.error();
}

TEST(Apertium, StreamEncodingRoundTrips) {
    for (std::string text : {"plain", "a [b] ^c$ /d@ <e> {f} \\g", "two\nlines", "中文 ✓"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(decodeApertiumStream(encodeApertiumStream(text)), text);
    }
    EXPECT_EQ(encodeApertiumStream(std::string("a\0b", 3)), "a b") << "NUL separates segments";
    EXPECT_EQ(decodeApertiumStream("Hola[[t:b:x]]mundo"), "Holamundo");
}

// The application's translation service, unchanged, against this server.
TEST(DesktopClient, TranslatesThroughTheServiceAndSeesItsErrors) {
    ServiceHarness harness;
    EchoGoogle google;
    std::string token = harness.userWithEngine("alice", "google", google.fake);
    HttpSession session(TranslationNetwork::sessionConfiguration());
    TranslationRequestCache cache;
    TranslationService client(harness.server().origin(), session, cache);
    auto wait = [](auto& outcome) {
        EXPECT_TRUE(aurelo::test::runMainLoopUntil([&] { return outcome.has_value(); }));
        return outcome.value_or(std::unexpected(TranslationError::server("no answer")));
    };

    std::optional<ServiceOutcome<std::vector<TranslationResult>>> batch;
    client.translateBatch({"one", " two "}, "de", {TranslationProvider::Google, token, "", ""},
                          [&](auto outcome) { batch = std::move(outcome); });
    auto translated = wait(batch);
    ASSERT_TRUE(translated) << describe(translated.error());
    EXPECT_EQ((*translated)[1].text, "译:two");

    std::optional<ServiceOutcome<TranslationResult>> refused;
    client.translate("hi", "de", {TranslationProvider::DeepL, token, "", ""},
                     [&](auto outcome) { refused = std::move(outcome); });
    auto result = wait(refused);
    EXPECT_EQ(result ? std::string("<success>") : describe(result.error()),
              "当前账号未启用 DeepL，请联系管理员。");
}

} // namespace
} // namespace aurelo::service::test
