#pragma once

// A private PostgreSQL 15 server for one test program: `initdb` into a fresh temporary folder,
// then `pg_ctl` with the server listening only on a Unix socket in that folder (no TCP port).
// PostgreSQL refuses to run as root, so under root (as in CI containers) the server runs as
// `nobody`, which owns the folder. Stopped and removed on destruction.

#include <filesystem>
#include <string>
#include <vector>

namespace aurelo::service::test {

class PostgresCluster {
public:
    static constexpr const char* kBinaries = "/usr/lib/postgresql/15/bin";

    // `durable`: keep PostgreSQL's flushes to disk (for benchmarks); tests turn them off.
    explicit PostgresCluster(bool durable = false);
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;
    ~PostgresCluster();

    // False, with the reason in failure(), when the cluster could not be made or started.
    bool ready() const { return m_failure.empty(); }
    const std::string& failure() const { return m_failure; }

    // A connection URI for `database` over the cluster's socket.
    std::string uri(const std::string& database) const;
    // Drops `database` when it exists and creates it empty.
    bool recreateDatabase(const std::string& database);
    // Runs SQL in `database`; false (with the reason in `error`) when it fails.
    bool execute(const std::string& database, const std::string& sql, std::string* error = nullptr);

    // Stops (fast: open connections are ended) and starts the server again on the same folder.
    bool stop();
    bool start();
    // Stops the server and every process of it with SIGSTOP, as a machine that stalls would:
    // connections stay open and nothing answers. thaw() sends SIGCONT. False when the server's
    // processes cannot be found or signalled.
    bool freeze();
    bool thaw();

private:
    bool run(const std::vector<std::string>& command);
    void watchOwner();

    std::filesystem::path m_folder;
    std::string m_failure;
    bool m_running = false;
    bool m_frozen = false;
};

} // namespace aurelo::service::test
