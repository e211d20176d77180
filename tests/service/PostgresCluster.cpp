#include "PostgresCluster.hpp"

#include <glib.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <csignal>
#include <sstream>
#include <filesystem>
#include <fstream>
#include <vector>

namespace aurelo::service::test {

namespace {

constexpr const char* kUser = "aurelo";

void ignoreNoticeCallback(void*, const char*) {}

} // namespace

PostgresCluster::PostgresCluster(bool durable) {
    // In /tmp whatever TMPDIR says: the server's user must be able to reach the folder, and the
    // socket's path must stay within the 107 bytes a Unix socket address holds.
    std::string folder = "/tmp/aurelo-pg-XXXXXX";
    if (!::mkdtemp(folder.data())) {
        m_failure = "cannot make a temporary folder";
        return;
    }
    m_folder = folder;
    if (!std::filesystem::exists(std::filesystem::path(kBinaries) / "initdb")) {
        m_failure = std::string("PostgreSQL 15 is not installed (") + kBinaries +
                    "/initdb); scripts/deps installs postgresql-15";
        return;
    }
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody || ::chown(m_folder.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
            m_failure = "cannot hand the cluster folder to nobody";
            return;
        }
    }
    if (!run({std::string(kBinaries) + "/initdb", "-D", (m_folder / "data").string(), "-U", kUser,
              "-A", "trust", "-E", "UTF8", "--no-locale", "--no-sync", "--no-instructions"})) {
        m_failure = "initdb failed";
        return;
    }
    std::ofstream settings(m_folder / "data" / "postgresql.conf", std::ios::app);
    settings << "listen_addresses = ''\n"
             << "unix_socket_directories = '" << m_folder.string() << "'\n"
             << "max_connections = 60\n";
    if (!durable)
        settings << "fsync = off\nsynchronous_commit = off\nfull_page_writes = off\n";
    settings.close();
    if (!start()) {
        m_failure = "pg_ctl start failed; see " + (m_folder / "server.log").string();
        return;
    }
    watchOwner();
}

void PostgresCluster::watchOwner() {
    // A test program killed by its time-out never runs its destructors; the server would run on
    // and its folder stay behind. A watcher outside the program ends both once it is gone.
    std::vector<std::string> command = {"sh",
                                        "-c",
                                        "pid=$1; dir=$2; shift 2\n"
                                        "while kill -0 \"$pid\" 2>/dev/null; do sleep 1; done\n"
                                        // a server left frozen (freeze()) must wake to stop
                                        "post=$(head -n1 \"$dir/data/postmaster.pid\") && "
                                        "{ kill -CONT \"$post\"; pkill -CONT -P \"$post\"; } "
                                        "2>/dev/null\n"
                                        "\"$@\" -D \"$dir/data\" -m immediate -w stop\n"
                                        "rm -rf \"$dir\"\n",
                                        "sh",
                                        std::to_string(::getpid()),
                                        m_folder.string()};
    if (::geteuid() == 0)
        command.insert(command.end(),
                       {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"});
    command.push_back(std::string(kBinaries) + "/pg_ctl");
    std::vector<char*> argv;
    for (auto& part : command)
        argv.push_back(part.data());
    argv.push_back(nullptr);
    g_spawn_async("/", argv.data(), nullptr,
                  static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL |
                                           G_SPAWN_STDERR_TO_DEV_NULL),
                  nullptr, nullptr, nullptr, nullptr);
}

PostgresCluster::~PostgresCluster() {
    if (m_frozen) // a stopped server would never answer the stop below
        thaw();
    if (m_running)
        run({std::string(kBinaries) + "/pg_ctl", "-D", (m_folder / "data").string(), "-m",
             "immediate", "-w", "stop"});
    std::error_code ignored;
    if (!m_folder.empty())
        std::filesystem::remove_all(m_folder, ignored);
}

bool PostgresCluster::run(const std::vector<std::string>& command) {
    std::vector<std::string> full;
    if (::geteuid() == 0)
        full = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"};
    full.insert(full.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (auto& part : full)
        argv.push_back(part.data());
    argv.push_back(nullptr);
    int status = -1;
    gchar* output = nullptr;
    gchar* errors = nullptr;
    bool spawned = g_spawn_sync(m_folder.c_str(), argv.data(), nullptr, G_SPAWN_SEARCH_PATH,
                                nullptr, nullptr, &output, &errors, &status, nullptr);
    if (spawned && !g_spawn_check_wait_status(status, nullptr))
        g_printerr("%s%s", output ? output : "", errors ? errors : "");
    g_free(output);
    g_free(errors);
    return spawned && g_spawn_check_wait_status(status, nullptr);
}

bool PostgresCluster::start() {
    m_running = run({std::string(kBinaries) + "/pg_ctl", "-D", (m_folder / "data").string(), "-l",
                     (m_folder / "server.log").string(), "-w", "-t", "60", "start"});
    return m_running;
}

bool PostgresCluster::stop() {
    bool stopped = run({std::string(kBinaries) + "/pg_ctl", "-D", (m_folder / "data").string(),
                        "-m", "fast", "-w", "stop"});
    m_running = !stopped;
    return stopped;
}

namespace {

// The postmaster (first line of its pid file) and its children (found by their parent in /proc).
std::vector<pid_t> serverProcesses(const std::filesystem::path& data) {
    std::ifstream pidFile(data / "postmaster.pid");
    pid_t postmaster = 0;
    if (!(pidFile >> postmaster) || postmaster <= 0)
        return {};
    std::vector<pid_t> processes{postmaster};
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        // "pid (name) state ppid …": the name may hold spaces, so read after its last ')'.
        auto close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(line.substr(close + 1));
        char state = 0;
        pid_t parent = 0;
        if (rest >> state >> parent && parent == postmaster)
            processes.push_back(std::stoi(entry.path().filename().string()));
    }
    return processes;
}

bool signalAll(const std::vector<pid_t>& processes, int signal) {
    bool all = !processes.empty();
    for (pid_t process : processes)
        all = ::kill(process, signal) == 0 && all;
    return all;
}

} // namespace

bool PostgresCluster::freeze() {
    m_frozen = signalAll(serverProcesses(m_folder / "data"), SIGSTOP);
    return m_frozen;
}

bool PostgresCluster::thaw() {
    bool thawed = signalAll(serverProcesses(m_folder / "data"), SIGCONT);
    m_frozen = m_frozen && !thawed;
    return thawed;
}

std::string PostgresCluster::uri(const std::string& database) const {
    return "postgresql:///" + database + "?host=" + m_folder.string() + "&user=" + kUser;
}

bool PostgresCluster::execute(const std::string& database, const std::string& sql,
                              std::string* error) {
    std::string target = uri(database);
    PGconn* connection = PQconnectdb(target.c_str());
    bool ok = PQstatus(connection) == CONNECTION_OK;
    if (ok) {
        PQsetNoticeProcessor(connection, ignoreNoticeCallback, nullptr);
        PGresult* result = PQexec(connection, sql.c_str());
        auto status = PQresultStatus(result);
        ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
        PQclear(result);
    }
    if (!ok && error)
        *error = PQerrorMessage(connection);
    PQfinish(connection);
    return ok;
}

bool PostgresCluster::recreateDatabase(const std::string& database) {
    return execute("postgres", "DROP DATABASE IF EXISTS \"" + database + "\" WITH (FORCE)") &&
           execute("postgres", "CREATE DATABASE \"" + database + "\"");
}

} // namespace aurelo::service::test
