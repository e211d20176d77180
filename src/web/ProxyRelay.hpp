#pragma once

// The loopback relay in front of an account's HTTP proxy. WebKit talks to the relay without a
// login; the relay logs in to the proxy itself, on the CONNECT request of each tunnel and on
// each plain-HTTP request it hands to the proxy, and on nothing else. Once libsoup has answered a
// proxy's 407 it adds the proxy's Basic credentials to every later request of the session,
// including those it sends inside a tunnel to the website itself, so every site an account
// opened would learn its proxy password. Through the relay, the browser never holds it.
//
// Only this user's processes are served: the relay listens on 127.0.0.1 alone, and a connection
// whose other end belongs to another user of the machine (the kernel's socket table tells) is
// closed before a byte is read. The relay runs on the main loop, as all our network code does.

#include "web/ProxyRoute.hpp"

#include <sys/types.h>

#include <cstdint>
#include <expected>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

typedef struct _GSocketService GSocketService;
typedef struct _GSocketConnection GSocketConnection;
typedef struct _GObject GObject;

namespace aurelo {

class ProxyRelay {
public:
    // Listens on 127.0.0.1 at a port the system picks, for `upstream` (an HTTP proxy).
    static std::expected<std::unique_ptr<ProxyRelay>, std::string> start(ProxyRoute upstream);
    ProxyRelay(const ProxyRelay&) = delete;
    ProxyRelay& operator=(const ProxyRelay&) = delete;
    // Stops listening and closes every connection it carries.
    ~ProxyRelay();

    std::uint16_t port() const { return m_port; }
    // "http://127.0.0.1:<port>": what WebKit's network session or GIO's resolver is given.
    std::string uri() const;
    const ProxyRoute& upstream() const { return m_upstream; }

    // Why the proxy did not carry the last request for the origin of `url` (its scheme, host and
    // port), in the user's words, until a request for that origin goes through again. Only the
    // proxy's own answers count: its refusal of the login or of the destination, or no answer.
    std::optional<std::string> failureFor(std::string_view url) const;

    // How long a connection may take to reach the point where bytes only flow: the proxy's
    // connection, its answer, and the browser's request before it.
    static constexpr unsigned kHandshakeSeconds = 20;
    // The longest request or response head the relay reads.
    static constexpr std::size_t kMaximumHeadBytes = 64 * 1024;

private:
    struct Connection;
    explicit ProxyRelay(ProxyRoute upstream);
    static int incomingCallback(GSocketService*, GSocketConnection* connection, GObject*,
                                void* self);
    void recordFailure(const std::string& destination, std::string reason);
    void recordSuccess(const std::string& destination);
    void forget(Connection* connection);

    ProxyRoute m_upstream;
    std::string m_authorization; // "Basic …", empty without a login
    GSocketService* m_service = nullptr;
    std::uint16_t m_port = 0;
    std::map<Connection*, std::shared_ptr<Connection>> m_connections;
    // Per "host:port" destination: why the proxy did not carry the last request to it.
    std::map<std::string, std::string> m_failures;
};

// What the browser side is pointed at for a route: the proxy itself for SOCKS5 (its login is
// spent on the connection to the proxy and never reaches HTTP), a relay for an HTTP proxy.
struct ProxyAccess {
    std::string uri;
    std::unique_ptr<ProxyRelay> relay;
};
std::expected<ProxyAccess, std::string> proxyAccess(const ProxyRoute& route);

// The owner of the connection whose two ends are 127.0.0.1:`peerPort` and 127.0.0.1:`localPort`
// seen from the `localPort` side, read from a table in the format of /proc/net/tcp.
std::optional<uid_t> loopbackPeerOwner(std::string_view procNetTcp, std::uint16_t peerPort,
                                       std::uint16_t localPort);

} // namespace aurelo
