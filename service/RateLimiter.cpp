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
    while (!m_order.empty()) {
        auto oldest = m_buckets.find(m_order.front());
        bool full = refill(oldest->second, now) >= m_perMinute;
        if (!full && m_buckets.size() < m_maxKeys)
            return;
        m_buckets.erase(oldest);
        m_order.pop_front();
    }
}

bool RateLimiter::allow(const std::string& key, Clock::time_point now) {
    if (m_perMinute == 0)
        return true;
    forgetIdle(now);
    auto [it, inserted] =
        m_buckets.try_emplace(key, Bucket{static_cast<double>(m_perMinute), now, {}});
    Bucket& bucket = it->second;
    if (inserted)
        bucket.place = m_order.insert(m_order.end(), key);
    else
        m_order.splice(m_order.end(), m_order, bucket.place);
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
