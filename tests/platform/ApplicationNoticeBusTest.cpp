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

struct Notify {
    guint32 replaces = 0;
    std::string summary;
    std::string body;
};

std::vector<Notify> notifies(const test::FakeDesktopService& server) {
    std::vector<Notify> found;
    for (const auto& call : server.calls()) {
        if (call.method != "Notify")
            continue;
        const char *summary = nullptr, *body = nullptr;
        Notify notify;
        g_variant_get(call.parameters.get(), "(&su&s&s&s@as@a{sv}i)", nullptr, &notify.replaces,
                      nullptr, &summary, &body, nullptr, nullptr, nullptr);
        notify.summary = summary;
        notify.body = body;
        found.push_back(notify);
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
    const auto sent = notifies(server);
    EXPECT_EQ(sent[0].replaces, 0u);
    EXPECT_EQ(sent[0].summary, "Aurelo翻译器");
    EXPECT_EQ(sent[0].body, "有 2 条未读消息");
    EXPECT_EQ(sent[1].replaces, 1u) << "the second count replaces the server's notification 1";
    EXPECT_EQ(sent[1].body, "有 3 条未读消息");

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
