#pragma once

// The offline demonstration engine: Apertium's rule-based translators from the distribution's
// packages, run as a subprocess per batch. It needs no key and no network, so a fresh machine
// shows real translations for the language pairs that are installed, and a clear refusal for
// the rest.
//
// One `apertium` process translates a whole batch: the texts go in Apertium's stream format,
// each ended by a NUL, in null-flush mode (-z), where every NUL-terminated segment is translated
// on its own and answered with one NUL-terminated segment. The process runs asynchronously
// (GSubprocess), so the server's main loop never waits for it.

#include "service/Glossary.hpp"
#include "service/TranslationEngine.hpp"

#include <chrono>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace aurelo::service {

struct ApertiumConfiguration {
    std::string program = "apertium";
    std::filesystem::path modesDirectory = "/usr/share/apertium/modes";
    std::chrono::milliseconds timeout{20000};
    // Each process takes one core for about half a second; more than this many at once would
    // only make every request slower.
    unsigned maxConcurrentProcesses = 2;
};

// A direction Apertium can translate, in client codes ("en" -> "es") and Apertium's mode name.
struct ApertiumPair {
    std::string source;
    std::string target;
    std::string mode;
};

// The installed directions, from the mode files ("eng-spa.mode"). Variant modes ("spa-eng_US")
// and internal stages ("eng-spa-tagger") are left out.
std::vector<ApertiumPair> installedApertiumPairs(const std::filesystem::path& modesDirectory);

// Apertium's stream format: the characters it treats as markup are escaped, line breaks travel
// as blanks. `decodeApertiumStream` turns its output back into plain text.
std::string encodeApertiumStream(const std::string& text);
std::string decodeApertiumStream(const std::string& stream);
// A text in the stream format with its glossary terms protected: each term's replacement (the
// term itself, or its fixed translation) goes inside a superblank, which Apertium passes through
// untouched, and comes out as text again through decodeApertiumStream.
std::string encodeApertiumStream(const std::vector<GlossarySegment>& segments);

// Runs the processes and keeps their number bounded; shared by every ApertiumEngine of a server.
class ApertiumRunner : public std::enable_shared_from_this<ApertiumRunner> {
public:
    explicit ApertiumRunner(ApertiumConfiguration configuration);

    const ApertiumConfiguration& configuration() const { return m_configuration; }
    const std::vector<ApertiumPair>& pairs() const { return m_pairs; }

    // Translates `streams` (texts in the stream format) with `mode`; the completion runs on the
    // main loop.
    void run(std::string mode, std::vector<std::string> streams, EngineCompletion completion);

private:
    struct Job {
        std::string mode;
        std::vector<std::string> streams;
        EngineCompletion completion;
    };
    void startNext();
    void start(Job job);

    ApertiumConfiguration m_configuration;
    std::vector<ApertiumPair> m_pairs;
    std::deque<Job> m_waiting;
    unsigned m_running = 0;
};

class ApertiumEngine final : public TranslationEngine {
public:
    explicit ApertiumEngine(std::shared_ptr<ApertiumRunner> runner,
                            std::shared_ptr<const Glossary> glossary = {})
        : m_runner(std::move(runner)), m_glossary(std::move(glossary)) {}

    std::string identity() const override { return "apertium"; }
    std::string glossaryVersion() const override {
        return m_glossary ? m_glossary->version() : std::string();
    }
    void translate(std::vector<std::string> texts, std::string target,
                   EngineCompletion completion) override;

private:
    std::shared_ptr<ApertiumRunner> m_runner;
    std::shared_ptr<const Glossary> m_glossary;
};

} // namespace aurelo::service
