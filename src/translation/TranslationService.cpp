#include "translation/TranslationService.hpp"

#include "platform/MainLoop.hpp"
#include "platform/Text.hpp"
#include "translation/AureloServiceURL.hpp"
#include "translation/TranslationNetwork.hpp"

#include <glib.h>

#include <memory>

namespace aurelo {

namespace {

const char* const kLoginRequired = "请先登录Aurelo翻译器账号。";

template <typename T> void failLater(ServiceCompletion<T> completion, ServiceFailure failure) {
    postToMainLoop([completion = std::move(completion), failure = std::move(failure)]() mutable {
        completion(std::unexpected(std::move(failure)));
    });
}

} // namespace

TranslationService::TranslationService()
    : TranslationService(aureloServiceURL(), TranslationNetwork::session(),
                         TranslationRequestCache::shared()) {}

TranslationService::TranslationService(std::string origin, HttpSession& session,
                                       TranslationRequestCache& cache)
    : m_client(std::move(origin), session), m_cache(cache) {}

void TranslationService::translate(const std::string& text, const std::string& target,
                                   const TranslationConfiguration& configuration,
                                   ServiceCompletion<TranslationResult> completion) const {
    if (text::trimmed(configuration.apiKey).empty())
        return failLater(std::move(completion), TranslationError::server(kLoginRequired));

    std::string source = text::trimmed(text);
    TranslationRequestCache::Key key{source, target, std::string(rawValue(configuration.provider))};
    const ManagedTranslationClient& client = m_client;
    m_cache.result(
        key,
        [&client, source, target, configuration](ServiceCompletion<TranslationResult> done) {
            client.translate(source, target, configuration, std::move(done));
        },
        std::move(completion));
}

void TranslationService::translateBatch(
    const std::vector<std::string>& texts, const std::string& target,
    const TranslationConfiguration& configuration,
    ServiceCompletion<std::vector<TranslationResult>> completion) const {
    if (text::trimmed(configuration.apiKey).empty())
        return failLater(std::move(completion), TranslationError::server(kLoginRequired));

    auto slots = std::make_shared<std::vector<std::optional<TranslationResult>>>(texts.size());
    std::vector<std::string> pendingTexts;
    std::vector<std::size_t> pendingIndices;
    std::vector<TranslationRequestCache::Key> pendingKeys;
    const std::string provider(rawValue(configuration.provider));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        TranslationRequestCache::Key key{text::trimmed(texts[i]), target, provider};
        if (auto hit = m_cache.cachedResult(key)) {
            (*slots)[i] = std::move(*hit);
            continue;
        }
        // Duplicates inside one batch are not merged: each miss is sent.
        pendingTexts.push_back(key.text);
        pendingIndices.push_back(i);
        pendingKeys.push_back(std::move(key));
    }

    auto collect = [](const std::vector<std::optional<TranslationResult>>& filled) {
        std::vector<TranslationResult> results;
        results.reserve(filled.size());
        for (const auto& slot : filled)
            results.push_back(slot.value_or(TranslationResult{}));
        return results;
    };

    if (pendingTexts.empty()) {
        postToMainLoop([completion = std::move(completion), results = collect(*slots)]() mutable {
            completion(std::move(results));
        });
        return;
    }

    const std::size_t sent = pendingTexts.size();
    m_client.translateBatch(
        pendingTexts, target, configuration,
        [cache = &m_cache, cacheAlive = m_cache.lifetime(), slots, sent,
         pendingIndices = std::move(pendingIndices), pendingKeys = std::move(pendingKeys), collect,
         completion =
             std::move(completion)](ServiceOutcome<std::vector<TranslationResult>> answer) {
            if (!answer)
                return completion(std::unexpected(std::move(answer.error())));
            if (answer->size() != sent)
                return completion(
                    std::unexpected(TranslationError::invalidResponse("批量翻译结果数量不匹配")));
            for (std::size_t j = 0; j < sent; ++j) {
                (*slots)[pendingIndices[j]] = (*answer)[j];
                if (!cacheAlive.isCancelled())
                    cache->store((*answer)[j], pendingKeys[j]);
            }
            completion(collect(*slots));
        });
}

void TranslationService::forgetResults() const {
    m_cache.clear();
}

} // namespace aurelo
