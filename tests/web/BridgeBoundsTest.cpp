// A page that posts what our page script never would: kinds we do not know, texts and voice
// files past every sensible size, ids of any length, and direct requests by the hundred. Each
// is answered with a refusal (or, with no usable id, logged) and never reaches the service.

#include "support/FakeManagedService.hpp"
#include "support/LogCapture.hpp"
#include "support/MainLoopWait.hpp"
#include "translation/TranslationNetwork.hpp"
#include "translation/TranslationService.hpp"
#include "web/PageScript.hpp"
#include "web/TranslationBridge.hpp"

#include <gtest/gtest.h>

#include <memory>

namespace aurelo {
namespace {

using test::runMainLoopFor;
using test::runMainLoopUntil;
using test::ScriptedAnswer;

class BridgeBoundsTest : public ::testing::Test {
protected:
    BridgeBoundsTest() {
        fake.setResponder([](const auto& request) { return test::echoTranslation(request); });
        bridge->setConfiguration(
            TranslationConfiguration{TranslationProvider::Google, "tok", "", ""});
    }

    void post(const nlohmann::json& body) { bridge->receive(bridgeMessageFromJson(body)); }

    static nlohmann::json request(const std::string& kind, const std::string& id,
                                  const std::string& text) {
        nlohmann::json body = {{"id", id}, {"text", text}, {"target", "en"}};
        if (kind != "message")
            body["kind"] = kind;
        return body;
    }

    static std::string answer(const std::string& function, nlohmann::json arguments) {
        return *pageCallScript(function, arguments);
    }

    std::size_t serviceRequests(const std::string& path) const { return fake.requestCount(path); }

    test::FakeManagedService fake;
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

std::string repeated(const std::string& piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i)
        text += piece;
    return text;
}

TEST_F(BridgeBoundsTest, AnUnknownKindIsRefusedInsteadOfTranslatedAsAMessage) {
    for (const std::string kind : {"mystery", "Message", "", "aureloSetTranslation"}) {
        scripts.clear();
        post(request(kind, "u", "hello"));
        runMainLoopFor(std::chrono::milliseconds(50));
        ASSERT_EQ(scripts.size(), 1u) << kind;
        EXPECT_EQ(scripts[0],
                  answer("aureloSetTranslation", {"u", TranslationBridge::kUnknownKind, true}))
            << kind;
    }
    EXPECT_EQ(serviceRequests("/api/translate"), 0u);
    EXPECT_EQ(bridge->backgroundQueue().waitingCount(), 0u);
}

TEST_F(BridgeBoundsTest, TextsPastTheServiceLimitAreAnsweredThroughTheirKindUnsent) {
    // Counted in characters, not bytes: 10000 Chinese characters are 30000 bytes and pass.
    const std::string longest = repeated("字", TranslationBridge::kMaximumTextCharacters);
    const struct {
        const char* kind;
        const char* function;
    } kinds[] = {
        {"message", "aureloSetTranslation"},
        {"page", "aureloSetPageTranslation"},
        {"composer", "aureloSetComposerTranslation"},
        {"context", "aureloShowContextTranslation"},
    };
    for (const auto& k : kinds) {
        scripts.clear();
        post(request(k.kind, "t", longest + "x"));
        ASSERT_EQ(scripts.size(), 1u) << k.kind;
        EXPECT_EQ(scripts[0], answer(k.function, {"t", TranslationBridge::kTextTooLong, true}))
            << k.kind;
    }
    scripts.clear();
    post(request("composerWarm", "w", longest + "x"));
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_EQ(scripts[0], answer("aureloSetComposerWarm",
                                 {"w", longest + "x", TranslationBridge::kTextTooLong, true}));
    EXPECT_EQ(serviceRequests("/api/translate"), 0u);
    EXPECT_EQ(bridge->backgroundQueue().waitingCount(), 0u);

    scripts.clear();
    post(request("composer", "ok", longest));
    ASSERT_TRUE(runMainLoopUntil([&] { return !scripts.empty(); }));
    EXPECT_EQ(scripts[0], answer("aureloSetComposerTranslation", {"ok", "译:" + longest, false}));
}

TEST_F(BridgeBoundsTest, DirectRequestsInFlightAreBoundedAndQueuedOnesAreNot) {
    fake.setResponder([](const auto&) { return ScriptedAnswer::silence(); });
    const int bound = TranslationBridge::kMaximumDirectInFlight;
    for (int i = 0; i < bound; ++i)
        post(request("context", "c" + std::to_string(i), "text " + std::to_string(i)));
    ASSERT_TRUE(runMainLoopUntil([&] { return fake.heldCount() == std::size_t(bound); }));
    EXPECT_TRUE(scripts.empty());

    post(request("composer", "over", "one too many"));
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_EQ(scripts[0], answer("aureloSetComposerTranslation",
                                 {"over", TranslationBridge::kTooManyRequests, true}));
    // The background queue has its own bounds; a full direct path does not touch it.
    post(request("message", "m", "queued"));
    EXPECT_EQ(scripts.size(), 1u);

    // Answers free their places again.
    fake.answerHeld([](const auto& request) { return test::echoTranslation(request); });
    ASSERT_TRUE(runMainLoopUntil([&] { return bridge->directInFlight() == 0; }));
    scripts.clear();
    fake.setResponder([](const auto& request) { return test::echoTranslation(request); });
    post(request("composer", "again", "after"));
    ASSERT_TRUE(runMainLoopUntil([&] { return !scripts.empty(); }));
    EXPECT_EQ(scripts[0], answer("aureloSetComposerTranslation", {"again", "译:after", false}));
}

TEST_F(BridgeBoundsTest, VoiceFilesPastTheLimitAndUploadsPastTheBoundAreRefusedUnsent) {
    const nlohmann::json tooLarge = {
        {"kind", "voice"},
        {"id", "big"},
        {"data", std::string(TranslationBridge::kMaximumVoiceDataBytes + 1, 'A')},
        {"mime", "audio/ogg"}};
    post(tooLarge);
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_EQ(scripts[0], answer("aureloSetVoiceTranslation",
                                 {"big", "", TranslationBridge::kVoiceTooLarge, true}));

    fake.route("/api/transcribe", ScriptedAnswer::silence());
    for (int i = 0; i < TranslationBridge::kMaximumVoiceInFlight; ++i)
        post({{"kind", "voice"}, {"id", "v" + std::to_string(i)}, {"data", "QQ=="}, {"mime", "a"}});
    ASSERT_TRUE(runMainLoopUntil(
        [&] { return fake.heldCount() == std::size_t(TranslationBridge::kMaximumVoiceInFlight); }));
    scripts.clear();
    post({{"kind", "voice"}, {"id", "v9"}, {"data", "QQ=="}, {"mime", "a"}});
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_EQ(scripts[0], answer("aureloSetVoiceTranslation",
                                 {"v9", "", TranslationBridge::kTooManyVoiceRequests, true}));
    EXPECT_EQ(serviceRequests("/api/transcribe"),
              std::size_t(TranslationBridge::kMaximumVoiceInFlight));
}

TEST_F(BridgeBoundsTest, OversizedIdsAndCodesAreLoggedAndNeverEchoed) {
    const std::string longId(TranslationBridge::kMaximumIdBytes + 1, 'i');
    const std::string longCode(TranslationBridge::kMaximumTargetBytes + 1, 'e');
    const nlohmann::json bodies[] = {
        request("composer", longId, "x"),
        request("message", longId, "x"),
        {{"id", "t"}, {"text", "x"}, {"target", longCode}},
        {{"kind", "voice"}, {"id", longId}, {"data", "QQ=="}, {"mime", "a"}},
        {{"kind", "voice"}, {"id", "v"}, {"data", "QQ=="}, {"mime", longCode + longCode + "x"}},
        {{"kind", "voice"}, {"id", "v"}, {"data", "QQ=="}, {"mime", "a"}, {"target", longCode}},
    };
    for (const auto& body : bodies)
        post(body);
    runMainLoopFor(std::chrono::milliseconds(50));
    EXPECT_TRUE(scripts.empty());
    EXPECT_TRUE(fake.requests().empty());
    EXPECT_EQ(logs.messages().size(), std::size(bodies));
}

} // namespace
} // namespace aurelo
