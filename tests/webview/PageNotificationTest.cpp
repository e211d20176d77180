// Pages' own notifications: granted to each account's site from start, without a click.

#include "support/FakeDesktopService.hpp"
#include "support/WebViewTestSupport.hpp"
#include "webview/PageNotificationPermissions.hpp"

namespace aurelo::test {
namespace {

using PageNotificationTest = WebViewTest;

long notifyCalls(const FakeDesktopService& service) {
    const auto calls = service.calls();
    return std::ranges::count_if(calls, [](const auto& call) { return call.method == "Notify"; });
}

// The page is never shown and never clicked: the site finds the permission granted and its
// notification reaches the desktop. Another origin in the same view is not granted up front.
TEST_F(PageNotificationTest, HiddenPageNotifiesFromStartWithoutAClick) {
    auto notifications = FakeDesktopService::notifications();
    ASSERT_TRUE(runMainLoopUntil([&] { return notifications.owned(); }));
    auto& host = open(inputs(kSessionA));
    ASSERT_TRUE(waitForLoad(host));
    EXPECT_EQ(evaluate(host, "Notification.permission", nullptr), R"("granted")");
    evaluate(host, "new Notification('新消息', {body: '你好'}); true", nullptr);
    EXPECT_TRUE(runMainLoopUntil([&] { return notifyCalls(notifications) == 1; }));

    const std::string other = "http://localhost:" + std::to_string(server.port()) + "/second.html";
    evaluate(host, "location.href = '" + other + "'", nullptr);
    ASSERT_TRUE(waitForLoad(host, 2));
    EXPECT_EQ(evaluate(host, "Notification.permission", nullptr), R"("default")");
    destroy(host); // before the notification server goes
    runMainLoopFor(std::chrono::milliseconds(100));
}

TEST(PageNotificationPermissions, GrantsOnlyWebOrigins) {
    const struct {
        const char* pageURL;
        const char* origin; // nullptr: nothing granted
    } cases[] = {
        {"https://web.example.com/app/?x=1#top", "https://web.example.com"},
        {"http://127.0.0.1:8123/chat.html", "http://127.0.0.1:8123"},
        {"https://chat.example.org:443/", "https://chat.example.org"},
        {"file:///home/agent/page.html", nullptr},
        {"about:blank", nullptr},
        {"not a url", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        const auto before = PageNotificationPermissions::allowedOrigins();
        EXPECT_EQ(PageNotificationPermissions::allow(c.pageURL), c.origin != nullptr) << c.pageURL;
        auto added = PageNotificationPermissions::allowedOrigins();
        for (const auto& origin : before)
            added.erase(origin);
        if (c.origin)
            EXPECT_EQ(added, std::set<std::string>{c.origin}) << c.pageURL;
        else
            EXPECT_TRUE(added.empty()) << c.pageURL;
    }
}

} // namespace
} // namespace aurelo::test
