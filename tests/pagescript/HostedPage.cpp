#include "HostedPage.hpp"

#include "support/Programs.hpp"
#include "translation/TranslationNetwork.hpp"

#include <gdk/x11/gdkx.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>

#include <algorithm>
#include <cmath>

namespace aurelo::test {

namespace {

constexpr const char* kSessionID = "5a0c1f2e-7d43-4b8a-9e61-0f2d3c4b5a69";

// Records every call the host makes into the page, in order, before the script handles it.
constexpr const char* kAnswerRecorder = R"JS(
(() => {
    const delivered = window.__aureloDelivered = [];
    for (const name of ['aureloSetTranslation', 'aureloSetPageTranslation',
                        'aureloSetComposerTranslation', 'aureloSetComposerWarm',
                        'aureloShowContextTranslation', 'aureloSetVoiceTranslation',
                        'aureloSetTranslationActive', 'aureloTranslatePage', 'aureloRestorePage']) {
        const original = window[name];
        if (typeof original !== 'function') continue;
        window[name] = function (...args) {
            delivered.push([name, ...args]);
            return original.apply(this, args);
        };
    }
})()
)JS";

// The texts of a translation request, and whether they came as a batch.
std::optional<std::pair<nlohmann::json, bool>> translationTexts(const RecordedRequest& request) {
    if (request.path != "/api/translate" || !request.json || !request.json->is_object())
        return std::nullopt;
    const auto& body = *request.json;
    if (body.contains("texts") && body["texts"].is_array())
        return std::pair{body["texts"], true};
    return std::pair{nlohmann::json::array({body.value("text", nlohmann::json())}), false};
}

// Closes the window and its host after the last test, while GTK and WebKit are still up.
struct HostedPageEnvironment : ::testing::Environment {
    std::unique_ptr<HostedPage> page;
    void TearDown() override { page.reset(); }
};

auto* const kEnvironment = static_cast<HostedPageEnvironment*>(
    ::testing::AddGlobalTestEnvironment(new HostedPageEnvironment));

} // namespace

HostedPage& page() {
    if (!kEnvironment->page)
        kEnvironment->page = std::make_unique<HostedPage>();
    return *kEnvironment->page;
}

HostedPage::Backend::Backend(WebsiteDataStores& stores, const std::filesystem::path& downloads)
    : translationSession(TranslationNetwork::sessionConfiguration()),
      voiceSession(HttpSessionConfiguration{}),
      translation(service.origin(), translationSession, cache),
      environment{stores,
                  translation,
                  voiceSession,
                  service.origin(),
                  pageScriptTemplate(),
                  downloads,
                  [](const std::filesystem::path&) {},
                  false} {}

HostedPage::HostedPage() {
    g_setenv("GDK_BACKEND", "x11", FALSE);
    gtk_init();
    Gtk::init_gtkmm_internals();
    m_stores = std::make_unique<WebsiteDataStores>(m_root.path() / "data", m_root.path() / "cache");
    m_window = gtk_window_new();
    gtk_window_set_decorated(GTK_WINDOW(m_window), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(m_window), 1000, 800);
    gtk_window_present(GTK_WINDOW(m_window));
    runMainLoopUntil([this] { return gtk_widget_get_mapped(m_window); });
    m_xid = gdk_x11_surface_get_xid(gtk_native_get_surface(GTK_NATIVE(m_window)));
    // Nothing else takes the focus on the virtual display, so focusing once keeps key presses
    // quick, which tests of the composer's timings rely on. The first XTest key after the window
    // appears can be lost while focus settles: it is spent on a modifier no page reacts to.
    xdotool({"windowfocus", "--sync", std::to_string(m_xid)});
    xdotool({"key", "shift"});
    runMainLoopFor(200ms);
}

HostedPage::~HostedPage() {
    closeHost();
    // WebKit and libsoup finish with the view and the requests before their owners go.
    runMainLoopFor(50ms);
    m_backend.reset();
    m_retired.clear();
    gtk_window_destroy(GTK_WINDOW(m_window));
    m_stores.reset();
    m_leaks.expectAllFreed();
}

ChatWebViewInputs HostedPage::defaultInputs() {
    ChatWebViewInputs inputs;
    inputs.translationConfiguration = {TranslationProvider::Google, "token", "", ""};
    inputs.automaticMessageTranslation = inputs.receiveTranslationEnabled = inputs.isActive = true;
    inputs.translationFontSize = 14.0;
    inputs.translationFontColor = "#2563eb";
    inputs.inputLanguage = inputs.incomingLanguage = ChatLanguage::Chinese;
    inputs.outgoingLanguage = inputs.ownMessageLanguage = ChatLanguage::English;
    inputs.reloadToken = "00000000-0000-4000-8000-000000000000";
    return inputs;
}

void HostedPage::resize(int width, int height) {
    gtk_window_set_default_size(GTK_WINDOW(m_window), width, height);
    if (m_host)
        runMainLoopUntil([&] {
            auto* view = GTK_WIDGET(m_host->webView());
            return gtk_widget_get_width(view) == width && gtk_widget_get_height(view) == height;
        });
}

void HostedPage::closeHost() {
    if (!m_host)
        return;
    gtk_window_set_child(GTK_WINDOW(m_window), nullptr);
    m_host.reset();
    // The page of the last test must be gone before the next one starts.
    m_leaks.expectAllFreed();
}

bool HostedPage::open(const std::string& fixture, ChatWebViewInputs inputs) {
    closeHost();
    if (m_backend) {
        m_backend->service.clearRequests();
        m_retired.push_back(std::move(m_backend));
    }
    m_backend = std::make_unique<Backend>(*m_stores, m_root.path() / "downloads");
    m_backend->service.setResponder([this](const RecordedRequest& request) {
        return m_holding ? ScriptedAnswer::silence() : answer(request);
    });
    unread.clear();
    inputs.sessionID = kSessionID;
    inputs.pageURL = m_site.url(fixture);
    inputs.onUnreadCountChanged = [this](int count) { unread.push_back(count); };
    m_inputs = std::move(inputs);

    // The host starts loading in its constructor, but load events only arrive from the main
    // loop, so connecting now misses none.
    m_host = std::make_unique<ChatWebView>(m_inputs, m_backend->environment);
    auto* view = m_host->webView();
    m_leaks.watch(view, "the web view of " + fixture);
    int state = 0; // 1 finished, 2 failed
    auto onLoad = +[](WebKitWebView*, WebKitLoadEvent event, gpointer data) {
        if (event == WEBKIT_LOAD_FINISHED && *static_cast<int*>(data) == 0)
            *static_cast<int*>(data) = 1;
    };
    auto onFailure = +[](WebKitWebView*, WebKitLoadEvent, const char*, GError*, gpointer data) {
        *static_cast<int*>(data) = 2;
        return FALSE;
    };
    const gulong loadHandler = g_signal_connect(view, "load-changed", G_CALLBACK(onLoad), &state);
    const gulong failHandler = g_signal_connect(view, "load-failed", G_CALLBACK(onFailure), &state);
    gtk_window_set_child(GTK_WINDOW(m_window), GTK_WIDGET(m_host->gobj()));
    gtk_widget_grab_focus(GTK_WIDGET(view));
    const bool loaded = runMainLoopUntil([&] { return state != 0; }, 30s);
    g_signal_handler_disconnect(view, loadHandler);
    g_signal_handler_disconnect(view, failHandler);
    if (!loaded || state != 1)
        return false;
    evaluate(kAnswerRecorder);
    return true;
}

ScriptedAnswer HostedPage::answer(const RecordedRequest& request) const {
    if (respond)
        if (auto scripted = respond(request))
            return *scripted;
    if (request.path == "/api/transcribe")
        return ScriptedAnswer::json(200, {{"transcript", "transcript"}, {"translation", "译文"}});
    const auto texts = translationTexts(request);
    if (!texts)
        return ScriptedAnswer::json(404, {{"error", "no such path"}});
    const std::string target = request.json->value("target", std::string());
    nlohmann::json results = nlohmann::json::array();
    for (const auto& text : texts->first) {
        const std::string source = text.is_string() ? text.get<std::string>() : std::string();
        const auto found = translations.find(source);
        results.push_back(
            {{"text", found != translations.end() ? found->second : target + ":" + source},
             {"detectedLanguage", "en"}});
    }
    return ScriptedAnswer::json(200,
                                texts->second ? nlohmann::json{{"results", results}} : results[0]);
}

std::size_t HostedPage::release(const Responder& answer) {
    return m_backend->service.answerHeld(
        answer ? answer : [this](const RecordedRequest& request) -> std::optional<ScriptedAnswer> {
            return this->answer(request);
        });
}

std::vector<ServiceText> HostedPage::serviceTexts() const {
    std::vector<ServiceText> asked;
    for (const auto& request : m_backend->service.requests())
        if (const auto texts = translationTexts(request))
            for (const auto& text : texts->first)
                if (text.is_string())
                    asked.push_back({text.get<std::string>(),
                                     request.json->value("target", std::string()), texts->second});
    return asked;
}

nlohmann::json HostedPage::evaluateIn(const char* world, const std::string& script) {
    std::string error;
    const auto json = evaluateScript(m_host->webView(), script, world, &error);
    if (!json)
        return {{"error", error}};
    return *json == "undefined" ? nlohmann::json() : nlohmann::json::parse(*json, nullptr, false);
}

void HostedPage::xdotool(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "xdotool");
    runProgram(arguments);
    runMainLoopFor(30ms);
}

void HostedPage::clickAt(double x, double y, int button) {
    xdotool({"mousemove", "--window", std::to_string(m_xid), std::to_string(std::lround(x)),
             std::to_string(std::lround(y)), "click", std::to_string(button)});
}

bool HostedPage::clickElement(const std::string& selector, int button) {
    const auto centre = evaluateInPage(
        "(() => { const e = document.querySelector(" + nlohmann::json(selector).dump() +
        "); if (!e) return null; const r = e.getBoundingClientRect();"
        " return [r.left + r.width / 2, r.top + r.height / 2]; })()");
    if (!centre.is_array() || centre.size() != 2)
        return false;
    clickAt(centre[0].get<double>(), centre[1].get<double>(), button);
    return true;
}

} // namespace aurelo::test
