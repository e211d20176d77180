// The database workers' threads, queue and deadlines.
#include "service/DatabaseWorkers.hpp"

#include <glib.h>

namespace aurelo::service {

namespace {

struct Completion {
    std::function<void()> done;
};

gboolean runCompletionCallback(gpointer data) {
    static_cast<Completion*>(data)->done();
    return G_SOURCE_REMOVE;
}

} // namespace

DatabaseWorkers::DatabaseWorkers(unsigned threads, std::size_t maxQueued)
    : m_maxQueued(maxQueued) {
    for (unsigned i = 0; i < std::max(1u, threads); ++i)
        m_threads.emplace_back([this](std::stop_token stop) { serve(stop); });
}

DatabaseWorkers::~DatabaseWorkers() {
    for (auto& thread : m_threads)
        thread.request_stop();
    m_wake.notify_all();
    m_threads.clear(); // joins
    for (auto& job : m_queue)
        g_main_context_unref(job.context);
}

std::size_t DatabaseWorkers::queued() const {
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

DatabaseWorkers::Stats DatabaseWorkers::stats() const {
    std::lock_guard lock(m_mutex);
    return {m_threads.size(), m_busy, m_queue.size(), m_expired, m_refused, m_wait};
}

bool DatabaseWorkers::submit(std::chrono::milliseconds budget, std::function<void(bool)> work,
                             std::function<void()> done) {
    std::lock_guard lock(m_mutex);
    if (m_maxQueued > 0 && m_queue.size() >= m_maxQueued) {
        ++m_refused;
        return false;
    }
    const auto now = Clock::now();
    m_queue.push_back(Job{now, now + budget, std::move(work), std::move(done),
                          g_main_context_ref_thread_default()});
    m_wake.notify_one();
    return true;
}

void DatabaseWorkers::serve(std::stop_token stop) {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait(lock, stop, [&] { return !m_queue.empty(); }))
                return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
            const auto started = Clock::now();
            m_wait.observe(std::chrono::duration<double>(started - job.queuedAt).count());
            if (started >= job.deadline)
                ++m_expired;
            ++m_busy;
        }
        {
            DatabaseDeadline deadline(job.deadline);
            job.work(Clock::now() >= job.deadline);
        }
        {
            std::lock_guard lock(m_mutex);
            --m_busy;
        }
        // At the priority of I/O: an idle one would wait behind every busy connection.
        GSource* source = g_idle_source_new();
        g_source_set_priority(source, G_PRIORITY_DEFAULT);
        g_source_set_callback(source, runCompletionCallback,
                              new Completion{std::move(job.done)},
                              [](gpointer data) { delete static_cast<Completion*>(data); });
        g_source_attach(source, job.context);
        g_source_unref(source);
        g_main_context_unref(job.context);
    }
}

} // namespace aurelo::service
