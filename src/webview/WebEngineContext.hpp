#pragma once

// The one WebKit web context every chat page runs in, and the process-wide settings of WebKit's
// web and network processes. A chat page is a single long-lived document, not a browser tab:
// there is no history to go back to and nothing to prefetch, so WebKit keeps no cache of pages
// or processes for it, and each process is asked to give memory back well before the machine
// runs short.

#include <webkit/webkit.h>

namespace aurelo {

class WebEngineContext {
public:
    // Created on first use, with the document-viewer cache model and the memory-pressure settings
    // of the web processes; the network processes' settings are set at the same time, which must
    // happen before the first network session exists (WebsiteDataStores calls this first).
    static WebKitWebContext* shared();

    // The memory a web or network process may use before WebKit tells it to release caches
    // (a third of it) and to collect garbage hard (a half); nothing is ever killed. Far above
    // what a chat page needs (30-80 MiB), so it costs nothing in the common case, and it bounds a
    // page that leaks long before the desktop starts swapping.
    static constexpr unsigned kMemoryLimitMiB = 768;
};

} // namespace aurelo
