#pragma once

#include "platform/Cancellable.hpp"
#include "translation/TranslationError.hpp"
#include "translation/TranslationTypes.hpp"

#include <cstddef>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>

namespace aurelo {

// Remembers successful translations for the life of the process, so that the same text asked
// again for the same target and provider is answered without a request. Only the main loop
// touches it. Eviction follows the order of storing, not of use: the key stored longest ago goes
// first, and storing a key again makes it the youngest. Every key stands in the order once, so
// eviction is exact and takes constant time.
class TranslationRequestCache {
public:
    struct Key {
        std::string text;
        std::string target;
        std::string provider;

        friend bool operator==(const Key&, const Key&) = default;
    };

    struct KeyHash {
        std::size_t operator()(const Key& key) const noexcept;
    };

    using Operation = std::function<void(ServiceCompletion<TranslationResult>)>;

    static constexpr std::size_t kDefaultCapacity = 500;

    explicit TranslationRequestCache(std::size_t capacity = kDefaultCapacity);

    // The process-wide cache, created on first use.
    static TranslationRequestCache& shared();

    // A hit completes with the stored result without running `operation`. A miss runs it; a
    // success is stored as store() stores it and passed on, a failure is passed on and changes
    // nothing. `completion` never runs inside this call.
    void result(const Key& key, const Operation& operation,
                ServiceCompletion<TranslationResult> completion);

    // Stores a result, replacing an earlier one and moving the key to the youngest position.
    void store(const TranslationResult& result, const Key& key);

    std::optional<TranslationResult> cachedResult(const Key& key) const;

    // Forgets every stored result; answers still on their way are stored when they come.
    void clear();

    // Cancelled as the cache goes: an answer that arrives after it is passed on, not stored.
    CancellationToken lifetime() const { return m_lifetime.token(); }

    std::size_t capacity() const { return m_capacity; }
    std::size_t size() const { return m_completed.size(); }
    std::size_t orderLength() const { return m_completedOrder.size(); }

private:
    struct Entry {
        TranslationResult result;
        std::list<Key>::iterator position;
    };

    void trim();

    std::unordered_map<Key, Entry, KeyHash> m_completed;
    // Oldest first.
    std::list<Key> m_completedOrder;
    std::size_t m_capacity;
    Cancellable m_lifetime;
};

} // namespace aurelo
