#include "service/ProviderEngine.hpp"

#include "platform/MainLoop.hpp"
#include "service/GlossaryMarkup.hpp"

#include <map>

namespace aurelo::service {

namespace {

struct PartsRun {
    std::vector<TranslationResult> results;
    std::size_t pending = 0;
    bool failed = false;
    EngineCompletion completion;
};

// The source language of the first fixed translation in a text: the language pair of the
// provider glossary it needs. Empty when it holds none.
std::string glossarySourceOf(const std::vector<GlossarySegment>& segments) {
    for (const auto& segment : segments)
        if (segment.term && !segment.term->keptAsWritten())
            return segment.term->sourceLanguage;
    return {};
}

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
    std::vector<std::vector<GlossarySegment>> segments(texts.size());
    // Texts by the language pair of the provider glossary they need ("" for none), in order.
    std::map<std::string, std::vector<std::size_t>> groups;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        segments[i] = m_glossary ? m_glossary->split(texts[i], target)
                                 : std::vector<GlossarySegment>{{texts[i]}};
        groups[m_dialect.providerGlossary ? glossarySourceOf(segments[i]) : ""].push_back(i);
    }
    struct Planned {
        std::vector<std::size_t> slots;
        ProviderPart part;
    };
    std::vector<Planned> planned;
    for (auto& [source, members] : groups) {
        std::vector<std::string> groupTexts;
        for (std::size_t i : members)
            groupTexts.push_back(texts[i]);
        for (auto [first, last] : planBatches(groupTexts, m_dialect.limits)) {
            Planned item;
            item.part.target = target;
            item.part.glossarySource = source;
            for (std::size_t k = first; k < last; ++k) {
                std::size_t i = members[k];
                item.slots.push_back(i);
                item.part.texts.push_back(texts[i]);
                item.part.markup = item.part.markup ||
                                   (m_dialect.needsMarkup && m_dialect.needsMarkup(segments[i]));
                item.part.segments.push_back(std::move(segments[i]));
            }
            planned.push_back(std::move(item));
        }
    }
    auto run = std::make_shared<PartsRun>();
    run->results.resize(texts.size());
    run->pending = planned.size();
    run->completion = std::move(completion);
    auto self = shared_from_this();
    for (auto& item : planned) {
        EngineCompletion done = [self, run, slots = item.slots](EngineOutcome outcome) {
            if (run->failed)
                return;
            if (outcome && outcome->size() != slots.size())
                outcome = std::unexpected(countMismatch(self->m_dialect.displayName));
            if (!outcome) {
                run->failed = true;
                return run->completion(std::unexpected(outcome.error()));
            }
            for (std::size_t k = 0; k < slots.size(); ++k)
                run->results[slots[k]] = std::move((*outcome)[k]);
            if (--run->pending == 0)
                run->completion(std::move(run->results));
        };
        if (item.part.glossarySource.empty() || !m_deeplGlossaries) {
            translatePart(std::move(item.part), std::move(done));
            continue;
        }
        // Copied first: the part itself moves into the callback below.
        const std::string source = item.part.glossarySource;
        m_deeplGlossaries->glossaryFor(m_context, m_settings, *m_glossary, source, target,
                                       [self, part = std::move(item.part), done = std::move(done)](
                                           std::expected<std::string, EngineFailure> id) mutable {
                                           if (!id)
                                               return done(std::unexpected(id.error()));
                                           part.glossaryId = *id;
                                           self->translatePart(std::move(part), std::move(done));
                                       });
    }
}

void ProviderEngine::translatePart(ProviderPart part, EngineCompletion completion) {
    std::string name = m_dialect.displayName;
    auto decode = m_dialect.decodeAnswer;
    std::size_t count = part.texts.size();
    bool markup = part.markup;
    sendUpstream(
        m_context, name, m_dialect.buildRequest(m_settings, part),
        [name, decode, count, markup, completion = std::move(completion)](JsonOutcome answer) {
            if (!answer)
                return completion(std::unexpected(answer.error()));
            EngineOutcome outcome = decode(*answer, count, name);
            if (outcome && markup)
                for (auto& result : *outcome)
                    result.text = plainFromMarkup(result.text);
            completion(std::move(outcome));
        });
}

} // namespace aurelo::service
