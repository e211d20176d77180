#include "web/BackgroundTranslationQueue.hpp"

#include <algorithm>
#include <utility>

namespace aurelo {

BackgroundTranslationQueue::BackgroundTranslationQueue(BatchTranslator translateBatch,
                                                       Deliver deliverTranslation,
                                                       Deliver deliverPageTranslation)
    : m_translateBatch(std::move(translateBatch)),
      m_deliverTranslation(std::move(deliverTranslation)),
      m_deliverPageTranslation(std::move(deliverPageTranslation)) {}

BackgroundTranslationQueue::~BackgroundTranslationQueue() {
    cancelDrain();
}

void BackgroundTranslationQueue::enqueue(BackgroundTranslation job) {
    if (m_backgroundQueue.size() >= kCapacity) {
        BackgroundTranslation dropped = std::move(m_backgroundQueue.front());
        m_backgroundQueue.pop_front();
        if (dropped.kind == "page")
            m_deliverPageTranslation(dropped.id, kOverflowPageNotice, true);
        else
            m_deliverTranslation(dropped.id, kOverflowMessageNotice, true);
    }
    m_backgroundQueue.push_back(std::move(job));
    scheduleBackgroundQueueProcessing();
}

void BackgroundTranslationQueue::scheduleBackgroundQueueProcessing() {
    if (m_queueDrainTask != 0)
        return;
    m_queueDrainTask = g_timeout_add(static_cast<guint>(kDrainDelay.count()), drainCallback, this);
}

gboolean BackgroundTranslationQueue::drainCallback(gpointer self) {
    // The destructor removes this source, so `self` is alive whenever it fires.
    auto* queue = static_cast<BackgroundTranslationQueue*>(self);
    queue->m_queueDrainTask = 0;
    queue->processBackgroundQueue();
    return G_SOURCE_REMOVE;
}

void BackgroundTranslationQueue::cancelDrain() {
    if (m_queueDrainTask != 0)
        g_source_remove(std::exchange(m_queueDrainTask, 0));
}

void BackgroundTranslationQueue::processBackgroundQueue() {
    if (m_activeBackgroundTranslations >= maximumConcurrentBackgroundTranslations)
        return;
    while (!m_backgroundQueue.empty()) {
        std::vector<BackgroundTranslation> batch;
        batch.push_back(std::move(m_backgroundQueue.front()));
        m_backgroundQueue.pop_front();
        // Copies: the batch vector grows below, which would invalidate a reference.
        const std::string kind = batch.front().kind;
        const std::string target = batch.front().target;
        const TranslationProvider provider = batch.front().configuration.provider;

        std::deque<BackgroundTranslation> passedOver;
        while (!m_backgroundQueue.empty() && batch.size() < maximumBatchSize) {
            BackgroundTranslation job = std::move(m_backgroundQueue.front());
            m_backgroundQueue.pop_front();
            if (job.kind == kind && job.target == target && job.configuration.provider == provider)
                batch.push_back(std::move(job));
            else
                passedOver.push_back(std::move(job));
        }
        // Jobs passed over go back in front of the ones not reached, in their order.
        m_backgroundQueue.insert(m_backgroundQueue.begin(),
                                 std::make_move_iterator(passedOver.begin()),
                                 std::make_move_iterator(passedOver.end()));

        ++m_activeBackgroundTranslations;
        startBatch(std::move(batch));
        if (m_activeBackgroundTranslations >= maximumConcurrentBackgroundTranslations)
            return;
    }
}

void BackgroundTranslationQueue::startBatch(std::vector<BackgroundTranslation> batch) {
    const std::uint64_t taskId = m_nextTaskId++;
    m_activeTranslationTasks.emplace(taskId, false);

    std::vector<std::string> texts;
    texts.reserve(batch.size());
    for (const auto& job : batch)
        texts.push_back(job.text);
    const std::string target = batch.front().target;
    const TranslationConfiguration configuration = batch.front().configuration;

    m_translateBatch(texts, target, configuration,
                     [this, cancellation = m_cancellable.token(), taskId,
                      batch = std::move(batch)](auto outcome) {
                         if (cancellation.isCancelled())
                             return;
                         finishBatch(taskId, batch, outcome);
                     });
}

void BackgroundTranslationQueue::finishBatch(
    std::uint64_t taskId, const std::vector<BackgroundTranslation>& batch,
    const ServiceOutcome<std::vector<TranslationResult>>& outcome) {
    auto entry = m_activeTranslationTasks.find(taskId);
    const bool cancelled = entry == m_activeTranslationTasks.end() || entry->second;

    if (!cancelled) {
        if (outcome) {
            const std::size_t count = std::min(batch.size(), outcome->size());
            for (std::size_t i = 0; i < count; ++i) {
                const auto& job = batch[i];
                const auto& text = (*outcome)[i].text;
                if (job.kind == "page")
                    m_deliverPageTranslation(job.id, text, false);
                else
                    m_deliverTranslation(job.id, text, false);
                if (const auto& detected = (*outcome)[i].detectedLanguage;
                    detected && job.conversation && m_onDetected)
                    m_onDetected(job, *detected);
            }
        } else {
            const std::string description = describe(outcome.error());
            for (const auto& job : batch) {
                if (job.kind == "page")
                    m_deliverPageTranslation(job.id, description, true);
                else
                    m_deliverTranslation(job.id, "翻译失败：" + description, true);
            }
        }
    }

    m_activeBackgroundTranslations = std::max(0, m_activeBackgroundTranslations - 1);
    if (entry != m_activeTranslationTasks.end())
        m_activeTranslationTasks.erase(entry);
    processBackgroundQueue();
}

void BackgroundTranslationQueue::setTranslationActive(bool active) {
    if (active) {
        scheduleBackgroundQueueProcessing();
        return;
    }
    m_backgroundQueue.clear();
    cancelDrain();
    for (auto& [taskId, cancelled] : m_activeTranslationTasks)
        cancelled = true;
}

} // namespace aurelo
