// The health the tabs show, and the one notification when a hidden account stops being fine.

#include "support/ShellTestFixture.hpp"

namespace aurelo::test {
namespace {

struct Notice {
    std::string sessionID, title, body;
};

class AccountHealthTest : public ShellTestFixture {
protected:
    AccountHealth& health = model.health();
    std::vector<Notice> notices;

    void SetUp() override {
        health.signalNotification().connect(
            [this](const std::string& id, const std::string& title, const std::string& body) {
                notices.push_back({id, title, body});
            });
    }
};

TEST_F(AccountHealthTest, AHiddenAccountThatBreaksNotifiesOncePerBreak) {
    const std::string shown = store.sessions().front().id;
    const std::string hidden = addSession("北美客户").id;
    model.selectTab(shown);
    const PageHealth crashed{PageHealthState::Crashed, "", true};

    health.report(hidden, crashed);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].sessionID, hidden);
    EXPECT_EQ(notices[0].title, "账号“北美客户”页面已崩溃");
    EXPECT_EQ(notices[0].body, "页面已崩溃 · 正在恢复");
    EXPECT_EQ(health.tooltipLine(hidden), "状态：页面已崩溃 · 正在恢复");

    // Still broken, in another way: no second notice until it was fine again.
    health.report(hidden, {PageHealthState::NetworkError, "连接超时", true});
    EXPECT_EQ(notices.size(), 1u);
    health.report(hidden, {});
    health.report(hidden, {PageHealthState::LoggedOut, "", false});
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[1].title, "账号“北美客户”未登录");

    // The account on show, or do-not-disturb: the tab says it, nothing pops up.
    health.report(shown, crashed);
    health.report(hidden, {});
    preferences.setDoNotDisturb(true);
    health.report(hidden, crashed);
    EXPECT_EQ(notices.size(), 2u);
    EXPECT_EQ(health.health(shown), crashed);

    // Reports for an account that is gone are dropped, and so is its state.
    store.remove(*std::ranges::find(store.sessions(), hidden, &ChatSession::id));
    EXPECT_EQ(health.health(hidden), PageHealth{});
    health.report(hidden, crashed);
    EXPECT_EQ(health.health(hidden), PageHealth{});
}

} // namespace
} // namespace aurelo::test
