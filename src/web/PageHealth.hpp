#pragma once

// How an account's page is doing, as its tab shows it: a dot and a line in the tooltip. The
// tracker turns what WebKit and the page script report into that state and decides when a page
// that broke is loaded again: after its web process ended (a crash, or killed for memory) and
// after a failed load, with a back-off of 1 s, 5 s, 30 s and then every 5 minutes; and at once
// when the network comes back. A page that loads again is not yet recovered: only after it has
// stayed up for a minute does the next failure start a new break with a wait of 1 s. Without that,
// a page that crashes shortly after every load would be loaded again every second, for ever.

#include <chrono>
#include <functional>
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
    // The page loaded again after a break but has not stayed up long enough to count as
    // recovered: a failure now belongs to the same break (no second notification).
    bool settling = false;

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
    using Clock = std::chrono::steady_clock;
    // How long a page that loaded again must stay up before the break is over.
    static constexpr std::chrono::seconds kRecoveredAfter{60};

    // The clock is given so that a test drives minutes in microseconds.
    explicit PageHealthTracker(std::function<Clock::time_point()> now = Clock::now);

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
    // The main frame loaded: healthy again unless the page says it shows its log-in view; after a
    // break, settling until recoveredAt().
    void loadFinished();
    // When the page that loaded after a break will count as recovered; nullopt when it is not
    // settling. The owner's timer calls checkRecovered() then.
    std::optional<Clock::time_point> recoveredAt() const;
    // Ends the break if the page has stayed up long enough; returns whether the health changed.
    bool checkRecovered();
    void loginReported(bool loggedOut);
    // The network came back: true when the page is waiting to be loaded again after a failure,
    // which should happen now rather than at the end of its wait.
    bool networkReturned() const;

private:
    void settle();
    // A failure: the wait before the next attempt, counted within the current break.
    std::chrono::seconds failed(PageHealth health);

    std::function<Clock::time_point()> m_now;
    PageHealth m_health;
    // Attempts so far in the current break; 0 when there is none.
    unsigned m_attempt = 0;
    // Since when the page has been up again within a break.
    std::optional<Clock::time_point> m_upSince;
    bool m_loggedOut = false;
};

} // namespace aurelo
