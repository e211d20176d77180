#pragma once

// The benchmark's own page: one bare WebKitWebView in a window on the virtual display, with the
// page script (straight from the source tree) injected into the private world "aurelo" or left
// out, the bridge handler registered in that world recording every message, and the chat fixture
// served by a SoupServer on loopback. It measures the script alone, so it has none of the host's
// translation machinery; the tests drive the script through the real host instead.

#include "platform/GRef.hpp"
#include "support/FixtureSite.hpp"

#include <nlohmann/json.hpp>

#include <chrono>
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

class BenchPage {
public:
    BenchPage(int width = 1000, int height = 800);
    BenchPage(const BenchPage&) = delete;
    BenchPage& operator=(const BenchPage&) = delete;
    ~BenchPage();

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

    // Evaluates in the script's world ("aurelo"); the completion value comes back as JSON (null
    // for undefined).
    nlohmann::json evaluate(const std::string& script);

private:
    static void messageCallback(WebKitUserContentManager*, JSCValue* value, gpointer self);
    std::string url(const std::string& path) const;

    FixtureSite m_site{AURELO_PAGESCRIPT_FIXTURES};
    GtkWidget* m_window = nullptr; // owned by GTK's toplevel list until destroyed
    WebKitWebView* m_view = nullptr;
    WebKitUserContentManager* m_manager = nullptr;
    std::vector<nlohmann::json> m_messages;
};

} // namespace aurelo::test
