#pragma once

#include "models/WebSessionCleaner.hpp"
#include "platform/GRef.hpp"
#include "web/ProxyRelay.hpp"
#include "web/ProxyRoute.hpp"

#include <webkit/webkit.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace aurelo {

// The website data of every chat session: one WebKitNetworkSession per session id, on the
// session's own data and cache directories, so cookies, storage and caches of two sessions never
// meet. A session's network session is created on first use and kept for the rest of the run:
// a view that is rebuilt (the window does so whenever a session setting changes) finds the same
// session and so the same login, and WebKit never sees two sessions on one directory.
class WebsiteDataStores : public WebSessionCleaner {
public:
    // Under $XDG_DATA_HOME and $XDG_CACHE_HOME.
    WebsiteDataStores();
    WebsiteDataStores(std::filesystem::path dataHome, std::filesystem::path cacheHome);
    WebsiteDataStores(const WebsiteDataStores&) = delete;
    WebsiteDataStores& operator=(const WebsiteDataStores&) = delete;
    ~WebsiteDataStores() override;

    // The session's network session with `proxy` applied (none: the desktop's own proxy
    // settings, as for any other application). An id that is not a UUID cannot name a directory;
    // it gets an ephemeral session that keeps nothing. Null when the proxy cannot be put in
    // place (its relay could not listen): such a session must load nothing.
    GRef<WebKitNetworkSession> networkSession(const std::string& sessionId,
                                              const std::optional<ProxyRoute>& proxy);
    // The relay that carries the session's HTTP proxy; null for SOCKS5 and no proxy.
    const ProxyRelay* relay(const std::string& sessionId) const;

    // Removes all website data of the session. The network session itself stays, so that a view
    // built for the id afterwards starts empty on the same directories rather than racing a
    // second network session there.
    void clear(const std::string& sessionId) override;
    // The same, calling `done` on the main loop once WebKit has removed the data.
    void clear(const std::string& sessionId, std::function<void()> done);

private:
    GRef<WebKitNetworkSession> sessionFor(const std::string& canonicalId);

    std::filesystem::path m_dataHome;
    std::filesystem::path m_cacheHome;
    std::map<std::string, GRef<WebKitNetworkSession>> m_sessions;
    // Per session id as given: the relay its network session is pointed at.
    std::map<std::string, std::unique_ptr<ProxyRelay>> m_relays;
};

} // namespace aurelo
