#pragma once

// One instance's connections to PostgreSQL. Up to `connections` are opened on demand and kept
// for reuse; a query that finds none free waits at most `acquireTimeout`. An instance runs on
// while the database is down and recovers by itself when it returns: a connection found broken
// is dropped and a new one made. Once an attempt to connect has failed, the database counts as
// down: requests are refused at once instead of each waiting for its own failing attempt (an
// unreachable host costs seconds per attempt), and a thread of the pool tries again every
// `reconnectPause` until a connection succeeds, which it hands to the next request. Waiting for a
// connection and making one both end at the thread's DatabaseDeadline, so a server that accepts
// connections but never answers (stopped, or its machine stalled) holds no request past it.

#include "service/ServiceDatabase.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

typedef struct pg_conn PGconn;

namespace aurelo::service {

class PostgresConnectionPool {
public:
    using Clock = std::chrono::steady_clock;

    // One connection and the statements already prepared on it (by the address of their text,
    // which the store keeps as constants): preparing once saves the server parsing and planning
    // the same statement on every request.
    struct Connection {
        PGconn* handle = nullptr;
        std::unordered_set<const void*> prepared;
    };

    // A connection lent out; it goes back to the pool when the lease ends, or is closed when
    // `discard()` was called or the connection is broken.
    class Lease {
    public:
        Lease(PostgresConnectionPool* pool, std::unique_ptr<Connection> connection)
            : m_pool(pool), m_connection(std::move(connection)) {}
        Lease(Lease&& other) noexcept
            : m_pool(std::exchange(other.m_pool, nullptr)),
              m_connection(std::move(other.m_connection)), m_discard(other.m_discard) {}
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Lease& operator=(Lease&&) = delete;
        ~Lease();

        PGconn* get() const { return m_connection->handle; }
        std::unordered_set<const void*>& prepared() { return m_connection->prepared; }
        void discard() { m_discard = true; }

    private:
        PostgresConnectionPool* m_pool;
        std::unique_ptr<Connection> m_connection;
        bool m_discard = false;
    };

    PostgresConnectionPool(std::string uri, DatabasePoolOptions options);
    PostgresConnectionPool(const PostgresConnectionPool&) = delete;
    PostgresConnectionPool& operator=(const PostgresConnectionPool&) = delete;
    ~PostgresConnectionPool();

    // A connection, or why there is none (the database is unreachable, or every connection
    // stayed busy for the whole wait).
    std::expected<Lease, DatabaseError> acquire();

    // `text` with every form of the address's password hidden: libpq's messages may quote the
    // address, or the part of it that it could not read.
    std::string masked(std::string text) const;

    // Connections open now (lent out or idle).
    std::size_t openConnections() const;
    // The most connections open at once.
    unsigned capacity() const { return static_cast<unsigned>(std::max<std::size_t>(1, m_options.connections)); }

    // Waits until `connection` can be read (with `write`, also written) or `deadline` passes
    // (none: no limit); false when it passed.
    static bool waitForSocket(PGconn* connection, bool write,
                              std::optional<Clock::time_point> deadline);

private:
    void giveBack(std::unique_ptr<Connection> connection, bool discard);
    struct ConnectFailure {
        std::string reason;
        bool timedOut = false;
    };
    std::expected<PGconn*, ConnectFailure> connect();
    // Called with the lock held after a failed attempt.
    void markDown(const ConnectFailure& failure);
    // What a request is refused with while the database counts as down.
    DatabaseError downError() const;
    void reconnectLoop(std::stop_token stop);

    const std::string m_uri;
    std::vector<std::pair<std::string, std::string>> m_secrets; // (text, shown instead)
    const DatabasePoolOptions m_options;
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    std::vector<std::unique_ptr<Connection>> m_idle;
    std::size_t m_open = 0; // idle, lent out, or being connected
    bool m_down = false;
    std::string m_lastFailure;
    bool m_lastFailureTimedOut = false;
    std::condition_variable_any m_wake;
    // Last: stopped and joined first, while everything it touches is still there.
    std::jthread m_reconnector;
};

} // namespace aurelo::service
