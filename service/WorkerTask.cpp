#include "service/WorkerTask.hpp"

#include <gio/gio.h>

#include <memory>

namespace aurelo::service {

namespace {

struct WorkerJob {
    std::function<void()> work;
    std::function<void()> done;
};

void workerThreadCallback(GTask*, gpointer, gpointer data, GCancellable*) {
    static_cast<WorkerJob*>(data)->work();
}

void workerDoneCallback(GObject*, GAsyncResult* result, gpointer) {
    auto* job = static_cast<WorkerJob*>(g_task_get_task_data(G_TASK(result)));
    job->done();
}

} // namespace

void runInWorker(std::function<void()> work, std::function<void()> done) {
    GTask* task = g_task_new(nullptr, nullptr, workerDoneCallback, nullptr);
    g_task_set_task_data(task, new WorkerJob{std::move(work), std::move(done)},
                         [](gpointer data) { delete static_cast<WorkerJob*>(data); });
    g_task_run_in_thread(task, workerThreadCallback);
    // The task holds itself until its callback has run.
    g_object_unref(task);
}

} // namespace aurelo::service
