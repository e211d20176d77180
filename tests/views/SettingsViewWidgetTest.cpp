// The settings page with real widgets: what the user sees, presses and reaches with the keyboard.

#include "support/FakeNotificationCenter.hpp"
#include "views/SettingsWindow.hpp"

#include "WidgetTestSupport.hpp"

#include <set>

namespace aurelo::test {
namespace {

const nlohmann::json kGoogleOnly = {{{"provider", "google"}, {"label", "Google"}}};

class SettingsViewWidgetTest : public WidgetTest {
protected:
    ~SettingsViewWidgetTest() override { settingsWindow.destroy(); }

    SettingsView& showPage() {
        settingsWindow.showPage();
        EXPECT_TRUE(runMainLoopUntil([&] { return settingsWindow.page()->get_mapped(); }, 5s));
        runMainLoopFor(300ms); // the start task, and the page's own refresh of the engines
        return *settingsWindow.page();
    }

    FakeNotificationCenter notifications;
    SettingsWindow settingsWindow{settings, account, appLock, notifications};
};

// A wrong current password shows the store's message and keeps what was typed; the right one
// changes the password and clears every field.
TEST_F(SettingsViewWidgetTest, TheLockCardAsksForTheCurrentPasswordOnlyWhenOneExists) {
    SettingsView& page = showPage();
    EXPECT_TRUE(labelShowing(page, "未设置"));
    EXPECT_FALSE(page.currentLockPasswordField().get_visible());
    EXPECT_EQ(page.lockButton().get_label(), "设置锁屏密码");
    EXPECT_FALSE(page.lockMessage().get_visible());

    ASSERT_TRUE(appLock.setPassword("abcd", "abcd"));
    EXPECT_TRUE(labelShowing(page, "已设置"));
    EXPECT_TRUE(page.currentLockPasswordField().get_visible());
    EXPECT_EQ(page.lockButton().get_label(), "更改锁屏密码");

    page.currentLockPasswordField().set_text("nope");
    page.model().setNewLockPassword("efgh");
    page.model().setConfirmLockPassword("efgh");
    click(page.lockButton());
    EXPECT_TRUE(page.lockMessage().get_visible());
    EXPECT_EQ(page.lockMessage().get_text(), "密码不正确");
    EXPECT_EQ(page.currentLockPasswordField().get_text(), "nope");
    EXPECT_EQ(page.model().newLockPassword(), "efgh");
    EXPECT_EQ(page.model().confirmLockPassword(), "efgh");
    EXPECT_TRUE(appLock.verify("abcd"));

    page.currentLockPasswordField().set_text("abcd");
    click(page.lockButton());
    EXPECT_EQ(page.lockMessage().get_text(), "锁屏密码已设置");
    EXPECT_EQ(page.currentLockPasswordField().get_text(), "");
    EXPECT_EQ(page.model().newLockPassword(), "");
    EXPECT_EQ(page.model().confirmLockPassword(), "");
    EXPECT_TRUE(appLock.verify("efgh"));
}

TEST_F(SettingsViewWidgetTest, TheEnginePickerStoresTheChoiceAndValidateWaitsForTheCheck) {
    logIn({{{"provider", "deepl"}, {"label", "DeepL Pro"}},
           {{"provider", "openai"}, {"label", "OpenAI"}}});
    SettingsView& page = showPage();
    ASSERT_TRUE(
        runMainLoopUntil([&] { return settings.provider() == TranslationProvider::DeepL; }));
    ASSERT_EQ(page.providerPicker().get_model()->get_n_items(), 2u);
    EXPECT_EQ(page.providerPicker().get_selected(), 0u);
    page.providerPicker().set_selected(1);
    EXPECT_EQ(settings.provider(), TranslationProvider::OpenAI);

    auto answer = ScriptedAnswer::json(200, {{"text", "你好"}});
    answer.delay = 300ms;
    fake.enqueue("/api/translate", answer);
    EXPECT_TRUE(page.validateButton().get_sensitive());
    click(page.validateButton());
    EXPECT_FALSE(page.validateButton().get_sensitive());
    ASSERT_TRUE(runMainLoopUntil([&] {
        return settings.connectionStatus().kind() == ProviderConnectionStatus::Kind::Connected;
    }));
    EXPECT_TRUE(page.validateButton().get_sensitive());
}

TEST_F(SettingsViewWidgetTest, TabReachesEveryControl) {
    logIn(kGoogleOnly);
    appLock.configure("alice");
    ASSERT_TRUE(appLock.setPassword("abcd", "abcd"));
    showPage();
    std::set<GtkWidget*> reached;
    for (int i = 0; i < 60; ++i) {
        if (!gtk_widget_child_focus(GTK_WIDGET(settingsWindow.gobj()), GTK_DIR_TAB_FORWARD))
            break;
        // Password fields and pickers take focus in an inner widget; count the control.
        for (GtkWidget* focus = gtk_window_get_focus(settingsWindow.gobj()); focus;
             focus = gtk_widget_get_parent(focus))
            if (GTK_IS_BUTTON(focus) || GTK_IS_DROP_DOWN(focus) || GTK_IS_SWITCH(focus) ||
                GTK_IS_PASSWORD_ENTRY(focus)) {
                reached.insert(focus);
                break;
            }
    }
    // Eight pickers, two switches (automatic translation, 定时勿扰; its time pickers wait until
    // it is on), three password fields, and the buttons: refresh, validate, notifications, log
    // out, lock.
    EXPECT_EQ(reached.size(), 18u);
}

TEST_F(SettingsViewWidgetTest, TheRenderingPickerShowsAndStoresTheChoice) {
    settings.setRenderingMode(RenderingMode::Smooth);
    SettingsView& page = showPage();
    auto* picker = findWidget<Gtk::DropDown>(page, [](Gtk::DropDown& picker) {
        auto list = std::dynamic_pointer_cast<Gtk::StringList>(picker.get_model());
        return list && list->get_n_items() > 1 && list->get_string(1) == "节省内存";
    });
    ASSERT_TRUE(picker);
    EXPECT_EQ(picker->get_selected(), 2u) << "the stored choice is shown";
    picker->set_selected(1);
    EXPECT_EQ(settings.renderingMode(), RenderingMode::SaveMemory);
}

TEST_F(SettingsViewWidgetTest, EachShowingStartsAFreshPage) {
    SettingsView& first = showPage();
    EXPECT_EQ(first.notificationPill().get_text(), "尚未开启");
    EXPECT_EQ(notifications.reads, 1);
    first.model().setNewLockPassword("typed");

    settingsWindow.hide();
    notifications.status = NotificationAuthorizationStatus::Authorized;
    SettingsView& second = showPage();
    EXPECT_EQ(notifications.reads, 2) << "the start task ran again";
    EXPECT_EQ(second.model().newLockPassword(), "") << "nothing typed outlives the window";
    EXPECT_EQ(second.notificationPill().get_text(), "已开启");
    EXPECT_TRUE(second.notificationPill().has_css_class("active"));
}

// An engine list that cannot be read is said beside the engine choice until it reads again or
// the user logs out.
TEST_F(SettingsViewWidgetTest, TheLoginAndAnUnreadableEngineListAreSaidBesideTheEngineChoice) {
    SettingsView& page = showPage();
    EXPECT_EQ(page.loggedInPill().get_text(), "未登录");
    EXPECT_FALSE(page.logoutButton().get_sensitive());
    // No engine to choose from: the current one is named, not an empty picker.
    EXPECT_FALSE(page.providerPicker().get_visible());
    EXPECT_TRUE(page.providerFallback().get_visible());
    EXPECT_EQ(page.providerFallback().get_text().raw(), displayName(settings.provider()));
    logIn(kGoogleOnly);
    EXPECT_EQ(page.loggedInPill().get_text(), "已登录");
    EXPECT_TRUE(page.logoutButton().get_sensitive());
    EXPECT_FALSE(page.engineListError().get_visible());

    Gtk::Button* refresh = buttonLabelled(page, "刷新可用引擎");
    ASSERT_TRUE(refresh);
    const auto refreshWith = [&](const ScriptedAnswer& answer) {
        const auto before = fake.requestCount("/api/engines");
        fake.setFallback("/api/engines", answer);
        click(*refresh);
        ASSERT_TRUE(runMainLoopUntil([&] { return fake.requestCount("/api/engines") > before; }));
        runMainLoopFor(100ms);
    };
    refreshWith(ScriptedAnswer::text(200, "<html>维护中</html>", "text/html"));
    EXPECT_TRUE(page.engineListError().get_mapped()) << "on screen, not just set";
    EXPECT_EQ(page.engineListError().get_text().raw(),
              "无法读取可用翻译引擎：未能读取数据，因为它的格式不正确。");
    EXPECT_TRUE(account.isLoggedIn());
    refreshWith(ScriptedAnswer::json(200, {{"engines", kGoogleOnly}}));
    EXPECT_FALSE(page.engineListError().get_visible());

    refreshWith(ScriptedAnswer::text(200, "oops", "text/plain"));
    ASSERT_TRUE(page.engineListError().get_visible());
    click(page.logoutButton());
    EXPECT_FALSE(account.isLoggedIn());
    EXPECT_EQ(page.loggedInPill().get_text(), "未登录");
    EXPECT_FALSE(page.engineListError().get_visible()) << "the line goes with the login";
}

} // namespace
} // namespace aurelo::test
