#pragma once

// One instance's copy of accounts' engine lists with their providers' settings, which every
// translation reads. A store keeps it only while it learns of every change: the SQLite store from
// its own writes and SQLite's data version (another process's commit), the PostgreSQL store from
// notifications its triggers send. While it cannot (its notification connection is lost), the
// cache is untrusted and every read goes to the database. A read that started before a change
// never stores what it read after it: each change moves the generation on.

#include "service/ServiceDatabase.hpp"

#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace aurelo::service {

class EngineListCache {
public:
    using Engines = std::vector<EngineWithSettings>;

    // The cached list, or nullopt; `generation` receives what store() must be given.
    std::optional<Engines> find(std::int64_t userId, std::uint64_t& generation) {
        std::lock_guard lock(m_mutex);
        generation = m_generation;
        if (!m_trusted)
            return std::nullopt;
        auto it = m_lists.find(userId);
        if (it == m_lists.end())
            return std::nullopt;
        return it->second;
    }
    // Keeps a list read at `generation`, unless something changed since.
    void store(std::int64_t userId, const Engines& engines, std::uint64_t generation) {
        std::lock_guard lock(m_mutex);
        if (m_trusted && generation == m_generation)
            m_lists[userId] = engines;
    }
    // Something changed: everything cached goes.
    void forget() {
        std::lock_guard lock(m_mutex);
        ++m_generation;
        m_lists.clear();
    }
    // Whether changes are being heard of; either way what was cached goes.
    void setTrusted(bool trusted) {
        std::lock_guard lock(m_mutex);
        m_trusted = trusted;
        ++m_generation;
        m_lists.clear();
    }
    // Forgets everything when a write of the store's own is done (a list read meanwhile, before
    // the write committed, is not kept), without waiting for the write to be heard of.
    class ForgetAfter {
    public:
        explicit ForgetAfter(EngineListCache& cache) : m_cache(cache) {}
        ForgetAfter(const ForgetAfter&) = delete;
        ForgetAfter& operator=(const ForgetAfter&) = delete;
        ~ForgetAfter() { m_cache.forget(); }

    private:
        EngineListCache& m_cache;
    };

private:
    mutable std::mutex m_mutex;
    std::unordered_map<std::int64_t, Engines> m_lists;
    std::uint64_t m_generation = 0;
    bool m_trusted = false;
};

} // namespace aurelo::service
