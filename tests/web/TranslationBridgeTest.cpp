// The bridge with the page replaced by a recorder of the scripts it would be asked to evaluate:
// every answer form, and the bounds on what a hostile page may post (kinds we do not know, texts,
// ids and voice files past every sensible size, requests by the hundred), which are refused or
// logged and never reach the service.

#include "web/TranslationBridge.hpp"
#include "support/FakeManagedService.hpp"
#include "support/LogCapture.hpp"
#include "support/MainLoopWait.hpp"
#include "translation/TranslationNetwork.hpp"
#include "translation/TranslationService.hpp"
#include "web/PageScript.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace aurelo {
namespace {

using nlohmann::json;
using test::runMainLoopUntil;
using test::ScriptedAnswer;
using Bridge = TranslationBridge;

json request(const std::string& kind, const std::string& id, const std::string& text) {
    json body = {{"id", id}, {"text", text}, {"target", "en"}};
    if (kind != "message")
        body["kind"] = kind;
    return body;
}

json voice(const std::string& id, const std::string& data = "T2dnUw==") {
    return {{"kind", "voice"}, {"id", id}, {"data", data}, {"mime", "audio/ogg"}};
}

json with(json body, const std::string& key, const json& value) {
    body[key] = value;
    return body;
}

std::string call(const std::string& function, const json& arguments) {
    return *pageCallScript(function, arguments);
}

class TranslationBridgeTest : public ::testing::Test {
protected:
    TranslationBridgeTest() {
        fake.setResponder([](const auto& request) { return test::echoTranslation(request); });
        bridge.setConfiguration(
            TranslationConfiguration{TranslationProvider::Google, "tok", "", ""});
    }

    void post(const json& body) { bridge.receive(bridgeMessageFromJson(body)); }

    // What the bridge evaluates at once, before any answer of the service.
    std::vector<std::string> scriptsFor(const json& body) {
        scripts.clear();
        post(body);
        return scripts;
    }

    // The first script the bridge evaluates from now on.
    std::string answerTo(const json& body) {
        scripts.clear();
        post(body);
        return runMainLoopUntil([&] { return !scripts.empty(); }) ? scripts[0] : "<none>";
    }

    test::FakeManagedService fake;
    HttpSession session{TranslationNetwork::sessionConfiguration()};
    HttpSession voiceSession{HttpSessionConfiguration{}};
    TranslationRequestCache cache;
    TranslationService service{fake.origin(), session, cache};
    std::vector<std::string> scripts;
    TranslationBridge bridge{service, voiceSession, fake.origin(),
                             [this](const std::string& script) { scripts.push_back(script); }};
    test::LogCapture logs;
};

TEST_F(TranslationBridgeTest, DirectKindsAnswerThroughTheirOwnFunctions) {
    // Counted in characters, not bytes: 10000 Chinese characters are 30000 bytes and pass.
    std::string longest;
    for (std::size_t i = 0; i < Bridge::kMaximumTextCharacters; ++i)
        longest += "字";
    for (const auto& [kind, function] : {std::pair{"composer", "aureloSetComposerTranslation"},
                                         {"context", "aureloShowContextTranslation"}})
        EXPECT_EQ(answerTo(request(kind, "d", longest)),
                  call(function, {"d", "译:" + longest, false}));
    // A single space is text, not an empty request.
    EXPECT_TRUE(answerTo(request("composer", "s1", " "))
                    .starts_with(R"(window.aureloSetComposerTranslation?.(...["s1",)"));
}

TEST_F(TranslationBridgeTest, RefusalsAnswerThroughTheKindsFunctionUnsent) {
    // An unknown kind is refused instead of translated as a message.
    for (const char* kind : {"mystery", "Message", "", "aureloSetTranslation"})
        EXPECT_EQ(scriptsFor(request(kind, "u", "x")),
                  std::vector{call("aureloSetTranslation", {"u", Bridge::kUnknownKind, true})});
    const std::string tooLong = std::string(Bridge::kMaximumTextCharacters, 'x') + "x";
    for (const auto& [kind, function] : {std::pair{"message", "aureloSetTranslation"},
                                         {"page", "aureloSetPageTranslation"},
                                         {"context", "aureloShowContextTranslation"}})
        EXPECT_EQ(scriptsFor(request(kind, "t", tooLong)),
                  std::vector{call(function, {"t", Bridge::kTextTooLong, true})});
    EXPECT_EQ(
        scriptsFor(request("composerWarm", "w", tooLong)),
        std::vector{call("aureloSetComposerWarm", {"w", tooLong, Bridge::kTextTooLong, true})});
    EXPECT_EQ(
        scriptsFor(voice("big", std::string(Bridge::kMaximumVoiceDataBytes + 1, 'A'))),
        std::vector{call("aureloSetVoiceTranslation", {"big", "", Bridge::kVoiceTooLarge, true})});
    // Without a token the answer names the setup to complete.
    bridge.setConfiguration(TranslationConfiguration{TranslationProvider::Claude, " \n", "", ""});
    EXPECT_EQ(answerTo(request("composer", "c", "你好")),
              call("aureloSetComposerTranslation", {"c", "请先在“设置”中配置 Claude", true}));
    EXPECT_TRUE(fake.requests().empty());
    EXPECT_EQ(bridge.backgroundQueue().waitingCount(), 0u);
}

TEST_F(TranslationBridgeTest, InFlightBoundsRefuseTheOverflowUntilAnswersFreeTheirPlaces) {
    fake.setResponder([](const auto&) { return ScriptedAnswer::silence(); });
    for (int i = 0; i < Bridge::kMaximumDirectInFlight; ++i)
        post(request("context", "c" + std::to_string(i), "text " + std::to_string(i)));
    for (int i = 0; i < Bridge::kMaximumVoiceInFlight; ++i)
        post(voice("v" + std::to_string(i)));
    const auto held = std::size_t(Bridge::kMaximumDirectInFlight + Bridge::kMaximumVoiceInFlight);
    ASSERT_TRUE(runMainLoopUntil([&] { return fake.heldCount() == held; }));
    EXPECT_TRUE(scripts.empty());

    post(request("composer", "over", "one too many"));
    post(voice("v9"));
    // The background queue has its own bounds; a full direct path does not touch it.
    post(request("message", "m", "queued"));
    EXPECT_EQ(scripts, (std::vector{call("aureloSetComposerTranslation",
                                         {"over", Bridge::kTooManyRequests, true}),
                                    call("aureloSetVoiceTranslation",
                                         {"v9", "", Bridge::kTooManyVoiceRequests, true})}));
    EXPECT_EQ(fake.requests().size(), held);

    // The queued message goes out after its batching delay, held or not: its answer must be in
    // before the next request, or it would be the first script that request sees.
    fake.setResponder([](const auto& request) { return test::echoTranslation(request); });
    fake.answerHeld([](const auto& request) { return test::echoTranslation(request); });
    const std::string queued = call("aureloSetTranslation", {"m", "译:queued", false});
    ASSERT_TRUE(runMainLoopUntil(
        [&] { return bridge.directInFlight() == 0 && std::ranges::count(scripts, queued) == 1; }));
    EXPECT_EQ(answerTo(request("composer", "again", "after")),
              call("aureloSetComposerTranslation", {"again", "译:after", false}));
}

TEST_F(TranslationBridgeTest, MalformedAndOversizedMessagesAreLoggedAndNeverAnswered) {
    const std::string longId(Bridge::kMaximumIdBytes + 1, 'i');
    const std::string longCode(Bridge::kMaximumTargetBytes + 1, 'e');
    const json logged[] = {
        {{"id", "e"}, {"text", ""}, {"target", "en"}},
        request("composer", longId, "x"),
        {{"id", "t"}, {"text", "x"}, {"target", longCode}},
        voice(longId),
        with(voice("v"), "mime", std::string(Bridge::kMaximumMimeBytes + 1, 'm')),
        with(voice("v"), "source", longCode),
        with(voice("v"), "target", longCode),
    };
    for (const auto& body : logged)
        post(body);
    post(json::array({1}));
    post("just a string");
    test::runMainLoopFor(std::chrono::milliseconds(100));
    EXPECT_TRUE(scripts.empty());
    EXPECT_TRUE(fake.requests().empty());
    const auto entries = logs.entries();
    ASSERT_EQ(entries.size(), std::size(logged));
    for (const auto& entry : entries) {
        EXPECT_EQ(entry.message, "Ignored malformed bridge message");
        EXPECT_EQ(entry.category, "WhatsApp");
        EXPECT_EQ(entry.priority, "3");
    }
}

TEST_F(TranslationBridgeTest, VoiceRequestAndEveryAnswerForm) {
    const std::string failure = "语音翻译失败";
    const std::pair<ScriptedAnswer, json> cases[] = {
        {ScriptedAnswer::json(200, {{"transcript", "hola"}, {"translation", "你好"}}),
         {"v", "hola", "你好", false}},
        {ScriptedAnswer::json(500, {{"error", "busy"}}), {"v", "", "busy", true}},
        {ScriptedAnswer::json(200, {{"translation", "x"}}), {"v", "", failure, true}},
        {ScriptedAnswer::json(200, json::array({1})), {"v", "", failure, true}},
        {ScriptedAnswer::json(403, {{"error", 5}}), {"v", "", failure, true}},
        {ScriptedAnswer::json(500, {{"error", ""}}), {"v", "", failure, true}},
        {ScriptedAnswer::json(500, {{"error", " \n\u3000"}}), {"v", "", failure, true}},
        {ScriptedAnswer::text(200, "<html>", "text/html"),
         {"v", "", DecodingError::dataCorrupted().description, true}},
    };
    for (const auto& [answer, arguments] : cases) {
        fake.enqueue("/api/transcribe", answer);
        EXPECT_EQ(answerTo(voice("v")), call("aureloSetVoiceTranslation", arguments));
    }
    const auto& request = fake.requests().back();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/api/transcribe");
    EXPECT_EQ(request.header("authorization"), "Bearer tok");
    EXPECT_EQ(request.header("content-type"), "application/json");
    EXPECT_EQ(request.json, (json{{"audio", "T2dnUw=="},
                                  {"mime", "audio/ogg"},
                                  {"target", "zh-CN"},
                                  {"source", "auto"}}));
}

TEST_F(TranslationBridgeTest, OnlyCustomersMessagesOfAConversationTeachItsLanguage) {
    std::vector<std::vector<std::string>> heard;
    bridge.setOnIncomingLanguage(
        [&](const std::string& conversation, const std::string& text, const std::string& code) {
            heard.push_back({conversation, text, code});
        });
    std::vector<std::optional<std::string>> reported;
    bridge.setOnConversationReported(
        [&](std::optional<std::string> conversation) { reported.push_back(conversation); });
    post({{"kind", "conversation"}, {"id", "path:77"}});
    post({{"kind", "conversation"}, {"id", nullptr}});
    post(with(request("message", "own", "my own words"), "target", "zh-CN"));
    post(with(request("page", "p", "page text"), "conversation", "path:77"));
    post(with(request("message", "c", "their words"), "conversation", "path:77"));
    ASSERT_TRUE(runMainLoopUntil([&] { return scripts.size() == 3; }));
    EXPECT_EQ(heard, (std::vector<std::vector<std::string>>{{"path:77", "their words", "en"}}));
    EXPECT_EQ(reported, (std::vector<std::optional<std::string>>{"path:77", std::nullopt}));
}

} // namespace
} // namespace aurelo
