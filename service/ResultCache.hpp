#pragma once

// Translations the service has already paid a provider for, kept per account: one account's
// results are never answered to another (a batch of one account could otherwise plant a result
// that every account receives, and a hit would tell one account what another translated). The
// cache is bounded in bytes, not entries, both per account and in all, so one account can neither
// fill the memory nor push every other account out. Every operation, eviction included, is O(1)
// (amortised): least recently used entries of an account go first, and when the whole cache is
// full, entries of the account used least recently.

#include "translation/TranslationTypes.hpp"

#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace aurelo::service {

class ResultCache {
public:
    struct Limits {
        std::size_t totalBytes = 64u * 1024 * 1024;
        std::size_t accountBytes = 4u * 1024 * 1024;
    };
    struct Key {
        Key(std::string text, std::string target, std::string engine, std::string glossary = {})
            : text(std::move(text)), target(std::move(target)), engine(std::move(engine)),
              glossary(std::move(glossary)) {}
        std::string text;
        std::string target;
        std::string engine;   // the engine's identity: backend and, where it matters, model
        std::string glossary; // the version of the glossary applied; empty without one
    };

    explicit ResultCache(Limits limits) : m_limits(limits) {}

    // The stored result, which becomes the account's most recently used.
    std::optional<TranslationResult> find(std::int64_t account, const Key& key);
    // Stores (or replaces) a result. One that alone exceeds the account's bound is not kept.
    void store(std::int64_t account, const Key& key, const TranslationResult& result);

    // Drops the results of every account not in `existing` (removed accounts).
    void retainAccounts(const std::vector<std::int64_t>& existing);

    std::size_t bytes() const { return m_bytes; }
    std::size_t accountBytes(std::int64_t account) const;
    std::size_t entries() const;

    // What one entry costs: its key and result, plus the list and index nodes around them.
    static std::size_t entryBytes(const Key& key, const TranslationResult& result);

private:
    struct Entry {
        std::string key;
        TranslationResult result;
        std::size_t bytes = 0;
    };
    struct Shelf {
        std::list<Entry> entries; // least recently used first
        std::unordered_map<std::string_view, std::list<Entry>::iterator> index;
        std::size_t bytes = 0;
        std::list<std::int64_t>::iterator place; // in m_accountOrder
    };

    static std::string flatKey(const Key& key);
    Shelf& shelfFor(std::int64_t account);
    void touch(Shelf& shelf);
    // Drops the shelf's least recently used entry, and the shelf when it becomes empty.
    void evictOldest(std::int64_t account);

    Limits m_limits;
    std::unordered_map<std::int64_t, Shelf> m_shelves;
    std::list<std::int64_t> m_accountOrder; // least recently used account first
    std::size_t m_bytes = 0;
};

} // namespace aurelo::service
