#pragma once

// The page script driven through the application's own host: every fixture opens in a real
// ChatWebView whose bridge and background queue reach the fake managed service on loopback, in
// a window of the virtual display that receives real XTest input (xdotool).

#include "support/WebViewTestSupport.hpp"
#include "support/XInput.hpp"
#include "web/PageScript.hpp"
#include "web/WebPageCommand.hpp"
#include "webview/WebEnvironment.hpp"

#include <algorithm>
#include <map>

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

class PageScriptTest : public WebViewTest {
protected:
    using Responder = std::function<std::optional<ScriptedAnswer>(const RecordedRequest&)>;

    static void SetUpTestSuite();
    static void TearDownTestSuite();
    PageScriptTest();
    void TearDown() override;

    // Translation on both ways: Chinese typed and sent as English, incoming messages shown in
    // Chinese and one's own in English, in 14 px blue.
    static ChatWebViewInputs defaultInputs();
    // A host for `fixture` in the window, in place of the last one, once the page has loaded.
    void open(const std::string& fixture, ChatWebViewInputs inputs = defaultInputs());
    void serve(const std::string& path, std::string contentType, std::string body) {
        m_site.route(path, ScriptedAnswer::text(200, std::move(body), std::move(contentType)));
    }
    const ChatWebViewInputs& hostInputs() const { return m_inputs; }
    void setTranslationActive(bool active) {
        m_inputs.isActive = active;
        m_host->update(m_inputs);
    }
    // Changes the fields that may change while the page lives, as the window does.
    void updateHost(const std::function<void(ChatWebViewInputs&)>& change) {
        change(m_inputs);
        m_host->update(m_inputs);
    }
    void runPageCommand(WebPageCommand::Action action) {
        m_host->runPageCommand(WebPageCommand{newSessionID(), action});
    }

    // A text found here is translated as its entry, any other as "<target>:<text>"; a voice
    // upload is transcribed as "transcript" and translated as "译文". `respond` comes first.
    std::map<std::string, std::string> translations;
    Responder respond;
    // While holding, every request waits for a release, which answers as usual or with `answer`
    // (nullopt keeps one held). Returns how many were answered.
    bool holding = false;
    std::size_t release(const Responder& answer = nullptr);
    ScriptedAnswer answer(const RecordedRequest& request) const;

    std::vector<ServiceText> serviceTexts() const;
    bool waitForServiceTexts(std::size_t count) {
        return runMainLoopUntil([&] { return serviceTexts().size() >= count; });
    }
    bool waitForServiceText(const std::string& text) {
        return runMainLoopUntil(
            [&] { return std::ranges::count(serviceTexts(), text, &ServiceText::text) > 0; });
    }
    // The chat fixtures' composer (#composer): focused by a click, and text committed as an
    // input method commits it (an editing command on the focused editor). What the page sent
    // is collected in window.sent.
    void focusComposer() {
        ASSERT_TRUE(clickElement("#composer"));
        ASSERT_TRUE(waitForPage("document.activeElement.id === 'composer'"));
    }
    void commitText(const std::string& text) {
        evaluateInPage("document.getElementById('composer').focus();"
                       "document.execCommand('insertText', false, " +
                       quoted(text) + ")");
    }
    nlohmann::json sent() { return evaluateInPage("window.sent"); }
    // The unread counts and whether it shows known chat messages, as the page reported them.
    std::vector<int> unread;
    std::vector<bool> recognised;
    bool waitForUnreadCounts(std::size_t count, std::chrono::milliseconds deadline = 10s) {
        return runMainLoopUntil([&] { return unread.size() >= count; }, deadline);
    }

    // The host's calls into the page since it loaded, as [function, arguments...], recorded in
    // the script's world, so a test can tell an answer has arrived where it changes nothing seen.
    nlohmann::json answersDelivered(const std::string& function) {
        return evaluate("(window.__aureloDelivered || []).filter((call) => call[0] === " +
                        quoted(function) + ")");
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
    static std::string quoted(const std::string& text) { return nlohmann::json(text).dump(); }

    static void resize(int width, int height);
    static void pressKeys(const std::string& keys) { xdotool({"key", "--clearmodifiers", keys}); }
    static void typeText(const std::string& text) { xdotool({"type", "--delay", "15", text}); }
    static void clickAt(double x, double y, int button = 1);
    // Clicks the centre of the first element matching `selector`; false when there is none.
    bool clickElement(const std::string& selector, int button = 1);

private:
    nlohmann::json evaluateIn(const char* world, const std::string& script);

    // No cache: every request reaches the service, where the tests count them.
    LoopbackServer m_site{{.folder = AURELO_PAGESCRIPT_FIXTURES}};
    TranslationRequestCache m_noCache{0};
    TranslationService m_translation{fake.origin(), translationSession, m_noCache};
    ChatWebViewInputs m_inputs;
    ChatWebView* m_host = nullptr;
    static GtkWidget* s_window; // owned by GTK's toplevel list until destroyed
};

} // namespace aurelo::test
