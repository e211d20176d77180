// The main view's rules, driven without a display over real stores.

#include "support/ShellTestFixture.hpp"

namespace aurelo::test {
namespace {

class ContentViewModelTest : public ShellTestFixture {};

TEST_F(ContentViewModelTest, ZoomIsStoredInRangeAndBadgesCapAt99) {
    for (int i = 0; i < 15; ++i)
        model.zoomIn();
    EXPECT_DOUBLE_EQ(preferences.pageZoom(), 2.0);
    for (int i = 0; i < 20; ++i)
        model.zoomOut();
    EXPECT_DOUBLE_EQ(preferences.pageZoom(), 0.5);
    model.resetZoom();
    EXPECT_EQ(defaults->number(MainWindowPreferences::kPageZoomKey), 1.0);

    const std::pair<std::optional<int>, std::optional<std::string>> badges[] = {
        {std::nullopt, std::nullopt}, {0, std::nullopt}, {1, "1"}, {99, "99"}, {120, "99+"}};
    for (const auto& [count, text] : badges)
        EXPECT_EQ(ContentViewModel::unreadBadgeText(count), text) << count.value_or(-1);
    const std::string id = store.sessions().front().id;
    store.setUnreadCount(120, id);
    EXPECT_EQ(model.tabBadgeText(id), "99+");
}

TEST_F(ContentViewModelTest, DeleteAsksFirstFromTheCloseButtonOnly) {
    ChatSession doomed = addSession("王磊客户");
    model.askToDelete(doomed);
    EXPECT_EQ(model.deleteConfirmationTitle(), "确认删除“王磊客户”？");
    model.cancelDelete();
    EXPECT_EQ(store.sessions().size(), 2u);
    EXPECT_EQ(model.deleteConfirmationTitle(), "确认删除“此账号”？");

    model.askToDelete(doomed);
    model.confirmDelete();
    EXPECT_EQ(store.sessions().size(), 1u);
    EXPECT_FALSE(model.pendingDeleteSession());

    ChatSession other = addSession("other");
    model.deleteNow(other);
    EXPECT_EQ(store.sessions().size(), 1u);
}

TEST_F(ContentViewModelTest, RenameSelectsAndSavesThroughTheStore) {
    ChatSession first = store.sessions().front();
    addSession("second");
    model.beginRename(first.id);
    EXPECT_EQ(store.selectedID(), first.id);
    EXPECT_TRUE(model.showingRename());
    EXPECT_EQ(model.renameText(), first.name);
    model.setRenameText("  新名字 ");
    model.saveRename();
    EXPECT_FALSE(model.showingRename());
    EXPECT_EQ(store.sessions().front().name, "新名字");
}

TEST_F(ContentViewModelTest, LockNeedsAPasswordFirstAndUnlocksOnlyWithIt) {
    model.requestApplicationLock();
    EXPECT_TRUE(model.showingLockSetup()) << "no password yet: the setup sheet, not the lock";
    EXPECT_FALSE(model.appLocked());

    EXPECT_FALSE(model.saveLockSetup("abcd", "abce"));
    EXPECT_TRUE(model.showingLockSetup());
    EXPECT_FALSE(appLock.message().empty());

    EXPECT_TRUE(model.saveLockSetup("abcd", "abcd"));
    EXPECT_FALSE(model.showingLockSetup());
    EXPECT_TRUE(model.appLocked());

    EXPECT_FALSE(model.unlockApplication("wrong"));
    EXPECT_TRUE(model.appLocked());
    EXPECT_TRUE(model.unlockApplication("abcd"));
    EXPECT_FALSE(model.appLocked());

    model.requestApplicationLock();
    EXPECT_TRUE(model.appLocked()) << "with a password the lock comes at once";
}

TEST_F(ContentViewModelTest, PanelsAreExclusiveAndSelectionClosesThem) {
    model.setShowAppCenter(true);
    model.openSettingsPanel();
    EXPECT_FALSE(model.showAppCenter());
    EXPECT_TRUE(model.showingInlineSettings());
    model.setShowAppCenter(true);
    EXPECT_FALSE(model.showingInlineSettings());

    ChatSession telegram = addSession("电报", "https://web.telegram.org/k/");
    model.showSession("00000000-0000-0000-0000-000000000000");
    EXPECT_TRUE(model.showAppCenter()) << "an unknown id is ignored";
    model.showSession(store.sessions().front().id);
    EXPECT_FALSE(model.showAppCenter());
    EXPECT_EQ(store.selectedID(), store.sessions().front().id);
    EXPECT_TRUE(model.isPageShown(store.sessions().front().id));
    EXPECT_FALSE(model.isPageShown(telegram.id));
}

TEST_F(ContentViewModelTest, WholePageCommandsArriveAfterTheSelection) {
    ChatSession second = addSession("second");
    model.selectTab(store.sessions().front().id);
    model.translateWholePage(second.id);
    EXPECT_EQ(store.selectedID(), second.id);
    EXPECT_FALSE(model.pageCommand()) << "the command follows on the next turn of the loop";
    ASSERT_TRUE(runMainLoopUntil([&] { return model.pageCommand().has_value(); }));
    EXPECT_EQ(model.pageCommand()->action, WebPageCommand::Action::TranslateToChinese);
}

TEST_F(ContentViewModelTest, RefreshReloadsThePagesEvenWhenItFails) {
    const std::string before = model.reloadToken();
    model.refreshServices(); // not logged in: nothing to ask, the pages reload anyway
    EXPECT_TRUE(model.refreshingServices() || model.reloadToken() != before);
    ASSERT_TRUE(runMainLoopUntil([&] { return !model.refreshingServices(); }));
    EXPECT_NE(model.reloadToken(), before);
}

// The old default green becomes gold once; a colour the user chose survives.
TEST_F(ContentViewModelTest, GoldColourMigrationRunsOnceAndOnlyOnTheOldDefault) {
    preferences.setTranslationFontColor("#FF0000");
    MainWindowPreferences(*defaults).adoptGoldTranslationColor();
    EXPECT_EQ(MainWindowPreferences(*defaults).translationFontColor(), "#FF0000");

    preferences.setTranslationFontColor("#18a058");
    model.appear();
    EXPECT_EQ(preferences.translationFontColor(), "#D4AF37");
    EXPECT_EQ(defaults->boolean(MainWindowPreferences::kDidAdoptGoldTranslationColorKey), true);
    preferences.setTranslationFontColor("#18A058");
    model.appear();
    EXPECT_EQ(preferences.translationFontColor(), "#18A058") << "only once";
}

TEST(MainWindowPreferencesDefaults, DamagedValuesReadAsTheDefaults) {
    TestDirectory directory;
    UserDefaults defaults(directory.path() / "defaults.json");
    (void)defaults.set(MainWindowPreferences::kPageZoomKey, "big");
    (void)defaults.set(MainWindowPreferences::kShowTranslationBoxKey, 1);
    (void)defaults.set(MainWindowPreferences::kTranslationFontColorKey, 5);
    MainWindowPreferences preferences(defaults);
    EXPECT_DOUBLE_EQ(preferences.pageZoom(), 1.0);
    EXPECT_TRUE(preferences.showTranslationBox());
    EXPECT_EQ(preferences.translationFontColor(), "#D4AF37");
}

using ContentHibernationTest = ContentViewModelTest;

TEST_F(ContentHibernationTest, ASleepingAccountLosesItsCountAndWakesWhenSelected) {
    ChatSession first = store.sessions().front();
    ChatSession second = addSession("second");
    second.autoHibernateMinutes = 5;
    store.updateSession(second);
    model.selectTab(first.id);
    store.setUnreadCount(7, second.id);
    store.setUnreadCount(2, first.id);

    std::vector<std::string> changed;
    model.hibernation().signalChanged().connect(
        [&](const std::string& id) { changed.push_back(id); });
    const auto now = AccountHibernation::Clock::now();
    model.hibernation().tick(now + std::chrono::minutes(4));
    EXPECT_FALSE(model.hibernation().isHibernated(second.id));
    model.hibernation().tick(now + std::chrono::minutes(6));
    EXPECT_TRUE(model.hibernation().isHibernated(second.id));
    EXPECT_EQ(changed, std::vector<std::string>{second.id});
    // The sleeping account reports nothing; its old count must not stay on the badge.
    EXPECT_EQ(model.tabBadgeText(second.id), std::nullopt);
    EXPECT_EQ(store.totalUnreadCount(), 2);
    EXPECT_FALSE(model.hibernation().isHibernated(first.id)) << "the account on show stays awake";

    model.selectTab(second.id);
    EXPECT_FALSE(model.hibernation().isHibernated(second.id));
}

TEST_F(ContentHibernationTest, TheShownAccountSleepsOnlyWhenAskedOrCoveredByAPanel) {
    ChatSession first = store.sessions().front();
    first.autoHibernateMinutes = 15;
    store.updateSession(first);
    ChatSession second = addSession("second");
    model.selectTab(first.id);
    model.hibernation().hibernateNow(first.id);
    EXPECT_TRUE(model.hibernation().isHibernated(first.id));
    // The window's timer and unrelated changes do not wake it; selecting its tab does.
    model.hibernation().tick();
    store.setUnreadCount(3, second.id);
    EXPECT_TRUE(model.hibernation().isHibernated(first.id));
    model.selectTab(first.id);
    EXPECT_FALSE(model.hibernation().isHibernated(first.id));
    // A panel over the pages counts as not shown; closing it shows the account again.
    const auto start = AccountHibernation::Clock::now();
    model.hibernation().tick(start + std::chrono::hours(1));
    EXPECT_FALSE(model.hibernation().isHibernated(first.id));
    model.openSettingsPanel();
    model.hibernation().tick(start + std::chrono::hours(2));
    EXPECT_TRUE(model.hibernation().isHibernated(first.id));
    model.closePanels();
    EXPECT_FALSE(model.hibernation().isHibernated(first.id));
}

} // namespace
} // namespace aurelo::test
