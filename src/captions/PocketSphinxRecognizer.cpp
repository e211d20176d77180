#include "captions/PocketSphinxRecognizer.hpp"

#include "platform/MainLoop.hpp"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <atomic>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

namespace aurelo {

// Threads of cancelled tasks may still be loading the model, which cannot be interrupted, so
// cancelling never waits for them. They are joined later: when a new task starts (the finished
// ones) and when the recogniser goes away (all of them).
class PocketSphinxRecognizer::ThreadReaper {
public:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    ~ThreadReaper() { joinAll(); }

    void retire(Worker worker) {
        std::lock_guard lock(m_mutex);
        m_workers.push_back(std::move(worker));
    }

    void joinFinished() {
        std::vector<Worker> finished;
        {
            std::lock_guard lock(m_mutex);
            std::erase_if(m_workers, [&](Worker& worker) {
                if (!worker.finished->load())
                    return false;
                finished.push_back(std::move(worker));
                return true;
            });
        }
        for (auto& worker : finished)
            worker.thread.join();
    }

    void joinAll() {
        std::vector<Worker> workers;
        {
            std::lock_guard lock(m_mutex);
            workers.swap(m_workers);
        }
        for (auto& worker : workers)
            worker.thread.join();
    }

private:
    std::mutex m_mutex;
    std::vector<Worker> m_workers;
};

namespace {

// Audio is fed to the decoder a tenth of a second at a time, so that a pause is noticed at that
// resolution even when the queue held more.
constexpr std::size_t kFeedSamples = SpeechRecognitionRequest::kSampleRate / 10;

struct ModelFiles {
    std::filesystem::path acousticModel;
    std::filesystem::path languageModel;
    std::filesystem::path dictionary;

    explicit ModelFiles(const std::filesystem::path& directory)
        : acousticModel(directory / "en-us"), languageModel(directory / "en-us.lm.bin"),
          dictionary(directory / "cmudict-en-us.dict") {}

    bool present() const {
        std::error_code error;
        return std::filesystem::is_regular_file(acousticModel / "mdef", error) &&
               std::filesystem::is_regular_file(languageModel, error) &&
               std::filesystem::is_regular_file(dictionary, error);
    }
};

// Shared by a task and its thread. `handler` is touched only on the main thread: by the events
// posted there and by cancel(), so a cancelled task can never report.
struct TaskState {
    std::atomic<bool> cancelled{false};
    SpeechRecognizer::EventHandler handler;
};

void report(const std::shared_ptr<TaskState>& state, SpeechRecognitionEvent::Kind kind,
            std::string text = {}) {
    if (state->cancelled.load())
        return;
    postToMainLoop([state, event = SpeechRecognitionEvent{kind, std::move(text)}] {
        if (!state->cancelled.load() && state->handler)
            state->handler(event);
    });
}

struct DecoderDeleter {
    void operator()(ps_decoder_t* decoder) const { ps_free(decoder); }
};
struct ConfigDeleter {
    void operator()(cmd_ln_t* config) const { cmd_ln_free_r(config); }
};

void recognize(const ModelFiles& files, const std::shared_ptr<SpeechRecognitionRequest>& request,
               const std::shared_ptr<TaskState>& state) {
    using Kind = SpeechRecognitionEvent::Kind;

    // The library writes its progress to standard error by default; a desktop program keeps
    // quiet.
    static std::once_flag quiet;
    std::call_once(quiet, [] { err_set_logfp(nullptr); });

    if (state->cancelled.load())
        return;
    if (!files.present()) {
        report(state, Kind::Failed);
        return;
    }
    const std::string hmm = files.acousticModel.string();
    const std::string lm = files.languageModel.string();
    const std::string dict = files.dictionary.string();
    std::unique_ptr<cmd_ln_t, ConfigDeleter> config(
        cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.c_str(), "-lm", lm.c_str(), "-dict",
                    dict.c_str(), static_cast<const char*>(nullptr)));
    if (!config) {
        report(state, Kind::Failed);
        return;
    }
    std::unique_ptr<ps_decoder_t, DecoderDeleter> decoder(ps_init(config.get()));
    if (!decoder || ps_start_utt(decoder.get()) < 0) {
        report(state, Kind::Failed);
        return;
    }
    report(state, Kind::Ready);

    bool inSpeech = false;
    std::string lastPartial;
    auto hypothesis = [&] {
        return PocketSphinxRecognizer::cleanHypothesis(ps_get_hyp(decoder.get(), nullptr));
    };
    auto finishUtterance = [&] {
        ps_end_utt(decoder.get());
        if (auto text = hypothesis(); !text.empty())
            report(state, Kind::Final, std::move(text));
        lastPartial.clear();
    };

    while (auto audio = request->takeAudio()) {
        for (std::size_t offset = 0; offset < audio->size() && !state->cancelled.load();
             offset += kFeedSamples) {
            const std::size_t count = std::min(kFeedSamples, audio->size() - offset);
            if (ps_process_raw(decoder.get(), audio->data() + offset, count, FALSE, FALSE) < 0)
                continue;
            const bool speaking = ps_get_in_speech(decoder.get()) != 0;
            if (speaking) {
                if (auto text = hypothesis(); !text.empty() && text != lastPartial) {
                    lastPartial = text;
                    report(state, Kind::Partial, std::move(text));
                }
            } else if (inSpeech) {
                finishUtterance();
                ps_start_utt(decoder.get());
            }
            inSpeech = speaking;
        }
        if (state->cancelled.load())
            break;
    }
    // The audio ended (or the task was cancelled, when nothing is reported any more): what was
    // being said still counts.
    finishUtterance();
}

class PocketSphinxTask final : public SpeechRecognitionTask {
public:
    PocketSphinxTask(ModelFiles files, std::shared_ptr<SpeechRecognitionRequest> request,
                     SpeechRecognizer::EventHandler handler,
                     std::shared_ptr<PocketSphinxRecognizer::ThreadReaper> reaper)
        : m_state(std::make_shared<TaskState>()), m_request(std::move(request)),
          m_reaper(std::move(reaper)) {
        m_state->handler = std::move(handler);
        m_worker.finished = std::make_shared<std::atomic<bool>>(false);
        m_worker.thread = std::thread([files = std::move(files), request = m_request,
                                       state = m_state, finished = m_worker.finished] {
            recognize(files, request, state);
            finished->store(true);
        });
    }

    ~PocketSphinxTask() override {
        cancel();
        m_reaper->retire(std::move(m_worker));
    }

    void cancel() override {
        m_state->cancelled.store(true);
        m_state->handler = nullptr;
        m_request->interrupt();
    }

private:
    std::shared_ptr<TaskState> m_state;
    std::shared_ptr<SpeechRecognitionRequest> m_request;
    std::shared_ptr<PocketSphinxRecognizer::ThreadReaper> m_reaper;
    PocketSphinxRecognizer::ThreadReaper::Worker m_worker;
};

} // namespace

std::shared_ptr<PocketSphinxRecognizer>
PocketSphinxRecognizer::forLocale(const std::string& locale, std::filesystem::path modelDirectory) {
    if (locale != "en-US")
        return nullptr;
    return std::make_shared<PocketSphinxRecognizer>(std::move(modelDirectory));
}

PocketSphinxRecognizer::PocketSphinxRecognizer(std::filesystem::path modelDirectory)
    : m_modelDirectory(std::move(modelDirectory)), m_reaper(std::make_shared<ThreadReaper>()) {}

PocketSphinxRecognizer::~PocketSphinxRecognizer() = default;

std::unique_ptr<SpeechRecognitionTask>
PocketSphinxRecognizer::recognitionTask(std::shared_ptr<SpeechRecognitionRequest> request,
                                        EventHandler handler) {
    m_reaper->joinFinished();
    if (!request)
        request = std::make_shared<SpeechRecognitionRequest>();
    return std::make_unique<PocketSphinxTask>(ModelFiles(m_modelDirectory), std::move(request),
                                              std::move(handler), m_reaper);
}

std::string PocketSphinxRecognizer::cleanHypothesis(const char* hypothesis) {
    if (!hypothesis)
        return {};
    std::istringstream words(hypothesis);
    std::string word;
    std::string text;
    while (words >> word) {
        if (word.front() == '<' || word.front() == '[' || word.front() == '+')
            continue;
        if (auto paren = word.find('('); paren != std::string::npos && word.back() == ')')
            word.erase(paren);
        if (word.empty())
            continue;
        if (!text.empty())
            text += ' ';
        text += word;
    }
    return text;
}

} // namespace aurelo
