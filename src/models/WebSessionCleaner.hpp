#pragma once

#include <string>

namespace aurelo {

// Erases the browser data of a deleted session. Declared here, where sessions are deleted, and
// implemented by the web layer, which owns the per-session website data.
class WebSessionCleaner {
public:
    virtual ~WebSessionCleaner() = default;

    // Removes every kind of website data of the session's data store (cookies, storage,
    // IndexedDB, caches, service workers). Runs in the background; nothing is reported.
    // `sessionId` is the session's UUID in canonical upper-case form.
    virtual void clear(const std::string& sessionId) = 0;
};

} // namespace aurelo
