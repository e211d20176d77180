// The host with a real page: injection into our private world, the bridge end to end, the
// switches and requests of later updates.

#include "support/WebViewTestSupport.hpp"

#include <algorithm>

namespace aurelo::test {
namespace {

using WebViewBridgeTest = WebViewTest;

// The filling itself is checked without a page; here that the filled script runs in our world
// only, and that the page cannot use WebRTC to leak the address around a proxy.
TEST_F(WebViewBridgeTest, ScriptRunsInOurWorldOnlyAndThePageHasNoWebRtc) {
    auto in = inputs(kSessionA);
    in.incomingLanguage = ChatLanguage::Japanese;
    auto& host = open(in);
    ASSERT_TRUE(waitForLoad(host));
    EXPECT_EQ(evaluate(host, "[aureloSettings.incoming, aureloSettings.own]"), R"(["ja","zh-CN"])");
    EXPECT_EQ(evaluate(host, "[typeof window.aureloSettings, typeof RTCPeerConnection]", nullptr),
              R"(["undefined","undefined"])");
    EXPECT_EQ(evaluate(host, "document.documentElement.dataset.aureloInjected", nullptr),
              R"("yes")");
    EXPECT_EQ(evaluate(host, "navigator.userAgent", nullptr),
              nlohmann::json(ChatWebView::kUserAgent).dump());
}

// Our world still posts, and its answer reaches it as the exact string the service sent.
TEST_F(WebViewBridgeTest, PageWorldCanNeitherPostNorReplaceOurFunctions) {
    const std::string awkward = "他说：\"好\" \\ 第二行\n</script><b>x</b>/";
    fake.setResponder([&](const RecordedRequest&) {
        return ScriptedAnswer::json(200, {{"text", awkward}});
    });
    auto& host = open(inputs(kSessionA));
    ASSERT_TRUE(waitForLoad(host));
    // A hostile page tries the handler and defines its own answer functions.
    EXPECT_EQ(evaluate(host, R"((() => {
        window.aureloSetComposerTranslation = () => { window.hijacked = true; };
        try {
            window.webkit.messageHandlers.translationBridge.postMessage(
                {kind: "composer", id: "evil", text: "spend quota", target: "en"});
            return "posted";
        } catch (e) {
            return "refused";
        }
    })())",
                       nullptr),
              R"("refused")");
    evaluate(host, R"(aureloPost({kind: "composer", id: "m1", text: "ours", target: "en"}))");
    ASSERT_TRUE(waitForValue(host, "aureloAnswers.length", "1"));
    EXPECT_EQ(nlohmann::json::parse(answers(host)),
              nlohmann::json::array({{"aureloSetComposerTranslation", "m1", awkward, false}}));
    EXPECT_EQ(evaluate(host, "window.hijacked === undefined", nullptr), "true");
    ASSERT_EQ(fake.requests().size(), 1u);
    EXPECT_EQ(fake.requests()[0].json->dump().find("spend quota"), std::string::npos);
    EXPECT_EQ(fake.requests()[0].json->at("text"), "ours");
}

TEST_F(WebViewBridgeTest, AnswersForADestroyedViewAreDropped) {
    fake.setResponder([](const RecordedRequest& request) {
        auto answer = echoTranslation(request);
        answer.delay = std::chrono::milliseconds(200);
        return answer;
    });
    fake.setFallback("/api/transcribe",
                     ScriptedAnswer{200, R"({"transcript":"a","translation":"b"})",
                                    "application/json", std::chrono::milliseconds(200)});
    auto& host = open(inputs(kSessionA));
    ASSERT_TRUE(waitForLoad(host));
    evaluate(host, R"(
        aureloPost({kind: "composer", id: "c", text: "late", target: "en"});
        aureloPost({id: "m", text: "late message", target: "en"});
        aureloPost({kind: "voice", id: "v", data: "T2dnUw==", mime: "audio/ogg"});
        aureloPost({kind: "unread", count: 3});
    )");
    ASSERT_TRUE(runMainLoopUntil([&] { return fake.requests().size() >= 2; }));
    destroy(host);
    runMainLoopFor(std::chrono::milliseconds(400));
    SUCCEED(); // nothing touched the destroyed view or coordinator
}

TEST_F(WebViewBridgeTest, UpdatesSwitchZoomReloadAndCommandOnlyOnChange) {
    auto in = inputs(kSessionA);
    in.isActive = false;
    auto& host = open(in);
    ASSERT_TRUE(waitForLoad(host));
    const auto pageLoads = server.requestCount("/chat.html");

    host.update(in); // nothing changed
    in.isActive = true;
    host.update(in);
    host.update(in);
    EXPECT_TRUE(waitForValue(host, "aureloAnswers", R"([["aureloSetTranslationActive",true]])"));

    in.pageZoom = 1.0005;
    host.update(in);
    EXPECT_DOUBLE_EQ(webkit_web_view_get_zoom_level(host.webView()), 1.0);
    in.pageZoom = 1.1;
    host.update(in);
    EXPECT_NEAR(webkit_web_view_get_zoom_level(host.webView()), 1.1, 1e-9);

    host.runPageCommand(WebPageCommand{});
    host.runPageCommand(WebPageCommand{newSessionID(), WebPageCommand::Action::Restore});
    EXPECT_TRUE(waitForValue(host, "aureloAnswers.slice(1)",
                             R"([["aureloTranslatePage"],["aureloRestorePage"]])"));
    runMainLoopFor(std::chrono::milliseconds(100));
    EXPECT_EQ(server.requestCount("/chat.html"), pageLoads) << "zoom or commands reloaded";

    in.reloadToken = newSessionID();
    host.update(in);
    host.update(in);
    ASSERT_TRUE(waitForLoad(host, 2));
    runMainLoopFor(std::chrono::milliseconds(200));
    EXPECT_EQ(server.requestCount("/chat.html"), pageLoads + 1);
    EXPECT_EQ(loads(host).finished, 2);
}

// An insertion goes to its own session's page only, into the last editable element, as typed
// text the page's editor sees.
TEST_F(WebViewBridgeTest, TextInsertionReachesOnlyItsSessionsComposer) {
    auto& first = open(inputs(kSessionA, "/form.html"));
    auto& second = open(inputs(kSessionB));
    ASSERT_TRUE(waitForLoad(first));
    ASSERT_TRUE(waitForLoad(second));
    evaluate(first, R"(
        window.inputEvents = [];
        document.getElementById("field").addEventListener("input", (e) => inputEvents.push(e.inputType || "plain"));
    )",
             nullptr);

    const std::string text = "引号\"'反斜杠\\\n第二行 </script>";
    const WebTextInsertion insertion{newSessionID(), kSessionA, text};
    EXPECT_FALSE(second.insertText(insertion)) << "taken by the wrong session";
    EXPECT_FALSE(first.insertText(WebTextInsertion{newSessionID(), kSessionA, ""}))
        << "an empty insertion is never taken";
    EXPECT_TRUE(first.insertText(insertion));
    const std::string expected = nlohmann::json(text).dump();
    EXPECT_TRUE(waitForValue(first, "document.getElementById('field').value", expected, nullptr));
    EXPECT_EQ(evaluate(first, "inputEvents", nullptr), R"(["deleteContentBackward","plain"])");

    EXPECT_TRUE(second.insertText(WebTextInsertion{newSessionID(), kSessionB, "你好 world"}));
    EXPECT_TRUE(waitForValue(second, "document.getElementById('composer').textContent",
                             R"("你好 world")", nullptr));
    EXPECT_EQ(evaluate(second, "document.getElementById('field').value", nullptr), R"("")");
}

} // namespace
} // namespace aurelo::test
