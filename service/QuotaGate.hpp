#pragma once

// Monthly character quotas as requests meet them. An account's quota and the characters stored
// for it this month are read from the store at most once per `refresh` per instance; what this
// instance had not written then (UsageBatch) and what it counted since (spend) are added. Across instances a quota
// can thus be passed by what the others counted in the last write interval and refresh, no more;
// a quota set or raised by the admin command applies within `refresh`. Safe from any thread.

#include "service/ServiceDatabase.hpp"
#include "service/UsageBatch.hpp"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace aurelo::service {

// The refusal the application shows its user as it is.
std::string quotaExceededMessage(std::int64_t quota);

class QuotaGate {
public:
    using Clock = std::chrono::steady_clock;

    QuotaGate(ServiceDatabase& database, const UsageBatch& batch, std::chrono::milliseconds refresh);

    // nullopt when `characters` more fit the account's quota of the month of `now` (seconds
    // since the epoch), or it has none; otherwise the quota they would pass.
    DatabaseResult<std::optional<std::int64_t>> check(std::int64_t accountId,
                                                      std::int64_t characters, std::int64_t now);

    // Characters this instance counted for the account (as UsageBatch::record).
    void spend(std::int64_t accountId, std::int64_t characters);

private:
    struct Entry {
        QuotaState stored;
        std::int64_t local = 0;
        std::int64_t monthStart = 0;
        Clock::time_point readAt;
    };

    ServiceDatabase& m_database;
    const UsageBatch& m_batch;
    const std::chrono::milliseconds m_refresh;
    std::mutex m_mutex;
    std::unordered_map<std::int64_t, Entry> m_entries;
};

} // namespace aurelo::service
