#pragma once

// The page script driven through the application's own host. Every fixture opens in a real
// ChatWebView built from real inputs: the host fills the script's placeholders, injects it
// into its private script world, registers its bridge handler there and answers the page through
// its translation bridge and background queue. Those reach a fake managed service on loopback,
// so a test sees what the host does at its edges: the requests the service receives, the unread
// counts the host reports, and the page the user sees. Fixture pages come from a SoupServer on
// loopback; key presses and clicks are real XTest input (xdotool) on the virtual display.

#include "platform/GRef.hpp"
#include "platform/HttpSession.hpp"
#include "support/FakeManagedService.hpp"
#include "support/WebViewTestSupport.hpp"
#include "translation/TranslationRequestCache.hpp"
#include "translation/TranslationService.hpp"
#include "webview/ChatWebView.hpp"
#include "webview/WebEnvironment.hpp"
#include "webview/WebsiteDataStores.hpp"

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct _GtkWidget GtkWidget;

namespace aurelo::test {

// One text as the managed service was asked to translate it.
struct ServiceText {
    std::string text;
    std::string target;
    // Sent in a batch, which is how the background queue sends chat messages and page text;
    // composer, warm-up and selection requests go one by one.
    bool batch = false;

    friend bool operator==(const ServiceText&, const ServiceText&) = default;
};

class HostedPage {
public:
    HostedPage(int width, int height);
    HostedPage(const HostedPage&) = delete;
    HostedPage& operator=(const HostedPage&) = delete;
    ~HostedPage();

    // What a test starts from: translation on in both directions, Chinese typed and sent as
    // English, incoming messages shown in Chinese and one's own in English, in 14 px blue.
    static ChatWebViewInputs defaultInputs();

    std::string url(const std::string& path) const;
    // Serves `body` at `path` in addition to the fixture files.
    void serve(const std::string& path, std::string contentType, std::string body);
    void resize(int width, int height);

    // Replaces the host with a new one for `fixture`, built from `inputs` (its page URL, session
    // and unread callback are filled in here) against a fresh fake service, and waits until the
    // page has loaded.
    bool open(const std::string& fixture, ChatWebViewInputs inputs = defaultInputs());
    // Hands the host changed inputs, as the window does on every update.
    void update(const std::function<void(ChatWebViewInputs&)>& change);
    void setTranslationActive(bool active);
    void runPageCommand(WebPageCommand::Action action);

    const ChatWebViewInputs& inputs() const { return m_inputs; }
    FakeManagedService& service() { return m_backend->service; }

    // How the fake service translates: a text found here becomes its entry, any other
    // "<target>:<text>". A voice upload is transcribed as "transcript" and translated as "译文".
    std::map<std::string, std::string> translations;
    // Consulted first whenever a request is answered (at once, or by release()); nullopt
    // leaves the request to the rules above.
    std::function<std::optional<ScriptedAnswer>(const RecordedRequest&)> respond;
    // The usual answer to `request`.
    ScriptedAnswer answer(const RecordedRequest& request) const;
    // While holding, every request waits until a release answers it.
    void hold(bool holding) { m_holding = holding; }
    // Answers the held requests, oldest first, as usual or with `answer` (nullopt keeps one
    // held). Returns how many were answered.
    std::size_t release();
    std::size_t
    release(const std::function<std::optional<ScriptedAnswer>(const RecordedRequest&)>& answer);

    // Every text the service was asked to translate, in order.
    std::vector<ServiceText> serviceTexts() const;
    bool waitForServiceTexts(std::size_t count,
                             std::chrono::milliseconds deadline = std::chrono::seconds(10));
    // Waits for a request for exactly `text`.
    bool waitForServiceText(const std::string& text,
                            std::chrono::milliseconds deadline = std::chrono::seconds(10));
    // The bodies of the voice uploads the service received, and their number (cheap enough to
    // poll: an upload near the size limit is a 24 MB body).
    std::vector<nlohmann::json> voiceUploads() const;
    std::size_t voiceUploadCount() const;

    const std::vector<int>& unreadCounts() const { return m_unread; }
    bool waitForUnreadCounts(std::size_t count,
                             std::chrono::milliseconds deadline = std::chrono::seconds(10));

    // The calls the host has made into the page since it loaded, as [function, arguments...]:
    // recorded in the script's world by wrapping the script's own callbacks, so a test can tell
    // when an answer has arrived even where it changes nothing the user sees.
    nlohmann::json answersDelivered(const std::string& function);
    bool waitForAnswersDelivered(const std::string& function, std::size_t count,
                                 std::chrono::milliseconds deadline = std::chrono::seconds(10));

    // Evaluates in the script's world or in the page's own world; the completion value comes
    // back as JSON (null for undefined).
    nlohmann::json evaluate(const std::string& script);
    nlohmann::json evaluateInPage(const std::string& script);
    // Runs the main loop until `expression` (page world) is truthy.
    bool waitForPage(const std::string& expression,
                     std::chrono::milliseconds deadline = std::chrono::seconds(10));

    // Real input through XTest.
    void pressKeys(const std::string& keys);
    void typeText(const std::string& text);
    void clickAt(double x, double y, int button = 1);
    // Clicks the centre of the first element matching `selector`; false when there is none.
    bool clickElement(const std::string& selector, int button = 1);

private:
    // The managed service and what talks to it, new for every page so that no answer, held
    // request or scripted failure of one test reaches the next.
    struct Backend {
        Backend(WebsiteDataStores& stores, const std::filesystem::path& downloads);

        FakeManagedService service;
        HttpSession translationSession;
        HttpSession voiceSession;
        // Without a cache every request of the bridge reaches the service, where tests count
        // them; a cached answer would hide a second request for the same text.
        TranslationRequestCache cache{0};
        TranslationService translation;
        WebEnvironment environment;
    };

    nlohmann::json evaluateIn(const char* world, const std::string& script);
    void closeHost();
    void focusWindow();
    void xdotool(std::vector<std::string> arguments);

    TestDirectory m_root;
    LoopbackServer m_site{{.folder = AURELO_PAGESCRIPT_FIXTURES}};
    LeakWatcher m_leaks;
    std::unique_ptr<WebsiteDataStores> m_stores;
    std::unique_ptr<Backend> m_backend;
    // Backends of earlier pages: requests they still carry may complete later and must find
    // their session and cache alive.
    std::vector<std::unique_ptr<Backend>> m_retired;
    ChatWebViewInputs m_inputs;
    std::unique_ptr<ChatWebView> m_host;
    std::vector<int> m_unread;
    bool m_holding = false;
    GtkWidget* m_window = nullptr; // owned by GTK's toplevel list until destroyed
    unsigned long m_xid = 0;
    bool m_focused = false;
};

} // namespace aurelo::test
