// Voice uploads have no limit on the whole transfer, only on silence: a slow answer that keeps
// moving runs to its end however long it takes, and only a link that goes quiet times out.

#include "support/DrippingServer.hpp"
#include "support/MainLoopWait.hpp"
#include "translation/TranslationNetwork.hpp"
#include "web/TranslationBridge.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

using namespace std::chrono_literals;

TEST(VoiceUploadTimeoutTest, SlowLinkRunsToItsEndAndSilentLinkTimesOut) {
    HttpSession session{TranslationNetwork::sessionConfiguration()};
    TranslationRequestCache cache;
    // Never asked: voice goes to the origin the bridge is given.
    TranslationService service{"http://127.0.0.1:9", session, cache};
    // One second of silence ends a voice request here, well short of the slow drip's four.
    HttpSession voiceSession{HttpSessionConfiguration{.ioTimeout = 1s}};
    // A voice note of a megabyte, so the upload itself takes many reads.
    const std::string audio(1 << 20, 'A');
    const std::string failed = R"(window.aureloSetVoiceTranslation?.(...["v","",")";
    struct Case {
        const char* name;
        test::DrippingServer::Options drip;
        std::string script;
    };
    const Case cases[] = {
        // A blank byte every half second for four seconds: read to its end, which is no JSON.
        {"slow drip",
         {.interval = 500ms, .maximumPieces = 8},
         failed + DecodingError::dataCorrupted().description + R"(",true]))"},
        {"silent", {.interval = 20s, .maximumPieces = 1}, failed + R"(请求超时。",true]))"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::DrippingServer server(c.drip);
        std::vector<std::string> scripts;
        TranslationBridge bridge(service, voiceSession, server.origin(),
                                 [&](const std::string& script) { scripts.push_back(script); });
        bridge.setConfiguration(
            TranslationConfiguration{TranslationProvider::Google, "tok", "", ""});
        bridge.receive(bridgeMessageFromJsonText(
            R"({"kind":"voice","id":"v","mime":"audio/ogg","target":"zh-CN","data":")" + audio +
            R"("})"));
        ASSERT_TRUE(test::runMainLoopUntil([&] { return !scripts.empty(); }, 20s));
        EXPECT_EQ(scripts[0], c.script);
        EXPECT_EQ(server.requestCount(), 1u) << "the whole note reached the server";
    }
}

} // namespace
} // namespace aurelo
