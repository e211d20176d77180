#pragma once

// A server program that one test runs: its output goes to a log file, it counts as started once
// its loopback port accepts connections, and it is killed and reaped when the test is done. One
// that exits or does not listen in time throws with its logs: a test must never run against
// nothing.

#include "platform/GRef.hpp"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace aurelo::test {

class ServerProcess {
public:
    // Runs `arguments` (the program is searched on PATH) with standard output and error in
    // `logs.front()`, and waits for it to listen on 127.0.0.1:`port`. A failure quotes every
    // file of `logs`: the program's own log may be elsewhere than its output.
    ServerProcess(const std::vector<std::string>& arguments, std::uint16_t port,
                  std::vector<std::filesystem::path> logs);
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    // Kills it at once: a graceful stop can take seconds (Squid's takes two).
    ~ServerProcess() { end(false); }

    // Asks the program to end, kills it if it lingers, and reaps it. Its logs are complete
    // afterwards: some servers write a connection's entry only when it closes.
    void stop() { end(true); }

private:
    bool running() const;
    void end(bool gracefully);
    [[noreturn]] void fail(const std::string& what);

    GRef<GSubprocess> m_process;
    std::vector<std::filesystem::path> m_logs;
};

} // namespace aurelo::test
