#include "service/TranslationDispatcher.hpp"

#include "platform/MainLoop.hpp"
#include "translation/TranslationProvider.hpp"

#include <unordered_map>

namespace aurelo::service {

namespace {

EngineFailure databaseFailure(const DatabaseError& error) {
    if (error.unavailable)
        return {503, "数据库暂时不可用，请稍后重试。"};
    return {500, "服务内部错误，请稍后重试。"};
}

} // namespace

TranslationDispatcher::TranslationDispatcher(ServiceDatabase& database, EngineFactory factory,
                                             ResultCache::Limits cacheLimits)
    : m_database(database), m_factory(std::move(factory)),
      m_cache(std::make_shared<ResultCache>(cacheLimits)) {}

std::expected<std::shared_ptr<TranslationEngine>, EngineFailure>
TranslationDispatcher::make(const EngineRecord& engine) {
    if (!isKnownBackend(engine.backend))
        return std::unexpected(EngineFailure{500, "账号的翻译引擎配置无效，请联系管理员。"});
    ProviderSettings settings;
    if (engine.backend != "apertium") {
        auto stored = m_database.providerSettings(engine.backend);
        if (!stored)
            return std::unexpected(databaseFailure(stored.error()));
        settings = std::move(*stored);
    }
    return m_factory.make(engine, settings);
}

std::expected<std::shared_ptr<TranslationEngine>, EngineFailure>
TranslationDispatcher::engineFor(const Account& account, const std::string& provider) {
    auto engines = m_database.engines(account.id);
    if (!engines)
        return std::unexpected(databaseFailure(engines.error()));
    for (const auto& engine : *engines)
        if (engine.provider == provider)
            return make(engine);
    auto known = translationProviderFromRawValue(provider);
    std::string name = known ? std::string(displayName(*known)) : provider;
    return std::unexpected(EngineFailure{403, "当前账号未启用 " + name + "，请联系管理员。"});
}

std::expected<std::shared_ptr<TranslationEngine>, EngineFailure>
TranslationDispatcher::firstEngineFor(const Account& account) {
    auto engines = m_database.engines(account.id);
    if (!engines)
        return std::unexpected(databaseFailure(engines.error()));
    for (const auto& engine : *engines)
        if (translationProviderFromRawValue(engine.provider))
            return make(engine);
    return std::unexpected(EngineFailure{403, "当前账号没有可用的翻译引擎，请联系管理员。"});
}

void TranslationDispatcher::translate(const Account& account,
                                      const std::shared_ptr<TranslationEngine>& engine,
                                      std::vector<std::string> texts, const std::string& target,
                                      std::function<void(DispatchOutcome)> completion) {
    std::string identity = engine->identity();
    DispatchResult done;
    done.results.resize(texts.size());
    // Distinct texts still to translate, and for each the slots it fills.
    std::vector<std::string> pending;
    std::vector<std::vector<std::size_t>> slots;
    std::unordered_map<std::string, std::size_t> pendingIndex;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (texts[i].empty())
            continue;
        if (auto hit = m_cache->find(account.id, {texts[i], target, identity})) {
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
        [cache = m_cache, accountId = account.id, identity, target, pending,
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
                    cache->store(accountId, {pending[j], target, identity}, (*outcome)[j]);
                for (std::size_t slot : slots[j])
                    done.results[slot] = (*outcome)[j];
            }
            completion(std::move(done));
        });
}

} // namespace aurelo::service
