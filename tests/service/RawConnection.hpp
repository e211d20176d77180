#pragma once

// A plain TCP connection to a server on loopback, for the requests no HTTP client library sends:
// half-sent headers, bodies cut short, connections left idle. Waiting runs the thread's main loop,
// so that a server in the same process keeps working.

#include <chrono>
#include <functional>
#include <string>

namespace aurelo::service::test {

// The status of the HTTP answer that `received` starts with, 0 when none.
unsigned answerStatus(const std::string& received);

class RawConnection {
public:
    // Connects to 127.0.0.1:`port` from `source` (another loopback address stands for another
    // client address).
    explicit RawConnection(unsigned port, const std::string& source = "127.0.0.1");
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;
    ~RawConnection();

    // A blocking socket connected to 127.0.0.1:`port` from `source`, whose sends and receives
    // give up after a second; -1 when it cannot connect.
    static int connectFrom(const std::string& source, unsigned port);
    // False when the server has closed the connection.
    bool send(const std::string& data);
    // Reads until the server closes the connection or `limit` has passed; true when it closed.
    bool waitUntilClosed(std::chrono::milliseconds limit);
    // Reads until a whole answer head ("…\r\n\r\n") is in, or `limit` has passed.
    bool waitForAnswerHead(std::chrono::milliseconds limit);
    const std::string& received() const { return m_received; }
    unsigned status() const { return answerStatus(m_received); }
    // The value of an answer header (name in any case), empty when absent.
    std::string header(const std::string& name) const;

private:
    // Reads what is there; false once the server has closed.
    bool pump();
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

    int m_fd = -1;
    bool m_closed = false;
    std::string m_received;
};

} // namespace aurelo::service::test
