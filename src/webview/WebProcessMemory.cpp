#include "webview/WebProcessMemory.hpp"

#include "web/PageMemory.hpp"

#include <glibmm/main.h>

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

namespace aurelo {

namespace {

std::string readProcFile(int pid, const char* name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Whether `pid` runs below `ancestor` (the sandbox puts one or two bubblewrap processes between
// them).
bool descendsFrom(int pid, int ancestor) {
    constexpr int kMaxDepth = 8;
    for (int depth = 0; depth < kMaxDepth && pid > 1; ++depth) {
        const auto parent = parentPidFromStat(readProcFile(pid, "stat"));
        if (!parent)
            return false;
        if (*parent == ancestor)
            return true;
        pid = *parent;
    }
    return false;
}

bool isOurWebProcess(int pid, const std::string& identifier, int self) {
    return pid > 0 && isWebProcessCommandLine(readProcFile(pid, "cmdline"), identifier) &&
           descendsFrom(pid, self);
}

// The pid of our web process with this identifier, or 0. `known` is tried first: a pid stays
// with its process, and a pid reused by another process fails the command-line check.
int findWebProcess(const std::string& identifier, int known) {
    const int self = getpid();
    if (isOurWebProcess(known, identifier, self))
        return known;
    std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
    if (!proc)
        return 0;
    while (const dirent* entry = readdir(proc.get())) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (*end == '\0' && pid > 0 && isOurWebProcess(int(pid), identifier, self))
            return int(pid);
    }
    return 0;
}

} // namespace

WebProcessMemory::WebProcessMemory(WebKitWebView* view, std::chrono::milliseconds interval,
                                   Report report)
    : m_view(view), m_report(std::move(report)) {
    g_signal_connect(view, "user-message-received", G_CALLBACK(userMessageCallback), this);
    g_signal_connect(view, "web-process-terminated", G_CALLBACK(processTerminatedCallback), this);
    m_timer = Glib::signal_timeout().connect(
        [this] {
            measure();
            return true;
        },
        static_cast<unsigned>(interval.count()));
}

WebProcessMemory::~WebProcessMemory() {
    m_timer.disconnect();
    m_cancellable.cancel();
    g_signal_handlers_disconnect_by_data(m_view, this);
}

gboolean WebProcessMemory::userMessageCallback(WebKitWebView*, WebKitUserMessage* message,
                                               gpointer self) {
    if (g_strcmp0(webkit_user_message_get_name(message), kMessageName) != 0)
        return FALSE;
    // Only our extension sends this, but a web process is not to be trusted: anything but an
    // identifier is dropped, and an identifier only ever names a process under ours.
    GVariant* parameters = webkit_user_message_get_parameters(message);
    const char* identifier = parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE_STRING)
                                 ? g_variant_get_string(parameters, nullptr)
                                 : nullptr;
    auto* memory = static_cast<WebProcessMemory*>(self);
    if (identifier && isWebProcessIdentifier(identifier) && memory->m_identifier != identifier) {
        memory->m_identifier = identifier;
        memory->m_pid = 0;
    }
    return TRUE;
}

void WebProcessMemory::processTerminatedCallback(WebKitWebView*, WebKitWebProcessTerminationReason,
                                                 gpointer self) {
    auto* memory = static_cast<WebProcessMemory*>(self);
    memory->m_identifier.clear();
    memory->m_pid = 0;
}

void WebProcessMemory::measure() {
    if (m_identifier.empty() || m_measuring)
        return;
    struct Result {
        int pid = 0;
        std::optional<std::uint64_t> pssKiB;
    };
    auto result = std::make_shared<Result>();
    m_measuring = true;
    const bool started = m_worker.run(
        [result, identifier = m_identifier, known = m_pid] {
            result->pid = findWebProcess(identifier, known);
            if (result->pid)
                result->pssKiB = pssKiBFromSmapsRollup(readProcFile(result->pid, "smaps_rollup"));
        },
        [this, result, identifier = m_identifier, cancellation = m_cancellable.token()] {
            if (cancellation.isCancelled())
                return;
            m_measuring = false;
            // The page moved to another process meanwhile: this answer is about the old one.
            if (identifier != m_identifier)
                return;
            m_pid = result->pid;
            if (result->pssKiB && m_report)
                m_report(*result->pssKiB);
        });
    if (!started)
        m_measuring = false;
}

} // namespace aurelo
