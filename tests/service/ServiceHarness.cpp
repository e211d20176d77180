#include "ServiceHarness.hpp"

#include "service/PasswordHasher.hpp"
#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

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

FakeUpstream::FakeUpstream(Responder responder) : m_responder(std::move(responder)) {
    // Called for every request: nothing is queued or routed on this server.
    m_server.setResponder([this](const aurelo::test::RecordedRequest& recorded) {
        UpstreamRequest request{recorded.method,  recorded.path, recorded.query,
                                recorded.headers, recorded.body, recorded.json.value_or(nullptr)};
        m_requests.push_back(request);
        if (!m_responder)
            return std::optional<aurelo::test::ScriptedAnswer>();
        const UpstreamAnswer answer = m_responder(request);
        return std::optional(aurelo::test::ScriptedAnswer{
            answer.status, answer.body, answer.contentType, answer.delay, false, {}});
    });
}

std::string Reply::error() const {
    if (json.is_object() && json.contains("error") && json["error"].is_string())
        return json["error"].get<std::string>();
    return "<no error member: " + body + ">";
}

ServiceHarness::ServiceHarness(std::function<void(ServiceConfiguration&)> configure)
    : m_client(
          HttpSessionConfiguration{std::chrono::seconds(30), std::chrono::seconds(5), 16, {}}) {
    auto database = ServiceDatabase::open(dataDirectory() / ServiceDatabase::kFileName);
    if (!database)
        throw std::runtime_error(database.error().message);
    m_database = std::move(*database);
    ServiceConfiguration configuration;
    configuration.updatesDirectory = dataDirectory() / "updates";
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
}

unsigned ServiceHarness::port() const {
    const std::string& origin = m_server->origin();
    return static_cast<unsigned>(std::stoul(origin.substr(origin.rfind(':') + 1)));
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

std::string ServiceHarness::userWithEngine(const std::string& username, const std::string& provider,
                                           const FakeUpstream& upstream) {
    std::string token = userWithToken(username);
    enableEngine(username, provider);
    setProvider(provider, "k", upstream.origin());
    return token;
}

Reply ServiceHarness::call(const std::string& method, const std::string& path,
                           const std::optional<nlohmann::json>& body, const std::string& token) {
    HttpRequest request{method,       m_server->origin() + path, {},
                        std::nullopt, "application/json",        {}};
    if (!token.empty())
        request.headers.emplace_back("Authorization", "Bearer " + token);
    if (body)
        request.body = body->dump();
    return send(std::move(request));
}

Reply ServiceHarness::callRaw(const std::string& method, const std::string& path,
                              const std::string& body, const Headers& headers) {
    return send({method, m_server->origin() + path, headers, body, "application/json", {}});
}

Reply ServiceHarness::send(HttpRequest request) {
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
