// The main view's rules, driven without a display over real stores.

#include "models/AccountName.hpp"
#include "support/ShellTestFixture.hpp"

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

class ContentViewModelTest : public ShellTestFixture {};

TEST_F(ContentViewModelTest, ZoomIsStoredAndBadgesCapAt99) {
    model.zoomOut();
    EXPECT_DOUBLE_EQ(preferences.pageZoom(), 0.9);
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
}

TEST_F(ContentViewModelTest, RenameSelectsAndSavesThroughTheStore) {
    ChatSession first = store.sessions().front();
    addSession("second");
    model.beginRename(first.id);
    EXPECT_EQ(store.selectedID(), first.id);
    EXPECT_TRUE(model.showingRename());
    EXPECT_EQ(model.renameText(), first.name);
    EXPECT_EQ(model.renameTitle(), "修改 WhatsApp 名称");
    model.setRenameText("  新名字 ");
    model.saveRename();
    EXPECT_FALSE(model.showingRename());
    EXPECT_EQ(store.sessions().front().name, "新名字");
}

// A name the rule refuses keeps the dialog open and says why, rather than closing it unsaved.
TEST_F(ContentViewModelTest, RenameRefusesABlankOrOverlongNameWithAMessage) {
    const std::string id = store.sessions().front().id;
    const std::pair<std::string, std::string_view> refused[] = {
        {"", AccountName::kBlank},
        {" \n ", AccountName::kBlank},
        {std::string(31, 'x'), AccountName::kTooLong},
        {std::string(84, 'x'), AccountName::kTooLong}};
    for (const auto& [typed, message] : refused) {
        model.beginRename(id);
        model.setRenameText(typed);
        EXPECT_EQ(model.renameError(), message) << typed;
        model.saveRename();
        EXPECT_TRUE(model.showingRename()) << typed;
        EXPECT_EQ(store.sessions().front().name, "WhatsApp 1") << typed;
        model.cancelRename();
    }
}

// The dialog names the account's platform, and a custom website's account by its own name.
TEST_F(ContentViewModelTest, RenameAndTheTranslationBoxNameThePlatform) {
    const std::pair<std::optional<std::string>, std::string> accounts[] = {
        {std::nullopt, "WhatsApp"},
        {"https://web.telegram.org/", "Telegram"},
        {"https://shop.example.com/", "官网客服"},
    };
    TranslationBoxModel& box = model.translationBox();
    for (const auto& [url, platform] : accounts) {
        const std::string id = addSession("官网客服", url).id;
        model.beginRename(id);
        EXPECT_EQ(model.renameTitle(), "修改 " + platform + " 名称");
        model.cancelRename();
        EXPECT_EQ(box.insertButtonLabel(), "确认填入 " + platform);
        EXPECT_EQ(box.insertNote(), "确认后，英文会直接进入当前 " + platform + " 对话框");
    }
}

TEST_F(ContentViewModelTest, LockAsksForAPasswordFirstThenLocksAtOnce) {
    model.requestApplicationLock();
    EXPECT_TRUE(model.showingLockSetup()) << "no password yet: the setup sheet, not the lock";
    EXPECT_FALSE(model.appLocked());
    EXPECT_FALSE(model.saveLockSetup("abcd", "abce"));
    EXPECT_TRUE(model.showingLockSetup());
    EXPECT_TRUE(model.saveLockSetup("abcd", "abcd"));
    EXPECT_FALSE(model.showingLockSetup());
    EXPECT_TRUE(model.unlockApplication("abcd"));
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

    const std::string first = store.sessions().front().id;
    const std::string telegram = addSession("电报", "https://web.telegram.org/k/").id;
    model.showSession("00000000-0000-0000-0000-000000000000");
    EXPECT_TRUE(model.showAppCenter()) << "an unknown id is ignored";
    model.showSession(first);
    EXPECT_FALSE(model.showAppCenter());
    EXPECT_EQ(store.selectedID(), first);
    EXPECT_TRUE(model.isPageShown(first));
    EXPECT_FALSE(model.isPageShown(telegram));
}

TEST_F(ContentViewModelTest, RefreshReloadsThePagesAndAsksEveryTextAnewEvenWhenItFails) {
    const std::string before = model.reloadToken();
    cache.store({"hola", "es"}, {"hello", "es", "google"});
    model.refreshServices(); // not logged in: nothing to ask, the pages reload anyway
    ASSERT_TRUE(runMainLoopUntil([&] { return !model.refreshingServices(); }));
    EXPECT_NE(model.reloadToken(), before);
    EXPECT_EQ(cache.size(), 0u) << "a changed glossary must not be hidden by old answers";
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

// What the window shows around the pages for each choice, and that the choice outlives a
// restart. The focus layout keeps the pages' tab row only, whatever else was chosen.
TEST(MainWindowLayout, EachChoiceShowsItsPartsAndIsRemembered) {
    using Layout = MainWindowPreferences::Layout;
    struct Case {
        bool quick, expanded, box, focus;
        Layout shown;
    };
    const Case cases[] = {
        {true, false, true, false, {true, true, false, true}}, // the default: one summary line
        {true, true, true, false, {true, true, true, true}},
        {false, true, true, false, {true, false, false, true}}, // no controls without the strip
        {true, false, false, false, {true, true, false, false}},
        {true, true, true, true, {false, false, false, false}},
        {false, false, false, true, {false, false, false, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.quick << c.expanded << c.box << c.focus);
        TestDirectory directory;
        UserDefaults defaults(directory.path() / "defaults.json");
        {
            MainWindowPreferences preferences(defaults);
            preferences.setShowQuickTranslationSettings(c.quick);
            preferences.setQuickSettingsExpanded(c.expanded);
            preferences.setShowTranslationBox(c.box);
            preferences.setFocusLayout(c.focus);
            EXPECT_EQ(preferences.layout(), c.shown);
        }
        UserDefaults reread(directory.path() / "defaults.json");
        EXPECT_EQ(MainWindowPreferences(reread).layout(), c.shown);
    }
    TestDirectory fresh;
    UserDefaults defaults(fresh.path() / "defaults.json");
    EXPECT_EQ(MainWindowPreferences(defaults).layout(), cases[0].shown);
}

TEST_F(ContentViewModelTest, ASleepingAccountLosesItsCountAndOnlyBeingShownWakesIt) {
    ChatSession first = store.sessions().front();
    first.autoHibernateMinutes = 15;
    store.updateSession(first);
    ChatSession second = addSession("second");
    second.autoHibernateMinutes = 5;
    store.updateSession(second);
    model.selectTab(first.id);
    store.setUnreadCount(7, second.id);
    store.setUnreadCount(2, first.id);
    AccountHibernation& hibernation = model.hibernation();
    const auto start = AccountHibernation::Clock::now();
    hibernation.tick(start + 1h);
    EXPECT_TRUE(hibernation.isHibernated(second.id));
    EXPECT_FALSE(hibernation.isHibernated(first.id)) << "the account on show stays awake";
    // The sleeping account reports nothing; its old count must not stay on the badge.
    EXPECT_EQ(model.tabBadgeText(second.id), std::nullopt);
    EXPECT_EQ(store.totalUnreadCount(), 2);

    // Asked to, the account on show sleeps; the timer and unrelated changes do not wake it.
    hibernation.hibernateNow(first.id);
    hibernation.tick();
    store.setUnreadCount(3, second.id);
    EXPECT_TRUE(hibernation.isHibernated(first.id));
    model.selectTab(first.id);
    EXPECT_FALSE(hibernation.isHibernated(first.id));
    // A panel over the pages counts as not shown; closing it shows the account again.
    model.openSettingsPanel();
    hibernation.tick(start + 2h);
    EXPECT_TRUE(hibernation.isHibernated(first.id));
    model.closePanels();
    EXPECT_FALSE(hibernation.isHibernated(first.id));
}

TEST_F(ContentViewModelTest, AHiddenAccountThatBreaksNotifiesOncePerBreak) {
    AccountHealth& health = model.health();
    std::vector<std::string> notices; // "<id>|<title>|<body>"
    health.signalNotification().connect(
        [&](const std::string& id, const std::string& title, const std::string& body) {
            notices.push_back(id + "|" + title + "|" + body);
        });
    const std::string shown = store.sessions().front().id;
    const std::string hidden = addSession("北美客户").id;
    model.selectTab(shown);
    const PageHealth crashed{PageHealthState::Crashed, "", true};
    health.report(hidden, crashed);
    EXPECT_EQ(notices, (std::vector<std::string>{
                           hidden + "|账号“北美客户”页面已崩溃|页面已崩溃 · 正在恢复"}));
    EXPECT_EQ(health.tooltipLine(hidden), "状态：页面已崩溃 · 正在恢复");

    // Still broken, in another way: no second notice until it was fine again.
    health.report(hidden, {PageHealthState::NetworkError, "连接超时", true});
    EXPECT_EQ(notices.size(), 1u);
    // Up again but not yet for long: crashing now is the same break.
    health.report(hidden, {PageHealthState::Healthy, "", false, false, true});
    health.report(hidden, crashed);
    EXPECT_EQ(notices.size(), 1u);
    health.report(hidden, {});
    health.report(hidden, {PageHealthState::LoggedOut, "", false});
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[1], hidden + "|账号“北美客户”未登录|未登录");

    // The account on show, do-not-disturb, or quiet hours: the tab says it, nothing pops up.
    health.report(shown, crashed);
    health.report(hidden, {});
    preferences.setDoNotDisturb(true);
    health.report(hidden, crashed);
    preferences.setDoNotDisturb(false);
    health.report(hidden, {});
    settings.setQuietHours({true, 0, QuietHours::kMinutesPerDay});
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
