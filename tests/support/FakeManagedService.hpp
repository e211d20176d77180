#pragma once

// A stand-in for the managed service on 127.0.0.1: an in-process SoupServer on a free port that
// records every request and answers from a script the test gives, per path, in order.

#include "platform/GRef.hpp"

#include <nlohmann/json.hpp>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

typedef struct _SoupServer SoupServer;
typedef struct _SoupServerMessage SoupServerMessage;

namespace aurelo::test {

struct RecordedRequest {
    std::string method;
    std::string path;
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
    std::optional<nlohmann::json> json;          // the body, when it parses as JSON

    std::string header(const std::string& name) const;
};

struct ScriptedAnswer {
    unsigned status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::chrono::milliseconds delay{0};
    bool neverAnswer = false;

    static ScriptedAnswer json(unsigned status, const nlohmann::json& body);
    static ScriptedAnswer text(unsigned status, std::string body, std::string contentType);
    static ScriptedAnswer silence();
};

class FakeManagedService {
public:
    FakeManagedService();
    FakeManagedService(const FakeManagedService&) = delete;
    FakeManagedService& operator=(const FakeManagedService&) = delete;
    ~FakeManagedService();

    // "http://127.0.0.1:<port>"
    const std::string& origin() const { return m_origin; }

    // Queues an answer for the next request to `path`. Once the queue of a path is empty, the
    // fallback for the path (if any) answers, then the responder, then 404.
    void enqueue(const std::string& path, ScriptedAnswer answer);
    void setFallback(const std::string& path, ScriptedAnswer answer);
    // Computes answers from the request, for tests that echo or count.
    void setResponder(std::function<ScriptedAnswer(const RecordedRequest&)> responder);

    // Answers the requests that silence() is holding, oldest first, with what `answer` makes of
    // each (its delay is not applied); a request it returns nothing for stays held. Returns how
    // many it answered.
    std::size_t
    answerHeld(const std::function<std::optional<ScriptedAnswer>(const RecordedRequest&)>& answer);
    std::size_t heldCount() const { return m_held.size(); }

    const std::vector<RecordedRequest>& requests() const { return m_requests; }
    std::size_t requestCount(const std::string& path) const;
    void clearRequests() { m_requests.clear(); }

private:
    static void handleCallback(SoupServer*, SoupServerMessage*, const char* path, GHashTable*,
                               gpointer self);
    void handle(SoupServerMessage* message, const char* path);
    ScriptedAnswer answerFor(const RecordedRequest& request);

    GRef<SoupServer> m_server;
    std::string m_origin;
    std::map<std::string, std::deque<ScriptedAnswer>> m_queued;
    std::map<std::string, ScriptedAnswer> m_fallbacks;
    std::function<ScriptedAnswer(const RecordedRequest&)> m_responder;
    std::vector<RecordedRequest> m_requests;
    struct HeldRequest {
        GRef<SoupServerMessage> message;
        RecordedRequest request;
    };
    std::vector<HeldRequest> m_held; // requests answered only by answerHeld()
    std::vector<guint> m_timers;
};

// Answers a translation request by echoing its text(s) with a prefix: "text" -> "<prefix>text".
ScriptedAnswer echoTranslation(const RecordedRequest& request, const std::string& prefix = "译:");

} // namespace aurelo::test
