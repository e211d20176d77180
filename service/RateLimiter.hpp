#pragma once

// Per-key token buckets: each key (an account, a client address or a user name for logins) may
// spend `perMinute` requests in a burst and regains them evenly over a minute.
//
// Keys come from clients (any address, any user name typed), so the table must stay small and
// cheap however many there are: buckets are kept in the order they were last used, and every call
// drops the buckets at the old end that have refilled (a full bucket is the same as none). Each
// bucket is dropped at most once per use, so a call costs O(1) amortised, and at most `maxKeys`
// buckets are kept (the least recently used go first, which only forgives their owners early).

#include <chrono>
#include <cstddef>
#include <list>
#include <string>
#include <unordered_map>

namespace aurelo::service {

class RateLimiter {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kDefaultMaxKeys = 100000;

    // 0 disables the limit.
    explicit RateLimiter(unsigned perMinute, std::size_t maxKeys = kDefaultMaxKeys)
        : m_perMinute(perMinute), m_maxKeys(maxKeys) {}

    // Spends one request of `key`; false when the bucket is empty.
    bool allow(const std::string& key, Clock::time_point now = Clock::now());
    // Whole seconds until `key` may send again (at least 1).
    unsigned retryAfterSeconds(const std::string& key, Clock::time_point now = Clock::now()) const;

    std::size_t keys() const { return m_buckets.size(); }

private:
    struct Bucket {
        double tokens = 0;
        Clock::time_point updated;
        std::list<std::string>::iterator place; // in m_order
    };
    double refill(const Bucket& bucket, Clock::time_point now) const;
    void forgetIdle(Clock::time_point now);

    unsigned m_perMinute;
    std::size_t m_maxKeys;
    std::unordered_map<std::string, Bucket> m_buckets;
    std::list<std::string> m_order; // least recently used first
};

} // namespace aurelo::service
