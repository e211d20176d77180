#include "BenchPage.hpp"

#include "support/MainLoopWait.hpp"
#include "support/WebViewTestSupport.hpp"
#include "web/PageScript.hpp"
#include "web/WebPageCommand.hpp"

#include <gtk/gtk.h>
#include <webkit/webkit.h>

namespace aurelo::test {

namespace {

constexpr const char* kWorld = "aurelo";

void ensureGtk() {
    static const bool initialised = [] {
        g_setenv("GDK_BACKEND", "x11", FALSE);
        gtk_init();
        return true;
    }();
    (void)initialised;
}

ChatWebViewInputs benchInputs() {
    ChatWebViewInputs inputs;
    inputs.automaticMessageTranslation = true;
    inputs.isActive = true;
    inputs.translationFontSize = 14.0;
    inputs.translationFontColor = "#2563eb";
    inputs.ownMessageLanguage = ChatLanguage::English;
    return inputs;
}

} // namespace

BenchPage::BenchPage(int width, int height) {
    ensureGtk();

    m_manager = webkit_user_content_manager_new();
    g_signal_connect(m_manager, "script-message-received::translationBridge",
                     G_CALLBACK(messageCallback), this);
    webkit_user_content_manager_register_script_message_handler(m_manager, "translationBridge",
                                                                kWorld);

    m_view = WEBKIT_WEB_VIEW(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", m_manager, nullptr));
    g_object_unref(m_manager); // the view holds it from here on
    WebKitSettings* settings = webkit_web_view_get_settings(m_view);
    webkit_settings_set_hardware_acceleration_policy(settings,
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);

    m_window = gtk_window_new();
    gtk_window_set_decorated(GTK_WINDOW(m_window), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(m_window), width, height);
    gtk_window_set_child(GTK_WINDOW(m_window), GTK_WIDGET(m_view));
    gtk_window_present(GTK_WINDOW(m_window));
    runMainLoopUntil([this] { return gtk_widget_get_mapped(m_window); });
}

BenchPage::~BenchPage() {
    if (m_manager)
        g_signal_handlers_disconnect_by_data(m_manager, this);
    if (m_window)
        gtk_window_destroy(GTK_WINDOW(m_window));
}

void BenchPage::addResponseHeader(std::string name, std::string value) {
    m_site.addHeader(std::move(name), std::move(value));
}

bool BenchPage::load(const std::string& fixture, bool inject) {
    webkit_user_content_manager_remove_all_scripts(m_manager);
    if (inject) {
        const auto source = fillPageScript(pageScriptTemplate(), benchInputs());
        auto* script = webkit_user_script_new_for_world(
            source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
            WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END, kWorld, nullptr, nullptr);
        webkit_user_content_manager_add_script(m_manager, script);
        webkit_user_script_unref(script);
    }
    // Messages are cleared when the new document commits, so that a late post of the page being
    // left cannot be taken for one of the new page.
    struct LoadState {
        BenchPage* page;
        bool finished = false;
    } state{this};
    auto onLoad = +[](WebKitWebView*, WebKitLoadEvent event, gpointer data) {
        auto* load = static_cast<LoadState*>(data);
        if (event == WEBKIT_LOAD_COMMITTED)
            load->page->m_messages.clear();
        if (event == WEBKIT_LOAD_FINISHED)
            load->finished = true;
    };
    const gulong handler = g_signal_connect(m_view, "load-changed", G_CALLBACK(onLoad), &state);
    webkit_web_view_load_uri(m_view, m_site.url(fixture).c_str());
    const bool loaded = runMainLoopUntil([&] { return state.finished; });
    g_signal_handler_disconnect(m_view, handler);
    return loaded;
}

std::vector<nlohmann::json> BenchPage::messagesOfKind(const std::string& kind) const {
    std::vector<nlohmann::json> result;
    for (const auto& message : m_messages) {
        const bool plain = !message.contains("kind");
        if ((kind == "message" && plain) ||
            (!plain && message["kind"].is_string() && message["kind"] == kind))
            result.push_back(message);
    }
    return result;
}

nlohmann::json BenchPage::evaluate(const std::string& script) {
    const auto json = evaluateScript(m_view, script, kWorld);
    return json && *json != "undefined" ? nlohmann::json::parse(*json, nullptr, false)
                                        : nlohmann::json();
}

void BenchPage::messageCallback(WebKitUserContentManager*, JSCValue* value, gpointer self) {
    char* text = jsc_value_to_json(value, 0);
    auto* page = static_cast<BenchPage*>(self);
    page->m_messages.push_back(text ? nlohmann::json::parse(text, nullptr, false)
                                    : nlohmann::json());
    g_free(text);
}

} // namespace aurelo::test
