#include "support/LoopbackProxy.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <glib.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace aurelo::test {

namespace {

int listenOnLoopback(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    // A proxy started again on the port of one that stopped: the old connections' TIME_WAIT
    // must not keep it from listening.
    const int reuse = 1;
    if (fd >= 0)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error(std::string("test proxy cannot listen on loopback: ") +
                                 std::strerror(errno));
    port = ntohs(address.sin_port);
    return fd;
}

int connectToLoopback(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool readExactly(int fd, void* buffer, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t n = ::recv(fd, bytes, size, 0);
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool writeAll(int fd, const void* buffer, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t n = ::send(fd, bytes, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void relay(int a, int b) {
    std::array<char, 16384> buffer{};
    pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
    while (::poll(fds, 2, -1) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = ::recv(fds[i].fd, buffer.data(), buffer.size(), 0);
            if (n <= 0 || !writeAll(fds[1 - i].fd, buffer.data(), static_cast<std::size_t>(n)))
                return;
        }
    }
}

// Whether a request head has "Proxy-Authorization: Basic <user:password>" with exactly these
// credentials (the header name and the scheme in any case).
bool carriesBasicLogin(const std::string& head, const LoopbackProxy::Credentials& credentials) {
    const std::string login = credentials.username + ":" + credentials.password;
    gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(login.data()), login.size());
    const std::string token(encoded);
    g_free(encoded);
    const std::string prefix = "\r\nproxy-authorization: basic ";
    for (std::size_t at = 0; at + prefix.size() <= head.size(); ++at) {
        if (g_ascii_strncasecmp(head.c_str() + at, prefix.c_str(), prefix.size()) != 0)
            continue;
        const std::size_t value = at + prefix.size();
        return head.compare(value, token.size() + 2, token + "\r\n") == 0;
    }
    return false;
}

} // namespace

LoopbackProxy::LoopbackProxy(Kind kind, std::uint16_t port, std::optional<Credentials> credentials)
    : m_kind(kind), m_credentials(std::move(credentials)), m_port(port) {
    m_listener = listenOnLoopback(m_port);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

LoopbackProxy::~LoopbackProxy() {
    m_stopping = true;
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

void LoopbackProxy::acceptLoop() {
    while (!m_stopping) {
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        std::lock_guard lock(m_mutex);
        m_sockets.push_back(client);
        m_workers.emplace_back([this, client] { serve(client); });
    }
}

void LoopbackProxy::serve(int client) {
    Destination destination;
    std::string forward;
    const bool ok = m_kind == Kind::Socks5 ? socksHandshake(client, destination)
                                           : httpHandshake(client, destination, forward);
    if (!ok)
        return;
    {
        std::lock_guard lock(m_mutex);
        m_destinations.push_back(destination);
    }
    const int upstream = connectToLoopback(destination.port);
    if (m_kind == Kind::Socks5) {
        const unsigned char reply[] = {
            5, static_cast<unsigned char>(upstream < 0 ? 5 : 0), 0, 1, 0, 0, 0, 0, 0, 0};
        writeAll(client, reply, sizeof reply);
    } else if (destination.method == "CONNECT") {
        const std::string reply = upstream < 0 ? "HTTP/1.1 502 Bad Gateway\r\n\r\n"
                                               : "HTTP/1.1 200 Connection Established\r\n\r\n";
        writeAll(client, reply.data(), reply.size());
    } else if (upstream >= 0) {
        writeAll(upstream, forward.data(), forward.size());
    }
    if (upstream < 0)
        return;
    {
        std::lock_guard lock(m_mutex);
        m_sockets.push_back(upstream);
    }
    relay(client, upstream);
    ::shutdown(upstream, SHUT_RDWR);
    ::shutdown(client, SHUT_RDWR);
}

bool LoopbackProxy::socksHandshake(int client, Destination& destination) {
    unsigned char head[2];
    if (!readExactly(client, head, 2) || head[0] != 5)
        return false;
    std::array<unsigned char, 255> methods{};
    if (!readExactly(client, methods.data(), head[1]))
        return false;
    if (m_credentials) {
        if (!socksLogin(client, methods.data(), head[1]))
            return false;
    } else {
        const unsigned char noAuthentication[] = {5, 0};
        if (!writeAll(client, noAuthentication, 2))
            return false;
    }
    unsigned char request[4];
    if (!readExactly(client, request, 4) || request[0] != 5 || request[1] != 1)
        return false;
    destination.method = "CONNECT";
    if (request[3] == 1) {
        unsigned char ip[4];
        if (!readExactly(client, ip, 4))
            return false;
        char text[INET_ADDRSTRLEN];
        ::inet_ntop(AF_INET, ip, text, sizeof text);
        destination.host = text;
    } else if (request[3] == 3) {
        unsigned char length = 0;
        if (!readExactly(client, &length, 1))
            return false;
        destination.host.resize(length);
        if (!readExactly(client, destination.host.data(), length))
            return false;
        destination.byName = true;
    } else if (request[3] == 4) {
        unsigned char ip[16];
        if (!readExactly(client, ip, 16))
            return false;
        char text[INET6_ADDRSTRLEN];
        ::inet_ntop(AF_INET6, ip, text, sizeof text);
        destination.host = text;
    } else {
        return false;
    }
    unsigned char port[2];
    if (!readExactly(client, port, 2))
        return false;
    destination.port = static_cast<std::uint16_t>(port[0] << 8 | port[1]);
    return true;
}

bool LoopbackProxy::socksLogin(int client, const unsigned char* methods, std::size_t count) {
    bool offered = false;
    for (std::size_t i = 0; i < count; ++i)
        offered = offered || methods[i] == 2;
    if (!offered) {
        ++m_refusedLogins;
        const unsigned char noAcceptableMethod[] = {5, 0xFF};
        writeAll(client, noAcceptableMethod, 2);
        return false;
    }
    const unsigned char userPassword[] = {5, 2};
    unsigned char version = 0, length = 0;
    if (!writeAll(client, userPassword, 2) || !readExactly(client, &version, 1) || version != 1 ||
        !readExactly(client, &length, 1))
        return false;
    std::string username(length, '\0');
    if (!readExactly(client, username.data(), length) || !readExactly(client, &length, 1))
        return false;
    std::string password(length, '\0');
    if (!readExactly(client, password.data(), length))
        return false;
    const bool accepted =
        username == m_credentials->username && password == m_credentials->password;
    const unsigned char status[] = {1, static_cast<unsigned char>(accepted ? 0 : 1)};
    writeAll(client, status, 2);
    if (!accepted)
        ++m_refusedLogins;
    return accepted;
}

bool LoopbackProxy::httpHandshake(int client, Destination& destination, std::string& forward) {
    std::string head;
    char c = 0;
    while (head.find("\r\n\r\n") == std::string::npos) {
        if (::recv(client, &c, 1, 0) != 1 || head.size() > 65536)
            return false;
        head += c;
    }
    if (m_credentials && !carriesBasicLogin(head, *m_credentials)) {
        ++m_refusedLogins;
        const std::string refusal = "HTTP/1.1 407 Proxy Authentication Required\r\n"
                                    "Proxy-Authenticate: Basic realm=\"loopback\"\r\n"
                                    "Content-Length: 0\r\nConnection: close\r\n\r\n";
        writeAll(client, refusal.data(), refusal.size());
        return false;
    }
    // "CONNECT host:port HTTP/1.1" or "GET http://host:port/path HTTP/1.1".
    const auto firstSpace = head.find(' ');
    const auto secondSpace = head.find(' ', firstSpace + 1);
    if (firstSpace == std::string::npos || secondSpace == std::string::npos)
        return false;
    destination.method = head.substr(0, firstSpace);
    std::string target = head.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    if (destination.method != "CONNECT") {
        const auto scheme = target.find("://");
        if (scheme == std::string::npos)
            return false;
        target = target.substr(scheme + 3);
        target = target.substr(0, target.find('/'));
        forward = head;
    }
    const auto colon = target.rfind(':');
    destination.host = target.substr(0, colon);
    destination.port = colon == std::string::npos
                           ? 80
                           : static_cast<std::uint16_t>(std::stoi(target.substr(colon + 1)));
    destination.byName = true;
    return true;
}

std::uint16_t closedLoopbackPort() {
    std::uint16_t port = 0;
    const int fd = listenOnLoopback(port);
    ::close(fd);
    return port;
}

} // namespace aurelo::test
