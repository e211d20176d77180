#include "platform/BackgroundWorker.hpp"

#include <glib.h>

#include <algorithm>
#include <atomic>

namespace aurelo {

struct BackgroundWorker::State {
    GThreadPool* pool = nullptr;
    std::size_t maxQueued = 0;
    std::atomic<std::size_t> outstanding{0};
};

namespace {

struct Job {
    std::shared_ptr<BackgroundWorker::State> state;
    std::function<void()> work;
    std::function<void()> done;
    GMainContext* context;

    ~Job() { g_main_context_unref(context); }
};

struct BackgroundWorkerThread {
    static void run(gpointer data, gpointer) {
        auto* job = static_cast<Job*>(data);
        job->work();
        --job->state->outstanding;
        // The answer goes back to the asking thread's loop; the source owns the job from here.
        GSource* source = g_idle_source_new();
        g_source_set_callback(
            source,
            [](gpointer data) -> gboolean {
                static_cast<Job*>(data)->done();
                return G_SOURCE_REMOVE;
            },
            job, [](gpointer data) { delete static_cast<Job*>(data); });
        g_source_attach(source, job->context);
        g_source_unref(source);
    }

    static void drop(gpointer data) {
        auto* job = static_cast<Job*>(data);
        --job->state->outstanding;
        delete job;
    }
};

} // namespace

BackgroundWorker::BackgroundWorker(unsigned threads, std::size_t maxQueued)
    : m_state(std::make_shared<State>()) {
    m_state->maxQueued = maxQueued;
    m_state->pool =
        g_thread_pool_new_full(BackgroundWorkerThread::run, nullptr, BackgroundWorkerThread::drop,
                               static_cast<gint>(std::max(1u, threads)), FALSE, nullptr);
}

BackgroundWorker::~BackgroundWorker() {
    // Immediate: waiting jobs are freed unrun; no wait: a running job ends on its own thread.
    g_thread_pool_free(m_state->pool, TRUE, FALSE);
}

bool BackgroundWorker::run(std::function<void()> work, std::function<void()> done) {
    std::size_t previous = m_state->outstanding.fetch_add(1);
    if (m_state->maxQueued > 0 && previous >= m_state->maxQueued) {
        --m_state->outstanding;
        return false;
    }
    auto* job =
        new Job{m_state, std::move(work), std::move(done), g_main_context_ref_thread_default()};
    g_thread_pool_push(m_state->pool, job, nullptr);
    return true;
}

std::size_t BackgroundWorker::outstanding() const {
    return m_state->outstanding.load();
}

} // namespace aurelo
