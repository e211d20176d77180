#pragma once

// What the web-view tests share: the fixture pages on the loopback server, a temporary home for
// website data and downloads, the translation service on the fake managed service, and helpers
// that wait on loads and evaluate script under the main loop with a deadline.

#include "support/FakeManagedService.hpp"
#include "support/MainLoopWait.hpp"
#include "translation/TranslationNetwork.hpp"
#include "translation/TranslationService.hpp"
#include "webview/ChatWebView.hpp"

#include <gtest/gtest.h>

namespace aurelo::test {

// Evaluates `script` in `world` (nullptr: the page's own world) under the main loop, with a
// deadline. Returns the result as JSON text ("undefined" for undefined), or nullopt and the
// exception's message in `error`.
std::optional<std::string> evaluateScript(WebKitWebView* view, const std::string& script,
                                          const char* world, std::string* error = nullptr);

// Weak references on the WebKit objects a test makes. WebKit keeps a view or a network session
// alive through any reference someone forgot, and with them their web processes and data
// directories; this finds such a reference in the test that made it.
class LeakWatcher {
public:
    LeakWatcher() = default;
    LeakWatcher(const LeakWatcher&) = delete;
    LeakWatcher& operator=(const LeakWatcher&) = delete;
    ~LeakWatcher();

    void watch(gpointer object, std::string what);
    // Runs the main loop briefly for WebKit to let go of what it still holds, then fails the
    // running test for every watched object that is still alive.
    void expectAllFreed();

private:
    std::vector<std::unique_ptr<std::pair<gpointer, std::string>>> m_watched;
};

// Load events of one view, recorded from its creation on.
struct LoadRecord {
    int finished = 0;
    int failed = 0;
    std::string lastFailure;
};

class WebViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();

    WebViewTest();
    ~WebViewTest() override;
    // Destroys the hosts and the sessions, and fails the test when a view or a network session
    // outlives them.
    void TearDown() override;

    ChatWebViewInputs inputs(const std::string& sessionId,
                             const std::string& path = "/chat.html") const;
    // Builds a host and keeps it until the test ends (or destroy()).
    ChatWebView& open(const ChatWebViewInputs& inputs);
    void destroy(ChatWebView& host);

    const LoadRecord& loads(ChatWebView& host) { return *m_loads.at(host.webView()); }
    bool waitForLoad(ChatWebView& host, int count = 1,
                     std::chrono::milliseconds deadline = std::chrono::seconds(15));

    std::optional<std::string> evaluate(ChatWebView& host, const std::string& script,
                                        const char* world = ChatWebView::kScriptWorld);
    // Evaluates until the result equals `expected` (JSON text) or the deadline passes.
    bool waitForValue(ChatWebView& host, const std::string& script, const std::string& expected,
                      const char* world = ChatWebView::kScriptWorld,
                      std::chrono::milliseconds deadline = std::chrono::seconds(10));
    // window.aureloAnswers of our world, as JSON.
    std::string answers(ChatWebView& host);

    static constexpr const char* kSessionA = "11111111-1111-4111-8111-111111111111";
    static constexpr const char* kSessionB = "22222222-2222-4222-8222-222222222222";

    TestDirectory directory;
    const std::filesystem::path m_root = directory.path();
    LoopbackServer server{{.folder = AURELO_WEB_FIXTURES}};
    FakeManagedService fake;
    HttpSession translationSession{TranslationNetwork::sessionConfiguration()};
    HttpSession voiceSession{HttpSessionConfiguration{}};
    TranslationRequestCache cache;
    TranslationService service{fake.origin(), translationSession, cache};
    std::unique_ptr<WebsiteDataStores> stores;
    std::unique_ptr<WebEnvironment> environment;
    std::vector<std::filesystem::path> revealed;

private:
    LeakWatcher m_leaks;
    std::map<WebKitWebView*, std::unique_ptr<LoadRecord>> m_loads;
    std::vector<std::unique_ptr<ChatWebView>> m_hosts;
    gulong m_failureHook = 0;
};

} // namespace aurelo::test
