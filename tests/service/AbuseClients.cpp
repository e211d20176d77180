#include "AbuseClients.hpp"

#include "RawConnection.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace aurelo::service::test {

namespace {

using Clock = std::chrono::steady_clock;

// A blocking socket to 127.0.0.1:`port` from `source`, with one-second send and receive
// time-outs so that no call can hang the attack past its end; -1 when it cannot connect.
int connectFrom(const std::string& source, unsigned port) {
    int fd = RawConnection::connectFrom(source, port);
    timeval second{1, 0};
    if (fd >= 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &second, sizeof second);
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
    }
    return fd;
}

// Whether the server has answered or hung up: readable data or end of stream.
bool serverSpoke(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLIN | POLLHUP | POLLERR));
}

// The status of the answer on `fd`, read for up to two seconds; 0 when none came.
unsigned readStatus(int fd) {
    std::string head;
    char buffer[4096];
    auto deadline = Clock::now() + std::chrono::seconds(2);
    while (head.find("\r\n") == std::string::npos && Clock::now() < deadline) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        head.append(buffer, static_cast<std::size_t>(n));
    }
    return head.starts_with("HTTP/1.") && head.size() > 12
               ? static_cast<unsigned>(std::atoi(head.c_str() + 9))
               : 0;
}

} // namespace

AbuseClients::AbuseClients(AbuseOptions options)
    : m_options(std::move(options)), m_end(Clock::now() + m_options.duration) {
    m_threads.emplace_back([this] { runSlowClients(); });
    for (int i = 0; i < m_options.bodyClients; ++i)
        m_threads.emplace_back([this] { runBodyClient(); });
}

AbuseClients::~AbuseClients() {
    for (auto& thread : m_threads)
        if (thread.joinable())
            thread.join();
}

AbuseReport AbuseClients::finish() {
    for (auto& thread : m_threads)
        if (thread.joinable())
            thread.join();
    std::lock_guard lock(m_mutex);
    return m_report;
}

void AbuseClients::runSlowClients() {
    std::vector<int> open;
    for (int i = 0; i < m_options.slowClients; ++i) {
        int fd = connectFrom(m_options.source, m_options.port);
        if (fd < 0)
            continue;
        std::string start = "POST /api/translate HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        (void)::send(fd, start.data(), start.size(), MSG_NOSIGNAL);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        open.push_back(fd);
    }
    int opened = static_cast<int>(open.size()), closed = 0;
    while (Clock::now() < m_end && !open.empty()) {
        std::this_thread::sleep_for(m_options.drip);
        for (auto it = open.begin(); it != open.end();) {
            char buffer[4096];
            bool gone = false;
            while (serverSpoke(*it)) {
                ssize_t n = ::recv(*it, buffer, sizeof buffer, 0);
                if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) {
                    gone = true;
                    break;
                }
                if (n < 0)
                    break;
            }
            const char line[] = "X-Slow: 1\r\n";
            if (!gone && ::send(*it, line, sizeof line - 1, MSG_NOSIGNAL) < 0 && errno != EAGAIN)
                gone = true;
            if (gone) {
                ::close(*it);
                it = open.erase(it);
                ++closed;
            } else {
                ++it;
            }
        }
    }
    for (int fd : open)
        ::close(fd);
    std::lock_guard lock(m_mutex);
    m_report.slowOpened += opened;
    m_report.slowClosedByServer += closed;
}

void AbuseClients::runBodyClient() {
    std::string chunk(64 * 1024, 'A');
    while (Clock::now() < m_end) {
        int fd = connectFrom(m_options.source, m_options.port);
        if (fd < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        std::string head = "POST " + m_options.bodyPath +
                           " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                           "Content-Length: " +
                           std::to_string(m_options.bodyBytes) + "\r\n\r\n";
        bool cut = ::send(fd, head.data(), head.size(), MSG_NOSIGNAL) < 0;
        std::size_t sent = 0;
        while (!cut && sent < m_options.bodyBytes && Clock::now() < m_end) {
            if (serverSpoke(fd)) {
                cut = true;
                break;
            }
            std::size_t size = std::min(chunk.size(), m_options.bodyBytes - sent);
            ssize_t n = ::send(fd, chunk.data(), size, MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                cut = true;
            else if (n > 0)
                sent += static_cast<std::size_t>(n);
        }
        unsigned status = readStatus(fd);
        ::close(fd);
        std::lock_guard lock(m_mutex);
        ++m_report.bodyAttempts;
        if (cut || sent < m_options.bodyBytes)
            ++m_report.bodyCutShort;
        if (status)
            ++m_report.bodyStatuses[status];
    }
}

} // namespace aurelo::service::test
