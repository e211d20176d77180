#include "web/PageHealth.hpp"

#include <gio/gio.h>

#include <array>
#include <utility>

namespace aurelo {

namespace {

// WEBKIT_NETWORK_ERROR_CANCELLED and WEBKIT_POLICY_ERROR_CANNOT_USE_RESTRICTED_PORT, without
// pulling WebKit into this display-free library.
constexpr int kWebKitNetworkErrorCancelled = 302;
constexpr int kWebKitPolicyErrorRestrictedPort = 103;

} // namespace

const char* PageHealth::label(PageHealthState state) {
    switch (state) {
    case PageHealthState::Healthy:
        return "正常";
    case PageHealthState::LoggedOut:
        return "未登录";
    case PageHealthState::NetworkError:
        return "网络异常";
    case PageHealthState::Crashed:
        return "页面已崩溃";
    }
    return "正常";
}

std::string PageHealth::line() const {
    if (connecting && state == PageHealthState::Healthy)
        return std::string(kConnecting);
    std::string text = label(state);
    if (!reason.empty())
        text += "：" + reason;
    if (recovering)
        text += " · 正在恢复";
    return text;
}

bool isBenignLoadFailure(std::string_view domain, int code) {
    // A port the browser never connects to (1, 25, …) is a page that cannot load, not a
    // navigation the policy sent elsewhere.
    if (domain == "WebKitPolicyError")
        return code != kWebKitPolicyErrorRestrictedPort;
    return domain == "WebKitDownloadError" ||
           (domain == "WebKitNetworkError" && code == kWebKitNetworkErrorCancelled);
}

std::string describeLoadFailure(std::string_view domain, int code, std::string_view message,
                                bool viaProxy) {
    if (domain == "g-resolver-error-quark")
        return "无法解析域名";
    if (domain == "WebKitPolicyError" && code == kWebKitPolicyErrorRestrictedPort)
        return "网址使用了浏览器禁止的端口";
    if (domain == "g-tls-error-quark")
        return "安全连接（TLS）失败";
    if (domain == "g-io-error-quark") {
        switch (code) {
        case G_IO_ERROR_PROXY_AUTH_FAILED:
        case G_IO_ERROR_PROXY_NEED_AUTH:
            return "代理认证失败，请检查代理用户名和密码";
        case G_IO_ERROR_PROXY_NOT_ALLOWED:
            return "代理拒绝了目标地址";
        case G_IO_ERROR_PROXY_FAILED:
            return "无法连接代理";
        case G_IO_ERROR_CONNECTION_REFUSED:
            return viaProxy ? "无法连接代理" : "连接被拒绝";
        case G_IO_ERROR_TIMED_OUT:
            return viaProxy ? "无法连接代理（超时）" : "连接超时";
        case G_IO_ERROR_HOST_NOT_FOUND:
        case G_IO_ERROR_NOT_FOUND:
            return "无法解析域名";
        case G_IO_ERROR_NETWORK_UNREACHABLE:
        case G_IO_ERROR_HOST_UNREACHABLE:
            return "网络不可达";
        default:
            break;
        }
    }
    return message.empty() ? std::string("页面加载失败")
                           : "页面加载失败（" + std::string(message) + "）";
}

std::chrono::seconds PageHealthTracker::backoff(unsigned attempt) {
    constexpr std::array<std::chrono::seconds, 4> kWaits{
        std::chrono::seconds(1), std::chrono::seconds(5), std::chrono::seconds(30),
        std::chrono::minutes(5)};
    return kWaits[std::min<std::size_t>(attempt, kWaits.size() - 1)];
}

PageHealthTracker::PageHealthTracker(std::function<Clock::time_point()> now)
    : m_now(std::move(now)) {}

std::chrono::seconds PageHealthTracker::failed(PageHealth health) {
    // The timer may have been late: a page that was up long enough had recovered all the same.
    checkRecovered();
    m_upSince.reset();
    m_health = std::move(health);
    return backoff(m_attempt++);
}

std::chrono::seconds PageHealthTracker::processEnded() {
    return failed({PageHealthState::Crashed, "", true});
}

std::chrono::seconds PageHealthTracker::loadFailed(std::string reason) {
    return failed({PageHealthState::NetworkError, std::move(reason), true});
}

void PageHealthTracker::connectingThroughProxy() {
    m_health = {PageHealthState::Healthy, "", false, true};
}

void PageHealthTracker::reloadStarted() {
    m_health.recovering = true;
}

void PageHealthTracker::loadFinished() {
    // A second load while settling (the user reloads) does not restart the count.
    if (m_attempt > 0 && !m_upSince)
        m_upSince = m_now();
    settle();
}

std::optional<PageHealthTracker::Clock::time_point> PageHealthTracker::recoveredAt() const {
    if (!m_upSince)
        return std::nullopt;
    return *m_upSince + kRecoveredAfter;
}

bool PageHealthTracker::checkRecovered() {
    if (!m_upSince || m_now() < *m_upSince + kRecoveredAfter)
        return false;
    m_upSince.reset();
    m_attempt = 0;
    const bool wasSettling = m_health.settling;
    m_health.settling = false;
    return wasSettling;
}

void PageHealthTracker::loginReported(bool loggedOut) {
    m_loggedOut = loggedOut;
    if (m_health.state == PageHealthState::Healthy || m_health.state == PageHealthState::LoggedOut)
        settle();
}

void PageHealthTracker::settle() {
    m_health = {m_loggedOut ? PageHealthState::LoggedOut : PageHealthState::Healthy, "", false,
                false, m_upSince.has_value()};
}

bool PageHealthTracker::networkReturned() const {
    return m_health.state == PageHealthState::NetworkError && m_health.recovering;
}

} // namespace aurelo
