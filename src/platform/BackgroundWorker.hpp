#pragma once

// Runs CPU-bound or blocking steps (password stretching, unpacking an update) off the main loop
// on threads of its own, then hands the result back to the main loop of the thread that asked.
// Each owner has its own worker, so that one kind of work can neither starve another (GIO's
// shared pool also resolves host names) nor grow without bound: at most `threads` jobs run at
// once, and at most `maxQueued` wait.

#include <cstddef>
#include <functional>
#include <memory>

namespace aurelo {

class BackgroundWorker {
public:
    // `maxQueued` 0: no bound on waiting jobs.
    explicit BackgroundWorker(unsigned threads, std::size_t maxQueued = 0);
    BackgroundWorker(const BackgroundWorker&) = delete;
    BackgroundWorker& operator=(const BackgroundWorker&) = delete;
    // Returns at once. Jobs not yet started are dropped (their `done` never runs); a job already
    // running finishes on its thread and its `done` still runs, so `done` must check that its
    // owner is alive before touching it.
    ~BackgroundWorker();

    // Runs `work` on a worker thread, then `done` on the main loop of the calling thread.
    // `work` must only touch what it owns (capture by value). Neither may throw. False, and
    // nothing runs, when `maxQueued` jobs are already waiting or running.
    bool run(std::function<void()> work, std::function<void()> done);

    // Jobs accepted whose work has not finished yet.
    std::size_t outstanding() const;

    // Shared by the worker and its jobs, so that a job outliving the worker stays valid.
    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace aurelo
