#include "webview/ChatWebView.hpp"
#include "web/WebPageCommand.hpp"
#include "webview/PageNotificationPermissions.hpp"
#include "webview/PageSpelling.hpp"
#include "webview/WebEngineContext.hpp"

#include "web/DownloadNaming.hpp"
#include "web/FileManagerReveal.hpp"
#include "web/NavigationPolicy.hpp"
#include "web/PageScript.hpp"
#include "web/ProxyRelay.hpp"
#include "web/ProxyRoute.hpp"
#include "web/WebLogger.hpp"

#include <glibmm/main.h>
#include <gtkmm/dialog.h>
#include <gtkmm/label.h>
#include <gtkmm/window.h>

#include <cmath>
#include <system_error>
#include <utility>

namespace aurelo {

namespace {

// No exception may cross back into GLib: a failure inside a handler is dropped with the
// message, as a malformed one would be.
template <typename F> void guarded(F&& function) {
    try {
        function();
    } catch (...) {
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Host

ChatWebView::ChatWebView(const Inputs& inputs, WebEnvironment& environment)
    : Gtk::Box(Gtk::Orientation::VERTICAL), m_sessionID(inputs.sessionID) {
    const auto route = proxyRoute(inputs.proxyType, inputs.proxyHost, inputs.proxyPort,
                                  inputs.proxyUsername, inputs.proxyPassword);
    // An account whose proxy cannot be used gets no page at all: neither the desktop's proxy
    // nor a direct connection may stand in for the one it was given.
    if (!route) {
        refuse(route.error(), inputs);
        return;
    }
    auto networkSession = environment.dataStores.networkSession(inputs.sessionID, *route);
    if (!networkSession) {
        refuse(std::string(kProxyUnreachable), inputs);
        return;
    }

    m_contentManager = adoptGRef(webkit_user_content_manager_new());
    const std::string script = fillPageScript(environment.pageScript, inputs);
    auto* userScript = webkit_user_script_new_for_world(
        script.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END, kScriptWorld, nullptr, nullptr);
    webkit_user_content_manager_add_script(m_contentManager.get(), userScript);
    webkit_user_script_unref(userScript);

    auto settings = adoptGRef(webkit_settings_new());
    // With developer extras on, the console keeps the arguments of the last messages a page
    // logged alive, and chat applications log a lot; support turns them on when needed.
    webkit_settings_set_enable_developer_extras(settings.get(), environment.developerExtras);
    // A chat page never goes back; the back/forward cache would only keep the login page's
    // process suspended after the cross-site redirect that follows a login.
    webkit_settings_set_enable_page_cache(settings.get(), FALSE);
    if (environment.softwareRendering)
        webkit_settings_set_hardware_acceleration_policy(settings.get(),
                                                         WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    // WebRTC would reach peers around the session's proxy and reveal the real address.
    webkit_settings_set_enable_webrtc(settings.get(), FALSE);
    webkit_settings_set_user_agent(settings.get(), kUserAgent);

    // Before the view exists, so that the web process WebKit starts for it has the grant.
    PageNotificationPermissions::allow(inputs.pageURL);
    m_webView = adoptGRef(WEBKIT_WEB_VIEW(g_object_ref_sink(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", WebEngineContext::shared(),
                     "network-session", networkSession.get(), "user-content-manager",
                     m_contentManager.get(), "settings", settings.get(), nullptr))));
    // Over a proxy the first load can take a while, and the page area is blank meanwhile.
    m_connecting = Gtk::make_managed<Gtk::Label>(std::string(PageHealth::kConnecting));
    m_connecting->add_css_class("dim-label");
    m_connecting->set_margin(8);
    m_connecting->set_visible(false);
    append(*m_connecting);
    buildMemoryBar();
    auto* widget = Glib::wrap(GTK_WIDGET(m_webView.get()));
    widget->set_hexpand(true);
    widget->set_vexpand(true);
    append(*widget);
    m_spellChecking = inputs.spellChecking;
    m_outgoingLanguage = inputs.outgoingLanguage;
    widget->signal_map().connect(sigc::mem_fun(*this, &ChatWebView::applySpelling));

    m_coordinator = std::make_unique<Coordinator>(m_webView.get(), m_contentManager.get(),
                                                  networkSession.get(), environment);
    auto& bridge = m_coordinator->bridge();
    bridge.setConfiguration(inputs.translationConfiguration);
    bridge.setLastTranslationActive(inputs.isActive);
    bridge.setOnUnreadCountChanged(inputs.onUnreadCountChanged);
    bridge.setOnMessagesRecognised(inputs.onMessagesRecognised);
    // A report comes after every load of the page too, and a page that loaded again knows no
    // language yet: it is told again even when the answer is the same.
    bridge.setOnConversationReported(
        [this, report = inputs.onConversationReported](std::optional<std::string> conversation) {
            m_conversationLanguage.reset();
            if (report)
                report(std::move(conversation));
        });
    bridge.setOnIncomingLanguage(inputs.onIncomingLanguage);
    m_health = std::make_unique<PageHealthMonitor>(
        m_webView.get(), route->has_value(),
        [connecting = m_connecting, report = inputs.onHealthChanged](const PageHealth& health) {
            connecting->set_visible(health.connecting);
            if (report)
                report(health);
        });
    m_health->setProxyFailureLookup(
        [&stores = environment.dataStores, id = inputs.sessionID](std::string_view url) {
            const ProxyRelay* relay = stores.relay(id);
            return relay ? relay->failureFor(url) : std::nullopt;
        });
    bridge.setOnLoginReported(
        [health = m_health.get()](bool loggedOut) { health->loginReported(loggedOut); });
    m_coordinator->lastReloadToken = inputs.reloadToken;
    if (inputs.onMemoryMeasured)
        m_memory = std::make_unique<WebProcessMemory>(
            m_webView.get(), environment.memoryCheckInterval, inputs.onMemoryMeasured);
    m_coordinator->sessionID = inputs.sessionID;
    m_coordinator->siteOrigin = PageNotificationPermissions::originOf(inputs.pageURL);
    m_coordinator->notificationsEnabled = inputs.notificationsEnabled;

    webkit_web_view_set_zoom_level(m_webView.get(), inputs.pageZoom);
    webkit_web_view_load_uri(m_webView.get(), inputs.pageURL.c_str());
}

ChatWebView::~ChatWebView() {
    m_memory.reset();
    m_coordinator.reset();
    m_health.reset();
    if (m_webView) {
        webkit_web_view_stop_loading(m_webView.get());
        remove(*Glib::wrap(GTK_WIDGET(m_webView.get())));
    }
}

void ChatWebView::refuse(const std::string& reason, const Inputs& inputs) {
    m_refusal = PageHealth{PageHealthState::NetworkError, reason, false};
    auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
    // Near the top: the page area is short on a laptop screen, and its lower part may be
    // covered by the translation box.
    box->set_valign(Gtk::Align::START);
    box->set_margin_top(48);
    box->set_margin_start(24);
    box->set_margin_end(24);
    box->set_vexpand(true);
    box->set_hexpand(true);
    auto* headline = Gtk::make_managed<Gtk::Label>(m_refusal->line());
    headline->add_css_class("title-3");
    auto* note = Gtk::make_managed<Gtk::Label>(std::string(kRefusedPageNote));
    note->add_css_class("dim-label");
    for (auto* label : {headline, note}) {
        label->set_wrap(true);
        label->set_max_width_chars(60);
        label->set_justify(Gtk::Justification::CENTER);
    }
    box->append(*headline);
    box->append(*note);
    append(*box);
    // After the window has taken the page in, as a monitor's report would come.
    if (inputs.onHealthChanged)
        Glib::signal_idle().connect_once(sigc::track_obj(
            [report = inputs.onHealthChanged, health = *m_refusal] { report(health); }, *this));
}

void ChatWebView::update(const Inputs& inputs) {
    if (!m_webView)
        return;
    auto& bridge = m_coordinator->bridge();
    bridge.setConfiguration(inputs.translationConfiguration);
    bridge.applyTranslationActive(inputs.isActive);
    m_coordinator->notificationsEnabled = inputs.notificationsEnabled;
    // Setting the zoom level relayouts the page even when the value is the same, and the stored
    // zoom comes back from the defaults file with rounding noise: only a real step counts.
    constexpr double kZoomTolerance = 0.001;
    if (std::abs(webkit_web_view_get_zoom_level(m_webView.get()) - inputs.pageZoom) >
        kZoomTolerance)
        webkit_web_view_set_zoom_level(m_webView.get(), inputs.pageZoom);
    if (std::exchange(m_spellChecking, inputs.spellChecking) != inputs.spellChecking &&
        gtk_widget_get_mapped(GTK_WIDGET(m_webView.get())))
        applySpelling();
    applyConversationLanguage(inputs);
    if (inputs.reloadToken != m_coordinator->lastReloadToken) {
        m_coordinator->lastReloadToken = inputs.reloadToken;
        webkit_web_view_reload(m_webView.get());
    }
}

void ChatWebView::applyConversationLanguage(const Inputs& inputs) {
    if (!inputs.conversationLanguage || inputs.conversationLanguage == m_conversationLanguage)
        return;
    m_conversationLanguage = inputs.conversationLanguage;
    const auto& [conversation, language] = *inputs.conversationLanguage;
    const nlohmann::json target = std::string(code(language));
    const nlohmann::json open = conversation ? nlohmann::json(*conversation) : nlohmann::json();
    if (auto script =
            pageCallScript("aureloSetOutgoingLanguage", nlohmann::json::array({target, open})))
        evaluateInPrivateWorld(m_webView.get(), *script);
    // The composer is checked in the language the agent's text now goes out in.
    if (std::exchange(m_outgoingLanguage, language) != language && m_spellChecking &&
        gtk_widget_get_mapped(GTK_WIDGET(m_webView.get())))
        applySpelling();
}

void ChatWebView::buildMemoryBar() {
    m_memoryBar = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
    m_memoryBar->add_css_class("aurelo-memory-bar");
    m_memoryText = Gtk::make_managed<Gtk::Label>();
    m_memoryText->set_hexpand(true);
    m_memoryText->set_xalign(0);
    m_memoryText->set_wrap(true);
    auto* reload = Gtk::make_managed<Gtk::Button>(kMemoryReloadLabel);
    reload->add_css_class("suggested-action");
    reload->signal_clicked().connect([this] { m_memoryReloadClicked.emit(); });
    m_memoryBar->append(*m_memoryText);
    m_memoryBar->append(*reload);
    m_memoryBar->set_visible(false);
    append(*m_memoryBar);
}

void ChatWebView::setMemoryOffer(const std::optional<std::string>& text) {
    if (!m_memoryBar)
        return;
    if (text)
        m_memoryText->set_text(*text);
    m_memoryBar->set_visible(text.has_value());
}

void ChatWebView::reload() {
    if (!m_webView)
        return;
    // A reload in the same web process gives nothing back: the old document's heap stays with
    // the process (measured: 312 MB before and after). A new process starts empty. The account's
    // process is its own (its own network session), so no other page goes with it.
    m_health->endProcessOnPurpose(
        [view = m_webView.get()] { webkit_web_view_terminate_web_process(view); });
    webkit_web_view_reload(m_webView.get());
}

void ChatWebView::applySpelling() {
    PageSpelling::apply(m_spellChecking, m_outgoingLanguage);
}

void ChatWebView::runPageCommand(const WebPageCommand& command) {
    if (!m_webView)
        return;
    evaluateInPrivateWorld(m_webView.get(), pageCommandScript(command.action));
}

bool ChatWebView::insertText(const WebTextInsertion& insertion) {
    if (!m_webView || insertion.sessionID != m_sessionID || insertion.text.empty())
        return false;
    evaluateInPrivateWorld(m_webView.get(), textInsertionScript(insertion.text));
    return true;
}

void ChatWebView::evaluateInPrivateWorld(WebKitWebView* view, const std::string& script) {
    webkit_web_view_evaluate_javascript(view, script.c_str(), static_cast<gssize>(script.size()),
                                        kScriptWorld, nullptr, nullptr, nullptr, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Coordinator

ChatWebView::Coordinator::Coordinator(WebKitWebView* view, WebKitUserContentManager* contentManager,
                                      WebKitNetworkSession* networkSession,
                                      WebEnvironment& environment)
    : m_webView(view), m_contentManager(contentManager), m_networkSession(networkSession),
      m_environment(environment),
      m_bridge(environment.translationService, environment.voiceSession, environment.serviceOrigin,
               [this](const std::string& script) { evaluate(script); }) {
    g_object_weak_ref(G_OBJECT(view), viewGoneCallback, this);

    webkit_user_content_manager_register_script_message_handler(contentManager, kHandlerName,
                                                                kScriptWorld);
    g_signal_connect(contentManager, "script-message-received::translationBridge",
                     G_CALLBACK(scriptMessageCallback), this);

    g_signal_connect(view, "decide-policy", G_CALLBACK(decidePolicyCallback), this);
    g_signal_connect(view, "create", G_CALLBACK(createCallback), this);
    g_signal_connect(view, "run-file-chooser", G_CALLBACK(runFileChooserCallback), this);
    g_signal_connect(view, "show-notification", G_CALLBACK(showNotificationCallback), this);
    g_signal_connect(view, "permission-request", G_CALLBACK(permissionRequestCallback), this);
    g_signal_connect(networkSession, "download-started", G_CALLBACK(downloadStartedCallback), this);
}

ChatWebView::Coordinator::~Coordinator() {
    g_signal_handlers_disconnect_by_data(m_contentManager.get(), this);
    webkit_user_content_manager_unregister_script_message_handler(m_contentManager.get(),
                                                                  kHandlerName, kScriptWorld);
    g_signal_handlers_disconnect_by_data(m_networkSession.get(), this);
    for (auto& [download, reference] : m_downloads)
        g_signal_handlers_disconnect_by_data(download, this);
    if (m_fileChooser) {
        m_fileChooserResponse.disconnect();
        m_fileChooser->hide();
    }
    if (m_fileChooserRequest)
        webkit_file_chooser_request_cancel(m_fileChooserRequest.get());
    if (m_webView) {
        g_signal_handlers_disconnect_by_data(m_webView, this);
        g_object_weak_unref(G_OBJECT(m_webView), viewGoneCallback, this);
    }
}

void ChatWebView::Coordinator::viewGoneCallback(gpointer self, GObject*) {
    static_cast<Coordinator*>(self)->m_webView = nullptr;
}

void ChatWebView::Coordinator::evaluate(const std::string& script) {
    if (m_webView)
        evaluateInPrivateWorld(m_webView, script);
}

void ChatWebView::Coordinator::scriptMessageCallback(WebKitUserContentManager*, JSCValue* value,
                                                     gpointer self) {
    guarded([&] {
        // JSON is the one place where the page's value becomes ours; a value without a JSON form
        // (undefined, a function, a cycle) is not an object and is ignored.
        const GCharPtr json(value ? jsc_value_to_json(value, 0) : nullptr);
        const BridgeMessage message =
            json ? bridgeMessageFromJsonText(json.get()) : BridgeMessage{IgnoredMessage{}};
        static_cast<Coordinator*>(self)->m_bridge.receive(message);
    });
}

gboolean ChatWebView::Coordinator::decidePolicyCallback(WebKitWebView*,
                                                        WebKitPolicyDecision* decision,
                                                        WebKitPolicyDecisionType type, gpointer) {
    switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION:
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION: {
        auto* action = webkit_navigation_policy_decision_get_navigation_action(
            WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        auto* request = action ? webkit_navigation_action_get_request(action) : nullptr;
        const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
        if (uri && isNavigableURI(uri))
            webkit_policy_decision_use(decision);
        else
            webkit_policy_decision_ignore(decision);
        return TRUE;
    }
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: {
        auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
        if (!webkit_response_policy_decision_is_mime_type_supported(response)) {
            webkit_policy_decision_download(decision);
            return TRUE;
        }
        // Shown as usual; WebKit's own handling still turns an attachment into a download.
        return FALSE;
    }
    }
    return FALSE;
}

GtkWidget* ChatWebView::Coordinator::createCallback(WebKitWebView*, WebKitNavigationAction* action,
                                                    gpointer self) {
    auto* coordinator = static_cast<Coordinator*>(self);
    auto* request = action ? webkit_navigation_action_get_request(action) : nullptr;
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    // Pop-ups replace the chat page in this view; the load passes the navigation policy again.
    if (uri && *uri && coordinator->m_webView)
        webkit_web_view_load_uri(coordinator->m_webView, uri);
    return nullptr;
}

gboolean ChatWebView::Coordinator::runFileChooserCallback(WebKitWebView*,
                                                          WebKitFileChooserRequest* request,
                                                          gpointer self) {
    auto* coordinator = static_cast<Coordinator*>(self);
    guarded([&] {
        // A chooser still open for an earlier request is closed; that request gets no files.
        if (coordinator->m_fileChooser) {
            coordinator->m_fileChooserResponse.disconnect();
            coordinator->m_fileChooser->hide();
        }
        if (auto earlier = std::exchange(coordinator->m_fileChooserRequest, {}))
            webkit_file_chooser_request_cancel(earlier.get());

        Gtk::Window* parent = nullptr;
        if (coordinator->m_webView)
            if (auto* root = gtk_widget_get_root(GTK_WIDGET(coordinator->m_webView));
                root && GTK_IS_WINDOW(root))
                parent = Glib::wrap(GTK_WINDOW(root));
        auto chooser = Gtk::FileChooserNative::create("", Gtk::FileChooser::Action::OPEN);
        if (parent)
            chooser->set_transient_for(*parent);
        chooser->set_modal(false);
        chooser->set_select_multiple(webkit_file_chooser_request_get_select_multiple(request));
        // Images, films, sound and any other data file: in effect every file, folders excluded,
        // which is what the OPEN action offers without a filter.
        coordinator->m_fileChooserRequest = GRef<WebKitFileChooserRequest>(request);
        coordinator->m_fileChooserResponse =
            chooser->signal_response().connect([coordinator](int response) {
                auto pending = std::exchange(coordinator->m_fileChooserRequest, {});
                if (!pending)
                    return;
                std::vector<std::string> paths;
                if (response == static_cast<int>(Gtk::ResponseType::ACCEPT)) {
                    auto files = coordinator->m_fileChooser->get_files();
                    for (guint i = 0; i < files->get_n_items(); ++i)
                        if (auto file = std::dynamic_pointer_cast<Gio::File>(files->get_object(i)))
                            if (!file->get_path().empty())
                                paths.push_back(file->get_path());
                }
                if (paths.empty()) {
                    webkit_file_chooser_request_cancel(pending.get());
                    return;
                }
                std::vector<const char*> list;
                for (const auto& path : paths)
                    list.push_back(path.c_str());
                list.push_back(nullptr);
                webkit_file_chooser_request_select_files(pending.get(), list.data());
            });
        coordinator->m_fileChooser = chooser;
        chooser->show();
    });
    return TRUE;
}

gboolean ChatWebView::Coordinator::showNotificationCallback(WebKitWebView* view,
                                                            WebKitNotification* notification,
                                                            gpointer self) {
    // TRUE claims the notification (shown by us, or not at all); FALSE lets WebKit post it to
    // the desktop's notification service itself, which works while the window is hidden too.
    auto* coordinator = static_cast<Coordinator*>(self);
    const auto& environment = coordinator->m_environment;
    if (environment.doNotDisturb || (environment.quietHoursNow && environment.quietHoursNow()) ||
        !coordinator->notificationsEnabled)
        return TRUE;
    bool shown = false;
    guarded([&] {
        if (auto* notifications = coordinator->m_environment.pageNotifications)
            shown = notifications->show(coordinator->sessionID, view, notification);
    });
    return shown ? TRUE : FALSE;
}

gboolean ChatWebView::Coordinator::permissionRequestCallback(WebKitWebView* view,
                                                             WebKitPermissionRequest* request,
                                                             gpointer self) {
    // New-message notifications are the reason to keep chat pages open in the background; the
    // account's own site has them from the start, and a page of any other site that the view
    // was led to is refused. Every other request (camera, microphone, location) gets WebKit's
    // default answer.
    if (!WEBKIT_IS_NOTIFICATION_PERMISSION_REQUEST(request))
        return FALSE;
    const auto& own = static_cast<Coordinator*>(self)->siteOrigin;
    const char* uri = webkit_web_view_get_uri(view);
    if (own && uri && PageNotificationPermissions::originOf(uri) == own)
        webkit_permission_request_allow(request);
    else
        webkit_permission_request_deny(request);
    return TRUE;
}

std::filesystem::path ChatWebView::Coordinator::downloadFolder() const {
    return m_environment.downloadFolder.empty() ? defaultDownloadFolder()
                                                : m_environment.downloadFolder;
}

void ChatWebView::Coordinator::downloadStartedCallback(WebKitNetworkSession*,
                                                       WebKitDownload* download, gpointer self) {
    auto* coordinator = static_cast<Coordinator*>(self);
    // The network session is the session's, but only this view's downloads are ours.
    if (!coordinator->m_webView || webkit_download_get_web_view(download) != coordinator->m_webView)
        return;
    coordinator->m_downloads.emplace(download, GRef<WebKitDownload>(download));
    g_signal_connect(download, "decide-destination", G_CALLBACK(decideDestinationCallback), self);
    g_signal_connect(download, "finished", G_CALLBACK(downloadFinishedCallback), self);
    g_signal_connect(download, "failed", G_CALLBACK(downloadFailedCallback), self);
}

gboolean ChatWebView::Coordinator::decideDestinationCallback(WebKitDownload* download,
                                                             const char* suggested, gpointer self) {
    auto* coordinator = static_cast<Coordinator*>(self);
    guarded([&] {
        const auto folder = coordinator->downloadFolder();
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        // A name chosen for a download that has not created its file yet is taken as well.
        auto taken = [coordinator](const std::filesystem::path& path) {
            std::error_code statusError;
            if (std::filesystem::exists(std::filesystem::symlink_status(path, statusError)))
                return true;
            for (const auto& [other, destination] : coordinator->m_downloadDestinations)
                if (destination == path)
                    return true;
            return false;
        };
        const auto destination = freeDownloadPath(folder, suggested ? suggested : "", taken);
        coordinator->m_downloadDestinations[download] = destination;
        webkit_download_set_destination(download, destination.c_str());
    });
    return TRUE;
}

void ChatWebView::Coordinator::forgetDownload(WebKitDownload* download) {
    m_downloadDestinations.erase(download);
    if (auto it = m_downloads.find(download); it != m_downloads.end()) {
        g_signal_handlers_disconnect_by_data(download, this);
        m_downloads.erase(it);
    }
}

void ChatWebView::Coordinator::downloadFinishedCallback(WebKitDownload* download, gpointer self) {
    auto* coordinator = static_cast<Coordinator*>(self);
    guarded([&] {
        auto it = coordinator->m_downloadDestinations.find(download);
        if (it == coordinator->m_downloadDestinations.end()) {
            coordinator->forgetDownload(download);
            return;
        }
        const auto destination = it->second;
        coordinator->forgetDownload(download);
        webLogger::downloadCompleted(destination.filename().string());
        if (coordinator->m_environment.revealDownload)
            coordinator->m_environment.revealDownload(destination);
        else
            revealInFileManager(destination);
    });
}

void ChatWebView::Coordinator::downloadFailedCallback(WebKitDownload* download, GError* error,
                                                      gpointer self) {
    auto* coordinator = static_cast<Coordinator*>(self);
    guarded([&] {
        // "finished" follows "failed"; without an entry it only lets go of the download.
        coordinator->m_downloadDestinations.erase(download);
        webLogger::downloadFailed(error && error->message ? error->message : "");
    });
}

} // namespace aurelo
