#include "platform/ApplicationNotice.hpp"
#include "support/FakeDesktopService.hpp"
#include "support/MainLoopWait.hpp"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace aurelo {
namespace {

using namespace std::chrono_literals;

// Each Notify call as "<id it replaces> <summary>: <body>".
std::vector<std::string> notifies(const test::FakeDesktopService& server) {
    std::vector<std::string> found;
    for (const auto& call : server.calls()) {
        if (call.method != "Notify")
            continue;
        guint32 replaces = 0;
        const char *summary = nullptr, *body = nullptr;
        g_variant_get(call.parameters.get(), "(&su&s&s&s@as@a{sv}i)", nullptr, &replaces, nullptr,
                      &summary, &body, nullptr, nullptr, nullptr);
        found.push_back(std::to_string(replaces) + " " + summary + ": " + body);
    }
    return found;
}

TEST(ApplicationNoticeOnTheBus, ReplacesItselfAndCloses) {
    if (std::getenv("AURELO_TEST_WITHOUT_BUS"))
        GTEST_SKIP() << "needs the session bus";
    auto server = test::FakeDesktopService::notifications();
    ASSERT_TRUE(test::runMainLoopUntil([&] { return server.owned(); }, 5s));

    ApplicationNotice notice("unread-messages");
    // Before the application is registered there is nowhere to send it: nothing happens.
    notice.show("Aurelo翻译器", "有 1 条未读消息");

    auto application =
        adoptGRef(g_application_new("com.aurelo.translator.NoticeTest", G_APPLICATION_NON_UNIQUE));
    g_application_set_default(application.get());
    ASSERT_TRUE(g_application_register(application.get(), nullptr, nullptr));

    notice.show("Aurelo翻译器", "有 2 条未读消息");
    ASSERT_TRUE(test::runMainLoopUntil([&] { return notifies(server).size() == 1; }, 5s));
    test::runMainLoopFor(100ms); // the server's answer (its id for the notification) comes back
    notice.show("Aurelo翻译器", "有 3 条未读消息");
    ASSERT_TRUE(test::runMainLoopUntil([&] { return notifies(server).size() == 2; }, 5s));
    // The second count replaces the server's notification 1 instead of stacking a new one.
    EXPECT_EQ(notifies(server), (std::vector<std::string>{"0 Aurelo翻译器: 有 2 条未读消息",
                                                          "1 Aurelo翻译器: 有 3 条未读消息"}));

    test::runMainLoopFor(100ms);
    notice.withdraw();
    const auto closes = [&] {
        return std::ranges::count(server.calls(), "CloseNotification", &test::RecordedCall::method);
    };
    EXPECT_TRUE(test::runMainLoopUntil([&] { return closes() == 1; }, 5s));
    g_application_set_default(nullptr);
}

} // namespace
} // namespace aurelo
