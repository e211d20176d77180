// Dispatch, the direct and voice paths and every answer form of the bridge, with the page
// replaced by a recorder of the scripts it would be asked to evaluate.

#include "web/TranslationBridge.hpp"
#include "support/FakeManagedService.hpp"
#include "support/LogCapture.hpp"
#include "support/MainLoopWait.hpp"
#include "translation/TranslationNetwork.hpp"
#include "translation/TranslationService.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace aurelo {
namespace {

using test::FakeManagedService;
using test::runMainLoopFor;
using test::runMainLoopUntil;
using test::ScriptedAnswer;

class TranslationBridgeTest : public ::testing::Test {
protected:
    TranslationBridgeTest() {
        fake.setResponder([](const auto& request) { return test::echoTranslation(request); });
        bridge->setConfiguration(
            TranslationConfiguration{TranslationProvider::Google, "tok", "", ""});
    }

    void post(const char* body) { bridge->receive(bridgeMessageFromJsonText(body)); }

    bool waitForScripts(std::size_t count) {
        return runMainLoopUntil([&] { return scripts.size() >= count; });
    }

    FakeManagedService fake;
    HttpSession session{TranslationNetwork::sessionConfiguration()};
    HttpSession voiceSession{HttpSessionConfiguration{}};
    TranslationRequestCache cache;
    TranslationService service{fake.origin(), session, cache};
    std::vector<std::string> scripts;
    std::unique_ptr<TranslationBridge> bridge = std::make_unique<TranslationBridge>(
        service, voiceSession, fake.origin(),
        [this](const std::string& script) { scripts.push_back(script); });
    test::LogCapture logs;
};

TEST_F(TranslationBridgeTest, DirectKindsAnswerThroughTheirOwnFunctions) {
    struct Case {
        const char* body;
        const char* script;
    };
    const Case cases[] = {
        {R"({"kind":"composer","id":"c1","text":"a","target":"en"})",
         R"(window.aureloSetComposerTranslation?.(...["c1","译:a",false]))"},
        {R"({"kind":"composerWarm","id":"w1","text":"b","target":"en"})",
         R"(window.aureloSetComposerWarm?.(...["w1","b","译:b",false]))"},
        {R"({"kind":"context","id":"x1","text":"c","target":"en"})",
         R"(window.aureloShowContextTranslation?.(...["x1","译:c",false]))"},
        {R"({"kind":"composer","id":"s1","text":" ","target":"en"})", nullptr},
    };
    for (const auto& c : cases) {
        scripts.clear();
        post(c.body);
        ASSERT_TRUE(waitForScripts(1)) << c.body;
        if (c.script)
            EXPECT_EQ(scripts[0], c.script);
        else
            EXPECT_TRUE(
                scripts[0].starts_with(R"(window.aureloSetComposerTranslation?.(...["s1",)"))
                << scripts[0];
    }
}

TEST_F(TranslationBridgeTest, FailedDirectTranslationNamesTheMissingSetupOrTheError) {
    fake.setResponder([](const auto&) { return ScriptedAnswer::json(500, {{"error", "忙"}}); });
    bridge->setConfiguration(TranslationConfiguration{TranslationProvider::Claude, " \n", "", ""});
    post(R"({"kind":"composer","id":"c","text":"你好","target":"en"})");
    ASSERT_TRUE(waitForScripts(1));
    EXPECT_EQ(
        scripts[0],
        R"(window.aureloSetComposerTranslation?.(...["c","请先在“设置”中配置 Claude",true]))");

    scripts.clear();
    bridge->setConfiguration(TranslationConfiguration{TranslationProvider::Gemini, "tok", "", ""});
    post(R"({"kind":"composerWarm","id":"w","text":"源","target":"en"})");
    ASSERT_TRUE(waitForScripts(1));
    EXPECT_TRUE(
        scripts[0].starts_with(R"(window.aureloSetComposerWarm?.(...["w","源","翻译失败：)"))
        << scripts[0];
    EXPECT_TRUE(scripts[0].ends_with(R"(",true]))"));
}

TEST_F(TranslationBridgeTest, MalformedMessagesAreLoggedAndNeverAnswered) {
    for (const char* body :
         {R"({"id":"e","text":"","target":"en"})", R"({"kind":"unread","count":"3"})",
          R"({"kind":"voice","id":"v","data":"QQ=="})"})
        post(body);
    post("[1]");
    post(R"("just a string")");
    runMainLoopFor(std::chrono::milliseconds(100));
    EXPECT_TRUE(scripts.empty());
    EXPECT_TRUE(fake.requests().empty());
    const auto entries = logs.entries();
    ASSERT_EQ(entries.size(), 3u);
    for (const auto& entry : entries) {
        EXPECT_EQ(entry.message, "Ignored malformed bridge message");
        EXPECT_EQ(entry.category, "WhatsApp");
        EXPECT_EQ(entry.priority, "3");
    }
}

TEST_F(TranslationBridgeTest, VoiceRequestAndEveryAnswerForm) {
    struct Case {
        const char* name;
        ScriptedAnswer answer;
        std::string script;
    };
    const Case cases[] = {
        {"success", ScriptedAnswer::json(200, {{"transcript", "hola"}, {"translation", "你好"}}),
         R"(window.aureloSetVoiceTranslation?.(...["v","hola","你好",false]))"},
        {"server error", ScriptedAnswer::json(500, {{"error", "busy"}}),
         R"(window.aureloSetVoiceTranslation?.(...["v","","busy",true]))"},
        {"no transcript", ScriptedAnswer::json(200, {{"translation", "x"}}),
         R"(window.aureloSetVoiceTranslation?.(...["v","","语音翻译失败",true]))"},
        {"array body", ScriptedAnswer::json(200, nlohmann::json::array({1})),
         R"(window.aureloSetVoiceTranslation?.(...["v","","语音翻译失败",true]))"},
        {"numeric error", ScriptedAnswer::json(403, {{"error", 5}}),
         R"(window.aureloSetVoiceTranslation?.(...["v","","语音翻译失败",true]))"},
        {"not JSON", ScriptedAnswer::text(200, "<html>", "text/html"),
         "window.aureloSetVoiceTranslation?.(...[\"v\",\"\",\"" +
             DecodingError::dataCorrupted().description + "\",true])"},
    };
    for (const auto& c : cases) {
        scripts.clear();
        fake.clearRequests();
        fake.enqueue("/api/transcribe", c.answer);
        post(R"({"kind":"voice","id":"v","data":"T2dnUw==","mime":"audio/ogg"})");
        ASSERT_TRUE(waitForScripts(1)) << c.name;
        EXPECT_EQ(scripts[0], c.script) << c.name;
    }
    const auto& request = fake.requests().back();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/api/transcribe");
    EXPECT_EQ(request.header("authorization"), "Bearer tok");
    EXPECT_EQ(request.header("content-type"), "application/json");
    EXPECT_EQ(request.json, (nlohmann::json{{"audio", "T2dnUw=="},
                                            {"mime", "audio/ogg"},
                                            {"target", "zh-CN"},
                                            {"source", "auto"}}));
}

TEST_F(TranslationBridgeTest, VoiceErrorWithBlankTextGivesTheVoiceFailure) {
    for (const char* blank : {"", " \n\u3000"}) {
        scripts.clear();
        fake.enqueue("/api/transcribe", ScriptedAnswer::json(500, {{"error", blank}}));
        post(R"({"kind":"voice","id":"v","data":"T2dnUw==","mime":"audio/ogg"})");
        ASSERT_TRUE(waitForScripts(1)) << blank;
        EXPECT_EQ(scripts[0],
                  R"(window.aureloSetVoiceTranslation?.(...["v","","语音翻译失败",true]))")
            << blank;
    }
}

} // namespace
} // namespace aurelo
