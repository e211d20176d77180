#include "support/LoopbackProxy.hpp"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace aurelo::test {

namespace {

using namespace std::string_view_literals;

sockaddr_in loopbackAddress(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

int listenOnLoopback(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopbackAddress(port);
    socklen_t length = sizeof address;
    // A proxy started again on the port of one that stopped: the old connections' TIME_WAIT
    // must not keep it from listening.
    const int reuse = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error(std::string("test proxy cannot listen on loopback: ") +
                                 std::strerror(errno));
    port = ntohs(address.sin_port);
    return fd;
}

int connectToLoopback(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopbackAddress(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return fd;
    ::close(fd);
    return -1;
}

// The sockets block: a receive with MSG_WAITALL and a send each move every byte, unless the
// peer goes away.
bool readAll(int fd, void* buffer, std::size_t size) {
    return size == 0 || ::recv(fd, buffer, size, MSG_WAITALL) == static_cast<ssize_t>(size);
}

bool writeAll(int fd, std::string_view bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

// A SOCKS5 string: a length byte, then that many bytes.
std::optional<std::string> readShortString(int fd) {
    unsigned char length = 0;
    std::string text;
    if (!readAll(fd, &length, 1) || !readAll(fd, text.assign(length, '\0').data(), length))
        return std::nullopt;
    return text;
}

std::optional<std::string> readAddress(int fd, int family) {
    unsigned char ip[16];
    char text[INET6_ADDRSTRLEN];
    if (!readAll(fd, ip, family == AF_INET ? 4 : 16) || !::inet_ntop(family, ip, text, sizeof text))
        return std::nullopt;
    return text;
}

void relay(int a, int b) {
    std::array<char, 16384> buffer{};
    pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
    while (::poll(fds, 2, -1) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = ::recv(fds[i].fd, buffer.data(), buffer.size(), 0);
            if (n <= 0 || !writeAll(fds[1 - i].fd, {buffer.data(), static_cast<std::size_t>(n)}))
                return;
        }
    }
}

} // namespace

LoopbackProxy::LoopbackProxy(Kind kind, std::uint16_t port)
    : m_kind(kind), m_listener(listenOnLoopback(port)), m_port(port) {
    m_acceptThread = std::thread([this] {
        // Ends when the destructor shuts the listener down.
        for (int client; (client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
            std::lock_guard lock(m_mutex);
            m_sockets.push_back(client);
            m_workers.emplace_back([this, client] { serve(client); });
        }
    });
}

LoopbackProxy::~LoopbackProxy() {
    ::shutdown(m_listener, SHUT_RDWR);
    m_acceptThread.join();
    ::close(m_listener);
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(m_mutex);
        for (int fd : m_sockets)
            ::shutdown(fd, SHUT_RDWR);
        workers = std::move(m_workers);
    }
    for (auto& worker : workers)
        worker.join();
    for (int fd : m_sockets)
        ::close(fd);
}

std::vector<LoopbackProxy::Destination> LoopbackProxy::destinations() const {
    std::lock_guard lock(m_mutex);
    return m_destinations;
}

void LoopbackProxy::serve(int client) {
    std::string forward;
    const auto destination =
        m_kind == Kind::Socks5 ? socksHandshake(client) : httpHandshake(client, forward);
    if (!destination)
        return;
    const int upstream = connectToLoopback(destination->port);
    {
        std::lock_guard lock(m_mutex);
        m_destinations.push_back(*destination);
        if (upstream >= 0)
            m_sockets.push_back(upstream);
    }
    if (m_kind == Kind::Socks5) // succeeded, or "connection refused"; bound to 0.0.0.0:0
        writeAll(client, upstream < 0 ? "\5\5\0\1\0\0\0\0\0\0"sv : "\5\0\0\1\0\0\0\0\0\0"sv);
    else if (forward.empty())
        writeAll(client, upstream < 0 ? "HTTP/1.1 502 Bad Gateway\r\n\r\n"sv
                                      : "HTTP/1.1 200 Connection Established\r\n\r\n"sv);
    else if (upstream >= 0)
        writeAll(upstream, forward);
    if (upstream < 0)
        return;
    relay(client, upstream);
    ::shutdown(upstream, SHUT_RDWR);
    ::shutdown(client, SHUT_RDWR);
}

std::optional<LoopbackProxy::Destination> LoopbackProxy::socksHandshake(int client) {
    unsigned char version = 0;
    std::optional<std::string> methods;
    if (!readAll(client, &version, 1) || version != 5 || !(methods = readShortString(client)))
        return std::nullopt;
    if (!writeAll(client, "\5\0"sv))
        return std::nullopt;
    // CONNECT, then the address: type 1 IPv4, 3 a name, 4 IPv6.
    unsigned char request[4];
    if (!readAll(client, request, 4) || request[0] != 5 || request[1] != 1)
        return std::nullopt;
    std::optional<std::string> host;
    if (request[3] == 3)
        host = readShortString(client);
    else if (request[3] == 1 || request[3] == 4)
        host = readAddress(client, request[3] == 1 ? AF_INET : AF_INET6);
    unsigned char port[2];
    if (!host || !readAll(client, port, 2))
        return std::nullopt;
    return Destination{*host, static_cast<std::uint16_t>(port[0] << 8 | port[1]), request[3] == 3};
}

std::optional<LoopbackProxy::Destination> LoopbackProxy::httpHandshake(int client,
                                                                       std::string& forward) {
    std::string head;
    for (char c = 0; !head.ends_with("\r\n\r\n"); head += c)
        if (::recv(client, &c, 1, 0) != 1 || head.size() > 65536)
            return std::nullopt;
    // "CONNECT host:port HTTP/1.1" or "GET http://host:port/path HTTP/1.1".
    const auto firstSpace = head.find(' ');
    const auto secondSpace = head.find(' ', firstSpace + 1);
    if (secondSpace == std::string::npos)
        return std::nullopt;
    std::string target = head.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    if (!head.starts_with("CONNECT ")) {
        const auto scheme = target.find("://");
        if (scheme == std::string::npos)
            return std::nullopt;
        target = target.substr(scheme + 3, target.find('/', scheme + 3) - scheme - 3);
        forward = head;
    }
    const auto colon = target.rfind(':');
    return Destination{target.substr(0, colon),
                       colon == std::string::npos
                           ? std::uint16_t(80)
                           : static_cast<std::uint16_t>(std::stoi(target.substr(colon + 1))),
                       true};
}

std::uint16_t closedLoopbackPort() {
    std::uint16_t port = 0;
    ::close(listenOnLoopback(port));
    return port;
}

} // namespace aurelo::test
