#pragma once

// A real ServiceServer on 127.0.0.1 over a database in a fresh temporary directory, a client to
// call it, and FakeUpstream, standing in for a provider's web API.

#include "ServiceProcess.hpp"

#include "platform/HttpSession.hpp"
#include "service/ServiceDatabase.hpp"
#include "service/ServiceServer.hpp"
#include "support/LoopbackServer.hpp"
#include "support/TestDirectory.hpp"

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace aurelo::service::test {

using UpstreamRequest = aurelo::test::RecordedRequest;
using UpstreamAnswer = aurelo::test::ScriptedAnswer;

// A provider's web API: the shared loopback server, answering with what `responder` makes of each
// request (404 without one).
class FakeUpstream : public aurelo::test::LoopbackServer {
public:
    explicit FakeUpstream(Responder responder = {}) { setResponder(std::move(responder)); }
};

// Google's v2 answer to `request`, translating every text as "译:<text>" from English, after
// `delay`.
UpstreamAnswer googleTranslations(const UpstreamRequest& request, std::chrono::milliseconds delay);

using Headers = std::vector<std::pair<std::string, std::string>>;

class ServiceHarness : public ServiceClient {
public:
    explicit ServiceHarness(std::function<void(ServiceConfiguration&)> configure = {});

    ServiceDatabase& database() { return *m_database; }
    ServiceServer& server() { return *m_server; }
    const std::filesystem::path& dataDirectory() const { return m_directory.path(); }
    const std::vector<std::string>& logLines() const { return m_log; }

    // Fake clock, seconds since the epoch, read by the server for token expiry.
    void advanceClock(std::chrono::seconds by) { *m_now += by.count(); }

    // Adds a user with a cheap password hash (the format is the real one).
    std::int64_t addUser(const std::string& username, const std::string& password);
    void enableEngine(const std::string& username, const std::string& provider,
                      const std::string& backend = {}, std::optional<std::string> model = {});
    void setProvider(const std::string& name, const std::string& key, const std::string& endpoint,
                     const std::string& model = {}, const std::string& region = {});
    // Adds `username` (password "pw-<username>"), logs in and returns the token.
    std::string userWithToken(const std::string& username = "alice");
    // userWithToken, with `provider` enabled and pointing at `upstream`.
    std::string userWithEngine(const std::string& username, const std::string& provider,
                               const FakeUpstream& upstream);
    Reply callRaw(const std::string& method, const std::string& path,
                  std::optional<std::string> body, const Headers& headers = {});

private:
    aurelo::test::TestDirectory m_directory;
    std::shared_ptr<std::int64_t> m_now = std::make_shared<std::int64_t>(1'800'000'000);
    std::vector<std::string> m_log;
    std::unique_ptr<ServiceDatabase> m_database;
    std::unique_ptr<ServiceServer> m_server; // stopped before the database is closed
};

} // namespace aurelo::service::test
