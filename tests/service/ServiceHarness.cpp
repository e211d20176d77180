#include "ServiceHarness.hpp"

#include "service/PasswordHasher.hpp"
#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include <algorithm>
#include <stdexcept>

namespace aurelo::service::test {

std::string UpstreamRequest::header(const std::string& lowerName) const {
    auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
}

UpstreamAnswer UpstreamAnswer::json(const nlohmann::json& body, unsigned status) {
    return UpstreamAnswer{status, body.dump(), "application/json", {}};
}

UpstreamAnswer UpstreamAnswer::googleTranslations(const UpstreamRequest& request,
                                                  std::chrono::milliseconds delay) {
    nlohmann::json items = nlohmann::json::array();
    if (request.json.contains("q"))
        for (const auto& text : request.json["q"])
            items.push_back({{"translatedText", "译:" + text.get<std::string>()},
                             {"detectedSourceLanguage", "en"}});
    auto answer = json({{"data", {{"translations", items}}}});
    answer.delay = delay;
    return answer;
}

FakeUpstream::FakeUpstream(Responder responder)
    : m_server(adoptGRef(soup_server_new(nullptr, nullptr))), m_responder(std::move(responder)) {
    soup_server_add_handler(m_server.get(), nullptr, handleCallback, this, nullptr);
    GErrorHolder error;
    if (!soup_server_listen_local(m_server.get(), 0, SOUP_SERVER_LISTEN_IPV4_ONLY, error.out()))
        throw std::runtime_error(std::string("fake upstream cannot listen: ") + error->message);
    GSList* uris = soup_server_get_uris(m_server.get());
    m_origin = "http://127.0.0.1:" + std::to_string(g_uri_get_port(static_cast<GUri*>(uris->data)));
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
}

FakeUpstream::~FakeUpstream() {
    for (guint timer : m_timers)
        g_source_remove(timer);
    soup_server_disconnect(m_server.get());
}

namespace {

struct Delayed {
    GRef<SoupServerMessage> message;
    std::vector<guint>* timers;
    guint id;
};

void apply(SoupServerMessage* message, const UpstreamAnswer& answer) {
    soup_server_message_set_status(message, answer.status, nullptr);
    soup_server_message_set_response(message, answer.contentType.c_str(), SOUP_MEMORY_COPY,
                                     answer.body.data(), answer.body.size());
}

} // namespace

void FakeUpstream::handleCallback(SoupServer*, SoupServerMessage* message, const char* path,
                                  GHashTable*, gpointer data) {
    auto* self = static_cast<FakeUpstream*>(data);
    UpstreamRequest request;
    request.method = soup_server_message_get_method(message);
    request.path = path;
    if (const char* query = g_uri_get_query(soup_server_message_get_uri(message)))
        request.query = query;
    SoupMessageHeadersIter iter;
    soup_message_headers_iter_init(&iter, soup_server_message_get_request_headers(message));
    const char *name = nullptr, *value = nullptr;
    while (soup_message_headers_iter_next(&iter, &name, &value)) {
        std::string lower = name;
        std::ranges::transform(lower, lower.begin(),
                               [](unsigned char c) { return std::tolower(c); });
        request.headers[lower] = value;
    }
    if (SoupMessageBody* body = soup_server_message_get_request_body(message);
        body && body->length > 0) {
        auto bytes = adoptGRef(soup_message_body_flatten(body));
        gsize size = 0;
        const auto* raw = static_cast<const char*>(g_bytes_get_data(bytes.get(), &size));
        request.body.assign(raw, size);
    }
    auto parsed = nlohmann::json::parse(request.body, nullptr, false);
    if (!parsed.is_discarded())
        request.json = std::move(parsed);
    UpstreamAnswer answer = self->m_responder
                                ? self->m_responder(request)
                                : UpstreamAnswer::json({{"error", "no responder"}}, 500);
    self->m_requests.push_back(std::move(request));
    if (answer.delay.count() == 0)
        return apply(message, answer);
    soup_server_message_pause(message);
    apply(message, answer);
    auto* delayed = new Delayed{GRef<SoupServerMessage>(message), &self->m_timers, 0};
    delayed->id = g_timeout_add_full(
        G_PRIORITY_DEFAULT, static_cast<guint>(answer.delay.count()),
        [](gpointer data) -> gboolean {
            auto* delayed = static_cast<Delayed*>(data);
            std::erase(*delayed->timers, delayed->id);
            soup_server_message_unpause(delayed->message.get());
            return G_SOURCE_REMOVE;
        },
        delayed, [](gpointer data) { delete static_cast<Delayed*>(data); });
    self->m_timers.push_back(delayed->id);
}

std::string Reply::error() const {
    if (json.is_object() && json.contains("error") && json["error"].is_string())
        return json["error"].get<std::string>();
    return "<no error member: " + body + ">";
}

ServiceHarness::ServiceHarness(std::function<void(ServiceConfiguration&)> configure)
    : m_client(
          HttpSessionConfiguration{std::chrono::seconds(30), std::chrono::seconds(5), 16, {}}) {
    char* directory = g_dir_make_tmp("aurelo-service-test-XXXXXX", nullptr);
    if (!directory)
        throw std::runtime_error("cannot create a temporary directory");
    m_directory = directory;
    g_free(directory);
    auto database = ServiceDatabase::open(m_directory / ServiceDatabase::kFileName);
    if (!database)
        throw std::runtime_error(database.error().message);
    m_database = std::move(*database);
    ServiceConfiguration configuration;
    configuration.updatesDirectory = m_directory / "updates";
    std::filesystem::create_directories(configuration.updatesDirectory);
    configuration.rateLimitPerMinute = 100000;
    configuration.loginRateLimitPerMinute = 100000;
    configuration.upstreamTimeout = std::chrono::seconds(5);
    configuration.shutdownGrace = std::chrono::seconds(5);
    configuration.clock = [now = m_now] { return *now; };
    configuration.logSink = [this](const std::string& line) { m_log.push_back(line); };
    if (configure)
        configure(configuration);
    m_server = std::make_unique<ServiceServer>(*m_database, std::move(configuration));
    auto listening = m_server->listen({"127.0.0.1", 0});
    if (!listening)
        throw std::runtime_error(listening.error());
}

ServiceHarness::~ServiceHarness() {
    m_server.reset();
    m_database.reset();
    std::error_code ignored;
    std::filesystem::remove_all(m_directory, ignored);
}

std::int64_t ServiceHarness::addUser(const std::string& username, const std::string& password) {
    auto id =
        m_database->addUser(username, PasswordHasher(ScryptCost{10, 8, 1}).hash(password), *m_now);
    if (!id)
        throw std::runtime_error(id.error().message);
    return *id;
}

void ServiceHarness::enableEngine(const std::string& username, const std::string& provider,
                                  const std::string& backend, std::optional<std::string> model) {
    EngineRecord engine{provider, "engine " + provider, std::move(model),
                        backend.empty() ? provider : backend};
    auto enabled = m_database->enableEngine(username, engine);
    if (!enabled || !*enabled)
        throw std::runtime_error("cannot enable engine");
}

void ServiceHarness::setProvider(const std::string& name, const std::string& key,
                                 const std::string& endpoint, const std::string& model,
                                 const std::string& region) {
    if (!m_database->setProviderSettings({name, key, endpoint, region, model}))
        throw std::runtime_error("cannot store provider settings");
}

std::string ServiceHarness::login(const std::string& username, const std::string& password) {
    Reply reply = call("POST", "/api/auth/login",
                       nlohmann::json{{"username", username}, {"password", password}});
    if (reply.status != 200 || !reply.json.contains("token"))
        return {};
    return reply.json["token"].get<std::string>();
}

std::string ServiceHarness::userWithToken(const std::string& username) {
    addUser(username, "pw-" + username);
    return login(username, "pw-" + username);
}

Reply ServiceHarness::call(const std::string& method, const std::string& path,
                           const std::optional<nlohmann::json>& body, const std::string& token) {
    std::vector<std::pair<std::string, std::string>> headers;
    if (!token.empty())
        headers.emplace_back("Authorization", "Bearer " + token);
    if (!body) {
        HttpRequest request;
        request.method = method;
        request.url = m_server->origin() + path;
        request.headers = headers;
        std::optional<HttpResult> result;
        m_client.send(request, [&](HttpResult r) { result = std::move(r); });
        EXPECT_TRUE(aurelo::test::runMainLoopUntil([&] { return result.has_value(); },
                                                   std::chrono::seconds(30)));
        if (!result || !*result)
            return {};
        Reply reply{(*result)->status, (*result)->body,
                    nlohmann::json::parse((*result)->body, nullptr, false)};
        if (reply.json.is_discarded())
            reply.json = nullptr;
        return reply;
    }
    return callRaw(method, path, body->dump(), headers);
}

Reply ServiceHarness::callRaw(const std::string& method, const std::string& path,
                              const std::string& body,
                              const std::vector<std::pair<std::string, std::string>>& headers) {
    HttpRequest request;
    request.method = method;
    request.url = m_server->origin() + path;
    request.headers = headers;
    request.body = body;
    std::optional<HttpResult> result;
    m_client.send(request, [&](HttpResult r) { result = std::move(r); });
    EXPECT_TRUE(aurelo::test::runMainLoopUntil([&] { return result.has_value(); },
                                               std::chrono::seconds(30)));
    if (!result || !*result)
        return {};
    Reply reply{(*result)->status, (*result)->body,
                nlohmann::json::parse((*result)->body, nullptr, false)};
    if (reply.json.is_discarded())
        reply.json = nullptr;
    return reply;
}

} // namespace aurelo::service::test
