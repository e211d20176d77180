#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace aurelo {

// The recent utterances of a caption run and their translations. The recogniser keeps
// revising the utterance being spoken until a pause ends it; translations of older revisions may
// come back after newer ones and must never replace them.
class CaptionTranscript {
public:
    // The strip shows recent speech; a long call would otherwise grow it (and the copy) forever.
    static constexpr std::size_t kMaximumUtterances = 8;

    struct TranslationJob {
        std::uint64_t utterance = 0;
        std::uint64_t revision = 0;
        std::string text;
    };

    // Replaces the utterance being spoken with `text`, or starts a new one after a finished one.
    // Returns the utterance's id.
    std::uint64_t update(const std::string& text, bool isFinal);

    // The job that would translate the current text of `utterance`, unless that text was already
    // sent (or the utterance is gone). Marks it as sent.
    std::optional<TranslationJob> takeTranslationJob(std::uint64_t utterance);
    // The utterance still being spoken, if any.
    std::optional<std::uint64_t> openUtterance() const;

    // Applies a finished translation unless a newer revision was already applied. Returns
    // whether the translated text changed.
    bool applyTranslation(const TranslationJob& job, const std::string& translation);

    // One line per utterance, oldest first; utterances without a translation yet are left out.
    std::string sourceText() const;
    std::string translatedText() const;

    void clear();

private:
    struct Utterance {
        std::uint64_t id = 0;
        std::string source;
        bool isFinal = false;
        std::uint64_t revision = 0;
        std::uint64_t sentRevision = 0;
        std::uint64_t translatedRevision = 0;
        std::string translation;
    };

    Utterance* find(std::uint64_t id);

    std::deque<Utterance> m_utterances;
    std::uint64_t m_nextId = 1;
};

} // namespace aurelo
