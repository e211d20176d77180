#include "service/ApertiumEngine.hpp"

#include "platform/GRef.hpp"
#include "platform/MainLoop.hpp"
#include "service/LanguageCodes.hpp"

#include <gio/gio.h>

#include <algorithm>
#include <csignal>
#include <string_view>

namespace aurelo::service {

namespace {

constexpr const char* kEngineName = "离线演示引擎 (Apertium)";

EngineFailure failure(unsigned status, std::string message) {
    return {status, std::move(message)};
}

} // namespace

std::vector<ApertiumPair> installedApertiumPairs(const std::filesystem::path& modesDirectory) {
    std::vector<ApertiumPair> pairs;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(modesDirectory, error)) {
        if (entry.path().extension() != ".mode")
            continue;
        std::string mode = entry.path().stem().string();
        std::size_t dash = mode.find('-');
        if (dash == std::string::npos || mode.find_first_of("-_", dash + 1) != std::string::npos)
            continue;
        auto source = clientCodeForApertium(mode.substr(0, dash));
        auto target = clientCodeForApertium(mode.substr(dash + 1));
        if (source && target)
            pairs.push_back({*source, *target, mode});
    }
    std::ranges::sort(pairs, {}, &ApertiumPair::mode);
    return pairs;
}

std::string encodeApertiumStream(const std::string& text) {
    std::string stream;
    for (char c : text) {
        switch (c) {
        case '\\':
        case '[':
        case ']':
        case '^':
        case '$':
        case '/':
        case '@':
        case '<':
        case '>':
        case '{':
        case '}':
            stream.push_back('\\');
            stream.push_back(c);
            break;
        case '\n':
            stream += "[\n]";
            break;
        case '\0': // the segment separator of null-flush mode
            stream.push_back(' ');
            break;
        default:
            stream.push_back(c);
        }
    }
    return stream;
}

std::string decodeApertiumStream(const std::string& stream) {
    std::string text;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        char c = stream[i];
        if (c == '\\' && i + 1 < stream.size()) {
            text.push_back(stream[++i]);
        } else if (c == '[' && i + 1 < stream.size() && stream[i + 1] == '[') {
            // Word-bound blanks ("[[t:…]]") carry inline formatting we never send: drop them.
            std::size_t end = stream.find("]]", i + 2);
            i = end == std::string::npos ? stream.size() : end + 1;
        } else if (c != '[' && c != ']') {
            text.push_back(c); // a superblank's content (our line breaks) is kept as text
        }
    }
    return text;
}

std::string encodeApertiumStream(const std::vector<GlossarySegment>& segments) {
    std::string stream;
    for (const auto& segment : segments)
        stream += segment.term ? "[" + encodeApertiumStream(segment.term->replacement()) + "]"
                               : encodeApertiumStream(segment.text);
    return stream;
}

ApertiumRunner::ApertiumRunner(ApertiumConfiguration configuration)
    : m_configuration(std::move(configuration)),
      m_pairs(installedApertiumPairs(m_configuration.modesDirectory)) {
    // A translator that exits before reading all of its input would otherwise end the whole
    // service with SIGPIPE when the pipe is written; with the signal ignored the write fails
    // and the request gets an error.
    std::signal(SIGPIPE, SIG_IGN);
}

void ApertiumRunner::run(std::string mode, std::vector<std::string> streams,
                         EngineCompletion completion) {
    m_waiting.push_back({std::move(mode), std::move(streams), std::move(completion)});
    auto self = shared_from_this();
    // Starting from the main loop keeps the completion out of the caller's stack even when the
    // process cannot be spawned.
    postToMainLoop([self] { self->startNext(); });
}

void ApertiumRunner::startNext() {
    while (m_running < std::max(1u, m_configuration.maxConcurrentProcesses) && !m_waiting.empty()) {
        Job job = std::move(m_waiting.front());
        m_waiting.pop_front();
        start(std::move(job));
    }
}

namespace {

struct RunningProcess {
    std::shared_ptr<ApertiumRunner> runner;
    GRef<GSubprocess> process;
    std::size_t count = 0;
    guint timer = 0;
    bool timedOut = false;
    EngineCompletion completion;
};

gboolean processTimeoutCallback(gpointer data) {
    auto* running = static_cast<RunningProcess*>(data);
    running->timer = 0;
    running->timedOut = true;
    g_subprocess_force_exit(running->process.get());
    return G_SOURCE_REMOVE;
}

} // namespace

void ApertiumRunner::start(Job job) {
    GErrorHolder error;
    std::string program = m_configuration.program;
    const char* argv[] = {program.c_str(), "-u", "-z", "-f", "none", job.mode.c_str(), nullptr};
    auto process = adoptGRef(
        g_subprocess_newv(argv,
                          static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_PIPE |
                                                        G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                                                        G_SUBPROCESS_FLAGS_STDERR_SILENCE),
                          error.out()));
    if (!process) {
        job.completion(std::unexpected(failure(503, std::string(kEngineName) + " 无法启动：" +
                                                        (error ? error->message : "未知错误"))));
        return;
    }
    std::string input;
    for (const auto& stream : job.streams) {
        // The empty blank "[]" before the NUL marks the end of the text; without it the tagger
        // holds back a final full stop as the possible start of an abbreviation and it is lost.
        input += stream + "[]";
        input.push_back('\0');
    }
    auto bytes = adoptGRef(g_bytes_new(input.data(), input.size()));
    auto* running = new RunningProcess{
        shared_from_this(), process, job.streams.size(), 0, false, std::move(job.completion)};
    running->timer = g_timeout_add(static_cast<guint>(m_configuration.timeout.count()),
                                   processTimeoutCallback, running);
    ++m_running;
    g_subprocess_communicate_async(
        process.get(), bytes.get(), nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<RunningProcess> running(static_cast<RunningProcess*>(data));
            if (running->timer)
                g_source_remove(running->timer);
            GErrorHolder error;
            GBytes* out = nullptr;
            bool communicated = g_subprocess_communicate_finish(G_SUBPROCESS(source), result, &out,
                                                                nullptr, error.out());
            auto output = adoptGRef(out);
            auto runner = running->runner;
            --runner->m_running;
            runner->startNext();

            if (running->timedOut)
                return running->completion(std::unexpected(
                    failure(504, std::string(kEngineName) + " 翻译超时，请稍后再试。")));
            if (!communicated || !g_subprocess_get_successful(G_SUBPROCESS(source)))
                return running->completion(
                    std::unexpected(failure(502, std::string(kEngineName) + " 翻译失败。")));
            gsize size = 0;
            const char* data_ =
                output ? static_cast<const char*>(g_bytes_get_data(output.get(), &size)) : nullptr;
            std::string_view all(data_ ? data_ : "", data_ ? size : 0);
            std::vector<TranslationResult> results;
            std::size_t start = 0;
            while (results.size() < running->count) {
                std::size_t end = all.find('\0', start);
                if (end == std::string_view::npos)
                    break;
                std::string text =
                    decodeApertiumStream(std::string(all.substr(start, end - start)));
                // Apertium may end a segment with the blank that followed the last word.
                while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
                    text.pop_back();
                results.push_back({std::move(text), std::nullopt});
                start = end + 1;
            }
            if (results.size() != running->count)
                return running->completion(std::unexpected(
                    failure(502, std::string(kEngineName) + " 返回的译文数量与原文不一致。")));
            running->completion(std::move(results));
        },
        running);
}

void ApertiumEngine::translate(std::vector<std::string> texts, std::string target,
                               EngineCompletion completion) {
    const auto& pairs = m_runner->pairs();
    std::vector<const ApertiumPair*> candidates;
    for (const auto& pair : pairs)
        if (pair.target == target)
            candidates.push_back(&pair);
    if (candidates.empty()) {
        std::string offered;
        for (const auto& pair : pairs)
            offered += (offered.empty() ? "" : "、") + chineseLanguageName(pair.source) + "→" +
                       chineseLanguageName(pair.target);
        std::string message = std::string(kEngineName) + " 不支持翻译成" +
                              chineseLanguageName(target) + "。" +
                              (offered.empty() ? "本机没有安装任何 Apertium 语言对。"
                                               : "本机只安装了：" + offered + "。");
        postToMainLoop([completion = std::move(completion), message] {
            completion(std::unexpected(failure(422, message)));
        });
        return;
    }
    // Apertium cannot tell languages apart; with several sources for one target, English is the
    // likeliest in customer chats.
    auto chosen =
        std::ranges::find_if(candidates, [](const ApertiumPair* p) { return p->source == "en"; });
    const ApertiumPair* pair = chosen != candidates.end() ? *chosen : candidates.front();
    if (texts.empty()) {
        postToMainLoop(
            [completion = std::move(completion)] { completion(std::vector<TranslationResult>()); });
        return;
    }
    // Terms are looked for with the pair's source language: a fixed translation written for
    // another source does not apply.
    std::vector<std::string> streams;
    for (const auto& text : texts)
        streams.push_back(m_glossary
                              ? encodeApertiumStream(m_glossary->split(text, target, pair->source))
                              : encodeApertiumStream(text));
    m_runner->run(pair->mode, std::move(streams), std::move(completion));
}

} // namespace aurelo::service
