#include "webview/PageHealthMonitor.hpp"

#include "platform/Text.hpp"

#include <glibmm/main.h>

#include <algorithm>
#include <utility>

namespace aurelo {

PageHealthMonitor::PageHealthMonitor(WebKitWebView* view, bool viaProxy, Report report)
    : m_view(view), m_network(g_network_monitor_get_default()), m_viaProxy(viaProxy),
      m_report(std::move(report)) {
    g_signal_connect(view, "load-changed", G_CALLBACK(loadChangedCallback), this);
    g_signal_connect(view, "load-failed", G_CALLBACK(loadFailedCallback), this);
    g_signal_connect(view, "authenticate", G_CALLBACK(authenticateCallback), this);
    g_signal_connect(view, "web-process-terminated", G_CALLBACK(processTerminatedCallback), this);
    g_signal_connect(m_network.get(), "network-changed", G_CALLBACK(networkChangedCallback), this);
    if (viaProxy) {
        m_tracker.connectingThroughProxy();
        publish();
    }
}

PageHealthMonitor::~PageHealthMonitor() {
    m_timer.disconnect();
    m_recoveryTimer.disconnect();
    g_signal_handlers_disconnect_by_data(m_view, this);
    g_signal_handlers_disconnect_by_data(m_network.get(), this);
}

void PageHealthMonitor::publish() {
    if (m_tracker.health() == m_published)
        return;
    m_published = m_tracker.health();
    if (m_report)
        m_report(m_published);
}

void PageHealthMonitor::loginReported(bool loggedOut) {
    m_tracker.loginReported(loggedOut);
    publish();
}

void PageHealthMonitor::loadChangedCallback(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    auto* monitor = static_cast<PageHealthMonitor*>(self);
    if (event != WEBKIT_LOAD_FINISHED)
        return;
    // A failed load ends with FINISHED too, right after "load-failed": its failure page is
    // shown now, and that page's own load is no recovery either.
    if (monitor->m_failedURI) {
        const std::string uri = std::exchange(monitor->m_failedURI, std::nullopt).value();
        monitor->showFailure(uri);
        return;
    }
    if (std::exchange(monitor->m_loadingFailurePage, false))
        return;
    if (const auto refusal = monitor->proxyRefusal()) {
        const auto wait = monitor->m_tracker.loadFailed(*refusal);
        monitor->publish();
        const char* uri = webkit_web_view_get_uri(monitor->m_view);
        monitor->showFailure(uri ? uri : "");
        monitor->reloadIn(wait);
        return;
    }
    monitor->m_tracker.loadFinished();
    monitor->publish();
    monitor->watchRecovery();
}

gboolean PageHealthMonitor::loadFailedCallback(WebKitWebView*, WebKitLoadEvent, const char* uri,
                                               GError* error, gpointer self) {
    auto* monitor = static_cast<PageHealthMonitor*>(self);
    const char* domain = error ? g_quark_to_string(error->domain) : "";
    const int code = error ? error->code : 0;
    if (isBenignLoadFailure(domain, code))
        return FALSE;
    // Through the relay, the browser sees only that the relay said no; the relay knows why.
    auto relayed = monitor->m_proxyFailure && uri ? monitor->m_proxyFailure(uri) : std::nullopt;
    const auto wait = monitor->m_tracker.loadFailed(
        relayed
            ? std::move(*relayed)
            : describeLoadFailure(domain, code, error ? error->message : "", monitor->m_viaProxy));
    monitor->publish();
    monitor->m_failedURI = uri ? uri : "";
    monitor->reloadIn(wait);
    return TRUE;
}

void PageHealthMonitor::processTerminatedCallback(WebKitWebView*, WebKitWebProcessTerminationReason,
                                                  gpointer self) {
    // Whatever ended it — a crash, the memory limit, or someone ending it by hand — the account
    // has no page until it is loaded again.
    auto* monitor = static_cast<PageHealthMonitor*>(self);
    if (std::exchange(monitor->m_processEndExpected, false))
        return;
    const auto wait = monitor->m_tracker.processEnded();
    monitor->publish();
    monitor->reloadIn(wait);
}

gboolean PageHealthMonitor::authenticateCallback(WebKitWebView*,
                                                 WebKitAuthenticationRequest* request, gpointer) {
    // A website's own log-in prompt is the page's business.
    if (!webkit_authentication_request_is_for_proxy(request))
        return FALSE;
    // The browser never holds a proxy's login: SOCKS5 spends it on the connection and the relay
    // in front of an HTTP proxy logs in itself. A 407 that asks the browser anyway comes from a
    // website inside a tunnel, and it gets nothing.
    webkit_authentication_request_cancel(request);
    return TRUE;
}

std::optional<std::string> PageHealthMonitor::proxyRefusal() const {
    if (!m_proxyFailure)
        return std::nullopt;
    WebKitWebResource* resource = webkit_web_view_get_main_resource(m_view);
    WebKitURIResponse* response = resource ? webkit_web_resource_get_response(resource) : nullptr;
    const guint status = response ? webkit_uri_response_get_status_code(response) : 0;
    const char* uri = resource ? webkit_web_resource_get_uri(resource) : nullptr;
    if (!uri || (status > 0 && status < 400))
        return std::nullopt;
    return m_proxyFailure(uri);
}

void PageHealthMonitor::networkChangedCallback(GNetworkMonitor*, gboolean available,
                                               gpointer self) {
    auto* monitor = static_cast<PageHealthMonitor*>(self);
    if (available && monitor->m_tracker.networkReturned())
        monitor->reloadNow();
}

void PageHealthMonitor::watchRecovery() {
    m_recoveryTimer.disconnect();
    const auto at = m_tracker.recoveredAt();
    if (!at)
        return;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(std::max(
        *at - PageHealthTracker::Clock::now(), PageHealthTracker::Clock::duration::zero()));
    m_recoveryTimer = Glib::signal_timeout().connect(
        [this] {
            if (m_tracker.checkRecovered())
                publish();
            return false;
        },
        static_cast<unsigned>(wait.count()));
}

void PageHealthMonitor::reloadIn(std::chrono::seconds wait) {
    m_timer.disconnect();
    m_recoveryTimer.disconnect();
    m_timer = Glib::signal_timeout().connect_seconds(
        [this] {
            reloadNow();
            return false;
        },
        static_cast<unsigned>(wait.count()));
}

void PageHealthMonitor::reloadNow() {
    m_timer.disconnect();
    m_tracker.reloadStarted();
    publish();
    // After a failure page, reloading loads the address that failed: the page was shown in its
    // place.
    webkit_web_view_reload(m_view);
}

void PageHealthMonitor::showFailure(const std::string& uri) {
    const std::string html = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><style>"
                             "body{font:15px sans-serif;color:#888;display:flex;align-items:center;"
                             "justify-content:center;height:90vh;text-align:center}"
                             "</style></head><body><div><p style=\"font-size:18px\">" +
                             text::escapedMarkup(m_tracker.health().line()) +
                             "</p><p>会自动重试，网络恢复后立即重新加载。</p>"
                             "</div></body></html>";
    m_loadingFailurePage = true;
    webkit_web_view_load_alternate_html(m_view, html.c_str(), uri.c_str(), nullptr);
}

} // namespace aurelo
