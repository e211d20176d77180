#include "captions/CaptionTranscript.hpp"

#include <algorithm>

namespace aurelo {

std::uint64_t CaptionTranscript::update(const std::string& text, bool isFinal) {
    if (m_utterances.empty() || m_utterances.back().isFinal) {
        Utterance utterance;
        utterance.id = m_nextId++;
        m_utterances.push_back(std::move(utterance));
        while (m_utterances.size() > kMaximumUtterances)
            m_utterances.pop_front();
    }
    auto& utterance = m_utterances.back();
    if (utterance.source != text || utterance.revision == 0) {
        utterance.source = text;
        ++utterance.revision;
    }
    utterance.isFinal = isFinal;
    return utterance.id;
}

std::optional<CaptionTranscript::TranslationJob>
CaptionTranscript::takeTranslationJob(std::uint64_t id) {
    auto* utterance = find(id);
    if (!utterance || utterance->source.empty() || utterance->sentRevision == utterance->revision)
        return std::nullopt;
    utterance->sentRevision = utterance->revision;
    return TranslationJob{utterance->id, utterance->revision, utterance->source};
}

std::optional<std::uint64_t> CaptionTranscript::openUtterance() const {
    if (m_utterances.empty() || m_utterances.back().isFinal)
        return std::nullopt;
    return m_utterances.back().id;
}

bool CaptionTranscript::applyTranslation(const TranslationJob& job,
                                         const std::string& translation) {
    auto* utterance = find(job.utterance);
    if (!utterance || job.revision <= utterance->translatedRevision)
        return false;
    utterance->translatedRevision = job.revision;
    if (utterance->translation == translation)
        return false;
    utterance->translation = translation;
    return true;
}

std::string CaptionTranscript::sourceText() const {
    std::string text;
    for (const auto& utterance : m_utterances) {
        if (utterance.source.empty())
            continue;
        if (!text.empty())
            text += '\n';
        text += utterance.source;
    }
    return text;
}

std::string CaptionTranscript::translatedText() const {
    std::string text;
    for (const auto& utterance : m_utterances) {
        if (utterance.translation.empty())
            continue;
        if (!text.empty())
            text += '\n';
        text += utterance.translation;
    }
    return text;
}

void CaptionTranscript::clear() {
    m_utterances.clear();
}

CaptionTranscript::Utterance* CaptionTranscript::find(std::uint64_t id) {
    auto found = std::find_if(m_utterances.begin(), m_utterances.end(),
                              [id](const Utterance& u) { return u.id == id; });
    return found == m_utterances.end() ? nullptr : &*found;
}

} // namespace aurelo
