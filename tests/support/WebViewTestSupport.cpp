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
    auto evaluation = std::unique_ptr<std::shared_ptr<Evaluation>>(
        static_cast<std::shared_ptr<Evaluation>*>(data));
    GErrorHolder error;
    auto value = adoptGRef(
        webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, error.out()));
    if (value) {
        char* json = jsc_value_to_json(value.get(), 0);
        (*evaluation)->json = json ? json : "undefined";
        g_free(json);
    } else {
        (*evaluation)->error = error ? error->message : "no result";
    }
    (*evaluation)->done = true;
}

void loadChangedCallback(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    if (event == WEBKIT_LOAD_FINISHED)
        ++static_cast<LoadRecord*>(data)->finished;
}

// An emission hook rather than a handler: the host's own handler shows its failure page and
// stops the emission, so a handler connected after it would never hear of the failure.
gboolean loadFailedHook(GSignalInvocationHint*, guint count, const GValue* values, gpointer data) {
    auto& loads = *static_cast<std::map<WebKitWebView*, std::unique_ptr<LoadRecord>>*>(data);
    if (count < 4)
        return TRUE;
    auto it = loads.find(WEBKIT_WEB_VIEW(g_value_get_object(&values[0])));
    if (it != loads.end()) {
        const auto* error = static_cast<const GError*>(g_value_get_boxed(&values[3]));
        ++it->second->failed;
        it->second->lastFailure = error ? error->message : "";
    }
    return TRUE; // stays installed
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
        if (watched->object)
            g_object_remove_weak_pointer(G_OBJECT(watched->object), &watched->object);
}

void LeakWatcher::watch(gpointer object, std::string what) {
    auto& watched = m_watched.emplace_back(new Watched{object, std::move(what)});
    g_object_add_weak_pointer(G_OBJECT(object), &watched->object);
}

void LeakWatcher::expectAllFreed() {
    const auto alive = [&] {
        return std::ranges::count_if(m_watched, [](const auto& w) { return w->object; });
    };
    runMainLoopUntil([&] { return alive() == 0; }, std::chrono::seconds(2));
    for (const auto& watched : m_watched)
        if (watched->object)
            ADD_FAILURE() << watched->what << " outlived the test (a reference was not released)";
    std::erase_if(m_watched, [](const auto& w) { return !w->object; });
}

void WebViewTest::SetUpTestSuite() {
    static bool initialised = false;
    if (!initialised) {
        // As the application sets it; WebKit names the sender of page notifications with it.
        g_set_application_name("Aurelo翻译器");
        gtk_init();
        Gtk::init_gtkmm_internals();
        initialised = true;
    }
}

WebViewTest::WebViewTest() {
    gpointer viewClass = g_type_class_ref(WEBKIT_TYPE_WEB_VIEW);
    m_failureHook = g_signal_add_emission_hook(g_signal_lookup("load-failed", WEBKIT_TYPE_WEB_VIEW),
                                               0, loadFailedHook, &m_loads, nullptr);
    g_type_class_unref(viewClass);
    stores = std::make_unique<WebsiteDataStores>(m_root / "data", m_root / "cache");
    environment = std::make_unique<WebEnvironment>(WebEnvironment{
        *stores, service, voiceSession, fake.origin(),
        readFile(AURELO_WEB_FIXTURES "/bridge-script.js"), m_root / "downloads",
        [this](const std::filesystem::path& path) { revealed.push_back(path); }, false});
}

WebViewTest::~WebViewTest() {
    g_signal_remove_emission_hook(g_signal_lookup("load-failed", WEBKIT_TYPE_WEB_VIEW),
                                  m_failureHook);
    m_hosts.clear();
    environment.reset();
    stores.reset();
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
    auto host = std::make_unique<ChatWebView>(inputs, *environment);
    auto record = std::make_unique<LoadRecord>();
    WebKitWebView* view = host->webView();
    g_signal_connect(view, "load-changed", G_CALLBACK(loadChangedCallback), record.get());
    m_leaks.watch(view, "the web view of session " + inputs.sessionID);
    m_leaks.watch(webkit_web_view_get_network_session(view),
                  "the network session of session " + inputs.sessionID);
    m_loads[view] = std::move(record);
    m_hosts.push_back(std::move(host));
    return *m_hosts.back();
}

void WebViewTest::destroy(ChatWebView& host) {
    auto it =
        std::ranges::find_if(m_hosts, [&](const auto& owned) { return owned.get() == &host; });
    if (it == m_hosts.end())
        return;
    g_signal_handlers_disconnect_by_data(host.webView(), m_loads[host.webView()].get());
    m_loads.erase(host.webView());
    m_hosts.erase(it);
}

bool WebViewTest::waitForLoad(ChatWebView& host, int count, std::chrono::milliseconds deadline) {
    auto& record = *m_loads.at(host.webView());
    return runMainLoopUntil([&] { return record.finished >= count; }, deadline);
}

bool WebViewTest::waitForFailure(ChatWebView& host, std::chrono::milliseconds deadline) {
    auto& record = *m_loads.at(host.webView());
    return runMainLoopUntil([&] { return record.failed > 0; }, deadline);
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
