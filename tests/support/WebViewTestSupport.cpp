#include "support/WebViewTestSupport.hpp"

#include <gtkmm/init.h>

namespace aurelo::test {

namespace {

struct Evaluation {
    bool done = false;
    std::optional<std::string> json;
    std::string error;
};

void evaluationDoneCallback(GObject* view, GAsyncResult* result, gpointer data) {
    // Shared with the caller, which may have given up waiting before WebKit answers.
    const std::unique_ptr<std::shared_ptr<Evaluation>> owner(
        static_cast<std::shared_ptr<Evaluation>*>(data));
    auto& evaluation = **owner;
    GErrorHolder error;
    auto value = adoptGRef(
        webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, error.out()));
    if (value) {
        const auto json = adoptString(jsc_value_to_json(value.get(), 0));
        evaluation.json = json.empty() ? "undefined" : json;
    } else {
        evaluation.error = error->message;
    }
    evaluation.done = true;
}

void loadChangedCallback(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    if (event == WEBKIT_LOAD_FINISHED)
        ++static_cast<LoadRecord*>(data)->finished;
}

// An emission hook rather than a handler: the host's own handler shows its failure page and
// stops the emission, so a handler connected after it would never hear of the failure.
gboolean loadFailedHook(GSignalInvocationHint*, guint, const GValue* values, gpointer data) {
    auto& loads = *static_cast<std::map<WebKitWebView*, std::unique_ptr<LoadRecord>>*>(data);
    if (auto it = loads.find(WEBKIT_WEB_VIEW(g_value_get_object(&values[0]))); it != loads.end()) {
        ++it->second->failed;
        it->second->lastFailure =
            static_cast<const GError*>(g_value_get_boxed(&values[3]))->message;
    }
    return TRUE; // stays installed
}

guint loadFailedSignal() {
    static const auto* viewClass = g_type_class_ref(WEBKIT_TYPE_WEB_VIEW); // makes its signals
    return viewClass ? g_signal_lookup("load-failed", WEBKIT_TYPE_WEB_VIEW) : 0;
}

} // namespace

std::optional<std::string> evaluateScript(WebKitWebView* view, const std::string& script,
                                          const char* world, std::string* error) {
    auto evaluation = std::make_shared<Evaluation>();
    webkit_web_view_evaluate_javascript(view, script.c_str(), static_cast<gssize>(script.size()),
                                        world, nullptr, nullptr, evaluationDoneCallback,
                                        new std::shared_ptr<Evaluation>(evaluation));
    if (!runMainLoopUntil([&] { return evaluation->done; }))
        evaluation->error = "no answer from the page";
    if (error)
        *error = evaluation->error;
    return evaluation->json;
}

LeakWatcher::~LeakWatcher() {
    for (const auto& watched : m_watched)
        if (watched->first)
            g_object_remove_weak_pointer(G_OBJECT(watched->first), &watched->first);
}

void LeakWatcher::watch(gpointer object, std::string what) {
    auto& watched = m_watched.emplace_back(new std::pair{object, std::move(what)});
    g_object_add_weak_pointer(G_OBJECT(object), &watched->first);
}

void LeakWatcher::expectAllFreed() {
    runMainLoopUntil(
        [&] { return std::ranges::none_of(m_watched, [](auto& w) { return w->first; }); },
        std::chrono::seconds(2));
    for (const auto& watched : m_watched)
        if (watched->first)
            ADD_FAILURE() << watched->second << " outlived the test (a reference was not released)";
    std::erase_if(m_watched, [](const auto& w) { return !w->first; });
}

void WebViewTest::SetUpTestSuite() {
    [[maybe_unused]] static const bool initialised = [] {
        // As the application sets it; WebKit names the sender of page notifications with it.
        g_set_application_name("Aurelo翻译器");
        gtk_init();
        Gtk::init_gtkmm_internals();
        return true;
    }();
}

WebViewTest::WebViewTest()
    : stores(std::make_unique<WebsiteDataStores>(m_root / "data", m_root / "cache")),
      environment(std::make_unique<WebEnvironment>(WebEnvironment{
          *stores, service, voiceSession, fake.origin(),
          readFile(AURELO_WEB_FIXTURES "/bridge-script.js"), m_root / "downloads",
          [this](const std::filesystem::path& path) { revealed.push_back(path); }, false})),
      m_failureHook(
          g_signal_add_emission_hook(loadFailedSignal(), 0, loadFailedHook, &m_loads, nullptr)) {}

WebViewTest::~WebViewTest() {
    g_signal_remove_emission_hook(loadFailedSignal(), m_failureHook);
}

void WebViewTest::TearDown() {
    while (!m_hosts.empty())
        destroy(*m_hosts.back());
    // Let WebKit finish with the views and sessions before their owners and directories go.
    runMainLoopFor(std::chrono::milliseconds(50));
    environment.reset();
    stores.reset();
    m_leaks.expectAllFreed();
}

ChatWebViewInputs WebViewTest::inputs(const std::string& sessionId, const std::string& path) const {
    ChatWebViewInputs result;
    result.sessionID = sessionId;
    result.pageURL = server.url(path);
    result.translationConfiguration = {TranslationProvider::Google, "token", "", ""};
    result.isActive = true;
    result.reloadToken = "00000000-0000-4000-8000-000000000000";
    return result;
}

ChatWebView& WebViewTest::open(const ChatWebViewInputs& inputs) {
    auto& host = *m_hosts.emplace_back(std::make_unique<ChatWebView>(inputs, *environment));
    WebKitWebView* view = host.webView();
    if (!view) // an account refused a page
        return host;
    auto& record = *(m_loads[view] = std::make_unique<LoadRecord>());
    g_signal_connect(view, "load-changed", G_CALLBACK(loadChangedCallback), &record);
    m_leaks.watch(view, "the web view of session " + inputs.sessionID);
    m_leaks.watch(webkit_web_view_get_network_session(view),
                  "the network session of session " + inputs.sessionID);
    return host;
}

void WebViewTest::destroy(ChatWebView& host) {
    if (auto it = m_loads.find(host.webView()); it != m_loads.end()) {
        g_signal_handlers_disconnect_by_data(host.webView(), it->second.get());
        m_loads.erase(it);
    }
    std::erase_if(m_hosts, [&](const auto& owned) { return owned.get() == &host; });
}

bool WebViewTest::waitForLoad(ChatWebView& host, int count, std::chrono::milliseconds deadline) {
    return runMainLoopUntil([&] { return loads(host).finished >= count; }, deadline);
}

std::optional<std::string> WebViewTest::evaluate(ChatWebView& host, const std::string& script,
                                                 const char* world) {
    return evaluateScript(host.webView(), script, world);
}

bool WebViewTest::waitForValue(ChatWebView& host, const std::string& script,
                               const std::string& expected, const char* world,
                               std::chrono::milliseconds deadline) {
    return runMainLoopUntil([&] { return evaluate(host, script, world) == expected; }, deadline);
}

std::string WebViewTest::answers(ChatWebView& host) {
    return evaluate(host, "window.aureloAnswers").value_or("<none>");
}

} // namespace aurelo::test
