#pragma once

// A thin adapter over a libsoup session: one request in, one answer (status and body) or one
// transport error out, delivered on the main loop. The translation engine, the account store,
// voice uploads and the updater all talk HTTP through it.

#include "platform/GRef.hpp"

#include <chrono>
#include <cstddef>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

typedef struct _SoupSession SoupSession;

namespace aurelo {

// A failure to get an HTTP answer at all. Its description is the text shown to the user, in the
// wording a desktop user knows from the system's own network errors.
struct TransportError {
    enum class Kind {
        TimedOut,
        CannotConnect,
        CannotFindHost,
        NotConnected,
        ConnectionLost,
        SecureConnectionFailed,
        BadURL,
        InvalidHeader,
        ResponseTooLarge,
        Cancelled,
        Other,
    };
    Kind kind = Kind::Other;
    std::string description;

    static TransportError fromGError(const GError* error);
    static TransportError make(Kind kind);
};

// The largest answer body a request accepts unless it says otherwise: every answer of the
// managed service is a JSON text of a few kilobytes; four mebibytes leave room to grow.
inline constexpr std::size_t kDefaultMaximumBodySize = std::size_t{4} << 20;

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<std::string> body;
    std::string contentType = "application/json";
    // The longest the whole request may take; zero leaves only the session's limits.
    std::chrono::milliseconds timeout{0};
    // The answer body is read in pieces and the request fails with ResponseTooLarge as soon as
    // it passes this many bytes (or announces more), so a hostile or broken server cannot fill
    // memory however fast the link.
    std::size_t maximumBodySize = kDefaultMaximumBodySize;
};

struct HttpResponse {
    unsigned status = 0;
    std::string body;
};

using HttpResult = std::expected<HttpResponse, TransportError>;
using HttpCompletion = std::function<void(HttpResult)>;

struct HttpSessionConfiguration {
    // Longest silence while sending or receiving before the request fails.
    std::chrono::seconds ioTimeout{60};
    // How long an unused keep-alive connection is kept open.
    std::chrono::seconds idleTimeout{60};
    unsigned maxConnectionsPerHost = 2;
    // Connections across all hosts (libsoup's own default is 10, which would silently cap a
    // larger per-host limit); never fewer than the per-host limit.
    unsigned maxConnections = 10;
    // Longest time a whole transfer may take; zero for no limit.
    std::chrono::milliseconds resourceTimeout{0};
};

class HttpSession {
public:
    explicit HttpSession(const HttpSessionConfiguration& configuration);
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;
    ~HttpSession();

    // Sends the request. `completion` runs exactly once on the main loop of the calling thread,
    // never from inside send(). Cancelling `cancellable` ends the request with a Cancelled error.
    void send(const HttpRequest& request, HttpCompletion completion,
              GCancellable* cancellable = nullptr);

    const HttpSessionConfiguration& configuration() const { return m_configuration; }
    SoupSession* soupSession() const { return m_session.get(); }

private:
    HttpSessionConfiguration m_configuration;
    GRef<SoupSession> m_session;
};

// The session for login, the engine list, voice uploads and updates: a 60 s time-out.
HttpSession& sharedHttpSession();

} // namespace aurelo
