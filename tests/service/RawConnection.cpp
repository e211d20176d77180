#include "RawConnection.hpp"

#include <glib.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace aurelo::service::test {

int RawConnection::connectFrom(const std::string& source, unsigned port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, source.c_str(), &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    timeval second{1, 0};
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        ::close(fd);
        return -1;
    }
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &second, sizeof second);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
    return fd;
}

unsigned answerStatus(const std::string& received) {
    return received.starts_with("HTTP/1.") && received.size() > 12
               ? static_cast<unsigned>(std::atoi(received.c_str() + 9))
               : 0;
}

RawConnection::RawConnection(unsigned port, const std::string& source)
    : m_fd(connectFrom(source, port)) {
    if (m_fd >= 0)
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
}

RawConnection::~RawConnection() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool RawConnection::send(const std::string& data) {
    std::size_t sent = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (sent < data.size() && m_fd >= 0 && !m_closed) {
        ssize_t n = ::send(m_fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        if (std::chrono::steady_clock::now() > deadline || !pump())
            return false;
        g_main_context_iteration(nullptr, FALSE);
    }
    return sent == data.size();
}

bool RawConnection::pump() {
    if (m_fd < 0 || m_closed)
        return false;
    char buffer[16384];
    while (true) {
        ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            m_received.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            m_closed = true;
            return false;
        }
        return true;
    }
}

bool RawConnection::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && pump() && std::chrono::steady_clock::now() < deadline)
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(1000);
    return done();
}

bool RawConnection::waitUntilClosed(std::chrono::milliseconds limit) {
    return waitUntil([this] { return m_closed; }, limit);
}

bool RawConnection::waitForAnswerHead(std::chrono::milliseconds limit) {
    return waitUntil([this] { return m_received.contains("\r\n\r\n"); }, limit);
}

std::string RawConnection::header(const std::string& name) const {
    std::size_t end = m_received.find("\r\n\r\n");
    std::size_t line = m_received.find("\r\n");
    while (line != std::string::npos && line < end) {
        std::size_t next = m_received.find("\r\n", line + 2);
        std::string text = m_received.substr(line + 2, next - line - 2);
        std::size_t colon = text.find(':');
        if (colon == name.size() && strncasecmp(text.c_str(), name.c_str(), colon) == 0)
            return std::string(g_strstrip(text.data() + colon + 1));
        line = next;
    }
    return {};
}

} // namespace aurelo::service::test
