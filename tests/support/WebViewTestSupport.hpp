#pragma once

// What the web-view tests share: a fixture site on a SoupServer (port 0), a temporary home for
// website data and downloads, the translation service on the fake managed service, and helpers
// that wait on loads and evaluate script under the main loop with a deadline.

#include "support/FakeManagedService.hpp"
#include "support/MainLoopWait.hpp"
#include "translation/TranslationNetwork.hpp"
#include "translation/TranslationService.hpp"
#include "webview/ChatWebView.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct _SoupServer SoupServer;
typedef struct _SoupServerMessage SoupServerMessage;

namespace aurelo::test {

struct FixtureResponse {
    unsigned status = 200;
    std::string contentType = "text/html; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

// Serves tests/fixtures/web/<name> at "/<name>" and whatever `route()` adds, on 127.0.0.1.
class FixtureServer {
public:
    FixtureServer();
    FixtureServer(const FixtureServer&) = delete;
    FixtureServer& operator=(const FixtureServer&) = delete;
    ~FixtureServer();

    std::uint16_t port() const { return m_port; }
    // "http://<host>:<port><path>"; any host name reaches this server through the test proxies.
    std::string url(const std::string& path, const std::string& host = "127.0.0.1") const;
    void route(const std::string& path, FixtureResponse response);
    // The Host header of every request for `path`.
    std::vector<std::string> hostsRequesting(const std::string& path) const;
    std::size_t requestCount(const std::string& path) const;

private:
    static void handleCallback(SoupServer*, SoupServerMessage*, const char* path, GHashTable*,
                               gpointer self);

    GRef<SoupServer> m_server;
    std::uint16_t m_port = 0;
    std::map<std::string, FixtureResponse> m_routes;
    std::vector<std::pair<std::string, std::string>> m_requests; // path, host
};

std::string readFixture(const std::string& name);

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

    ChatWebViewInputs inputs(const std::string& sessionId,
                                 const std::string& path = "/chat.html") const;
    // Builds a host and keeps it until the test ends (or destroy()).
    ChatWebView& open(const ChatWebViewInputs& inputs);
    void destroy(ChatWebView& host);

    const LoadRecord& loads(ChatWebView& host) { return *m_loads.at(host.webView()); }
    bool waitForLoad(ChatWebView& host, int count = 1,
                     std::chrono::milliseconds deadline = std::chrono::seconds(15));
    bool waitForFailure(ChatWebView& host,
                        std::chrono::milliseconds deadline = std::chrono::seconds(15));

    // The JSON form of the script's result; world nullptr is the page's own world.
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

    std::filesystem::path m_root;
    FixtureServer server;
    FakeManagedService fake;
    HttpSession translationSession{TranslationNetwork::sessionConfiguration()};
    HttpSession voiceSession{HttpSessionConfiguration{}};
    TranslationRequestCache cache;
    TranslationService service{fake.origin(), translationSession, cache};
    std::unique_ptr<WebsiteDataStores> stores;
    std::unique_ptr<WebEnvironment> environment;
    std::vector<std::filesystem::path> revealed;

private:
    std::vector<std::unique_ptr<ChatWebView>> m_hosts;
    std::map<WebKitWebView*, std::unique_ptr<LoadRecord>> m_loads;
};

} // namespace aurelo::test
