// The per-account switches of 账号独立设置, "拼写检查" and "消息通知": stored per account and
// handed to the account's page.

#include "support/ShellTestFixture.hpp"

#include "viewmodels/PageStackModel.hpp"

namespace aurelo::test {
namespace {

class AccountSwitchesTest : public ShellTestFixture {
protected:
    ContentViewModel view{store, settings, account, appLock, preferences, translator, "1.0.0"};
    PageStackModel pages{view};
    SessionSettingsForm& sheet = view.sessionSettingsForm();

    const ChatSession& selected() {
        return *std::ranges::find(store.sessions(), *store.selectedID(), &ChatSession::id);
    }
};

// Each is on unless turned off; only "off" is stored, it survives the stored form, and it reaches
// the account's page.
TEST_F(AccountSwitchesTest, TurnedOffForOneAccountOnly) {
    const struct {
        const char* name;
        bool (SessionSettingsForm::*get)() const;
        void (SessionSettingsForm::*set)(bool);
        std::optional<bool> ChatSession::*stored;
        bool ChatWebViewInputs::*page;
    } switches[] = {
        {"拼写检查", &SessionSettingsForm::spellChecking, &SessionSettingsForm::setSpellChecking,
         &ChatSession::spellCheckingEnabled, &ChatWebViewInputs::spellChecking},
        {"消息通知", &SessionSettingsForm::notifications, &SessionSettingsForm::setNotifications,
         &ChatSession::notificationsEnabled, &ChatWebViewInputs::notificationsEnabled},
    };
    for (const auto& s : switches) {
        SCOPED_TRACE(s.name);
        sheet.begin();
        EXPECT_TRUE((sheet.*s.get)());
        EXPECT_TRUE(pages.inputs(selected()).*s.page);
        (sheet.*s.set)(false);
        sheet.save();
        EXPECT_EQ(selected().*s.stored, false);
        EXPECT_FALSE(pages.inputs(selected()).*s.page);
        const auto stored = decodeSessions(encodeSessions(store.sessions()));
        ASSERT_TRUE(stored);
        EXPECT_EQ(*stored, store.sessions());
        sheet.begin();
        EXPECT_FALSE((sheet.*s.get)());
        (sheet.*s.set)(true);
        sheet.save();
        EXPECT_EQ(selected().*s.stored, std::nullopt);
    }
}

} // namespace
} // namespace aurelo::test
