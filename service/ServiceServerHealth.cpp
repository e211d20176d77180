// ServiceServer's health check, for load balancers and monitors.
#include "service/ServiceServer.hpp"

#include "service/ServiceExchange.hpp"

namespace aurelo::service {

void ServiceServer::handleHealth(const ExchangePtr& exchange) {
    // "database" names the store and says whether it answers, so that a load balancer's health
    // check takes an instance that lost its database out of rotation.
    nlohmann::json database = {{"backend", m_database.backendName()}};
    if (!m_database.isHealthy()) {
        database["state"] = "unavailable";
        setRetryAfter(exchange, kDatabaseRetryAfterSeconds);
        return respond(exchange, 503,
                       {{"status", "error"}, {"error", "数据库不可用。"}, {"database", database}});
    }
    database["state"] = "ok";
    respond(exchange, 200, {{"status", "ok"}, {"database", database}});
}

} // namespace aurelo::service
