#include "AbuseClients.hpp"

#include "RawConnection.hpp"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace aurelo::service::test {

namespace {

using Clock = std::chrono::steady_clock;

// Whether the server has answered or hung up: readable data or end of stream.
bool serverSpoke(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLIN | POLLHUP | POLLERR));
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
        int fd = RawConnection::connectFrom(m_options.source, m_options.port);
        std::string start = "POST /api/translate HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        if (fd >= 0 && ::send(fd, start.data(), start.size(), MSG_NOSIGNAL) > 0)
            open.push_back(fd);
        else if (fd >= 0)
            ::close(fd);
    }
    int opened = static_cast<int>(open.size()), closed = 0;
    while (Clock::now() < m_end && !open.empty()) {
        std::this_thread::sleep_for(m_options.drip);
        std::erase_if(open, [&](int fd) {
            // Whatever the server answered is read; the end of the stream means it hung up.
            char buffer[4096];
            ssize_t n = 0;
            while ((n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
            }
            const char line[] = "X-Slow: 1\r\n";
            bool gone = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) ||
                        (::send(fd, line, sizeof line - 1, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
                         errno != EAGAIN);
            if (gone) {
                ::close(fd);
                ++closed;
            }
            return gone;
        });
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
        int fd = RawConnection::connectFrom(m_options.source, m_options.port);
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
        // The answer's status line (a read gives up after a second).
        std::string answer;
        char buffer[4096];
        for (ssize_t n = 1; !answer.contains("\r\n") && n > 0;)
            if ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
                answer.append(buffer, static_cast<std::size_t>(n));
        unsigned status = answerStatus(answer);
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
