#include "ServiceHarness.hpp"

#include "service/PasswordHasher.hpp"
#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace aurelo::service::test {

UpstreamAnswer googleTranslations(const UpstreamRequest& request, std::chrono::milliseconds delay) {
    nlohmann::json items = nlohmann::json::array();
    auto body = request.json.value_or(nlohmann::json::object());
    for (const auto& text : body.value("q", std::vector<std::string>()))
        items.push_back({{"translatedText", "译:" + text}, {"detectedSourceLanguage", "en"}});
    auto answer = UpstreamAnswer::json(200, {{"data", {{"translations", items}}}});
    answer.delay = delay;
    return answer;
}

ServiceHarness::ServiceHarness(std::function<void(ServiceConfiguration&)> configure)
    : ServiceClient(
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
    m_origin = m_server->origin();
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

Reply ServiceHarness::callRaw(const std::string& method, const std::string& path,
                              std::optional<std::string> body, const Headers& headers) {
    HttpRequest request{method, origin() + path, headers, body, "application/json", {}};
    return awaitReply(m_client, request);
}

} // namespace aurelo::service::test
