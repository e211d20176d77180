// "拼写检查" in 账号独立设置: stored per account and handed to the account's page.

#include "support/ShellTestFixture.hpp"

#include "viewmodels/PageStackModel.hpp"

namespace aurelo::test {
namespace {

class SpellingSettingTest : public ShellTestFixture {
protected:
    ContentViewModel view{store, settings, account, appLock, preferences, translator, "1.0.0"};
    PageStackModel pages{view};
    SessionSettingsForm& sheet = view.sessionSettingsForm();

    const ChatSession& selected() {
        return *std::ranges::find(store.sessions(), *store.selectedID(), &ChatSession::id);
    }
};

// On unless turned off; only "off" is stored, it survives the stored form, and it reaches the
// account's page.
TEST_F(SpellingSettingTest, TurnedOffForOneAccountOnly) {
    sheet.begin();
    EXPECT_TRUE(sheet.spellChecking());
    EXPECT_TRUE(pages.inputs(selected()).spellChecking);
    sheet.setSpellChecking(false);
    sheet.save();
    EXPECT_EQ(selected().spellCheckingEnabled, false);
    EXPECT_FALSE(pages.inputs(selected()).spellChecking);
    const auto stored = decodeSessions(encodeSessions(store.sessions()));
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, store.sessions());
    sheet.begin();
    EXPECT_FALSE(sheet.spellChecking());
    sheet.setSpellChecking(true);
    sheet.save();
    EXPECT_EQ(selected().spellCheckingEnabled, std::nullopt);
}

} // namespace
} // namespace aurelo::test
