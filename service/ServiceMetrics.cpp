// The counters of /metrics and their text.
#include "service/ServiceMetrics.hpp"

#include <array>

namespace aurelo::service {

std::string ServiceMetrics::routeOf(const std::string& path) {
    static constexpr std::array kRoutes = {"/healthz",       "/metrics",         "/api/auth/login",
                                           "/api/auth/logout", "/api/engines",   "/api/translate",
                                           "/api/transcribe"};
    for (const char* route : kRoutes)
        if (path == route)
            return route;
    if (path.starts_with("/updates/"))
        return "/updates";
    return "other";
}

void ServiceMetrics::request(const std::string& path, unsigned status, double seconds) {
    std::string route = routeOf(path);
    ++m_requests[{route, status}];
    m_latency[route].observe(seconds);
}

void ServiceMetrics::providerCall(const std::string& engine, bool failed) {
    auto& [calls, failures] = m_provider[engine];
    ++calls;
    if (failed)
        ++failures;
}

void ServiceMetrics::cacheLookups(std::size_t texts, std::size_t hits) {
    m_cacheLookups += texts;
    m_cacheHits += hits;
}

std::string ServiceMetrics::render(const DatabaseWorkers::Stats& database) const {
    std::string text;
    auto header = [&](const char* name, const char* type, const char* help) {
        text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    };
    auto line = [&](const std::string& name, const std::string& labels, std::uint64_t value) {
        text += name + (labels.empty() ? "" : "{" + labels + "}") + " " + std::to_string(value) +
                "\n";
    };
    header("aurelo_requests_total", "counter", "Requests answered, by route and status.");
    for (const auto& [key, count] : m_requests)
        line("aurelo_requests_total",
             "route=\"" + key.first + "\",status=\"" + std::to_string(key.second) + "\"", count);
    header("aurelo_request_duration_seconds", "histogram",
           "Time from a request's arrival to its answer, by route.");
    for (const auto& [route, histogram] : m_latency)
        text += histogram.render("aurelo_request_duration_seconds", "route=\"" + route + "\"");
    header("aurelo_provider_calls_total", "counter",
           "Translation requests sent to an engine, by engine.");
    for (const auto& [engine, counts] : m_provider)
        line("aurelo_provider_calls_total", "engine=\"" + engine + "\"", counts.first);
    header("aurelo_provider_failures_total", "counter",
           "Translation requests an engine failed, by engine.");
    for (const auto& [engine, counts] : m_provider)
        line("aurelo_provider_failures_total", "engine=\"" + engine + "\"", counts.second);
    header("aurelo_cache_lookups_total", "counter", "Texts looked up in the result cache.");
    line("aurelo_cache_lookups_total", "", m_cacheLookups);
    header("aurelo_cache_hits_total", "counter", "Texts answered from the result cache.");
    line("aurelo_cache_hits_total", "", m_cacheHits);
    header("aurelo_database_workers", "gauge", "Database workers (one per pooled connection).");
    line("aurelo_database_workers", "", database.workers);
    header("aurelo_database_workers_busy", "gauge", "Database workers running a statement now.");
    line("aurelo_database_workers_busy", "", database.busy);
    header("aurelo_database_queued", "gauge", "Database jobs waiting for a worker now.");
    line("aurelo_database_queued", "", database.queued);
    header("aurelo_database_wait_seconds", "histogram", "Time database jobs waited for a worker.");
    text += database.wait.render("aurelo_database_wait_seconds", "");
    header("aurelo_database_expired_total", "counter",
           "Database jobs that waited past their deadline.");
    line("aurelo_database_expired_total", "", database.expired);
    header("aurelo_database_refused_total", "counter", "Database jobs refused with the queue full.");
    line("aurelo_database_refused_total", "", database.refused);
    return text;
}

} // namespace aurelo::service
