#pragma once

// One rate limit of the server (per account, per client address for logins, per user name for
// logins), kept where it holds: in memory when this instance is the only one (a token bucket,
// RateLimiter), or in the shared database when several instances serve the same accounts, where
// each key may make `perMinute` requests per fixed minute, counted by an atomic upsert. A fixed
// window lets a client that times its requests spend up to twice the limit across one window's
// end; that is the price of one statement per request instead of a transaction.

#include "service/RateLimiter.hpp"
#include "service/ServiceDatabase.hpp"

#include <functional>

namespace aurelo::service {

class RateLimitGate {
public:
    enum class Verdict { allowed, refused, unavailable };
    struct Decision {
        Verdict verdict = Verdict::allowed;
        unsigned retryAfterSeconds = 0; // when refused
        DatabaseError error;            // when unavailable
    };

    // `name` keeps the keys of different limits apart in the shared table; `clock` gives seconds
    // since the epoch. 0 disables the limit.
    RateLimitGate(std::string name, unsigned perMinute, ServiceDatabase& database,
                  std::function<std::int64_t()> clock);

    Decision check(const std::string& key);

private:
    std::string m_name;
    unsigned m_perMinute;
    ServiceDatabase& m_database;
    std::function<std::int64_t()> m_clock;
    RateLimiter m_local;
};

} // namespace aurelo::service
