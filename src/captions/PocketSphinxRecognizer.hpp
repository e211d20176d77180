#pragma once

#include "captions/SpeechRecognizer.hpp"

#include <filesystem>
#include <memory>
#include <string>

namespace aurelo {

// Offline US English recognition with PocketSphinx and the acoustic model, language model and
// dictionary of Debian's pocketsphinx-en-us package. The model is loaded by each task on its own
// thread (well under a second), so starting captions never blocks the main loop.
class PocketSphinxRecognizer final : public SpeechRecognizer {
public:
    static constexpr const char* kDefaultModelDirectory = "/usr/share/pocketsphinx/model/en-us";

    // A recogniser for `locale`, or null when we have no model for it: only "en-US" is known.
    static std::shared_ptr<PocketSphinxRecognizer>
    forLocale(const std::string& locale,
              std::filesystem::path modelDirectory = kDefaultModelDirectory);

    explicit PocketSphinxRecognizer(std::filesystem::path modelDirectory);
    ~PocketSphinxRecognizer() override;
    PocketSphinxRecognizer(const PocketSphinxRecognizer&) = delete;
    PocketSphinxRecognizer& operator=(const PocketSphinxRecognizer&) = delete;

    std::string locale() const override { return "en-US"; }
    std::unique_ptr<SpeechRecognitionTask>
    recognitionTask(std::shared_ptr<SpeechRecognitionRequest> request,
                    EventHandler handler) override;

    // Drops what the recogniser emits besides words: fillers ("<sil>", "[NOISE]") and the
    // alternative-pronunciation suffix of dictionary entries ("the(2)").
    static std::string cleanHypothesis(const char* hypothesis);

    class ThreadReaper;

private:
    std::filesystem::path m_modelDirectory;
    std::shared_ptr<ThreadReaper> m_reaper;
};

} // namespace aurelo
