#include "service/ProviderEngine.hpp"

#include "platform/MainLoop.hpp"

namespace aurelo::service {

namespace {

struct PartsRun {
    std::vector<TranslationResult> results;
    std::size_t pending = 0;
    bool failed = false;
    EngineCompletion completion;
};

} // namespace

std::string ProviderEngine::identity() const {
    std::string identity = m_dialect.identity;
    if (m_dialect.chatModel)
        identity += ":" + m_settings.model;
    return identity;
}

void ProviderEngine::translate(std::vector<std::string> texts, std::string target,
                               EngineCompletion completion) {
    if (texts.empty()) {
        postToMainLoop(
            [completion = std::move(completion)] { completion(std::vector<TranslationResult>()); });
        return;
    }
    auto plan = planBatches(texts, m_dialect.limits);
    auto run = std::make_shared<PartsRun>();
    run->results.resize(texts.size());
    run->pending = plan.size();
    run->completion = std::move(completion);
    auto self = shared_from_this();
    for (auto [first, last] : plan) {
        std::vector<std::string> part(texts.begin() + static_cast<std::ptrdiff_t>(first),
                                      texts.begin() + static_cast<std::ptrdiff_t>(last));
        std::size_t expected = part.size();
        translatePart(std::move(part), target, [self, run, first, expected](EngineOutcome outcome) {
            if (run->failed)
                return;
            if (outcome && outcome->size() != expected)
                outcome = std::unexpected(countMismatch(self->m_dialect.displayName));
            if (!outcome) {
                run->failed = true;
                return run->completion(std::unexpected(outcome.error()));
            }
            std::ranges::move(*outcome, run->results.begin() + static_cast<std::ptrdiff_t>(first));
            if (--run->pending == 0)
                run->completion(std::move(run->results));
        });
    }
}

void ProviderEngine::translatePart(std::vector<std::string> texts, const std::string& target,
                                   EngineCompletion completion) {
    std::string name = m_dialect.displayName;
    auto decode = m_dialect.decodeAnswer;
    std::size_t count = texts.size();
    sendUpstream(m_context, name, m_dialect.buildRequest(m_settings, texts, target),
                 [name, decode, count, completion = std::move(completion)](JsonOutcome answer) {
                     if (!answer)
                         return completion(std::unexpected(answer.error()));
                     completion(decode(*answer, count, name));
                 });
}

} // namespace aurelo::service
