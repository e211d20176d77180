#include "webview/WebsiteDataStores.hpp"

#include "models/ChatSession.hpp"
#include "platform/MainLoop.hpp"
#include "web/WebSessionPaths.hpp"
#include "webview/WebEngineContext.hpp"

#include <glib.h>

#include <memory>

namespace aurelo {

WebsiteDataStores::WebsiteDataStores()
    : WebsiteDataStores(g_get_user_data_dir(), g_get_user_cache_dir()) {}

WebsiteDataStores::WebsiteDataStores(std::filesystem::path dataHome,
                                     std::filesystem::path cacheHome)
    : m_dataHome(std::move(dataHome)), m_cacheHome(std::move(cacheHome)) {}

WebsiteDataStores::~WebsiteDataStores() = default;

GRef<WebKitNetworkSession> WebsiteDataStores::sessionFor(const std::string& canonicalId) {
    if (auto it = m_sessions.find(canonicalId); it != m_sessions.end())
        return it->second;
    const auto dataDirectory = websiteDataDirectory(m_dataHome, canonicalId);
    const auto cacheDirectory = websiteCacheDirectory(m_cacheHome, canonicalId);
    if (!dataDirectory || !cacheDirectory)
        return {};
    // The network processes' memory settings apply only to sessions created after them.
    WebEngineContext::shared();
    auto session =
        adoptGRef(webkit_network_session_new(dataDirectory->c_str(), cacheDirectory->c_str()));
    // Cookies are kept in memory unless told where to persist; the login must outlive the run.
    webkit_cookie_manager_set_persistent_storage(
        webkit_network_session_get_cookie_manager(session.get()),
        (*dataDirectory / "cookies.sqlite").c_str(), WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    m_sessions.emplace(canonicalId, session);
    return session;
}

GRef<WebKitNetworkSession>
WebsiteDataStores::networkSession(const std::string& sessionId,
                                  const std::optional<ProxyRoute>& proxy) {
    const auto id = canonicalSessionID(sessionId);
    auto session = id ? sessionFor(*id) : GRef<WebKitNetworkSession>();
    if (!session) {
        WebEngineContext::shared();
        session = adoptGRef(webkit_network_session_new_ephemeral());
    }
    if (!proxy) {
        m_relays.erase(sessionId);
        // A session whose proxy was removed must not keep using it for the rest of the run.
        webkit_network_session_set_proxy_settings(session.get(), WEBKIT_NETWORK_PROXY_MODE_DEFAULT,
                                                  nullptr);
        return session;
    }
    // A view rebuilt on the same route keeps its relay, and with it the connections it carries.
    std::string uri;
    if (auto it = m_relays.find(sessionId);
        it != m_relays.end() && it->second->upstream() == *proxy) {
        uri = it->second->uri();
    } else {
        m_relays.erase(sessionId);
        auto access = proxyAccess(*proxy);
        if (!access)
            return {};
        uri = access->uri;
        if (access->relay)
            m_relays.emplace(sessionId, std::move(access->relay));
    }
    // No ignore-hosts list: every destination, loopback included, goes through the proxy.
    auto* settings = webkit_network_proxy_settings_new(uri.c_str(), nullptr);
    webkit_network_session_set_proxy_settings(session.get(), WEBKIT_NETWORK_PROXY_MODE_CUSTOM,
                                              settings);
    webkit_network_proxy_settings_free(settings);
    return session;
}

const ProxyRelay* WebsiteDataStores::relay(const std::string& sessionId) const {
    auto it = m_relays.find(sessionId);
    return it == m_relays.end() ? nullptr : it->second.get();
}

void WebsiteDataStores::clear(const std::string& sessionId) {
    clear(sessionId, {});
}

namespace {

struct ClearContext {
    GRef<WebKitNetworkSession> session;
    std::function<void()> done;
};

void clearFinishedCallback(GObject* manager, GAsyncResult* result, gpointer data) {
    std::unique_ptr<ClearContext> context(static_cast<ClearContext*>(data));
    GErrorHolder error;
    webkit_website_data_manager_clear_finish(WEBKIT_WEBSITE_DATA_MANAGER(manager), result,
                                             error.out());
    if (context->done)
        context->done();
}

} // namespace

void WebsiteDataStores::clear(const std::string& sessionId, std::function<void()> done) {
    const auto id = canonicalSessionID(sessionId);
    auto session = id ? sessionFor(*id) : GRef<WebKitNetworkSession>();
    if (!session) {
        if (done)
            postToMainLoop(std::move(done));
        return;
    }
    auto* manager = webkit_network_session_get_website_data_manager(session.get());
    auto* context = new ClearContext{session, std::move(done)};
    webkit_website_data_manager_clear(manager, WEBKIT_WEBSITE_DATA_ALL, 0, nullptr,
                                      clearFinishedCallback, context);
}

} // namespace aurelo
