#include "translation/TranslationRequestCache.hpp"

#include "platform/MainLoop.hpp"

#include <iterator>

namespace aurelo {

std::size_t TranslationRequestCache::KeyHash::operator()(const Key& key) const noexcept {
    std::hash<std::string> hash;
    std::size_t seed = hash(key.text);
    for (const std::string* part : {&key.target, &key.provider})
        seed ^= hash(*part) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    return seed;
}

TranslationRequestCache::TranslationRequestCache(std::size_t capacity) : m_capacity(capacity) {}

TranslationRequestCache& TranslationRequestCache::shared() {
    static TranslationRequestCache cache;
    return cache;
}

void TranslationRequestCache::result(const Key& key, const Operation& operation,
                                     ServiceCompletion<TranslationResult> completion) {
    if (auto hit = cachedResult(key)) {
        postToMainLoop([completion = std::move(completion), hit = std::move(*hit)]() mutable {
            completion(std::move(hit));
        });
        return;
    }
    // The process-wide cache outlives every request; one owned by whoever made the request may
    // be gone when the answer comes.
    operation([this, cancellation = lifetime(), key,
               completion = std::move(completion)](ServiceOutcome<TranslationResult> outcome) {
        if (outcome && !cancellation.isCancelled())
            store(*outcome, key);
        completion(std::move(outcome));
    });
}

void TranslationRequestCache::clear() {
    m_completed.clear();
    m_completedOrder.clear();
}

void TranslationRequestCache::store(const TranslationResult& result, const Key& key) {
    if (auto it = m_completed.find(key); it != m_completed.end()) {
        it->second.result = result;
        m_completedOrder.splice(m_completedOrder.end(), m_completedOrder, it->second.position);
    } else {
        m_completedOrder.push_back(key);
        m_completed.emplace(key, Entry{result, std::prev(m_completedOrder.end())});
    }
    trim();
}

std::optional<TranslationResult> TranslationRequestCache::cachedResult(const Key& key) const {
    auto it = m_completed.find(key);
    if (it == m_completed.end())
        return std::nullopt;
    return it->second.result;
}

void TranslationRequestCache::trim() {
    while (m_completedOrder.size() > m_capacity) {
        m_completed.erase(m_completedOrder.front());
        m_completedOrder.pop_front();
    }
}

} // namespace aurelo
