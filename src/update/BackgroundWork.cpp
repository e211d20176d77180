#include "update/BackgroundWork.hpp"

#include "platform/GRef.hpp"

#include <memory>

namespace aurelo {

namespace {

struct BackgroundJob {
    std::function<void()> work;
    std::function<void()> done;
};

void runJobCallback(GTask* task, gpointer, gpointer data, GCancellable*) {
    static_cast<BackgroundJob*>(data)->work();
    g_task_return_boolean(task, TRUE);
}

void jobFinishedCallback(GObject*, GAsyncResult*, gpointer data) {
    std::unique_ptr<BackgroundJob> job(static_cast<BackgroundJob*>(data));
    job->done();
}

} // namespace

void runInBackground(std::function<void()> work, std::function<void()> done) {
    auto* job = new BackgroundJob{std::move(work), std::move(done)};
    // The job is both the task's data (for the thread) and the callback's data (freed there,
    // after the thread has finished with it).
    auto task = adoptGRef(g_task_new(nullptr, nullptr, jobFinishedCallback, job));
    g_task_set_task_data(task.get(), job, nullptr);
    g_task_run_in_thread(task.get(), runJobCallback);
}

} // namespace aurelo
