#pragma once

// One rate limit of the server (per account, per client address for logins, per user name for
// logins), kept where it holds: in memory when this instance is the only one (a token bucket,
// RateLimiter), or in the shared database when several instances serve the same accounts, where
// each key may make `perMinute` requests per fixed minute, counted by an atomic upsert. A fixed
// window lets a client that times its requests spend up to twice the limit across one window's
// end; that is the price of one statement per request instead of a transaction. `check` may be
// called from any thread (the server calls it from its database workers).

#include "service/RateLimiter.hpp"
#include "service/ServiceDatabase.hpp"

#include <mutex>

namespace aurelo::service {

class RateLimitGate {
public:
    enum class Verdict { allowed, refused, unavailable };
    struct Decision {
        Verdict verdict = Verdict::allowed;
        unsigned retryAfterSeconds = 0; // when refused
        DatabaseError error;            // when unavailable
    };

    // `name` keeps the keys of different limits apart in the shared table. 0 disables the limit.
    RateLimitGate(std::string name, unsigned perMinute, ServiceDatabase& database);

    // Counts a request of `key` at `now` (seconds since the epoch).
    Decision check(const std::string& key, std::int64_t now);

    // Where the shared count is kept in one statement with other work: the key prefix the count
    // goes under (the key follows it), and the decision on the count it returned.
    bool countsInDatabase() const { return m_perMinute > 0 && m_database.sharedAcrossInstances(); }
    std::string countPrefix() const { return m_name + ":"; }
    Decision decide(std::int64_t count, std::int64_t now) const;

private:
    const std::string m_name;
    const unsigned m_perMinute;
    ServiceDatabase& m_database;
    std::mutex m_localMutex;
    RateLimiter m_local;
};

} // namespace aurelo::service
