// The per-account result cache: lookups, stores and evictions.
#include "service/ResultCache.hpp"

#include <unordered_set>

namespace aurelo::service {

namespace {
// A list node, an index node and the index's share of buckets, on a 64-bit system.
constexpr std::size_t kEntryOverhead = 160;
} // namespace

std::string ResultCache::flatKey(const Key& key) {
    // NUL cannot occur in a target or an identity, so the parts cannot run into each other.
    std::string flat;
    flat.reserve(key.engine.size() + key.glossary.size() + key.target.size() + key.text.size() +
                 3);
    flat.append(key.engine).push_back('\0');
    flat.append(key.glossary).push_back('\0');
    flat.append(key.target).push_back('\0');
    flat.append(key.text);
    return flat;
}

std::size_t ResultCache::entryBytes(const Key& key, const TranslationResult& result) {
    return key.engine.size() + key.glossary.size() + key.target.size() + key.text.size() + 3 +
           result.text.size() +
           (result.detectedLanguage ? result.detectedLanguage->size() : 0) + kEntryOverhead;
}

std::size_t ResultCache::accountBytes(std::int64_t account) const {
    auto it = m_shelves.find(account);
    return it == m_shelves.end() ? 0 : it->second.bytes;
}

std::size_t ResultCache::entries() const {
    std::size_t count = 0;
    for (const auto& [account, shelf] : m_shelves)
        count += shelf.entries.size();
    return count;
}

ResultCache::Shelf& ResultCache::shelfFor(std::int64_t account) {
    auto [it, inserted] = m_shelves.try_emplace(account);
    if (inserted)
        it->second.place = m_accountOrder.insert(m_accountOrder.end(), account);
    return it->second;
}

void ResultCache::touch(Shelf& shelf) {
    m_accountOrder.splice(m_accountOrder.end(), m_accountOrder, shelf.place);
}

std::optional<TranslationResult> ResultCache::find(std::int64_t account, const Key& key) {
    auto shelf = m_shelves.find(account);
    if (shelf == m_shelves.end())
        return std::nullopt;
    auto hit = shelf->second.index.find(flatKey(key));
    if (hit == shelf->second.index.end())
        return std::nullopt;
    auto& entries = shelf->second.entries;
    entries.splice(entries.end(), entries, hit->second);
    touch(shelf->second);
    return hit->second->result;
}

void ResultCache::store(std::int64_t account, const Key& key, const TranslationResult& result) {
    std::size_t bytes = entryBytes(key, result);
    if (bytes > m_limits.accountBytes || bytes > m_limits.totalBytes)
        return;
    Shelf& shelf = shelfFor(account);
    std::string flat = flatKey(key);
    if (auto old = shelf.index.find(flat); old != shelf.index.end()) {
        shelf.bytes -= old->second->bytes;
        m_bytes -= old->second->bytes;
        auto node = old->second;
        shelf.index.erase(old);
        shelf.entries.erase(node);
    }
    auto node = shelf.entries.insert(shelf.entries.end(), Entry{std::move(flat), result, bytes});
    shelf.index.emplace(node->key, node);
    shelf.bytes += bytes;
    m_bytes += bytes;
    touch(shelf);
    // Each store adds one entry, and each pass of these loops removes one: amortised O(1).
    while (shelf.bytes > m_limits.accountBytes)
        evictOldest(account);
    while (m_bytes > m_limits.totalBytes)
        evictOldest(m_accountOrder.front());
}

void ResultCache::retainAccounts(const std::vector<std::int64_t>& existing) {
    std::unordered_set<std::int64_t> keep(existing.begin(), existing.end());
    for (auto it = m_shelves.begin(); it != m_shelves.end();) {
        if (keep.contains(it->first)) {
            ++it;
            continue;
        }
        m_bytes -= it->second.bytes;
        m_accountOrder.erase(it->second.place);
        it = m_shelves.erase(it);
    }
}

void ResultCache::evictOldest(std::int64_t account) {
    auto it = m_shelves.find(account);
    Shelf& shelf = it->second;
    auto oldest = shelf.entries.begin();
    shelf.bytes -= oldest->bytes;
    m_bytes -= oldest->bytes;
    shelf.index.erase(oldest->key);
    shelf.entries.erase(oldest);
    if (shelf.entries.empty()) {
        m_accountOrder.erase(shelf.place);
        m_shelves.erase(it);
    }
}

} // namespace aurelo::service
