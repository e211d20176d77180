#pragma once

// The benchmark's own page: one bare WebKitWebView in a window on the virtual display, with the
// product's page script (filled as the host fills it) injected into the private world "aurelo"
// or left out, the bridge handler registered in that world recording every message, and the chat
// fixture served on loopback. It measures the script alone, so it has none of the host's
// translation machinery; the tests drive the script through the real host instead.

#include "support/LoopbackServer.hpp"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitUserContentManager WebKitUserContentManager;
typedef struct _JSCValue JSCValue;
typedef struct _GtkWidget GtkWidget;

namespace aurelo::test {

class BenchPage {
public:
    BenchPage(int width = 1000, int height = 800);
    BenchPage(const BenchPage&) = delete;
    BenchPage& operator=(const BenchPage&) = delete;
    ~BenchPage();

    // Adds a header to every response from now on (for example to make pages cross-origin
    // isolated, which gives them a finer performance.now()).
    void addResponseHeader(std::string name, std::string value);

    // Injects the script (unless `inject` is false) with translation on both ways, Chinese typed
    // and sent as English, loads the fixture page and waits until it has finished loading.
    // Recorded messages are cleared first.
    bool load(const std::string& fixture, bool inject = true);

    const std::vector<nlohmann::json>& messages() const { return m_messages; }
    // Messages of one kind; "message" selects those without a kind member.
    std::vector<nlohmann::json> messagesOfKind(const std::string& kind) const;

    // Evaluates in the script's world; the completion value comes back as JSON (null for
    // undefined or an error).
    nlohmann::json evaluate(const std::string& script);

private:
    static void messageCallback(WebKitUserContentManager*, JSCValue* value, gpointer self);

    LoopbackServer m_site{{.folder = AURELO_PAGESCRIPT_FIXTURES}};
    GtkWidget* m_window = nullptr; // owned by GTK's toplevel list until destroyed
    WebKitWebView* m_view = nullptr;
    WebKitUserContentManager* m_manager = nullptr;
    std::vector<nlohmann::json> m_messages;
};

} // namespace aurelo::test
