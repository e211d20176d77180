#pragma once

// Between a parsed translation request and an engine: finds the engine an account has enabled
// for the requested provider, answers what the account's own results already hold, sends each
// distinct remaining text once, and stores what comes back. Results are kept per account and
// keyed like the desktop client's cache (trimmed text, target, engine), where the engine part also
// names the backend and model, and by the version of the glossary the engine applies.

#include "service/EngineFactory.hpp"
#include "service/ResultCache.hpp"
#include "service/ServiceDatabase.hpp"

#include <memory>

namespace aurelo::service {

struct DispatchResult {
    std::vector<TranslationResult> results;
    std::size_t cacheHits = 0;
};

using DispatchOutcome = std::expected<DispatchResult, EngineFailure>;

// An engine an account has enabled and the operator's settings for its backend: what a database
// worker looks up before a translation.
struct EngineChoice {
    EngineRecord engine;
    ProviderSettings settings;
    // The account's glossary: the service-wide terms and its own.
    std::shared_ptr<const Glossary> glossary;
};
// A database failure outside; inside, the choice or why the account may not translate.
using EngineLookup = DatabaseResult<std::expected<EngineChoice, EngineFailure>>;

class TranslationDispatcher {
public:
    TranslationDispatcher(EngineFactory factory, ResultCache::Limits cacheLimits);

    // On a database worker: the engine `accountId` has enabled under `provider` (a client
    // provider value); a refusal when the account has none.
    static EngineLookup chooseEngine(ServiceDatabase& database, std::int64_t accountId,
                                     const std::string& provider);
    // The first engine of the account's list (voice messages name no provider).
    static EngineLookup chooseFirstEngine(ServiceDatabase& database, std::int64_t accountId);
    // On the main loop: the engine for a choice; a refusal when the operator has not
    // configured it.
    std::expected<std::shared_ptr<TranslationEngine>, EngineFailure>
    engineFor(const EngineChoice& choice);

    // Translates already trimmed texts; empty texts are answered empty without asking the
    // engine. The completion runs on the main loop, never inside this call.
    void translate(const Account& account, const std::shared_ptr<TranslationEngine>& engine,
                   std::vector<std::string> texts, const std::string& target,
                   std::function<void(DispatchOutcome)> completion);

    const ResultCache& cache() const { return *m_cache; }
    // Drops the cached results of accounts that are gone (`existing` lists those there are).
    void forgetRemovedAccounts(const std::vector<std::int64_t>& existing) {
        m_cache->retainAccounts(existing);
    }

private:
    EngineFactory m_factory;
    std::shared_ptr<ResultCache> m_cache;
};

} // namespace aurelo::service
