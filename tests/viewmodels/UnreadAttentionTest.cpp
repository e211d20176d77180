// The unread total in the window title and, while the window is hidden, in one notification:
// replaced as the total changes, never shown under do-not-disturb, gone when the window shows.

#include "viewmodels/UnreadAttention.hpp"
#include "support/TestDirectory.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace aurelo {
namespace {

// Records what the desktop would have been asked, as "show:<body>" and "withdraw".
class RecordingNotice final : public DesktopNotice {
public:
    void show(const std::string& title, const std::string& body) override {
        EXPECT_EQ(title, "Aurelo翻译器");
        calls.push_back("show:" + body);
    }
    void withdraw() override { calls.push_back("withdraw"); }
    std::vector<std::string> calls;
};

class UnreadAttentionTest : public ::testing::Test {
protected:
    test::TestDirectory directory;
    UserDefaults defaults{directory.path() / "defaults.json"};
    SessionStore store{defaults, nullptr, nullptr};
    MainWindowPreferences preferences{defaults};
    RecordingNotice notice;
    std::unique_ptr<UnreadAttention> attention;
    bool quietHoursNow = false;
    int titleChanges = 0;
    std::string first, second;

    void SetUp() override {
        store.add("一");
        store.add("二");
        first = store.sessions()[0].id;
        second = store.sessions()[1].id;
        attention = std::make_unique<UnreadAttention>(store, preferences, notice,
                                                      [this] { return quietHoursNow; });
        attention->signalTitleChanged().connect([this] { ++titleChanges; });
    }
};

TEST_F(UnreadAttentionTest, TitleFollowsTheTotalOfEveryAccount) {
    store.setUnreadCount(5, first);
    store.setUnreadCount(7, second);
    EXPECT_EQ(attention->windowTitle(), "(12) Aurelo翻译器");
    store.setUnreadCount(7, second);
    EXPECT_EQ(titleChanges, 2) << "the same count again changes nothing";
    store.setUnreadCount(995, second);
    EXPECT_EQ(attention->windowTitle(), "(999+) Aurelo翻译器") << "capped as the dock badge is";
    store.remove(store.sessions()[1]);
    EXPECT_EQ(attention->windowTitle(), "(5) Aurelo翻译器") << "a deleted account's count goes";
    store.setUnreadCount(0, first);
    EXPECT_EQ(attention->windowTitle(), "Aurelo翻译器");
    EXPECT_TRUE(notice.calls.empty()) << "no notification while the window is shown";
}

TEST_F(UnreadAttentionTest, HiddenWindowGetsOneNotificationThatFollowsTheCount) {
    struct Step {
        const char* what;
        std::function<void()> act;
        std::vector<std::string> calls; // what the step adds
    };
    const auto count = [&](const std::string& id, int n) {
        return [&, id, n] { store.setUnreadCount(n, id); };
    };
    const auto visible = [&](bool shown) {
        return [&, shown] { attention->setWindowVisible(shown); };
    };
    const auto quiet = [&](bool on) { return [&, on] { preferences.setDoNotDisturb(on); }; };
    const std::vector<Step> steps = {
        {"hide", visible(false), {}},
        {"first message", count(first, 1), {"show:有 1 条未读消息"}},
        {"more", count(second, 4), {"show:有 5 条未读消息"}},
        {"read one elsewhere", count(second, 3), {"show:有 4 条未读消息"}},
        {"show the window", visible(true), {"withdraw"}},
        {"more while shown", count(second, 6), {}},
        {"hide again", visible(false), {}},
        {"fewer, nothing on screen", count(second, 2), {}},
        {"more", count(second, 9), {"show:有 10 条未读消息"}},
        {"do not disturb", quiet(true), {"withdraw"}},
        {"more under do not disturb", count(second, 20), {}},
        {"disturb again", quiet(false), {}},
        {"quiet hours begin", [&] { quietHoursNow = true; }, {}},
        {"more in quiet hours", count(second, 30), {}},
        {"quiet hours end", [&] { quietHoursNow = false; }, {}},
        {"more", count(second, 2000), {"show:有 999+ 条未读消息"}},
        {"all read",
         [&] {
             store.setUnreadCount(0, first);
             store.setUnreadCount(0, second);
         },
         {"withdraw"}},
    };
    std::vector<std::string> expected;
    for (const auto& step : steps) {
        step.act();
        expected.insert(expected.end(), step.calls.begin(), step.calls.end());
        ASSERT_EQ(notice.calls, expected) << "after: " << step.what;
    }
}

} // namespace
} // namespace aurelo
