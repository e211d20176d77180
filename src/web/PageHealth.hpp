#pragma once

// How an account's page is doing, as its tab shows it: a dot and a line in the tooltip. The
// tracker turns what WebKit and the page script report into that state and decides when a page
// that broke is loaded again: after its web process ended (a crash, or killed for memory) and
// after a failed load, with a back-off of 1 s, 5 s, 30 s and then every 5 minutes; and at once
// when the network comes back.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace aurelo {

enum class PageHealthState { Healthy, LoggedOut, NetworkError, Crashed };

struct PageHealth {
    PageHealthState state = PageHealthState::Healthy;
    // Why, for a network error: "无法连接代理", "无法解析域名", …
    std::string reason;
    // A reload is scheduled or under way.
    bool recovering = false;
    // A page built on a proxy has not yet loaded, nor failed to: nothing is known of the proxy.
    bool connecting = false;

    friend bool operator==(const PageHealth&, const PageHealth&) = default;

    static constexpr std::string_view kConnecting = "正在连接代理…";

    // "正常", "未登录", "网络异常", "页面已崩溃".
    static const char* label(PageHealthState state);
    // The tooltip's line: "正常", "网络异常：无法连接代理 · 正在恢复", "正在连接代理…", …
    std::string line() const;
};

// A failed main-frame load in the user's words, from the GError's domain name (as
// g_quark_to_string gives it), code and message. Through a proxy, the only connection the page
// makes itself is the one to the proxy: a refused or unanswered connection is the proxy's.
std::string describeLoadFailure(std::string_view domain, int code, std::string_view message,
                                bool viaProxy);
// Whether a failed load is not a failure of the page: a navigation we or the page cancelled, a
// response handed to the download manager, an address the navigation policy sent elsewhere.
bool isBenignLoadFailure(std::string_view domain, int code);

class PageHealthTracker {
public:
    // The waits between attempts: 1 s, 5 s, 30 s, then 5 minutes each time.
    static std::chrono::seconds backoff(unsigned attempt);

    const PageHealth& health() const { return m_health; }

    // A page was built on a proxy: until its first load ends, whatever was said of the page
    // before (the last proxy's failure) no longer holds.
    void connectingThroughProxy();

    // Each returns the wait before the page should be loaded again.
    std::chrono::seconds processEnded();
    std::chrono::seconds loadFailed(std::string reason);
    // A reload began (scheduled or at once).
    void reloadStarted();
    // The main frame loaded: healthy again unless the page says it shows its log-in view.
    void loadFinished();
    void loginReported(bool loggedOut);
    // The network came back: true when the page is waiting to be loaded again after a failure,
    // which should happen now rather than at the end of its wait.
    bool networkReturned() const;

private:
    void settle();

    PageHealth m_health;
    unsigned m_attempt = 0;
    bool m_loggedOut = false;
};

} // namespace aurelo
