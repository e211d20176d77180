#include "PrivateSoundServer.hpp"

#include "support/MainLoopWait.hpp"
#include "support/Programs.hpp"

#include <gio/gio.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace aurelo::test {

namespace {

bool socketAcceptsConnections(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const bool connected =
        connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

} // namespace

PrivateSoundServer::PrivateSoundServer() : m_directory(m_folder.path().string()) {}

PrivateSoundServer::~PrivateSoundServer() {
    if (m_pid != 0 && !m_exited) {
        kill(m_pid, SIGTERM);
        runMainLoopUntil([this] { return m_exited; }, std::chrono::seconds(10));
        if (!m_exited) {
            kill(m_pid, SIGKILL);
            // The child watch points at this object, so it must have fired before we go.
            runMainLoopUntil([this] { return m_exited; }, std::chrono::minutes(1));
        }
    }
    if (m_previousServer)
        g_setenv("PULSE_SERVER", m_previousServer->c_str(), TRUE);
    else if (m_pointed)
        g_unsetenv("PULSE_SERVER");
}

std::optional<std::string> PrivateSoundServer::missingProgram() {
    for (const char* program : {"pulseaudio", "pactl", "paplay", "espeak-ng"})
        if (!hasProgram(program))
            return program;
    return std::nullopt;
}

std::string PrivateSoundServer::speak(const std::string& name, const std::string& ssml) const {
    const std::string file = m_directory + "/" + name + ".wav";
    auto run = runProgram({"espeak-ng", "-m", "-v", "en-us", "-s", "130", "-w", file, ssml});
    if (!run.succeeded)
        throw std::runtime_error("espeak-ng failed: " + run.errors);
    return file;
}

std::string PrivateSoundServer::address() const {
    return "unix:" + m_directory + "/native";
}

std::string PrivateSoundServer::log() const {
    return readFile(m_directory + "/daemon.log");
}

bool PrivateSoundServer::start() {
    for (const char* sub : {"/home", "/runtime", "/state"})
        std::filesystem::create_directories(m_directory + sub);

    // Everything the daemon could read or write lives in the temporary folder. It runs in the
    // foreground as our child; as root it only warns that per-user mode is meant for users.
    // Module loading order matters: the sink exists before the socket accepts anyone.
    const std::string socket = m_directory + "/native";
    std::vector<std::string> arguments{
        "pulseaudio",
        "-n",
        "--daemonize=no",
        "--system=false",
        "--exit-idle-time=-1",
        "--use-pid-file=no",
        "--realtime=no",
        "--high-priority=no",
        "--log-target=file:" + m_directory + "/daemon.log",
        "--load=module-null-sink sink_name=aurelo_test_sink",
        "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket,
    };
    std::vector<char*> argv;
    for (auto& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    // Everything the daemon keeps lives in the temporary folder.
    gchar** environment = g_environ_unsetenv(g_get_environ(), "PULSE_SERVER");
    for (const auto& [name, folder] : {std::pair{"HOME", "/home"},
                                       {"XDG_RUNTIME_DIR", "/runtime"},
                                       {"XDG_CONFIG_HOME", "/home"},
                                       {"PULSE_RUNTIME_PATH", "/runtime"},
                                       {"PULSE_STATE_PATH", "/state"}})
        environment = g_environ_setenv(environment, name, (m_directory + folder).c_str(), TRUE);

    GError* error = nullptr;
    const gboolean spawned = g_spawn_async(
        m_directory.c_str(), argv.data(), environment,
        static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                 G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
        nullptr, nullptr, &m_pid, &error);
    g_strfreev(environment);
    if (!spawned) {
        m_failure = std::string("cannot start pulseaudio: ") + (error ? error->message : "?");
        g_clear_error(&error);
        return false;
    }
    g_child_watch_add(m_pid, childExitedCallback, this);

    const bool ready = runMainLoopUntil(
        [&] { return m_exited || socketAcceptsConnections(socket); }, std::chrono::seconds(20));
    if (!ready || m_exited) {
        m_failure = std::string(m_exited ? "pulseaudio exited" : "pulseaudio did not answer") +
                    "; its log:\n" + log();
        return false;
    }
    if (const char* previous = g_getenv("PULSE_SERVER"))
        m_previousServer = previous;
    g_setenv("PULSE_SERVER", address().c_str(), TRUE);
    m_pointed = true;
    return true;
}

void PrivateSoundServer::childExitedCallback(GPid pid, gint, gpointer self) {
    g_spawn_close_pid(pid);
    static_cast<PrivateSoundServer*>(self)->m_exited = true;
}

} // namespace aurelo::test
