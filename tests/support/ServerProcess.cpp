#include "support/ServerProcess.hpp"

#include "support/TestDirectory.hpp"

#include <arpa/inet.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <stdexcept>
#include <thread>

namespace aurelo::test {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Squid takes a few hundred milliseconds; a loaded machine running WebKit beside it, more.
constexpr auto kStartDeadline = 15s;
constexpr auto kStopDeadline = 5s;

bool acceptsConnections(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// A test that crashes must not leave its servers running (this survives the exec, though not a
// server's own switch to another user).
void endWithTestCallback(gpointer) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
}

bool waitUntil(const std::function<bool()>& condition, Clock::duration deadline) {
    for (const auto end = Clock::now() + deadline; !condition(); std::this_thread::sleep_for(20ms))
        if (Clock::now() > end)
            return false;
    return true;
}

} // namespace

ServerProcess::ServerProcess(const std::vector<std::string>& arguments, std::uint16_t port,
                             std::vector<std::filesystem::path> logs)
    : m_logs(std::move(logs)) {
    const std::string where = " on 127.0.0.1:" + std::to_string(port);
    // Otherwise someone else's server would answer for one that could not listen.
    if (acceptsConnections(port))
        throw std::runtime_error("cannot start " + arguments.front() + where + ": port taken");
    std::vector<const gchar*> argv;
    for (const auto& argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    auto launcher = adoptGRef(g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDERR_MERGE));
    g_subprocess_launcher_set_stdout_file_path(launcher.get(), m_logs.front().c_str());
    g_subprocess_launcher_set_child_setup(launcher.get(), endWithTestCallback, nullptr, nullptr);
    GErrorHolder error;
    m_process = adoptGRef(g_subprocess_launcher_spawnv(launcher.get(), argv.data(), error.out()));
    if (!m_process)
        throw std::runtime_error("cannot start " + arguments.front() + ": " + error->message);
    if (!waitUntil([&] { return !running() || acceptsConnections(port); }, kStartDeadline))
        fail(arguments.front() + " did not listen" + where + " in time");
    if (!running())
        fail(arguments.front() + " ended instead of listening" + where);
}

bool ServerProcess::running() const {
    // GLib reaps the child on its worker thread and forgets the identifier then.
    return m_process && g_subprocess_get_identifier(m_process.get());
}

void ServerProcess::end(bool gracefully) {
    if (!m_process)
        return;
    if (running()) {
        if (gracefully)
            g_subprocess_send_signal(m_process.get(), SIGTERM);
        if (!gracefully || !waitUntil([&] { return !running(); }, kStopDeadline))
            g_subprocess_force_exit(m_process.get());
    }
    g_subprocess_wait(m_process.get(), nullptr, nullptr);
    m_process.reset();
}

void ServerProcess::fail(const std::string& what) {
    end(false);
    std::string message = what;
    for (const auto& log : m_logs)
        message += "\n--- " + log.string() + " ---\n" + readFile(log);
    throw std::runtime_error(message);
}

} // namespace aurelo::test
