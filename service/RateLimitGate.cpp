// One rate limit, in memory or counted in the shared database.
#include "service/RateLimitGate.hpp"

namespace aurelo::service {

RateLimitGate::RateLimitGate(std::string name, unsigned perMinute, ServiceDatabase& database)
    : m_name(std::move(name)), m_perMinute(perMinute), m_database(database), m_local(perMinute) {}

RateLimitGate::Decision RateLimitGate::check(const std::string& key, std::int64_t now) {
    if (m_perMinute == 0)
        return {};
    if (!m_database.sharedAcrossInstances()) {
        std::lock_guard lock(m_localMutex);
        if (m_local.allow(key))
            return {};
        return {Verdict::refused, m_local.retryAfterSeconds(key), {}};
    }
    auto count = m_database.countRequest(m_name + ":" + key, now / kRequestWindowSeconds);
    if (!count)
        return {Verdict::unavailable, 0, count.error()};
    return decide(*count, now);
}

RateLimitGate::Decision RateLimitGate::decide(std::int64_t count, std::int64_t now) const {
    if (m_perMinute == 0 || count <= static_cast<std::int64_t>(m_perMinute))
        return {};
    auto wait = kRequestWindowSeconds - now % kRequestWindowSeconds;
    return {Verdict::refused, static_cast<unsigned>(std::max<std::int64_t>(1, wait)), {}};
}

} // namespace aurelo::service
