// Pages' own notifications: granted to each account's site from start, without a click, shown
// under the account's name and logo, and leading back to the account's page when clicked.

#include "support/FakeDesktopService.hpp"
#include "support/WebViewTestSupport.hpp"
#include "webview/PageNotificationPermissions.hpp"

#include <fstream>

namespace aurelo::test {
namespace {

// The application the desktop's notifications lead back to, with the click action the window
// registers: it records the account a click leads to and hands the click to the page.
class AccountNotificationTest : public WebViewTest {
protected:
    AccountNotificationTest() {
        std::ofstream(m_logo) << "logo";
        g_application_set_default(m_application.get());
        g_application_register(m_application.get(), nullptr, nullptr);
        auto action =
            adoptGRef(g_simple_action_new(PageNotifications::kActionName, G_VARIANT_TYPE_STRING));
        g_signal_connect(action.get(), "activate", G_CALLBACK(activateCallback), this);
        g_action_map_add_action(G_ACTION_MAP(m_application.get()), G_ACTION(action.get()));
        environment->pageNotifications = &m_notifications;
    }
    ~AccountNotificationTest() override { g_application_set_default(nullptr); }

    static void activateCallback(GSimpleAction*, GVariant* parameter, gpointer self) {
        auto* test = static_cast<AccountNotificationTest*>(self);
        const std::string key = g_variant_get_string(parameter, nullptr);
        test->opened.push_back(test->m_notifications.sessionFor(key).value_or("<none>"));
        test->m_notifications.clicked(key);
    }

    const std::filesystem::path m_logo = m_root / "logo.png";
    GRef<GApplication> m_application = adoptGRef(
        g_application_new("com.aurelo.translator.PageNotificationTest", G_APPLICATION_NON_UNIQUE));
    PageNotifications m_notifications{
        [this](const std::string& id) -> std::optional<PageNotifications::Account> {
            if (id == kSessionA)
                return PageNotifications::Account{"欧洲客服", m_logo};
            return std::nullopt;
        }};
    std::vector<std::string> opened;
};

// The page is never shown and never clicked: its site finds the permission granted, and its
// notifications reach the desktop under the account's name and logo unless the account, quiet
// hours or do-not-disturb silence them. Another origin in the same view is not granted up front.
TEST_F(AccountNotificationTest, AHiddenPageNotifiesUnderItsAccountAndItsClickOpensIt) {
    auto notifications = FakeDesktopService::notifications();
    ASSERT_TRUE(runMainLoopUntil([&] { return notifications.owned(); }));
    auto& host = open(inputs(kSessionA));
    ASSERT_TRUE(waitForLoad(host));
    EXPECT_EQ(evaluate(host, "Notification.permission", nullptr), R"("granted")");
    evaluate(host,
             "const n = new Notification('新消息', {body: '你好'});"
             "n.onclick = () => { document.title = 'clicked'; }; true",
             nullptr);
    ASSERT_TRUE(runMainLoopUntil([&] { return notifications.notified().size() == 1; }));
    const auto shown = notifications.notified()[0];
    EXPECT_EQ(shown.summary, "欧洲客服 · 新消息");
    EXPECT_EQ(shown.body, "你好");
    EXPECT_EQ(shown.imagePath, m_logo.string());

    runMainLoopFor(std::chrono::milliseconds(100)); // the desktop's id for it comes back
    FakeDesktopService::clickNotification(1);
    ASSERT_TRUE(runMainLoopUntil([&] { return !opened.empty(); }));
    EXPECT_EQ(opened, std::vector<std::string>{kSessionA});
    EXPECT_TRUE(waitForValue(host, "document.title", R"("clicked")", nullptr));
    // One left on the desktop: the leak check at the end finds the page freed all the same.
    evaluate(host, "new Notification('第二条'); true", nullptr);
    ASSERT_TRUE(runMainLoopUntil([&] { return notifications.notified().size() == 2; }));
    // An account the lookup does not know: WebKit posts its page's notification itself.
    auto& unknown = open(inputs(kSessionB));
    ASSERT_TRUE(waitForLoad(unknown));
    evaluate(unknown, "new Notification('新消息'); true", nullptr);
    ASSERT_TRUE(runMainLoopUntil([&] { return notifications.notified().size() == 3; }));
    EXPECT_EQ(notifications.notified()[2].summary, "新消息");
    destroy(unknown);

    const auto silenced = [&](const char* title) {
        evaluate(host, "new Notification('" + std::string(title) + "'); true", nullptr);
        runMainLoopFor(std::chrono::milliseconds(500));
        return notifications.notified().size() == 3;
    };
    auto off = inputs(kSessionA);
    off.notificationsEnabled = false; // 消息通知 off for the account
    host.update(off);
    EXPECT_TRUE(silenced("关闭"));
    host.update(inputs(kSessionA));
    environment->quietHoursNow = [] { return true; };
    EXPECT_TRUE(silenced("定时勿扰")) << "though the account's switch is on again";
    environment->quietHoursNow = [] { return false; };
    environment->doNotDisturb = true;
    EXPECT_TRUE(silenced("免打扰"));

    const std::string other = "http://localhost:" + std::to_string(server.port()) + "/second.html";
    evaluate(host, "location.href = '" + other + "'", nullptr);
    ASSERT_TRUE(waitForLoad(host, 2));
    EXPECT_EQ(evaluate(host, "Notification.permission", nullptr), R"("default")");
    EXPECT_TRUE(waitForValue(host,
                             "window.asked ?? (Notification.requestPermission()"
                             ".then(answer => window.asked = answer), null)",
                             R"("denied")", nullptr));
    destroy(host); // before the notification server goes
    runMainLoopFor(std::chrono::milliseconds(100));
}

// A click's key comes from the desktop: anything but one of ours leads nowhere.
TEST_F(AccountNotificationTest, UnknownKeysLeadNowhere) {
    for (const char* key : {"", "page-", "page-x", "page-99", "page-1 ", "other-1"})
        EXPECT_EQ(m_notifications.sessionFor(key), std::nullopt) << key;
    m_notifications.clicked("page-1");
    EXPECT_EQ(PageNotifications::titleFor("欧洲客服", ""), "欧洲客服");
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
