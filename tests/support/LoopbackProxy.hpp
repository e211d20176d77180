#pragma once

// Small SOCKS5 and HTTP proxies on 127.0.0.1 for routing tests. They run on their own threads
// (the browser's network process talks to them while the test's main loop waits), record every
// destination a client asks for exactly as it was asked, and connect every destination to
// 127.0.0.1 on the requested port: host names the test invents therefore resolve only here,
// never in the browser. Kept beside the real proxies (SquidProxy, MicrosocksProxy) for what those
// cannot do: report each destination exactly as the client named it (by name or by address),
// and vanish and come back on one port within a test.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace aurelo::test {

class LoopbackProxy {
public:
    enum class Kind { Socks5, Http };

    struct Destination {
        std::string host; // as the client sent it
        std::uint16_t port = 0;
        bool byName = false; // SOCKS5 address type 3 (a domain name), or any HTTP request
    };

    // `port` 0: any free port; otherwise that one (a proxy started again where one stopped).
    // Logins are the real proxies' business (SquidProxy, MicrosocksProxy).
    explicit LoopbackProxy(Kind kind, std::uint16_t port = 0);
    LoopbackProxy(const LoopbackProxy&) = delete;
    LoopbackProxy& operator=(const LoopbackProxy&) = delete;
    ~LoopbackProxy();

    std::uint16_t port() const { return m_port; }
    std::vector<Destination> destinations() const;

private:
    void serve(int client);
    // What the client asks for, once it is let in. A plain HTTP request (not CONNECT) leaves
    // its head in `forward`, for the destination.
    std::optional<Destination> socksHandshake(int client);
    std::optional<Destination> httpHandshake(int client, std::string& forward);

    Kind m_kind;
    int m_listener = -1;
    std::uint16_t m_port = 0;
    std::thread m_acceptThread;
    mutable std::mutex m_mutex;
    std::vector<Destination> m_destinations;
    std::vector<std::thread> m_workers;
    std::vector<int> m_sockets;
};

// A loopback port on which nothing listens.
std::uint16_t closedLoopbackPort();

} // namespace aurelo::test
