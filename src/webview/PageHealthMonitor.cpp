#include "webview/PageHealthMonitor.hpp"

#include <glibmm/main.h>

#include <utility>

namespace aurelo {

namespace {

std::string escapedHTML(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

} // namespace

PageHealthMonitor::PageHealthMonitor(WebKitWebView* view, bool viaProxy, Report report)
    : m_view(view), m_network(g_network_monitor_get_default()), m_viaProxy(viaProxy),
      m_report(std::move(report)) {
    g_signal_connect(view, "load-changed", G_CALLBACK(loadChangedCallback), this);
    g_signal_connect(view, "load-failed", G_CALLBACK(loadFailedCallback), this);
    g_signal_connect(view, "authenticate", G_CALLBACK(authenticateCallback), this);
    g_signal_connect(view, "web-process-terminated", G_CALLBACK(processTerminatedCallback), this);
    g_signal_connect(m_network.get(), "network-changed", G_CALLBACK(networkChangedCallback), this);
}

PageHealthMonitor::~PageHealthMonitor() {
    m_timer.disconnect();
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
    if (monitor->proxyRefusedLogin()) {
        const auto wait = monitor->m_tracker.loadFailed(
            describeLoadFailure("g-io-error-quark", G_IO_ERROR_PROXY_AUTH_FAILED, "", true));
        monitor->publish();
        const char* uri = webkit_web_view_get_uri(monitor->m_view);
        monitor->showFailure(uri ? uri : "");
        monitor->reloadIn(wait);
        return;
    }
    monitor->m_tracker.loadFinished();
    monitor->publish();
}

gboolean PageHealthMonitor::loadFailedCallback(WebKitWebView*, WebKitLoadEvent, const char* uri,
                                               GError* error, gpointer self) {
    auto* monitor = static_cast<PageHealthMonitor*>(self);
    const bool loginRefused = std::exchange(monitor->m_proxyLoginRefused, false);
    const char* domain = loginRefused ? "g-io-error-quark"
                         : error      ? g_quark_to_string(error->domain)
                                      : "";
    const int code = loginRefused ? G_IO_ERROR_PROXY_AUTH_FAILED : error ? error->code : 0;
    if (isBenignLoadFailure(domain, code))
        return FALSE;
    const auto wait = monitor->m_tracker.loadFailed(
        describeLoadFailure(domain, code, error ? error->message : "", monitor->m_viaProxy));
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
    const auto wait = monitor->m_tracker.processEnded();
    monitor->publish();
    monitor->reloadIn(wait);
}

void PageHealthMonitor::setProxyLogin(std::string username, std::string password) {
    m_proxyUsername = std::move(username);
    m_proxyPassword = std::move(password);
}

gboolean PageHealthMonitor::authenticateCallback(WebKitWebView*,
                                                 WebKitAuthenticationRequest* request,
                                                 gpointer self) {
    auto* monitor = static_cast<PageHealthMonitor*>(self);
    // A website's own log-in prompt is the page's business.
    if (!webkit_authentication_request_is_for_proxy(request))
        return FALSE;
    // A retry after our own answer means the proxy refused it; a retry before it means a login
    // remembered from an earlier page of this session failed, and ours may be the newer one.
    const bool refusedOurs =
        webkit_authentication_request_is_retry(request) && monitor->m_proxyLoginOffered;
    if (monitor->m_proxyUsername.empty() || refusedOurs) {
        monitor->m_proxyLoginOffered = false;
        // The load then fails as cancelled, which alone would pass for a load the user stopped.
        monitor->m_proxyLoginRefused = true;
        webkit_authentication_request_cancel(request);
        return TRUE;
    }
    monitor->m_proxyLoginOffered = true;
    WebKitCredential* credential =
        webkit_credential_new(monitor->m_proxyUsername.c_str(), monitor->m_proxyPassword.c_str(),
                              WEBKIT_CREDENTIAL_PERSISTENCE_NONE);
    webkit_authentication_request_authenticate(request, credential);
    webkit_credential_free(credential);
    return TRUE;
}

bool PageHealthMonitor::proxyRefusedLogin() const {
    if (!m_viaProxy)
        return false;
    WebKitWebResource* resource = webkit_web_view_get_main_resource(m_view);
    WebKitURIResponse* response = resource ? webkit_web_resource_get_response(resource) : nullptr;
    return response && webkit_uri_response_get_status_code(response) == 407;
}

void PageHealthMonitor::networkChangedCallback(GNetworkMonitor*, gboolean available,
                                               gpointer self) {
    auto* monitor = static_cast<PageHealthMonitor*>(self);
    if (available && monitor->m_tracker.networkReturned())
        monitor->reloadNow();
}

void PageHealthMonitor::reloadIn(std::chrono::seconds wait) {
    m_timer.disconnect();
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
                             escapedHTML(m_tracker.health().line()) +
                             "</p><p>会自动重试，网络恢复后立即重新加载。</p>"
                             "</div></body></html>";
    m_loadingFailurePage = true;
    webkit_web_view_load_alternate_html(m_view, html.c_str(), uri.c_str(), nullptr);
}

} // namespace aurelo
