#pragma once

#include "models/WebPageCommand.hpp"
#include "platform/GRef.hpp"
#include "web/ChatWebViewInputs.hpp"
#include "web/TranslationBridge.hpp"
#include "webview/PageHealthMonitor.hpp"
#include "webview/WebEnvironment.hpp"
#include "webview/WebProcessMemory.hpp"

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/filechoosernative.h>
#include <gtkmm/label.h>
#include <webkit/webkit.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

namespace aurelo {

// The host of one chat session: a WebKitWebView on the session's own network session (its data,
// cache and proxy), with the page script injected into our private script world "aurelo" and the
// bridge handler registered in that world only. The page's own scripts live in the main world, so
// they can neither post to the bridge nor call or replace the functions our script defines, and
// every answer and page command is evaluated in our world too.
class ChatWebView : public Gtk::Box {
public:
    using Inputs = ChatWebViewInputs;
    class Coordinator;

    static constexpr const char* kScriptWorld = "aurelo";
    static constexpr const char* kHandlerName = "translationBridge";
    static constexpr const char* kUserAgent =
        "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like "
        "Gecko) Version/17.5 Safari/605.1.15";

    // Builds the view from the creation fields of `inputs` and starts loading the page.
    ChatWebView(const Inputs& inputs, WebEnvironment& environment);
    ~ChatWebView() override;

    // Applies the fields that may change while the page lives.
    void update(const Inputs& inputs);
    // Runs a whole-page command (translate the page, or restore it).
    void runPageCommand(const WebPageCommand& command);
    // Loads the page again in a new web process, which gives the old one's memory back (the
    // memory watchdog's reload, or the agent's from its bar).
    void reload();
    // The bar over the page that offers "重新加载" with why; nullopt hides it.
    void setMemoryOffer(const std::optional<std::string>& text);
    sigc::signal<void()>& signalMemoryReloadClicked() { return m_memoryReloadClicked; }
    // Puts the text into this session's composer. Returns whether the page took it: it takes
    // only an insertion for its own session, and never an empty one.
    bool insertText(const WebTextInsertion& insertion);

    // Null for an account whose proxy could not be put in place: it has no page.
    WebKitWebView* webView() const { return m_webView.get(); }
    Coordinator& coordinator() { return *m_coordinator; }
    const PageHealth& health() const { return m_refusal ? *m_refusal : m_health->health(); }

    static constexpr const char* kMemoryReloadLabel = "重新加载";
    // Under the reason, in the page area of an account that was given no page.
    static constexpr std::string_view kRefusedPageNote =
        "此账号的网页未加载，也不会绕过代理直接连接。请在“账号独立设置”中修正代理后保存。";
    const std::string& sessionID() const { return m_sessionID; }

    // Evaluates `script` in our script world without waiting for a result.
    static void evaluateInPrivateWorld(WebKitWebView* view, const std::string& script);

private:
    void buildMemoryBar();
    void refuse(const std::string& reason, const Inputs& inputs);
    void applySpelling();
    // Tells the page the outgoing language of its open conversation, when it changed.
    void applyConversationLanguage(const Inputs& inputs);

    std::string m_sessionID;
    // Why the account has no page; nothing while it has one.
    std::optional<PageHealth> m_refusal;
    GRef<WebKitUserContentManager> m_contentManager;
    GRef<WebKitWebView> m_webView;
    std::unique_ptr<Coordinator> m_coordinator;
    std::unique_ptr<PageHealthMonitor> m_health;
    std::unique_ptr<WebProcessMemory> m_memory;
    Gtk::Label* m_connecting = nullptr; // owned by the box
    Gtk::Box* m_memoryBar = nullptr;    // owned by the box
    Gtk::Label* m_memoryText = nullptr; // owned by the bar
    sigc::signal<void()> m_memoryReloadClicked;
    bool m_spellChecking = true;
    ChatLanguage m_outgoingLanguage = ChatLanguage::English;
    // What the page was last told: (conversation, language); nothing yet.
    std::optional<std::pair<std::optional<std::string>, ChatLanguage>> m_conversationLanguage;
};

// The view's delegate: the bridge's owner and the navigation, window, file-chooser, download and
// notification handler. It holds the view weakly and disconnects every handler when it goes.
class ChatWebView::Coordinator {
public:
    Coordinator(WebKitWebView* view, WebKitUserContentManager* contentManager,
                WebKitNetworkSession* networkSession, WebEnvironment& environment);
    Coordinator(const Coordinator&) = delete;
    Coordinator& operator=(const Coordinator&) = delete;
    ~Coordinator();

    TranslationBridge& bridge() { return m_bridge; }
    std::string lastReloadToken;
    std::string sessionID;
    bool notificationsEnabled = true;
    // The account's own site: the only origin whose notification request is granted.
    std::optional<std::string> siteOrigin;
    // Downloads in progress and the file each one is written to.
    const std::map<WebKitDownload*, std::filesystem::path>& downloadDestinations() const {
        return m_downloadDestinations;
    }

private:
    static void scriptMessageCallback(WebKitUserContentManager*, JSCValue* value, gpointer self);
    static gboolean decidePolicyCallback(WebKitWebView*, WebKitPolicyDecision* decision,
                                         WebKitPolicyDecisionType type, gpointer self);
    static GtkWidget* createCallback(WebKitWebView*, WebKitNavigationAction* action, gpointer self);
    static gboolean runFileChooserCallback(WebKitWebView*, WebKitFileChooserRequest* request,
                                           gpointer self);
    static gboolean showNotificationCallback(WebKitWebView*, WebKitNotification*, gpointer self);
    static gboolean permissionRequestCallback(WebKitWebView*, WebKitPermissionRequest* request,
                                              gpointer self);
    static void downloadStartedCallback(WebKitNetworkSession*, WebKitDownload* download,
                                        gpointer self);
    static gboolean decideDestinationCallback(WebKitDownload* download, const char* suggested,
                                              gpointer self);
    static void downloadFinishedCallback(WebKitDownload* download, gpointer self);
    static void downloadFailedCallback(WebKitDownload* download, GError* error, gpointer self);
    static void viewGoneCallback(gpointer self, GObject* view);

    void evaluate(const std::string& script);
    std::filesystem::path downloadFolder() const;
    void forgetDownload(WebKitDownload* download);

    WebKitWebView* m_webView; // weak: cleared when the view is finalised
    GRef<WebKitUserContentManager> m_contentManager;
    GRef<WebKitNetworkSession> m_networkSession;
    WebEnvironment& m_environment;
    TranslationBridge m_bridge;
    std::map<WebKitDownload*, std::filesystem::path> m_downloadDestinations;
    std::map<WebKitDownload*, GRef<WebKitDownload>> m_downloads; // every download we listen to
    Glib::RefPtr<Gtk::FileChooserNative> m_fileChooser;
    sigc::connection m_fileChooserResponse;
    // The page's request the open chooser answers; a page waits for exactly one answer.
    GRef<WebKitFileChooserRequest> m_fileChooserRequest;
};

} // namespace aurelo
