// Choosing an account's engine, and translating through the per-account result cache.
#include "service/TranslationDispatcher.hpp"

#include "platform/MainLoop.hpp"
#include "translation/TranslationProvider.hpp"

#include <unordered_map>

namespace aurelo::service {

namespace {

using Choice = std::expected<EngineChoice, EngineFailure>;

EngineLookup choose(ServiceDatabase& database, std::int64_t accountId,
                    const std::function<bool(const EngineRecord&)>& wanted,
                    const EngineFailure& none) {
    auto engines = database.enginesWithSettings(accountId);
    if (!engines)
        return std::unexpected(engines.error());
    for (auto& [engine, settings] : *engines) {
        if (!wanted(engine))
            continue;
        if (!isKnownBackend(engine.backend))
            return Choice(std::unexpected(EngineFailure{500, "账号的翻译引擎配置无效，请联系管理员。"}));
        // Read with every request, so that a term the operator adds applies at once, on every
        // instance.
        auto terms = database.effectiveGlossary(accountId);
        if (!terms)
            return std::unexpected(terms.error());
        return Choice(EngineChoice{std::move(engine), std::move(settings),
                                   std::make_shared<const Glossary>(std::move(*terms))});
    }
    return Choice(std::unexpected(none));
}

} // namespace

TranslationDispatcher::TranslationDispatcher(EngineFactory factory,
                                             ResultCache::Limits cacheLimits)
    : m_factory(std::move(factory)), m_cache(std::make_shared<ResultCache>(cacheLimits)) {}

EngineLookup TranslationDispatcher::chooseEngine(ServiceDatabase& database,
                                                 std::int64_t accountId,
                                                 const std::string& provider) {
    auto known = translationProviderFromRawValue(provider);
    std::string name = known ? std::string(displayName(*known)) : provider;
    return choose(
        database, accountId, [&](const EngineRecord& engine) { return engine.provider == provider; },
        EngineFailure{403, "当前账号未启用 " + name + "，请联系管理员。"});
}

EngineLookup TranslationDispatcher::chooseFirstEngine(ServiceDatabase& database,
                                                      std::int64_t accountId) {
    return choose(
        database, accountId,
        [](const EngineRecord& engine) {
            return translationProviderFromRawValue(engine.provider).has_value();
        },
        EngineFailure{403, "当前账号没有可用的翻译引擎，请联系管理员。"});
}

std::expected<std::shared_ptr<TranslationEngine>, EngineFailure>
TranslationDispatcher::engineFor(const EngineChoice& choice) {
    return m_factory.make(choice.engine, choice.settings, choice.glossary);
}

void TranslationDispatcher::translate(const Account& account,
                                      const std::shared_ptr<TranslationEngine>& engine,
                                      std::vector<std::string> texts, const std::string& target,
                                      std::function<void(DispatchOutcome)> completion) {
    std::string identity = engine->identity();
    std::string glossary = engine->glossaryVersion();
    DispatchResult done;
    done.results.resize(texts.size());
    // Distinct texts still to translate, and for each the slots it fills.
    std::vector<std::string> pending;
    std::vector<std::vector<std::size_t>> slots;
    std::unordered_map<std::string, std::size_t> pendingIndex;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (texts[i].empty())
            continue;
        if (auto hit = m_cache->find(account.id, {texts[i], target, identity, glossary})) {
            done.results[i] = std::move(*hit);
            ++done.cacheHits;
            continue;
        }
        auto [it, inserted] = pendingIndex.try_emplace(texts[i], pending.size());
        if (inserted) {
            pending.push_back(texts[i]);
            slots.emplace_back();
        }
        slots[it->second].push_back(i);
    }
    if (pending.empty()) {
        postToMainLoop([completion = std::move(completion), done = std::move(done)]() mutable {
            completion(std::move(done));
        });
        return;
    }
    std::size_t expected = pending.size();
    // The cache is shared with the completion, so that an answer arriving after the dispatcher
    // is gone still has somewhere valid to go.
    engine->translate(
        pending, target,
        [cache = m_cache, accountId = account.id, identity, glossary, target, pending,
         slots = std::move(slots), expected, done = std::move(done),
         completion = std::move(completion)](EngineOutcome outcome) mutable {
            if (!outcome)
                return completion(std::unexpected(outcome.error()));
            if (outcome->size() != expected)
                return completion(
                    std::unexpected(EngineFailure{502, "翻译引擎返回的译文数量与原文不一致。"}));
            for (std::size_t j = 0; j < expected; ++j) {
                // An empty translation of a non-empty text is a failure of the
                // engine; it is passed on but never cached.
                if (!(*outcome)[j].text.empty())
                    cache->store(accountId, {pending[j], target, identity, glossary}, (*outcome)[j]);
                for (std::size_t slot : slots[j])
                    done.results[slot] = (*outcome)[j];
            }
            completion(std::move(done));
        });
}

} // namespace aurelo::service
