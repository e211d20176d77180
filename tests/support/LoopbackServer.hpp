#pragma once

// The one server the tests talk to: a SoupServer on 127.0.0.1, on a port the system picks, plain
// HTTP or HTTPS with a certificate made for the run. It records every request and answers, per
// path, from a queue of scripted answers, a fixed answer, a responder the test gives, or the
// files of a fixture folder, in that order; 404 otherwise. A server that cannot listen throws: a
// test must never run against nothing.

#include "platform/GRef.hpp"
#include "support/TestDirectory.hpp"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

typedef struct _SoupServer SoupServer;
typedef struct _SoupServerMessage SoupServerMessage;

namespace aurelo {
class HttpSession;
}

namespace aurelo::test {

struct RecordedRequest {
    std::string method;
    std::string path;
    std::string query;
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
    std::optional<nlohmann::json> json; // the body, when it parses as JSON

    std::string header(const std::string& name) const;
};

struct ScriptedAnswer {
    unsigned status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::chrono::milliseconds delay{0};
    bool neverAnswer = false; // held until answerHeld() answers it
    std::vector<std::pair<std::string, std::string>> headers = {};
    // Not 0: `body` is sent this many times, chunked without a length, one piece per `delay`.
    std::size_t pieces = 0;

    static ScriptedAnswer json(unsigned status, const nlohmann::json& body);
    static ScriptedAnswer text(unsigned status, std::string body, std::string contentType);
    static ScriptedAnswer silence();
    // A server that keeps a connection busy without finishing, or that never stops sending.
    static ScriptedAnswer drip(std::size_t pieceSize, std::chrono::milliseconds interval,
                               std::size_t pieces);
};

class LoopbackServer {
public:
    struct Options {
        bool https = false;
        std::filesystem::path folder = {}; // files served by path; nothing outside the folder
    };
    using Responder = std::function<std::optional<ScriptedAnswer>(const RecordedRequest&)>;

    LoopbackServer();
    explicit LoopbackServer(Options options);
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;
    ~LoopbackServer();

    // "http://127.0.0.1:<port>" or "https://…", without a trailing slash.
    const std::string& origin() const { return m_origin; }
    std::uint16_t port() const { return m_port; }
    // Any host name reaches this server through the tests' proxies.
    std::string url(const std::string& path, const std::string& host = "127.0.0.1") const;

    // The next request to `path` gets `answer`, once.
    void enqueue(const std::string& path, ScriptedAnswer answer);
    // Every request to `path` gets `answer` once its queue is empty.
    void route(const std::string& path, ScriptedAnswer answer) {
        m_routes[path] = std::move(answer);
    }
    // Computes the answer of any other request; nullopt leaves it to the folder, then 404.
    void setResponder(Responder responder) { m_responder = std::move(responder); }
    // A header added to every answer.
    void addHeader(std::string name, std::string value);

    // Answers the held requests, oldest first, with what `answer` makes of each (its delay is
    // not applied); a request it returns nothing for stays held. Returns how many it answered.
    std::size_t answerHeld(const Responder& answer);
    std::size_t heldCount() const;

    const std::vector<RecordedRequest>& requests() const { return m_requests; }
    std::size_t requestCount(const std::string& path) const;
    // The Host header of every request for `path`.
    std::vector<std::string> hostsRequesting(const std::string& path) const;
    void clearRequests() { m_requests.clear(); }

    // Pieces of dripping answers sent so far, and the delayed or dripping answers whose client
    // went away before their end.
    std::size_t piecesSent() const { return m_piecesSent; }
    std::size_t answersEnded() const { return m_answersEnded; }

    // HTTPS only: makes `session` trust this server's certificate (and nothing else).
    void trust(HttpSession& session) const;

private:
    struct Pending;

    void handle(SoupServerMessage* message, const char* path);
    ScriptedAnswer answerFor(const RecordedRequest& request);
    void send(SoupServerMessage* message, const ScriptedAnswer& answer) const;

    Options m_options;
    GRef<SoupServer> m_server;
    std::string m_origin;
    std::uint16_t m_port = 0;
    std::optional<TestDirectory> m_certificateDirectory;
    std::filesystem::path m_certificateFile;
    std::map<std::string, std::deque<ScriptedAnswer>> m_queued;
    std::map<std::string, ScriptedAnswer> m_routes;
    Responder m_responder;
    std::vector<std::pair<std::string, std::string>> m_headers;
    std::vector<RecordedRequest> m_requests;
    std::vector<std::unique_ptr<Pending>> m_pending;
    std::size_t m_piecesSent = 0;
    std::size_t m_answersEnded = 0;
};

// A certificate made for the run (self-signed, its own authority, for 127.0.0.1 and localhost,
// valid for a day) and its private key, as PEM files.
struct TestCertificateFiles {
    std::filesystem::path certificate;
    std::filesystem::path privateKey;
};
TestCertificateFiles writeTestCertificate(const std::filesystem::path& directory);

// Makes `session` trust the authorities in `authorityFile`, and only those. This is the tests'
// own trust path: the product's sessions keep the system's authorities and full verification.
void trustAuthorities(HttpSession& session, const std::filesystem::path& authorityFile);

} // namespace aurelo::test
