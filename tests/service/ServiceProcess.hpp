#pragma once

// The built aurelo-service as its own process, over a data folder of its own: accounts set up
// through its admin command, then `serve` on 127.0.0.1 with a free port. Stopped (SIGTERM) and
// its folder removed on destruction.

#include "platform/GRef.hpp"
#include "platform/HttpSession.hpp"
#include "support/TestDirectory.hpp"

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace aurelo::service::test {

struct Reply {
    unsigned status = 0; // 0 when no answer came
    std::string body;
    nlohmann::json json; // null when the body is not JSON
    std::string error() const;
};

// Sends `request` on `session` and waits for the answer.
Reply awaitReply(HttpSession& session, const HttpRequest& request);
// A JSON request to `origin` + `path`, with the bearer `token` unless empty.
HttpRequest serviceRequest(const std::string& origin, const std::string& method,
                           const std::string& path, std::optional<std::string> body,
                           const std::string& token);
// The token of a login's answer, empty when it is refused.
std::string tokenOf(const Reply& login);
// The body of a translation request: one text, or with an array a batch ("texts").
nlohmann::json translationBody(const nlohmann::json& text, const std::string& target,
                               const std::string& provider);

// A client of a running service at its origin, over a session of its own.
class ServiceClient {
public:
    const std::string& origin() const { return m_origin; }
    unsigned port() const;

    // A JSON POST to the service, with the bearer `token` unless empty.
    HttpRequest post(const std::string& path, const nlohmann::json& body,
                     const std::string& token = {}) const;
    // A request with the bearer `token` unless empty, answered.
    Reply call(const std::string& method, const std::string& path,
               const std::optional<nlohmann::json>& body = std::nullopt,
               const std::string& token = {});
    // The token of a login, empty when it is refused.
    std::string login(const std::string& username, const std::string& password);
    // `text` (an array: a batch) translated into `target` by `provider`, answered.
    Reply translate(const std::string& token, const nlohmann::json& text, const std::string& target,
                    const std::string& provider = "google") {
        return call("POST", "/api/translate", translationBody(text, target, provider), token);
    }

protected:
    explicit ServiceClient(HttpSessionConfiguration configuration)
        : m_client(std::move(configuration)) {}
    ~ServiceClient() = default;

    std::string m_origin; // set once the service listens
    HttpSession m_client;
};

// Requests made by `make` (from a running number), `inFlight` at a time on a session of its own,
// from construction until finish(). Answers are counted as "200", "<status> <error>" or
// "no answer: <why>", and timed from their sending.
class RequestLoad {
public:
    RequestLoad(int inFlight, std::function<HttpRequest(int)> make);
    // Stops sending and waits for the requests still out.
    void finish();
    int answered() const { return m_answered; }

    std::map<std::string, int> answers;
    std::chrono::milliseconds longest{0};

private:
    void launch();

    std::function<HttpRequest(int)> m_make;
    HttpSession m_client{
        HttpSessionConfiguration{std::chrono::seconds(30), std::chrono::seconds(30), 16, {}}};
    int m_sent = 0, m_answered = 0;
    bool m_stopping = false;
};

class ServiceProcess : public ServiceClient {
public:
    explicit ServiceProcess(std::string binary)
        : ServiceClient(
              HttpSessionConfiguration{std::chrono::seconds(20), std::chrono::seconds(20), 8, {}}),
          m_binary(std::move(binary)) {}
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;
    ~ServiceProcess() { stop(); }

    // Runs `aurelo-service admin --data <folder> <arguments>`; its exit status.
    int admin(const std::vector<std::string>& arguments) const;
    // Starts serving with the extra `options`; false when it does not say where it listens.
    bool start(const std::vector<std::string>& options = {});
    // Stops it with SIGTERM; its exit status (-1 when it was not running).
    int stop();
    const std::filesystem::path& dataFolder() const { return m_folder.path(); }
    // The resident memory of the process (VmRSS), in KiB; 0 when it cannot be read.
    long residentKiB() const;

    struct LoadOutcome {
        int succeeded = 0;
        int failed = 0;
        long peakKiB = 0; // the service's largest resident memory seen meanwhile
    };
    // Keeps `inFlight` requests made by `make` (from a running number) going on `client` for
    // `duration`, then waits for the last answers.
    LoadOutcome keepBusy(HttpSession& client, int inFlight, std::chrono::milliseconds duration,
                         const std::function<HttpRequest(int)>& make) const;

    // The binary next to the running test or benchmark in the build tree.
    static std::string builtBinary();

private:
    std::string m_binary;
    aurelo::test::TestDirectory m_folder;
    GRef<GSubprocess> m_process;
};

} // namespace aurelo::service::test
