#pragma once

// A real SOCKS5 proxy (microsocks) on 127.0.0.1 for one test, optionally wanting the
// user/password method. microsocks resolves destination names itself, with the C library: it
// runs in a mount namespace of its own whose /etc/hosts maps the names a test invents to
// 127.0.0.1 and whose name service knows no other source, so those names resolve there and
// nowhere else.

#include "support/ServerProcess.hpp"
#include "support/TestDirectory.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace aurelo::test {

class MicrosocksProxy {
public:
    struct Options {
        std::vector<std::string> hostNames = {};
        // Empty: no login wanted. Compared as bytes (SOCKS5 has no character set).
        std::string username = {};
        std::string password = {};
    };

    explicit MicrosocksProxy(const Options& options);

    std::uint16_t port() const { return m_port; }
    // "host:port" of every destination it connected, as the client named it. microsocks logs
    // nothing for a refused login or a destination it could not reach.
    std::vector<std::string> destinations() const;

private:
    TestDirectory m_directory;
    std::uint16_t m_port = 0;
    std::optional<ServerProcess> m_process;
};

} // namespace aurelo::test
