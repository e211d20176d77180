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
    // The login an HTTP proxy gets when it answers 407 (libsoup asks for it; SOCKS5 takes it
    // from the proxy URI). It is offered once per request: a proxy that refuses it again gets
    // no other, and the page shows that the login was refused rather than the proxy's empty
    // 407 page or a password dialog.
    void setProxyLogin(std::string username, std::string password);
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
    void reloadNow();
    void showFailure(const std::string& uri);
    // The main resource is the proxy's 407: the load "finished" without the page.
    bool proxyRefusedLogin() const;
    void publish();

    WebKitWebView* m_view;
    GRef<GNetworkMonitor> m_network;
    bool m_viaProxy;
    Report m_report;
    PageHealthTracker m_tracker;
    sigc::connection m_timer;
    // The address of a load that just failed, until its FINISHED puts the failure text in its
    // place; then the failure page is loading, which is not the page recovering.
    std::optional<std::string> m_failedURI;
    bool m_loadingFailurePage = false;
    PageHealth m_published;
    std::string m_proxyUsername;
    std::string m_proxyPassword;
    bool m_proxyLoginOffered = false;
    // The proxy refused the login and the request was given up: the coming load failure is that.
    bool m_proxyLoginRefused = false;
};

} // namespace aurelo
