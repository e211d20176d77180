#pragma once

// What /metrics tells an operator's Prometheus, in its text format: requests by route and status,
// their latency, provider calls and failures by engine, result-cache hits, and how the database
// workers are used and waited for. Counted on the main loop only; the database workers keep their
// own figures (DatabaseWorkers::Stats), read when the page is made.

#include "service/DatabaseWorkers.hpp"
#include "service/MetricsHistogram.hpp"

#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace aurelo::service {

class ServiceMetrics {
public:
    // The route label of a path: a route of the service, "/updates" for every update file, or
    // "other", so that scanners cannot make a series per path they try.
    static std::string routeOf(const std::string& path);

    void request(const std::string& path, unsigned status, double seconds);
    // One translation request that reached the engine `engine` (texts not all cached).
    void providerCall(const std::string& engine, bool failed);
    void cacheLookups(std::size_t texts, std::size_t hits);

    std::string render(const DatabaseWorkers::Stats& database) const;

private:
    std::map<std::pair<std::string, unsigned>, std::uint64_t> m_requests;
    std::map<std::string, MetricsHistogram> m_latency;
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> m_provider; // calls, failures
    std::uint64_t m_cacheLookups = 0;
    std::uint64_t m_cacheHits = 0;
};

} // namespace aurelo::service
