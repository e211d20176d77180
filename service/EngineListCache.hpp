#pragma once

// One instance's copies of what every request reads and seldom changes: accounts' engine lists
// with their providers' settings (EngineListCache) and the accounts of login tokens
// (TokenCache). A store keeps them only while it learns of every change: the SQLite store from
// its own writes and SQLite's data version (another process's commit), the PostgreSQL store from
// notifications its triggers send and from the change count its requests read. While it cannot
// (its notification connection is lost), a cache is untrusted and every read goes to the
// database. A read that started before a change never stores what it read after it: each change
// moves the generation on.

#include "service/ServiceDatabase.hpp"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace aurelo::service {

template <typename Key, typename Value> class ChangeTrackedCache {
public:
    // Past this many entries everything goes: a cache of tokens must not grow with every login.
    static constexpr std::size_t kMaxEntries = 100000;

    // The cached value, or nullopt; `generation` receives what store() must be given.
    std::optional<Value> find(const Key& key, std::uint64_t& generation) {
        std::lock_guard lock(m_mutex);
        generation = m_generation;
        if (!m_trusted)
            return std::nullopt;
        auto it = m_values.find(key);
        if (it == m_values.end())
            return std::nullopt;
        return it->second;
    }
    // Whether nothing was forgotten since find() gave `generation`.
    bool unchangedSince(std::uint64_t generation) const {
        std::lock_guard lock(m_mutex);
        return m_trusted && generation == m_generation;
    }
    // Keeps a value read at `generation`, unless something changed since.
    void store(const Key& key, const Value& value, std::uint64_t generation) {
        std::lock_guard lock(m_mutex);
        if (!m_trusted || generation != m_generation)
            return;
        if (m_values.size() >= kMaxEntries)
            m_values.clear();
        m_values[key] = value;
    }
    // Something changed: everything cached goes.
    void forget() {
        std::lock_guard lock(m_mutex);
        ++m_generation;
        m_values.clear();
    }
    // Whether changes are being heard of; either way what was cached goes.
    void setTrusted(bool trusted) {
        std::lock_guard lock(m_mutex);
        m_trusted = trusted;
        ++m_generation;
        m_values.clear();
    }
    // Forgets everything when a write of the store's own is done (a value read meanwhile, before
    // the write committed, is not kept), without waiting for the write to be heard of.
    class ForgetAfter {
    public:
        explicit ForgetAfter(ChangeTrackedCache& cache) : m_cache(cache) {}
        ForgetAfter(const ForgetAfter&) = delete;
        ForgetAfter& operator=(const ForgetAfter&) = delete;
        ~ForgetAfter() { m_cache.forget(); }

    private:
        ChangeTrackedCache& m_cache;
    };

private:
    mutable std::mutex m_mutex;
    std::unordered_map<Key, Value> m_values;
    std::uint64_t m_generation = 0;
    bool m_trusted = false;
};

using EngineListCache = ChangeTrackedCache<std::int64_t, std::vector<EngineWithSettings>>;

// A token's account and when the token expires (seconds since the epoch).
struct CachedToken {
    Account account;
    std::int64_t expiresAt = 0;
};
using TokenCache = ChangeTrackedCache<std::string, CachedToken>;

} // namespace aurelo::service
