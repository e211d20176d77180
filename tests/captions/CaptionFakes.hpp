#pragma once

// Stand-ins for the capture stream and the recogniser, so the manager's run can be driven step
// by step: the test plays the sound server and the recogniser.

#include "captions/ApplicationAudioCaptureStream.hpp"
#include "captions/SpeechRecognizer.hpp"

#include <memory>

namespace aurelo::test {

struct FakeCaptureLog {
    int starts = 0;
    int stops = 0;
    int destroyed = 0;
    std::shared_ptr<ApplicationAudioOutput> output;
    ApplicationAudioCaptureStream::EventHandler handler;
};

class FakeCaptureStream final : public ApplicationAudioCaptureStream {
public:
    explicit FakeCaptureStream(std::shared_ptr<FakeCaptureLog> log) : m_log(std::move(log)) {}
    ~FakeCaptureStream() override { ++m_log->destroyed; }

    void startCapture(std::shared_ptr<ApplicationAudioOutput> output,
                      EventHandler handler) override {
        ++m_log->starts;
        m_log->output = std::move(output);
        m_log->handler = std::move(handler);
    }
    void stopCapture(StopCompletion completion) override {
        ++m_log->stops;
        m_log->output.reset();
        m_log->handler = nullptr;
        // A stream that is already gone reports an error; the manager must not care.
        if (completion)
            completion(std::string("already stopped"));
    }

private:
    std::shared_ptr<FakeCaptureLog> m_log;
};

struct FakeRecognitionLog {
    int tasks = 0;
    int cancels = 0;
    std::shared_ptr<SpeechRecognitionRequest> request;
    SpeechRecognizer::EventHandler handler;
};

class FakeRecognizer final : public SpeechRecognizer {
public:
    explicit FakeRecognizer(std::shared_ptr<FakeRecognitionLog> log) : m_log(std::move(log)) {}

    std::string locale() const override { return "en-US"; }
    std::unique_ptr<SpeechRecognitionTask>
    recognitionTask(std::shared_ptr<SpeechRecognitionRequest> request,
                    EventHandler handler) override {
        ++m_log->tasks;
        m_log->request = std::move(request);
        m_log->handler = std::move(handler);
        return std::make_unique<Task>(m_log);
    }

private:
    struct Task final : SpeechRecognitionTask {
        explicit Task(std::shared_ptr<FakeRecognitionLog> log) : log(std::move(log)) {}
        void cancel() override { ++log->cancels; }
        std::shared_ptr<FakeRecognitionLog> log;
    };
    std::shared_ptr<FakeRecognitionLog> m_log;
};

} // namespace aurelo::test
