#pragma once

// Reads, every so often, how much memory one page's web process uses: its proportional set size
// (PSS) from /proc/<pid>/smaps_rollup, off the main loop. The process is found by the identity
// the process reports for itself (extension/WebProcessIdentity.cpp sends WebKit's process
// identifier when the page is created in it): the process under ours whose command line is
// "WebKitWebProcess <that identifier> …". A page moved to a new process (after a crash, or a
// navigation to another site) reports again, and its pid is looked up afresh.

#include "platform/BackgroundWorker.hpp"
#include "platform/Cancellable.hpp"

#include <sigc++/sigc++.h>
#include <webkit/webkit.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace aurelo {

class WebProcessMemory {
public:
    using Report = std::function<void(std::uint64_t pssKiB)>;

    static constexpr const char* kMessageName = "aurelo.webProcess";

    // `view` must outlive this (the page's host owns both).
    WebProcessMemory(WebKitWebView* view, std::chrono::milliseconds interval, Report report);
    WebProcessMemory(const WebProcessMemory&) = delete;
    WebProcessMemory& operator=(const WebProcessMemory&) = delete;
    ~WebProcessMemory();

    // The web process found for the page; nullopt until it reported and was found.
    std::optional<int> pid() const { return m_pid ? std::optional(m_pid) : std::nullopt; }

private:
    static gboolean userMessageCallback(WebKitWebView*, WebKitUserMessage* message, gpointer self);
    static void processTerminatedCallback(WebKitWebView*, WebKitWebProcessTerminationReason,
                                          gpointer self);
    void measure();

    WebKitWebView* m_view;
    Report m_report;
    std::string m_identifier;
    int m_pid = 0;
    bool m_measuring = false;
    BackgroundWorker m_worker{1, 1};
    Cancellable m_cancellable;
    sigc::connection m_timer;
};

} // namespace aurelo
