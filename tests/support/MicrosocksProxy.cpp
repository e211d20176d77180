#include "support/MicrosocksProxy.hpp"

#include "support/LoopbackProxy.hpp"

#include <unistd.h>

#include <sstream>

namespace aurelo::test {

namespace {

// Bind-mounts the two files over the system's, then becomes the proxy. unshare makes the mounts
// private to this process, so nothing else sees them.
constexpr const char* kWithOwnHostsScript =
    R"(mount --bind "$1" /etc/hosts && mount --bind "$2" /etc/nsswitch.conf && shift 2 && )"
    R"(exec "$@")";

} // namespace

MicrosocksProxy::MicrosocksProxy(const Options& options) : m_port(closedLoopbackPort()) {
    const auto& dir = m_directory.path();
    std::string hosts = "127.0.0.1 localhost\n";
    for (const auto& name : options.hostNames)
        hosts += "127.0.0.1 " + name + "\n";
    writeFile(dir / "hosts", hosts);
    writeFile(dir / "nsswitch.conf", "hosts: files\n");

    // Root may make a mount namespace directly; anyone else, inside a user namespace of their
    // own.
    std::vector<std::string> command = {"unshare"};
    if (::geteuid() != 0)
        command.insert(command.end(), {"--user", "--map-root-user"});
    command.insert(command.end(), {"--mount", "--", "sh", "-c", kWithOwnHostsScript, "sh",
                                   (dir / "hosts").string(), (dir / "nsswitch.conf").string(),
                                   "microsocks", "-i", "127.0.0.1", "-p", std::to_string(m_port)});
    if (!options.username.empty())
        command.insert(command.end(), {"-u", options.username, "-P", options.password});
    m_process.emplace(command, m_port, std::vector{dir / "microsocks.log"});
}

std::vector<std::string> MicrosocksProxy::destinations() const {
    // "client[4] 127.0.0.1: connected to chat.invalid:8080"
    constexpr std::string_view kConnected = ": connected to ";
    std::vector<std::string> destinations;
    std::istringstream log(readFile(m_directory.path() / "microsocks.log"));
    for (std::string line; std::getline(log, line);)
        if (const auto at = line.find(kConnected); at != std::string::npos)
            destinations.push_back(line.substr(at + kConnected.size()));
    return destinations;
}

} // namespace aurelo::test
