#pragma once

// Password hashing for the service's accounts. Passwords are stretched with scrypt (memory-hard,
// from OpenSSL) under a random 16-byte salt; the stored text carries its own cost parameters, so
// the cost can be raised later without breaking accounts that were hashed before.
//
// Stored form: "scrypt$<log2 N>$<r>$<p>$<salt, base64>$<key, base64>"

#include <string>
#include <string_view>

namespace aurelo::service {

struct ScryptCost {
    unsigned log2N = 15; // N = 32768: about 32 MiB and a few tens of milliseconds per attempt
    unsigned r = 8;
    unsigned p = 1;

    // Whether a login with this cost stays within the bounds a stored hash may ask for.
    bool withinBounds() const;
};

class PasswordHasher {
public:
    explicit PasswordHasher(ScryptCost cost = {}) : m_cost(cost) {}

    // A fresh salted hash of `password`. Empty when OpenSSL fails (out of memory).
    std::string hash(std::string_view password) const;

    // Whether `password` matches `stored`. A stored text that is malformed, or whose parameters
    // are out of the accepted range (a tampered database), never matches.
    static bool verify(std::string_view password, std::string_view stored);

    // Costs the same time as a real verification; used for unknown user names so that the
    // answer's timing does not tell which names exist.
    static void burnVerification(std::string_view password);

private:
    ScryptCost m_cost;
};

} // namespace aurelo::service
