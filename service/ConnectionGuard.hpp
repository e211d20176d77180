#pragma once

// Keeps a hostile or merely slow client from holding the service's memory or connections. It
// accepts the connections itself (with a listen queue deep enough for bursts of clients), hands
// them to the libsoup server, follows each one and closes those that take too long: to send
// the headers of a request, to send its body, or to send the next request on a kept-alive
// connection. A request that is being worked on has no deadline here (the engines have their
// own). It also counts connections, overall and per client address, and the request bodies held
// in memory, so that the server can refuse more with 503 before reading them.

#include <chrono>
#include <cstddef>
#include <expected>
#include <memory>
#include <string>

typedef struct _SoupServer SoupServer;
typedef struct _SoupServerMessage SoupServerMessage;
typedef struct _GSocketAddress GSocketAddress;
typedef struct _GTlsCertificate GTlsCertificate;
typedef struct _GSocketService GSocketService;

namespace aurelo::service {

struct ConnectionLimits {
    std::size_t maxConnections = 1024;
    // Agents behind one office address share it; the application opens up to 8 connections.
    std::size_t maxConnectionsPerAddress = 128;
    std::size_t maxBytesInFlight = 64u * 1024 * 1024;
    std::chrono::milliseconds headerTimeout{10000};
    std::chrono::milliseconds bodyTimeout{60000};
    std::chrono::milliseconds idleTimeout{30000};
    // A reverse proxy in front of the service: all its clients share its address, so the
    // per-address cap does not apply to it.
    std::string trustedProxy;
};

class ConnectionGuard {
public:
    explicit ConnectionGuard(ConnectionLimits limits);
    ConnectionGuard(const ConnectionGuard&) = delete;
    ConnectionGuard& operator=(const ConnectionGuard&) = delete;
    ~ConnectionGuard();

    // Follows the requests of `server` from now on.
    void attach(SoupServer* server);
    // Listens on `address` and hands every connection accepted to the server (over TLS with
    // `certificate`); the port listened on, or why not.
    std::expected<unsigned, std::string> listen(GSocketAddress* address,
                                                GTlsCertificate* certificate);

    // The connection of `message` was accepted beyond a cap: answer 503 and close it.
    bool overCapacity(SoupServerMessage* message) const;
    // Holds `bytes` of the in-flight budget until `message` is freed; false when that would pass
    // the budget.
    bool reserveBody(SoupServerMessage* message, std::size_t bytes);
    // The headers are in: the body must follow within the body time-out.
    void awaitBody(SoupServerMessage* message);
    // The whole request is in: no deadline while it is worked on.
    void requestRead(SoupServerMessage* message);

    // Answers `message` with `status` and the JSON `body` without reading its body, and closes
    // its connection: libsoup would otherwise read (and hold) the body before answering.
    void answerAndClose(SoupServerMessage* message, unsigned status, const std::string& body,
                        unsigned retryAfterSeconds = 0);

    const ConnectionLimits& limits() const { return m_limits; }
    std::size_t connections() const;
    std::size_t bytesInFlight() const;

    // Shared with the per-connection records, which a socket may outlive the guard to free.
    struct State;

private:
    std::expected<void, std::string> keepAliveListener();

    ConnectionLimits m_limits;
    std::shared_ptr<State> m_state;
    SoupServer* m_server = nullptr;
    unsigned m_sweepTimer = 0;
    GSocketService* m_service = nullptr;
    GTlsCertificate* m_certificate = nullptr;
    std::string m_privateFolder;
    unsigned long m_startedHandler = 0;
    unsigned long m_finishedHandler = 0;
};

} // namespace aurelo::service
