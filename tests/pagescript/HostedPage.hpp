#pragma once

// The page script driven through the application's own host: every fixture opens in a real
// ChatWebView whose bridge and background queue reach a fake managed service on loopback, in one
// window of the virtual display that receives real XTest input (xdotool).

#include "support/FakeManagedService.hpp"
#include "support/MainLoopWait.hpp"
#include "support/WebViewTestSupport.hpp"
#include "web/PageScript.hpp"
#include "web/WebPageCommand.hpp"
#include "webview/WebEnvironment.hpp"
#include "webview/WebsiteDataStores.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct _GtkWidget GtkWidget;

namespace aurelo::test {

using namespace std::chrono_literals;

// One text as the managed service was asked to translate it; `batch` is how the background
// queue sends chat messages and page text, while composer, warm-up and selection requests go
// one by one.
struct ServiceText {
    std::string text;
    std::string target;
    bool batch = false;
    friend bool operator==(const ServiceText&, const ServiceText&) = default;
};

class HostedPage {
public:
    using Responder = std::function<std::optional<ScriptedAnswer>(const RecordedRequest&)>;

    HostedPage();
    HostedPage(const HostedPage&) = delete;
    HostedPage& operator=(const HostedPage&) = delete;
    ~HostedPage();

    // Translation on both ways: Chinese typed and sent as English, incoming messages shown in
    // Chinese and one's own in English, in 14 px blue.
    static ChatWebViewInputs defaultInputs();

    void serve(const std::string& path, std::string contentType, std::string body) {
        m_site.route(path, ScriptedAnswer::text(200, std::move(body), std::move(contentType)));
    }
    void resize(int width, int height);
    // A new host for `fixture` against a fresh fake service, once the page has loaded.
    bool open(const std::string& fixture, ChatWebViewInputs inputs = defaultInputs());
    void setTranslationActive(bool active) {
        m_inputs.isActive = active;
        m_host->update(m_inputs);
    }
    void runPageCommand(WebPageCommand::Action action) {
        m_host->runPageCommand(WebPageCommand{newSessionID(), action});
    }
    const ChatWebViewInputs& inputs() const { return m_inputs; }
    FakeManagedService& service() { return m_backend->service; }

    // A text found here is translated as its entry, any other as "<target>:<text>"; a voice
    // upload is transcribed as "transcript" and translated as "译文". `respond` comes first.
    std::map<std::string, std::string> translations;
    Responder respond;
    // While holding, every request waits for a release, which answers as usual or with `answer`
    // (nullopt keeps one held). Returns how many were answered.
    void hold(bool holding) { m_holding = holding; }
    std::size_t release(const Responder& answer = nullptr);
    // The answer a request gets when none is scripted.
    ScriptedAnswer answer(const RecordedRequest& request) const;

    std::vector<ServiceText> serviceTexts() const;
    bool waitForServiceTexts(std::size_t count) {
        return runMainLoopUntil([&] { return serviceTexts().size() >= count; });
    }
    bool waitForServiceText(const std::string& text) {
        return runMainLoopUntil(
            [&] { return std::ranges::count(serviceTexts(), text, &ServiceText::text) > 0; });
    }
    // The unread counts the page reported since it loaded.
    std::vector<int> unread;
    bool waitForUnreadCounts(std::size_t count, std::chrono::milliseconds deadline = 10s) {
        return runMainLoopUntil([&] { return unread.size() >= count; }, deadline);
    }

    // The host's calls into the page since it loaded, as [function, arguments...], recorded in
    // the script's world, so a test can tell an answer has arrived where it changes nothing seen.
    nlohmann::json answersDelivered(const std::string& function) {
        return evaluate("(window.__aureloDelivered || []).filter((call) => call[0] === " +
                        nlohmann::json(function).dump() + ")");
    }
    bool waitForAnswersDelivered(const std::string& function, std::size_t count) {
        return runMainLoopUntil([&] { return answersDelivered(function).size() >= count; });
    }

    // Evaluates in the script's world or the page's own; the result as JSON (null: undefined).
    nlohmann::json evaluate(const std::string& script) {
        return evaluateIn(ChatWebView::kScriptWorld, script);
    }
    nlohmann::json evaluateInPage(const std::string& script) { return evaluateIn(nullptr, script); }
    // Runs the main loop until `expression` (page world) is truthy.
    bool waitForPage(const std::string& expression, std::chrono::milliseconds deadline = 10s) {
        const auto script = "Boolean(" + expression + ")";
        return runMainLoopUntil([&] { return evaluateInPage(script) == true; }, deadline);
    }

    void pressKeys(const std::string& keys) { xdotool({"key", "--clearmodifiers", keys}); }
    void typeText(const std::string& text) { xdotool({"type", "--delay", "15", text}); }
    void clickAt(double x, double y, int button = 1);
    // Clicks the centre of the first element matching `selector`; false when there is none.
    bool clickElement(const std::string& selector, int button = 1);

private:
    // New for every page, so that no answer, held request or failure of one test reaches the
    // next; kept until the end, as requests of an earlier page may still complete.
    struct Backend {
        explicit Backend(WebsiteDataStores& stores, const std::filesystem::path& downloads);
        FakeManagedService service;
        HttpSession translationSession;
        HttpSession voiceSession;
        // No cache: every request reaches the service, where the tests count them.
        TranslationRequestCache cache{0};
        TranslationService translation;
        WebEnvironment environment;
    };

    nlohmann::json evaluateIn(const char* world, const std::string& script);
    void closeHost();
    void xdotool(std::vector<std::string> arguments);

    TestDirectory m_root;
    LoopbackServer m_site{{.folder = AURELO_PAGESCRIPT_FIXTURES}};
    LeakWatcher m_leaks;
    std::unique_ptr<WebsiteDataStores> m_stores;
    std::unique_ptr<Backend> m_backend;
    std::vector<std::unique_ptr<Backend>> m_retired;
    ChatWebViewInputs m_inputs;
    std::unique_ptr<ChatWebView> m_host;
    bool m_holding = false;
    GtkWidget* m_window = nullptr; // owned by GTK's toplevel list until destroyed
    unsigned long m_xid = 0;
};

// The one window of the run, made on first use and closed after the last test.
HostedPage& page();

class PageScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        page().translations.clear();
        page().respond = nullptr;
        page().hold(false);
        page().resize(1000, 800);
    }
    static void open(const std::string& fixture,
                     const ChatWebViewInputs& inputs = HostedPage::defaultInputs()) {
        ASSERT_TRUE(page().open(fixture, inputs)) << fixture;
    }
    static std::string quoted(const std::string& text) { return nlohmann::json(text).dump(); }
};

} // namespace aurelo::test
