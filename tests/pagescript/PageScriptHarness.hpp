#pragma once

// A minimal stand-in for the web view host, for driving the page script in the real engine: one
// WebKitWebView in a window on the test session's virtual display, the page script injected into
// the private world "aurelo" with its settings written in, the bridge handler registered in that
// world and recording every message, answers evaluated in that world, fixture pages served by a
// SoupServer on loopback, and real key presses and clicks through XTest (xdotool).

#include "platform/GRef.hpp"

#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

typedef struct _SoupServer SoupServer;
typedef struct _SoupServerMessage SoupServerMessage;
typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitUserContentManager WebKitUserContentManager;
typedef struct _JSCValue JSCValue;
typedef struct _GtkWidget GtkWidget;

namespace aurelo::test {

// The values the host writes into the script's placeholders.
struct PageScriptSettings {
    bool sendTranslation = true;
    bool translationActive = true;
    bool receiveTranslation = true;
    double fontSize = 14.0;
    std::string fontColor = "#2563eb";
    std::string inputLanguage = "zh-CN";
    std::string outgoingLanguage = "en";
    std::string incomingLanguage = "zh-CN";
    std::string ownMessageLanguage = "en";
};

// Fills the nine placeholders in the host's order: booleans as true/false, the font size with
// its fraction dropped, strings as a one-element JSON array followed by "[0]".
std::string fillPageScript(std::string script, const PageScriptSettings& settings);

// The page script's text as it lies in the source tree.
std::string pageScriptSource();

class PageScriptHarness {
public:
    PageScriptHarness(int width = 1000, int height = 800);
    PageScriptHarness(const PageScriptHarness&) = delete;
    PageScriptHarness& operator=(const PageScriptHarness&) = delete;
    ~PageScriptHarness();

    std::string url(const std::string& path) const;
    // Serves `body` at `path` in addition to the fixture files.
    void serve(const std::string& path, std::string contentType, std::string body);
    void resize(int width, int height);
    // Adds a header to every response from now on (for example to make pages cross-origin
    // isolated, which gives them a finer performance.now()).
    void addResponseHeader(std::string name, std::string value);

    // Injects the script with `settings` (none when `inject` is false), loads the fixture page
    // and waits until it has finished loading. Recorded messages are cleared first.
    bool load(const std::string& fixture, const PageScriptSettings& settings = {},
              bool inject = true);

    const std::vector<nlohmann::json>& messages() const { return m_messages; }
    // Messages of one kind; "message" selects those without a kind member.
    std::vector<nlohmann::json> messagesOfKind(const std::string& kind) const;
    void clearMessages() { m_messages.clear(); }
    bool waitForMessages(const std::string& kind, std::size_t count,
                         std::chrono::milliseconds deadline = std::chrono::seconds(5));

    // Evaluates in the script's world ("aurelo") or in the page's own world; the completion
    // value comes back as JSON (null for undefined).
    nlohmann::json evaluate(const std::string& script);
    nlohmann::json evaluateInPage(const std::string& script);
    // Runs the main loop until `expression` (page world) is truthy.
    bool waitForPage(const std::string& expression,
                     std::chrono::milliseconds deadline = std::chrono::seconds(5));
    // Answers as the host does: window.<function>?.(...<arguments>) in the script's world.
    void call(const std::string& function, const nlohmann::json& arguments);

    // Real input through XTest; the window is focused first.
    void pressKeys(const std::string& keys);
    void typeText(const std::string& text);
    void clickAt(double x, double y, int button = 1);
    // Clicks the centre of the first element matching `selector`; false when there is none.
    bool clickElement(const std::string& selector, int button = 1);

    WebKitWebView* view() const { return m_view; }

private:
    static void messageCallback(WebKitUserContentManager*, JSCValue* value, gpointer self);
    static void serverCallback(SoupServer*, SoupServerMessage*, const char* path, GHashTable*,
                               gpointer self);
    nlohmann::json evaluateIn(const char* world, const std::string& script);
    void focusWindow();
    void xdotool(const std::vector<std::string>& arguments);

    GRef<SoupServer> m_server;
    std::string m_origin;
    std::map<std::string, std::pair<std::string, std::string>> m_routes;
    std::vector<std::pair<std::string, std::string>> m_headers;
    GtkWidget* m_window = nullptr; // owned by GTK's toplevel list until destroyed
    WebKitWebView* m_view = nullptr;
    WebKitUserContentManager* m_manager = nullptr;
    std::vector<nlohmann::json> m_messages;
    unsigned long m_xid = 0;
    bool m_focused = false;
};

} // namespace aurelo::test
