#pragma once

// One instance's connections to PostgreSQL. Up to `connections` are opened on demand and kept
// for reuse; a query that finds none free waits at most `acquireTimeout`. Connections are made
// only when needed, so an instance starts and runs while the database is down and recovers by
// itself when it returns: a connection found broken is dropped and a new one made, and after a
// failed attempt the pool refuses at once for `reconnectPause` rather than let every request
// wait for its own failing attempt.

#include "service/ServiceDatabase.hpp"

#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

typedef struct pg_conn PGconn;

namespace aurelo::service {

class PostgresConnectionPool {
public:
    using Clock = std::chrono::steady_clock;

    // A connection lent out; it goes back to the pool when the lease ends, or is closed when
    // `discard()` was called or the connection is broken.
    class Lease {
    public:
        Lease(PostgresConnectionPool* pool, PGconn* connection)
            : m_pool(pool), m_connection(connection) {}
        Lease(Lease&& other) noexcept
            : m_pool(std::exchange(other.m_pool, nullptr)),
              m_connection(std::exchange(other.m_connection, nullptr)), m_discard(other.m_discard) {
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Lease& operator=(Lease&&) = delete;
        ~Lease();

        PGconn* get() const { return m_connection; }
        void discard() { m_discard = true; }

    private:
        PostgresConnectionPool* m_pool;
        PGconn* m_connection;
        bool m_discard = false;
    };

    PostgresConnectionPool(std::string uri, DatabasePoolOptions options);
    PostgresConnectionPool(const PostgresConnectionPool&) = delete;
    PostgresConnectionPool& operator=(const PostgresConnectionPool&) = delete;
    ~PostgresConnectionPool();

    // A connection, or why there is none (the database is unreachable, or every connection
    // stayed busy for the whole wait).
    std::expected<Lease, DatabaseError> acquire();

    // Connections open now (lent out or idle).
    std::size_t openConnections() const;

private:
    void giveBack(PGconn* connection, bool discard);
    std::expected<PGconn*, std::string> connect();

    const std::string m_uri;
    const DatabasePoolOptions m_options;
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    std::vector<PGconn*> m_idle;
    std::size_t m_open = 0; // idle, lent out, or being connected
    Clock::time_point m_nextAttempt{};
    std::string m_lastFailure;
};

} // namespace aurelo::service
