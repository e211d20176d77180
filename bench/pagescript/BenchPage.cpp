#include "BenchPage.hpp"

#include "support/MainLoopWait.hpp"

#include <gtk/gtk.h>
#include <libsoup/soup.h>
#include <webkit/webkit.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace aurelo::test {

namespace {

constexpr const char* kWorld = "aurelo";

void replaceAll(std::string& text, const std::string& placeholder, const std::string& value) {
    for (auto at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
}

std::string stringExpression(const std::string& value) {
    try {
        return nlohmann::json::array({value}).dump() + "[0]";
    } catch (const nlohmann::json::exception&) {
        return R"([""][0])";
    }
}

void ensureGtk() {
    static const bool initialised = [] {
        g_setenv("GDK_BACKEND", "x11", FALSE);
        gtk_init();
        return true;
    }();
    (void)initialised;
}

} // namespace

std::string fillPageScript(std::string script, const PageScriptSettings& settings) {
    const auto flag = [](bool value) { return std::string(value ? "true" : "false"); };
    replaceAll(script, "__SEND_TRANSLATE__", flag(settings.sendTranslation));
    replaceAll(script, "__TRANSLATION_ACTIVE__", flag(settings.translationActive));
    replaceAll(script, "__RECEIVE_TRANSLATE__", flag(settings.receiveTranslation));
    replaceAll(script, "__TRANSLATION_FONT_SIZE__",
               std::to_string(static_cast<long long>(std::trunc(settings.fontSize))));
    replaceAll(script, "__TRANSLATION_FONT_COLOR__", stringExpression(settings.fontColor));
    replaceAll(script, "__INPUT_LANGUAGE__", stringExpression(settings.inputLanguage));
    replaceAll(script, "__OUTGOING_LANGUAGE__", stringExpression(settings.outgoingLanguage));
    replaceAll(script, "__INCOMING_LANGUAGE__", stringExpression(settings.incomingLanguage));
    replaceAll(script, "__OWN_MESSAGE_LANGUAGE__", stringExpression(settings.ownMessageLanguage));
    return script;
}

std::string pageScriptSource() {
    auto text = FixtureSite::readFile(AURELO_PAGE_SCRIPT_PATH);
    if (text.empty())
        throw std::runtime_error("page script not found at " AURELO_PAGE_SCRIPT_PATH);
    return text;
}

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

std::string BenchPage::url(const std::string& path) const {
    return m_site.origin() + (path.starts_with('/') ? "" : "/") + path;
}

void BenchPage::addResponseHeader(std::string name, std::string value) {
    m_site.addHeader(std::move(name), std::move(value));
}

bool BenchPage::load(const std::string& fixture, const PageScriptSettings& settings, bool inject) {
    webkit_user_content_manager_remove_all_scripts(m_manager);
    if (inject) {
        const auto source = fillPageScript(pageScriptSource(), settings);
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
    webkit_web_view_load_uri(m_view, url(fixture).c_str());
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
    struct Pending {
        bool done = false;
        nlohmann::json result;
    } pending;
    auto onDone = +[](GObject* source, GAsyncResult* result, gpointer data) {
        auto* state = static_cast<Pending*>(data);
        GError* error = nullptr;
        JSCValue* value =
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
        if (error) {
            state->result = {{"error", error->message}};
            g_error_free(error);
        } else if (value) {
            if (!jsc_value_is_undefined(value)) {
                char* text = jsc_value_to_json(value, 0);
                if (text)
                    state->result = nlohmann::json::parse(text, nullptr, false);
                g_free(text);
            }
            g_object_unref(value);
        }
        state->done = true;
    };
    webkit_web_view_evaluate_javascript(m_view, script.c_str(), -1, kWorld, nullptr, nullptr,
                                        onDone, &pending);
    runMainLoopUntil([&] { return pending.done; });
    return pending.result;
}

void BenchPage::messageCallback(WebKitUserContentManager*, JSCValue* value, gpointer self) {
    char* text = jsc_value_to_json(value, 0);
    auto* page = static_cast<BenchPage*>(self);
    page->m_messages.push_back(text ? nlohmann::json::parse(text, nullptr, false)
                                    : nlohmann::json());
    g_free(text);
}

} // namespace aurelo::test
