#pragma once

// The service's database work, off the main loop: as many threads as the store can run statements
// at once, a bounded queue, and a deadline for every job counted from when it was queued. A job
// still queued at its deadline is answered as missed without running; a running one has the
// deadline in force (DatabaseDeadline), so no request waits on the database past it. The result
// comes back on the main loop of the thread that queued the job.

#include "service/MetricsHistogram.hpp"
#include "service/ServiceDatabase.hpp"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

typedef struct _GMainContext GMainContext;

namespace aurelo::service {

class DatabaseWorkers {
public:
    using Clock = DatabaseDeadline::Clock;

    DatabaseWorkers(unsigned threads, std::size_t maxQueued);
    DatabaseWorkers(const DatabaseWorkers&) = delete;
    DatabaseWorkers& operator=(const DatabaseWorkers&) = delete;
    // Drops the jobs still queued (their `done` never runs) and waits for the running ones, each
    // of which ends by its deadline: whatever a job touches may go once this returns.
    ~DatabaseWorkers();

    // Runs `work` on a worker within `budget` from now, then `done` with its result (or the
    // missed deadline) on the main loop. False, and nothing runs, when the queue is full.
    template <typename T>
    bool run(std::chrono::milliseconds budget, std::function<DatabaseResult<T>()> work,
             std::function<void(DatabaseResult<T>)> done) {
        auto result = std::make_shared<std::optional<DatabaseResult<T>>>();
        return submit(
            budget,
            [work = std::move(work), result](bool expired) {
                result->emplace(expired ? DatabaseResult<T>(std::unexpected(DatabaseDeadline::missed()))
                                        : work());
            },
            [result, done = std::move(done)] { done(std::move(**result)); });
    }

    // Jobs queued, not yet started.
    std::size_t queued() const;

    // For /metrics: how the workers are used and how long jobs wait for one.
    struct Stats {
        std::size_t workers = 0;
        std::size_t busy = 0;
        std::size_t queued = 0;
        std::uint64_t expired = 0;  // jobs that waited past their deadline and never ran
        std::uint64_t refused = 0;  // jobs refused with the queue full
        MetricsHistogram wait;      // from queued to started
    };
    Stats stats() const;

private:
    struct Job {
        Clock::time_point queuedAt;
        Clock::time_point deadline;
        std::function<void(bool expired)> work;
        std::function<void()> done;
        GMainContext* context = nullptr;
    };

    bool submit(std::chrono::milliseconds budget, std::function<void(bool)> work,
                std::function<void()> done);
    void serve(std::stop_token stop);

    const std::size_t m_maxQueued;
    mutable std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::deque<Job> m_queue;
    std::size_t m_busy = 0;
    std::uint64_t m_expired = 0;
    std::uint64_t m_refused = 0;
    MetricsHistogram m_wait;
    // Last: stopped and joined first, while the queue they take from is still there.
    std::vector<std::jthread> m_threads;
};

} // namespace aurelo::service
