#pragma once

// Per-key token buckets: each key (an account, or a client address for logins) may spend
// `perMinute` requests in a burst and regains them evenly over a minute.

#include <chrono>
#include <string>
#include <unordered_map>

namespace aurelo::service {

class RateLimiter {
public:
    using Clock = std::chrono::steady_clock;

    // 0 disables the limit.
    explicit RateLimiter(unsigned perMinute) : m_perMinute(perMinute) {}

    // Spends one request of `key`; false when the bucket is empty.
    bool allow(const std::string& key, Clock::time_point now = Clock::now());
    // Whole seconds until `key` may send again (at least 1).
    unsigned retryAfterSeconds(const std::string& key, Clock::time_point now = Clock::now()) const;

private:
    struct Bucket {
        double tokens = 0;
        Clock::time_point updated;
    };
    double refill(const Bucket& bucket, Clock::time_point now) const;
    void forgetIdle(Clock::time_point now);

    unsigned m_perMinute;
    std::unordered_map<std::string, Bucket> m_buckets;
};

} // namespace aurelo::service
