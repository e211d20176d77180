#include "service/RateLimiter.hpp"

#include <algorithm>
#include <cmath>

namespace aurelo::service {

double RateLimiter::refill(const Bucket& bucket, Clock::time_point now) const {
    double elapsed = std::chrono::duration<double>(now - bucket.updated).count();
    return std::min<double>(m_perMinute,
                            bucket.tokens + std::max(0.0, elapsed) * m_perMinute / 60.0);
}

void RateLimiter::forgetIdle(Clock::time_point now) {
    // A bucket that has refilled completely is the same as no bucket; dropping those keeps the
    // map bounded by the keys active in the last minute.
    std::erase_if(m_buckets,
                  [&](const auto& entry) { return refill(entry.second, now) >= m_perMinute; });
}

bool RateLimiter::allow(const std::string& key, Clock::time_point now) {
    if (m_perMinute == 0)
        return true;
    if (m_buckets.size() > 10000)
        forgetIdle(now);
    auto [it, inserted] = m_buckets.try_emplace(key, Bucket{static_cast<double>(m_perMinute), now});
    Bucket& bucket = it->second;
    bucket.tokens = refill(bucket, now);
    bucket.updated = now;
    if (bucket.tokens < 1.0)
        return false;
    bucket.tokens -= 1.0;
    return true;
}

unsigned RateLimiter::retryAfterSeconds(const std::string& key, Clock::time_point now) const {
    auto it = m_buckets.find(key);
    if (m_perMinute == 0 || it == m_buckets.end())
        return 1;
    double missing = 1.0 - refill(it->second, now);
    return static_cast<unsigned>(std::max(1.0, std::ceil(missing * 60.0 / m_perMinute)));
}

} // namespace aurelo::service
