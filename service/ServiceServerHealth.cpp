// ServiceServer's health check, for load balancers and monitors.
#include "service/ServiceServer.hpp"

#include "service/ServiceExchange.hpp"

namespace aurelo::service {

namespace {

// A health check is asked often and must answer quickly: its probe waits for the database at most
// this long (or the request deadline, when shorter).
constexpr std::chrono::milliseconds kProbeBudget{1000};

} // namespace

void ServiceServer::probeDatabase(std::function<void()> done) {
    m_probing = true;
    const CancellationToken cancellation = m_cancellable.token();
    bool queued = m_databaseWorkers->run<bool>(
        std::min(kProbeBudget, m_configuration.databaseTimeout),
        [&database = m_database]() -> DatabaseResult<bool> {
            if (auto probed = database.probe(); !probed)
                return std::unexpected(probed.error());
            return true;
        },
        [this, cancellation, done = std::move(done)](DatabaseResult<bool> probed) {
            if (cancellation.isCancelled())
                return;
            m_probing = false;
            noteDatabase(probed ? nullptr : &probed.error());
            if (done)
                done();
        });
    if (!queued) {
        m_probing = false;
        m_databaseState = DatabaseState::unavailable;
        if (done)
            done();
    }
}

void ServiceServer::handleHealth(const ExchangePtr& exchange) {
    // "database" names the store and says whether it answers ("ok", "unavailable", or "stalled":
    // reached but not answering), so that a load balancer's health check takes an instance that
    // lost its database out of rotation.
    auto answer = [this, exchange] {
        nlohmann::json database = {{"backend", m_database.backendName()}};
        if (m_databaseState == DatabaseState::ok) {
            database["state"] = "ok";
            return respond(exchange, 200, {{"status", "ok"}, {"database", database}});
        }
        bool stalled = m_databaseState == DatabaseState::stalled;
        database["state"] = stalled ? "stalled" : "unavailable";
        setRetryAfter(exchange, kDatabaseRetryAfterSeconds);
        respond(exchange, 503,
                {{"status", "error"},
                 {"error", stalled ? "数据库无响应。" : "数据库不可用。"},
                 {"database", database}});
    };
    // A database known to be stalled is reported at once; a probe in the background learns
    // when it answers again.
    if (m_databaseState == DatabaseState::stalled) {
        if (!m_probing)
            probeDatabase();
        return answer();
    }
    pause(exchange);
    if (m_probing) // one probe at a time; this check reports what is known
        return answer();
    probeDatabase(answer);
}

void ServiceServer::handleMetrics(const ExchangePtr& exchange) {
    if (exchange->answered)
        return;
    // The page is made before this request is counted: it shows the requests answered before it.
    std::string text = m_metrics.render(m_databaseWorkers->stats());
    exchange->answered = true;
    SoupServerMessage* message = exchange->message.get();
    soup_server_message_set_status(message, 200, nullptr);
    soup_message_headers_replace(soup_server_message_get_response_headers(message),
                                 "Cache-Control", "no-store");
    soup_server_message_set_response(message, "text/plain; version=0.0.4; charset=utf-8",
                                     SOUP_MEMORY_COPY, text.data(), text.size());
    exchange->log.status = 200;
    finish(exchange);
}

} // namespace aurelo::service
