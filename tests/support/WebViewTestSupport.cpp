#include "support/WebViewTestSupport.hpp"

#include <gtkmm/init.h>
#include <libsoup/soup.h>

#include <fstream>
#include <sstream>

namespace aurelo::test {

std::string readFixture(const std::string& name) {
    std::ifstream file(std::string(AURELO_WEB_FIXTURES) + "/" + name, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

FixtureServer::FixtureServer() : m_server(adoptGRef(soup_server_new(nullptr, nullptr))) {
    soup_server_add_handler(m_server.get(), nullptr, handleCallback, this, nullptr);
    GErrorHolder error;
    soup_server_listen_local(m_server.get(), 0, SOUP_SERVER_LISTEN_IPV4_ONLY, error.out());
    GSList* uris = soup_server_get_uris(m_server.get());
    m_port = static_cast<std::uint16_t>(g_uri_get_port(static_cast<GUri*>(uris->data)));
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
}

FixtureServer::~FixtureServer() {
    soup_server_disconnect(m_server.get());
}

std::string FixtureServer::url(const std::string& path, const std::string& host) const {
    return "http://" + host + ":" + std::to_string(m_port) + path;
}

void FixtureServer::route(const std::string& path, FixtureResponse response) {
    m_routes[path] = std::move(response);
}

std::vector<std::string> FixtureServer::hostsRequesting(const std::string& path) const {
    std::vector<std::string> hosts;
    for (const auto& [requested, host] : m_requests)
        if (requested == path)
            hosts.push_back(host);
    return hosts;
}

std::size_t FixtureServer::requestCount(const std::string& path) const {
    return hostsRequesting(path).size();
}

void FixtureServer::handleCallback(SoupServer*, SoupServerMessage* message, const char* path,
                                   GHashTable*, gpointer data) {
    auto* self = static_cast<FixtureServer*>(data);
    const char* host =
        soup_message_headers_get_one(soup_server_message_get_request_headers(message), "Host");
    self->m_requests.emplace_back(path, host ? host : "");

    FixtureResponse response;
    if (auto it = self->m_routes.find(path); it != self->m_routes.end()) {
        response = it->second;
    } else {
        const std::string name = std::string(path).substr(1);
        response.body = name.find('/') == std::string::npos ? readFixture(name) : "";
        if (response.body.empty())
            response.status = 404;
        if (name.ends_with(".js"))
            response.contentType = "text/javascript";
    }
    auto* headers = soup_server_message_get_response_headers(message);
    for (const auto& [name, value] : response.headers)
        soup_message_headers_append(headers, name.c_str(), value.c_str());
    soup_server_message_set_status(message, response.status, nullptr);
    soup_server_message_set_response(message, response.contentType.c_str(), SOUP_MEMORY_COPY,
                                     response.body.data(), response.body.size());
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
    char* root = g_dir_make_tmp("aurelo-web-XXXXXX", nullptr);
    m_root = root;
    g_free(root);
    stores = std::make_unique<WebsiteDataStores>(m_root / "data", m_root / "cache");
    environment = std::make_unique<WebEnvironment>(WebEnvironment{
        *stores, service, voiceSession, fake.origin(), readFixture("bridge-script.js"),
        m_root / "downloads",
        [this](const std::filesystem::path& path) { revealed.push_back(path); }, false});
}

WebViewTest::~WebViewTest() {
    m_hosts.clear();
    // Let WebKit finish with the views and sessions before their directories go.
    runMainLoopFor(std::chrono::milliseconds(50));
    environment.reset();
    stores.reset();
    std::error_code error;
    std::filesystem::remove_all(m_root, error);
}

ChatWebViewInputs WebViewTest::inputs(const std::string& sessionId,
                                          const std::string& path) const {
    ChatWebViewInputs result;
    result.sessionID = sessionId;
    result.pageURL = server.url(path);
    result.translationConfiguration = {TranslationProvider::Google, "token", "", ""};
    result.isActive = true;
    result.reloadToken = "00000000-0000-4000-8000-000000000000";
    return result;
}

namespace {

void loadChangedCallback(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    if (event == WEBKIT_LOAD_FINISHED)
        ++static_cast<LoadRecord*>(data)->finished;
}

gboolean loadFailedCallback(WebKitWebView*, WebKitLoadEvent, const char*, GError* error,
                            gpointer data) {
    auto* record = static_cast<LoadRecord*>(data);
    ++record->failed;
    record->lastFailure = error ? error->message : "";
    return FALSE;
}

} // namespace

ChatWebView& WebViewTest::open(const ChatWebViewInputs& inputs) {
    auto host = std::make_unique<ChatWebView>(inputs, *environment);
    auto record = std::make_unique<LoadRecord>();
    g_signal_connect(host->webView(), "load-changed", G_CALLBACK(loadChangedCallback),
                     record.get());
    g_signal_connect(host->webView(), "load-failed", G_CALLBACK(loadFailedCallback), record.get());
    m_loads[host->webView()] = std::move(record);
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

bool WebViewTest::waitForLoad(ChatWebView& host, int count,
                              std::chrono::milliseconds deadline) {
    auto& record = *m_loads.at(host.webView());
    return runMainLoopUntil([&] { return record.finished >= count; }, deadline);
}

bool WebViewTest::waitForFailure(ChatWebView& host, std::chrono::milliseconds deadline) {
    auto& record = *m_loads.at(host.webView());
    return runMainLoopUntil([&] { return record.failed > 0; }, deadline);
}

namespace {

struct Evaluation {
    bool done = false;
    std::optional<std::string> json;
};

void evaluationDoneCallback(GObject* view, GAsyncResult* result, gpointer data) {
    auto evaluation = std::unique_ptr<std::shared_ptr<Evaluation>>(
        static_cast<std::shared_ptr<Evaluation>*>(data));
    GErrorHolder error;
    auto value = adoptGRef(
        webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, error.out()));
    if (value) {
        char* json = jsc_value_to_json(value.get(), 0);
        (*evaluation)->json = json ? json : "undefined";
        g_free(json);
    }
    (*evaluation)->done = true;
}

} // namespace

std::optional<std::string> WebViewTest::evaluate(ChatWebView& host, const std::string& script,
                                                 const char* world) {
    auto evaluation = std::make_shared<Evaluation>();
    webkit_web_view_evaluate_javascript(
        host.webView(), script.c_str(), static_cast<gssize>(script.size()), world, nullptr, nullptr,
        evaluationDoneCallback, new std::shared_ptr<Evaluation>(evaluation));
    runMainLoopUntil([&] { return evaluation->done; }, std::chrono::seconds(10));
    return evaluation->json;
}

bool WebViewTest::waitForValue(ChatWebView& host, const std::string& script,
                               const std::string& expected, const char* world,
                               std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        if (evaluate(host, script, world) == expected)
            return true;
        runMainLoopFor(std::chrono::milliseconds(20));
    }
    return false;
}

std::string WebViewTest::answers(ChatWebView& host) {
    return evaluate(host, "window.aureloAnswers").value_or("<none>");
}

} // namespace aurelo::test
