// What the tab shows of a page's health, and when a broken page is loaded again.

#include "web/PageHealth.hpp"

#include <gio/gio.h>
#include <gtest/gtest.h>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;
using State = PageHealthState;

TEST(PageHealthTracker, APageBuiltOnAProxySaysSoUntilItsFirstLoadEnds) {
    PageHealthTracker tracker;
    tracker.loadFailed("安全连接（TLS）失败");
    // The account's proxy was changed: the old page's reason no longer holds.
    tracker.connectingThroughProxy();
    EXPECT_EQ(tracker.health().line(), "正在连接代理…");
    tracker.loadFailed("无法连接代理");
    EXPECT_EQ(tracker.health().line(), "网络异常：无法连接代理 · 正在恢复");
}

TEST(PageHealthTracker, TheLogInViewShowsOnlyOnAPageThatLoaded) {
    PageHealthTracker tracker;
    tracker.loginReported(true);
    EXPECT_EQ(tracker.health().state, State::LoggedOut);
    EXPECT_EQ(tracker.health().line(), "未登录");

    // A network failure outranks it; the login state comes back with the page.
    tracker.loadFailed("无法解析域名");
    EXPECT_TRUE(tracker.networkReturned());
    tracker.loginReported(true);
    EXPECT_EQ(tracker.health().state, State::NetworkError);
    tracker.loadFinished();
    EXPECT_EQ(tracker.health().state, State::LoggedOut);
    EXPECT_FALSE(tracker.networkReturned());
    tracker.loginReported(false);
    EXPECT_EQ(tracker.health().state, State::Healthy);

    tracker.processEnded();
    EXPECT_FALSE(tracker.networkReturned()) << "a crash is not waiting for the network";
}

TEST(PageHealth, LoadFailuresInTheUsersWords) {
    const struct {
        GQuark domain;
        int code;
        const char* reason;
    } cases[] = {
        {G_RESOLVER_ERROR, G_RESOLVER_ERROR_NOT_FOUND, "无法解析域名"},
        {G_IO_ERROR, G_IO_ERROR_PROXY_FAILED, "无法连接代理"},
        {G_IO_ERROR, G_IO_ERROR_PROXY_AUTH_FAILED, "代理认证失败，请检查代理用户名和密码"},
        {G_IO_ERROR, G_IO_ERROR_PROXY_NEED_AUTH, "代理认证失败，请检查代理用户名和密码"},
        {G_IO_ERROR, G_IO_ERROR_PROXY_NOT_ALLOWED, "代理拒绝了目标地址"},
        {G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED, "连接被拒绝"},
        {G_IO_ERROR, G_IO_ERROR_TIMED_OUT, "连接超时"},
        {G_IO_ERROR, G_IO_ERROR_NETWORK_UNREACHABLE, "网络不可达"},
        {G_TLS_ERROR, G_TLS_ERROR_BAD_CERTIFICATE, "安全连接（TLS）失败"},
        {G_IO_ERROR, G_IO_ERROR_BROKEN_PIPE, "页面加载失败（boom）"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(describeLoadFailure(g_quark_to_string(c.domain), c.code, "boom", false), c.reason)
            << c.reason;
    EXPECT_EQ(describeLoadFailure("WebKitPolicyError", 103, "", false),
              "网址使用了浏览器禁止的端口");
    // Through a proxy, the refused connection is the proxy's.
    EXPECT_EQ(describeLoadFailure("g-io-error-quark", G_IO_ERROR_CONNECTION_REFUSED, "", true),
              "无法连接代理");

    EXPECT_TRUE(isBenignLoadFailure("WebKitNetworkError", 302)) << "a cancelled navigation";
    EXPECT_TRUE(isBenignLoadFailure("WebKitPolicyError", 102)) << "a download or a redirect";
    EXPECT_FALSE(isBenignLoadFailure("WebKitPolicyError", 103)) << "a restricted port";
    EXPECT_FALSE(isBenignLoadFailure("WebKitNetworkError", 399));
    EXPECT_FALSE(isBenignLoadFailure("g-io-error-quark", G_IO_ERROR_CANCELLED));
}

// When a broken page is loaded again, and when its break is over: a page that comes up and
// breaks again soon after is still in the same break, so its waits keep growing.
using Clock = PageHealthTracker::Clock;

enum class Event { Crash, LoadFails, Loads, Timer };

struct Step {
    int at; // seconds since the start
    Event event;
    // The wait before the next attempt (failures), or whether the page is settling (loads and
    // the recovery timer: 1 settling, 0 recovered).
    int expected;
};

struct Case {
    const char* name;
    std::vector<Step> steps;
};

TEST(PageRecovery, WaitsGrowUntilThePageHasStayedUpForAMinute) {
    const Case cases[] = {
        {"crashes a second after each load",
         {{0, Event::Crash, 1},
          {1, Event::Loads, 1},
          {2, Event::Crash, 5},
          {7, Event::Loads, 1},
          {8, Event::Crash, 30},
          {38, Event::Loads, 1},
          {39, Event::Crash, 300},
          {339, Event::Loads, 1},
          {340, Event::Crash, 300}}},
        {"stays up a minute, then breaks anew",
         {{0, Event::Crash, 1},
          {1, Event::Loads, 1},
          {60, Event::Timer, 1},
          {61, Event::Timer, 0},
          {100, Event::Crash, 1}}},
        {"the recovery timer came late",
         {{0, Event::LoadFails, 1}, {1, Event::Loads, 1}, {90, Event::LoadFails, 1}}},
        {"failed loads and crashes share one break",
         {{0, Event::LoadFails, 1},
          {1, Event::LoadFails, 5},
          {6, Event::Loads, 1},
          {30, Event::Crash, 30},
          {60, Event::Loads, 1},
          {100, Event::Loads, 1},
          {119, Event::Timer, 1},
          {120, Event::Timer, 0}}},
        {"a page that never broke is not settling", {{0, Event::Loads, 0}, {1, Event::Crash, 1}}},
    };
    for (const auto& c : cases) {
        Clock::time_point now{};
        PageHealthTracker tracker([&] { return now; });
        for (const auto& step : c.steps) {
            now = Clock::time_point{} + std::chrono::seconds(step.at);
            const std::string where = std::string(c.name) + " @" + std::to_string(step.at) + "s";
            switch (step.event) {
            case Event::Crash:
                EXPECT_EQ(tracker.processEnded(), std::chrono::seconds(step.expected)) << where;
                break;
            case Event::LoadFails:
                EXPECT_EQ(tracker.loadFailed("连接超时"), std::chrono::seconds(step.expected))
                    << where;
                break;
            case Event::Loads:
                tracker.reloadStarted();
                tracker.loadFinished();
                EXPECT_EQ(tracker.health().settling, step.expected == 1) << where;
                EXPECT_EQ(tracker.health().line(), "正常") << where;
                break;
            case Event::Timer:
                EXPECT_EQ(tracker.checkRecovered(), step.expected == 0) << where;
                EXPECT_EQ(tracker.health().settling, step.expected == 1) << where;
                break;
            }
        }
    }
}

} // namespace
} // namespace aurelo::test
