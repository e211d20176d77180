// One instance's PostgreSQL connections: lending, making them within a deadline, reconnecting.
#include "service/PostgresConnectionPool.hpp"

#include <libpq-fe.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include <poll.h>

namespace aurelo::service {

namespace {

// PostgreSQL's notices (for example "relation already exists, skipping") are for a person at a
// console, not for the service's log.
void ignoreNoticeCallback(void*, const char*) {}

std::string firstLineOf(const char* text) {
    std::string line = text ? text : "";
    if (auto end = line.find('\n'); end != std::string::npos)
        line.erase(end);
    return line;
}

} // namespace

PostgresConnectionPool::Lease::~Lease() {
    if (m_pool && m_connection)
        m_pool->giveBack(std::move(m_connection), m_discard);
}

PostgresConnectionPool::PostgresConnectionPool(std::string uri, DatabasePoolOptions options)
    : m_uri(std::move(uri)), m_options(options) {
    // The whole address first (shown masked), then the password as libpq reads it.
    std::string shown = DatabaseLocation{DatabaseLocation::Kind::postgresql, m_uri}.display();
    if (shown != m_uri)
        m_secrets.emplace_back(m_uri, shown);
    if (PQconninfoOption* options = PQconninfoParse(m_uri.c_str(), nullptr)) {
        for (auto* option = options; option->keyword; ++option)
            if (std::string(option->keyword) == "password" && option->val && *option->val)
                m_secrets.emplace_back(option->val, "***");
        PQconninfoFree(options);
    }
}

std::string PostgresConnectionPool::masked(std::string text) const {
    for (const auto& [secret, shown] : m_secrets)
        for (std::size_t at = text.find(secret); at != std::string::npos;
             at = text.find(secret, at + shown.size()))
            text.replace(at, secret.size(), shown);
    return text;
}

PostgresConnectionPool::~PostgresConnectionPool() {
    if (m_reconnector.joinable()) {
        m_reconnector.request_stop();
        m_reconnector.join();
    }
    std::lock_guard lock(m_mutex);
    for (auto& connection : m_idle)
        PQfinish(connection->handle);
}

std::size_t PostgresConnectionPool::openConnections() const {
    std::lock_guard lock(m_mutex);
    return m_open;
}

bool PostgresConnectionPool::waitForSocket(PGconn* connection, bool write,
                                           std::optional<Clock::time_point> deadline) {
    pollfd descriptor{PQsocket(connection), static_cast<short>(POLLIN | (write ? POLLOUT : 0)), 0};
    if (descriptor.fd < 0)
        return true; // broken: the next libpq call reports it
    for (;;) {
        int timeout = -1;
        if (deadline) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
            if (left.count() <= 0)
                return false;
            timeout = static_cast<int>(std::min<long long>(left.count(), 60'000));
        }
        int ready = ::poll(&descriptor, 1, timeout);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return true; // let libpq find and report the failure
    }
}

std::expected<PGconn*, PostgresConnectionPool::ConnectFailure> PostgresConnectionPool::connect() {
    // Defaults that bound how long an unreachable or stalled server can hold a request; the
    // URI's own settings come later and win. tcp_user_timeout also ends a query whose server
    // vanished from the network without closing the connection.
    // statement_timeout: a statement stuck behind another session's lock would hold up every
    // request of the instance.
    const char* keywords[] = {"connect_timeout",
                              "tcp_user_timeout",
                              "keepalives_idle",
                              "application_name",
                              "options",
                              "dbname",
                              nullptr};
    const char* values[] = {
        "3", "5000", "30", "aurelo-service", "-c statement_timeout=5000", m_uri.c_str(), nullptr};
    // Made step by step, so that the attempt ends at the deadline (libpq's connect_timeout does
    // not apply here); without one, after connect_timeout's three seconds.
    auto deadline = DatabaseDeadline::current().value_or(Clock::now() + std::chrono::seconds(3));
    PGconn* connection = PQconnectStartParams(keywords, values, 1);
    if (!connection)
        return std::unexpected(ConnectFailure{"内存不足"});
    auto failed = [&](bool timedOut) {
        std::string reason = timedOut ? std::string("数据库服务器未在时限内应答")
                                      : masked(firstLineOf(PQerrorMessage(connection)));
        PQfinish(connection);
        return std::unexpected(ConnectFailure{std::move(reason), timedOut});
    };
    if (PQstatus(connection) == CONNECTION_BAD)
        return failed(false);
    PostgresPollingStatusType polling = PGRES_POLLING_WRITING;
    while (polling != PGRES_POLLING_OK) {
        if (polling == PGRES_POLLING_FAILED)
            return failed(false);
        if (!waitForSocket(connection, polling == PGRES_POLLING_WRITING, deadline))
            return failed(true);
        polling = PQconnectPoll(connection);
    }
    PQsetNoticeProcessor(connection, ignoreNoticeCallback, nullptr);
    // Statements are sent without blocking and awaited up to the deadline.
    PQsetnonblocking(connection, 1);
    return connection;
}

DatabaseError PostgresConnectionPool::downError() const {
    return DatabaseError{"无法连接数据库：" + m_lastFailure, true, m_lastFailureTimedOut};
}

std::expected<PostgresConnectionPool::Lease, DatabaseError> PostgresConnectionPool::acquire() {
    std::unique_lock lock(m_mutex);
    const std::size_t limit = capacity();
    auto deadline = DatabaseDeadline::current();
    auto waitUntil = Clock::now() + m_options.acquireTimeout;
    bool byDeadline = deadline && *deadline < waitUntil;
    if (byDeadline)
        waitUntil = *deadline;
    bool free = m_released.wait_until(lock, waitUntil,
                                      [&] { return !m_idle.empty() || m_open < limit; });
    if (!free)
        return std::unexpected(byDeadline ? DatabaseDeadline::missed()
                                          : DatabaseError{"等待数据库连接超时。", true});
    if (!m_idle.empty()) {
        auto connection = std::move(m_idle.back());
        m_idle.pop_back();
        return Lease(this, std::move(connection));
    }
    if (m_down)
        return std::unexpected(downError());
    ++m_open;
    lock.unlock();
    auto connection = connect();
    lock.lock();
    if (!connection) {
        --m_open;
        markDown(connection.error());
        m_released.notify_one();
        return std::unexpected(downError());
    }
    return Lease(this, std::make_unique<Connection>(Connection{*connection, {}}));
}

void PostgresConnectionPool::markDown(const ConnectFailure& failure) {
    m_lastFailure = failure.reason;
    m_lastFailureTimedOut = failure.timedOut;
    if (m_down)
        return;
    m_down = true;
    if (m_reconnector.joinable())
        m_reconnector.join(); // finished: it clears m_down only as its last act
    m_reconnector = std::jthread([this](std::stop_token stop) { reconnectLoop(stop); });
}

void PostgresConnectionPool::reconnectLoop(std::stop_token stop) {
    std::unique_lock lock(m_mutex);
    while (!stop.stop_requested()) {
        if (m_wake.wait_for(lock, stop, m_options.reconnectPause, [] { return false; }))
            return;
        if (stop.stop_requested())
            return;
        ++m_open;
        lock.unlock();
        auto connection = connect();
        lock.lock();
        if (!connection) {
            --m_open;
            m_lastFailure = connection.error().reason;
            m_lastFailureTimedOut = connection.error().timedOut;
            continue;
        }
        m_idle.push_back(std::make_unique<Connection>(Connection{*connection, {}}));
        m_down = false;
        m_released.notify_one();
        return;
    }
}

void PostgresConnectionPool::giveBack(std::unique_ptr<Connection> connection, bool discard) {
    std::lock_guard lock(m_mutex);
    // A connection left inside a transaction (a query failed half-way through a script) would
    // carry its state into the next borrower: close it instead.
    if (discard || PQstatus(connection->handle) != CONNECTION_OK ||
        PQtransactionStatus(connection->handle) != PQTRANS_IDLE) {
        PQfinish(connection->handle);
        --m_open;
    } else {
        m_idle.push_back(std::move(connection));
    }
    m_released.notify_one();
}

} // namespace aurelo::service
