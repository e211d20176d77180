#pragma once

// Watches one page for what breaks it — its web process ending, its main frame failing to load,
// its platform's log-in view — reports the health the tab shows, and loads the page again on
// the tracker's schedule, or at once when the network comes back. A failed load shows the reason
// in the page area instead of a blank page.

#include "platform/GRef.hpp"
#include "web/PageHealth.hpp"

#include <sigc++/sigc++.h>
#include <webkit/webkit.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace aurelo {

class PageHealthMonitor {
public:
    using Report = std::function<void(const PageHealth&)>;

    // `view` must outlive the monitor (the page's host owns both). `viaProxy`: the page's
    // network session goes through a proxy.
    PageHealthMonitor(WebKitWebView* view, bool viaProxy, Report report);
    PageHealthMonitor(const PageHealthMonitor&) = delete;
    PageHealthMonitor& operator=(const PageHealthMonitor&) = delete;
    ~PageHealthMonitor();

    void loginReported(bool loggedOut);
    // The host ends the page's web process itself and loads the page again in a new one (to
    // give its memory back): that ending is no break. WebKit reports the end from within the
    // call that ends the process; one that had already ended reports nothing.
    template <typename F> void endProcessOnPurpose(F&& end) {
        m_processEndExpected = true;
        end();
        m_processEndExpected = false;
    }
    // Why the account's proxy did not carry the last request for a URL's origin, as the relay
    // in front of an HTTP proxy saw it. Only this sets a proxy's refusal of the login: a 407
    // that a website sends itself is the website's page, whatever it claims.
    using ProxyFailureLookup = std::function<std::optional<std::string>(std::string_view url)>;
    void setProxyFailureLookup(ProxyFailureLookup lookup) { m_proxyFailure = std::move(lookup); }
    const PageHealth& health() const { return m_tracker.health(); }

private:
    static void loadChangedCallback(WebKitWebView*, WebKitLoadEvent event, gpointer self);
    static gboolean loadFailedCallback(WebKitWebView*, WebKitLoadEvent, const char* uri,
                                       GError* error, gpointer self);
    static void processTerminatedCallback(WebKitWebView*, WebKitWebProcessTerminationReason,
                                          gpointer self);
    static gboolean authenticateCallback(WebKitWebView*, WebKitAuthenticationRequest* request,
                                         gpointer self);
    static void networkChangedCallback(GNetworkMonitor*, gboolean available, gpointer self);

    void reloadIn(std::chrono::seconds wait);
    // After a break, ends it once the page has stayed up long enough.
    void watchRecovery();
    void reloadNow();
    void showFailure(const std::string& uri);
    // The load "finished" with the relay's refusal instead of the page: why the proxy refused.
    std::optional<std::string> proxyRefusal() const;
    void publish();

    WebKitWebView* m_view;
    GRef<GNetworkMonitor> m_network;
    bool m_viaProxy;
    Report m_report;
    PageHealthTracker m_tracker;
    sigc::connection m_timer;
    sigc::connection m_recoveryTimer;
    // The address of a load that just failed, until its FINISHED puts the failure text in its
    // place; then the failure page is loading, which is not the page recovering.
    std::optional<std::string> m_failedURI;
    bool m_loadingFailurePage = false;
    bool m_processEndExpected = false;
    PageHealth m_published;
    ProxyFailureLookup m_proxyFailure;
};

} // namespace aurelo
