#pragma once

// An attacker without an account, on its own threads, against a service on loopback: clients that
// send their headers a line at a time and never finish, and clients that send large bodies
// without a token, again and again. Bounded in count and time; it stops by itself.

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace aurelo::service::test {

struct AbuseOptions {
    unsigned port = 0;
    // The attacker's own loopback address, so that caps per address do not mix it up with
    // the legitimate clients on 127.0.0.1.
    std::string source = "127.0.0.2";
    int slowClients = 50;
    std::chrono::milliseconds drip{500};
    int bodyClients = 8;
    std::size_t bodyBytes = 24u * 1024 * 1024;
    std::string bodyPath = "/api/transcribe";
    std::chrono::milliseconds duration{6000};
};

struct AbuseReport {
    int slowOpened = 0;
    int slowClosedByServer = 0;
    int bodyAttempts = 0;
    // Attempts the server cut short: it answered or closed before the whole body was sent.
    int bodyCutShort = 0;
    std::map<unsigned, int> bodyStatuses; // status of each answer received
};

class AbuseClients {
public:
    explicit AbuseClients(AbuseOptions options);
    AbuseClients(const AbuseClients&) = delete;
    AbuseClients& operator=(const AbuseClients&) = delete;
    ~AbuseClients();

    // Waits for the attack to end (its duration) and reports.
    AbuseReport finish();

private:
    void runSlowClients();
    void runBodyClient();

    AbuseOptions m_options;
    std::chrono::steady_clock::time_point m_end;
    std::mutex m_mutex;
    AbuseReport m_report;
    std::vector<std::thread> m_threads;
};

} // namespace aurelo::service::test
