#pragma once

// A real Squid on 127.0.0.1 for one test, in a folder of its own: an HTTP proxy for plain
// requests and CONNECT tunnels to any port, optionally behind Basic authentication (Squid's own
// basic_ncsa_auth helper), with a log of who asked for what. The names a test invents reach
// 127.0.0.1 through it and nowhere else; it asks no name server outside.

#include "support/ServerProcess.hpp"
#include "support/TestDirectory.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace aurelo::test {

class SquidProxy {
public:
    struct Options {
        // Invented names that Squid resolves to 127.0.0.1.
        std::vector<std::string> hostNames = {};
        // Empty: every client is served without a login. The password is compared as the bytes
        // the client sends, so a non-ASCII one matches only when it arrives as UTF-8.
        std::string username = {};
        std::string password = {};
    };

    // One entry of Squid's access log.
    struct Request {
        std::string user;   // as the client offered it (refused too: status 407), or "-"
        std::string method; // "CONNECT" for a tunnel
        std::string url;    // "host:port" for a tunnel
        int status = 0;     // as Squid answered the client
    };

    explicit SquidProxy(const Options& options);

    std::uint16_t port() const { return m_port; }
    // Squid logs a request when it ends and a tunnel only when it closes: stop() first to see
    // them all.
    std::vector<Request> requests() const;
    void stop() { m_process->stop(); }

private:
    TestDirectory m_directory;
    std::uint16_t m_port = 0;
    std::optional<ServerProcess> m_process;
};

} // namespace aurelo::test
