#pragma once

#include "platform/Cancellable.hpp"
#include "translation/TranslationError.hpp"
#include "translation/TranslationTypes.hpp"

#include <glib.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace aurelo {

// One queued page job: a chat message ("message") or a text node of whole-page translation
// ("page"), with the session's configuration as it was when the request arrived.
struct BackgroundTranslation {
    std::string id;
    std::string text;
    std::string target;
    std::string kind = "message";
    TranslationConfiguration configuration;
    // The open conversation a customer's message was read in; absent for the agent's own
    // messages and for whole-page text.
    std::optional<std::string> conversation = std::nullopt;
};

// The per-page queue for chat history and whole-page translation. Bursts are gathered for 24 ms,
// then sent as batches of up to 10 like jobs (same kind, target and provider), at most 2 batches
// in flight. At most 16 jobs wait; the oldest is dropped with a notice, so the newest win. Runs
// on the main loop only.
class BackgroundTranslationQueue {
public:
    using BatchTranslator =
        std::function<void(const std::vector<std::string>& texts, const std::string& target,
                           const TranslationConfiguration& configuration,
                           ServiceCompletion<std::vector<TranslationResult>>)>;
    using Deliver =
        std::function<void(const std::string& id, const std::string& text, bool failed)>;

    static constexpr std::size_t kCapacity = 16;
    static constexpr std::size_t maximumBatchSize = 10;
    static constexpr int maximumConcurrentBackgroundTranslations = 2;
    static constexpr std::chrono::milliseconds kDrainDelay{24};

    static constexpr const char* kOverflowMessageNotice = "翻译队列已刷新，请点击 ↻ 重试";
    static constexpr const char* kOverflowPageNotice = "已跳过较早内容";

    // `deliverTranslation` answers "message" jobs (and any kind but "page"),
    // `deliverPageTranslation` answers "page" jobs.
    BackgroundTranslationQueue(BatchTranslator translateBatch, Deliver deliverTranslation,
                               Deliver deliverPageTranslation);
    BackgroundTranslationQueue(const BackgroundTranslationQueue&) = delete;
    BackgroundTranslationQueue& operator=(const BackgroundTranslationQueue&) = delete;
    // Pending answers of batches still in flight are dropped.
    ~BackgroundTranslationQueue();

    // Told the service's detected source language of each translated job of a conversation.
    using Detected = std::function<void(const BackgroundTranslation& job, const std::string& code)>;
    void setOnDetected(Detected callback) { m_onDetected = std::move(callback); }

    void enqueue(BackgroundTranslation job);
    void scheduleBackgroundQueueProcessing();
    void processBackgroundQueue();
    // Off discards the waiting jobs without answers and cancels the drain and every batch in
    // flight; on resumes processing.
    void setTranslationActive(bool active);

    std::size_t waitingCount() const { return m_backgroundQueue.size(); }
    int activeBackgroundTranslations() const { return m_activeBackgroundTranslations; }
    std::size_t activeTranslationTaskCount() const { return m_activeTranslationTasks.size(); }
    bool isDrainPending() const { return m_queueDrainTask != 0; }

private:
    static gboolean drainCallback(gpointer self);
    void startBatch(std::vector<BackgroundTranslation> batch);
    void finishBatch(std::uint64_t taskId, const std::vector<BackgroundTranslation>& batch,
                     const ServiceOutcome<std::vector<TranslationResult>>& outcome);
    void cancelDrain();

    BatchTranslator m_translateBatch;
    Deliver m_deliverTranslation;
    Deliver m_deliverPageTranslation;
    Detected m_onDetected;

    std::deque<BackgroundTranslation> m_backgroundQueue;
    int m_activeBackgroundTranslations = 0;
    // Running batches by task id; the flag is set when the batch is cancelled, and its answers
    // are then dropped when the service call returns.
    std::map<std::uint64_t, bool> m_activeTranslationTasks;
    std::uint64_t m_nextTaskId = 1;
    guint m_queueDrainTask = 0;
    // Cancelled with the queue, so that a service answer arriving after the page is gone does
    // nothing.
    Cancellable m_cancellable;
};

} // namespace aurelo
