#include "ServiceProcess.hpp"

#include "support/MainLoopWait.hpp"
#include "support/Programs.hpp"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

namespace aurelo::service::test {

std::string Reply::error() const {
    if (json.is_object() && json.contains("error") && json["error"].is_string())
        return json["error"].get<std::string>();
    return "<no error member: " + body + ">";
}

Reply awaitReply(HttpSession& session, const HttpRequest& request) {
    std::optional<HttpResult> result;
    session.send(request, [&](HttpResult r) { result = std::move(r); });
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

int ServiceProcess::stop() {
    if (!m_process)
        return -1;
    g_subprocess_send_signal(m_process.get(), SIGTERM);
    g_subprocess_wait(m_process.get(), nullptr, nullptr);
    const int status = g_subprocess_get_if_exited(m_process.get())
                           ? g_subprocess_get_exit_status(m_process.get())
                           : -1;
    m_process.reset();
    return status;
}

std::string ServiceProcess::builtBinary() {
    // Tests and benchmarks live two folders below the build root, the service in service/.
    auto self = std::filesystem::canonical("/proc/self/exe");
    return (self.parent_path() / "../../service/aurelo-service").lexically_normal().string();
}

int ServiceProcess::admin(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv = {m_binary, "admin", "--data", dataFolder().string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return aurelo::test::runProgram(argv).status;
}

bool ServiceProcess::start(const std::vector<std::string>& options) {
    std::vector<const char*> argv = {m_binary.c_str(), "serve",  "--listen",
                                     "127.0.0.1:0",    "--data", dataFolder().c_str()};
    for (const auto& option : options)
        argv.push_back(option.c_str());
    argv.push_back(nullptr);
    m_process = adoptGRef(
        g_subprocess_newv(argv.data(),
                          static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                                                        G_SUBPROCESS_FLAGS_STDERR_SILENCE),
                          nullptr));
    if (!m_process)
        return false;
    auto lines = adoptGRef(g_data_input_stream_new(g_subprocess_get_stdout_pipe(m_process.get())));
    g_filter_input_stream_set_close_base_stream(G_FILTER_INPUT_STREAM(lines.get()), FALSE);
    char* line = g_data_input_stream_read_line_utf8(lines.get(), nullptr, nullptr, nullptr);
    std::string text = line ? line : "";
    g_free(line);
    std::size_t at = text.find("http");
    if (at == std::string::npos)
        return false;
    m_origin = text.substr(at);
    return true;
}

unsigned ServiceClient::port() const {
    return static_cast<unsigned>(std::stoul(m_origin.substr(m_origin.rfind(':') + 1)));
}

HttpRequest serviceRequest(const std::string& origin, const std::string& method,
                           const std::string& path, std::optional<std::string> body,
                           const std::string& token) {
    HttpRequest request{method, origin + path, {}, std::move(body), "application/json", {}};
    if (!token.empty())
        request.headers.emplace_back("Authorization", "Bearer " + token);
    return request;
}

std::string tokenOf(const Reply& login) {
    return login.status == 200 ? login.json.value("token", "") : "";
}

nlohmann::json translationBody(const nlohmann::json& text, const std::string& target,
                               const std::string& provider) {
    return {{text.is_array() ? "texts" : "text", text}, {"target", target}, {"provider", provider}};
}

HttpRequest ServiceClient::post(const std::string& path, const nlohmann::json& body,
                                const std::string& token) const {
    return serviceRequest(m_origin, "POST", path, body.dump(), token);
}

Reply ServiceClient::call(const std::string& method, const std::string& path,
                          const std::optional<nlohmann::json>& body, const std::string& token) {
    auto text = body ? std::optional(body->dump()) : std::nullopt;
    return awaitReply(m_client, serviceRequest(m_origin, method, path, text, token));
}

std::string ServiceClient::login(const std::string& username, const std::string& password) {
    return tokenOf(call("POST", "/api/auth/login",
                        nlohmann::json{{"username", username}, {"password", password}}));
}

ServiceProcess::LoadOutcome
ServiceProcess::keepBusy(HttpSession& client, int inFlight, std::chrono::milliseconds duration,
                         const std::function<HttpRequest(int)>& make) const {
    LoadOutcome outcome;
    outcome.peakKiB = residentKiB();
    int sent = 0;
    auto end = std::chrono::steady_clock::now() + duration;
    std::function<void()> launch = [&] {
        client.send(make(sent++), [&](HttpResult result) {
            (result && result->status == 200 ? outcome.succeeded : outcome.failed)++;
            if (std::chrono::steady_clock::now() < end)
                launch();
        });
    };
    for (int i = 0; i < inFlight; ++i)
        launch();
    aurelo::test::runMainLoopUntil(
        [&] {
            outcome.peakKiB = std::max(outcome.peakKiB, residentKiB());
            return std::chrono::steady_clock::now() >= end &&
                   outcome.succeeded + outcome.failed == sent;
        },
        duration + std::chrono::seconds(60));
    return outcome;
}

RequestLoad::RequestLoad(int inFlight, std::function<HttpRequest(int)> make)
    : m_make(std::move(make)) {
    for (int i = 0; i < inFlight; ++i)
        launch();
}

void RequestLoad::finish() {
    m_stopping = true;
    aurelo::test::runMainLoopUntil([&] { return m_answered == m_sent; }, std::chrono::seconds(30));
}

void RequestLoad::launch() {
    const auto sent = std::chrono::steady_clock::now();
    m_client.send(m_make(m_sent++), [this, sent](HttpResult result) {
        ++m_answered;
        longest = std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - sent));
        if (!result)
            ++answers["no answer: " + result.error().description];
        else if (result->status == 200)
            ++answers["200"];
        else
            ++answers[std::to_string(result->status) + " " +
                      Reply{result->status, result->body,
                            nlohmann::json::parse(result->body, nullptr, false)}
                          .error()];
        if (!m_stopping)
            launch();
    });
}

long ServiceProcess::residentKiB() const {
    const char* pid = m_process ? g_subprocess_get_identifier(m_process.get()) : nullptr;
    std::ifstream status(std::string("/proc/") + (pid ? pid : "0") + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmRSS:"))
            return std::stol(line.substr(6));
    return 0;
}

} // namespace aurelo::service::test
