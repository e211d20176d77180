#pragma once

// The one WebKit web context every chat page runs in, and the process-wide settings of WebKit's
// web and network processes. A chat page is a single long-lived document, not a browser tab:
// there is no history to go back to and nothing to prefetch, so WebKit keeps no cache of pages
// or processes for it, and each process is asked to give memory back well before the machine
// runs short.

#include "platform/RenderingPolicy.hpp"

#include <webkit/webkit.h>

namespace aurelo {

class WebEngineContext {
public:
    // The memory (MB) a process may use before WebKit tells it to release caches (from a third
    // of it) and, from half of it, to release everything it can rebuild: a full collection and
    // the pages' compiled code. Nothing is ever killed.
    struct MemoryLimits {
        unsigned webProcessMB;
        unsigned networkProcessMB;
        friend bool operator==(const MemoryLimits&, const MemoryLimits&) = default;
    };

    // - GPU rendering: far above what a chat page needs, so it costs nothing in the common case
    //   and bounds a page that leaks long before the desktop starts swapping.
    // - Software rendering, where memory is what the user saves: low enough that every web
    //   process releases what it can rebuild at each of WebKit's checks (every 30 s). A static
    //   page then holds about 2.5 MiB less; a JavaScript application pays a collection and the
    //   recompilation of its hot code every 30 s (about 5 % more CPU on bench/web/compare_browser's
    //   JavaScript page). The network process keeps the high limit: it is one for all accounts.
    static MemoryLimits limitsFor(Rendering rendering);

    // The rendering the limits are chosen for; call before the first shared() (the application
    // does so at start, before it builds any page). Without it, GPU rendering's limits apply.
    static void configure(Rendering rendering);

    // Created on first use, with the document-viewer cache model and the memory-pressure settings
    // of the web processes; the network processes' settings are set at the same time, which must
    // happen before the first network session exists (WebsiteDataStores calls this first).
    static WebKitWebContext* shared();
};

} // namespace aurelo
