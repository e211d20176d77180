// The shell's smaller widgets under the virtual display: the login view, the close dialog, the
// session-switch menu, tab drops and the quick-settings strip.

#include "app/LoginView.hpp"
#include "app/SessionSwitchMenu.hpp"
#include "platform/Text.hpp"
#include "views/CloseDialog.hpp"
#include "views/QuickSettingsStrip.hpp"
#include "views/SessionTab.hpp"

#include "WidgetTestSupport.hpp"

namespace aurelo::test {
namespace {

using ShellWidgets = WidgetTest;

TEST_F(ShellWidgets, LoginButtonNeedsBothFieldsAndTheServiceErrorKeepsWhatWasTyped) {
    auto* view = Gtk::make_managed<LoginView>(account);
    present(*view);
    EXPECT_FALSE(view->loginButton().get_sensitive());
    view->usernameField().set_text(" ");
    EXPECT_FALSE(view->loginButton().get_sensitive());
    view->passwordField().set_text(" ");
    EXPECT_TRUE(view->loginButton().get_sensitive()) << "spaces count as filled";
    EXPECT_FALSE(view->errorLabel().get_visible());

    auto refusal = ScriptedAnswer::json(401, {{"error", "账号或密码错误"}});
    refusal.delay = 150ms;
    fake.enqueue("/api/auth/login", refusal);
    view->usernameField().set_text("alice");
    view->passwordField().set_text("wrong");
    click(view->loginButton());
    EXPECT_FALSE(view->loginButton().get_sensitive()) << "no second login while one runs";
    ASSERT_TRUE(runMainLoopUntil([&] { return !account.isWorking(); }));
    EXPECT_TRUE(view->errorLabel().get_visible());
    EXPECT_EQ(view->errorLabel().get_text(), "账号或密码错误");
    EXPECT_EQ(view->usernameField().get_text(), "alice");
    EXPECT_EQ(view->passwordField().get_text(), "wrong");
    EXPECT_TRUE(view->loginButton().get_sensitive());
}

TEST_F(ShellWidgets, CloseDialogHidesOnReturn) {
    Gtk::Window parent;
    CloseDialog dialog(parent);
    // The default response is what Return chooses.
    std::optional<int> response;
    dialog.signal_response().connect([&](int r) { response = r; });
    dialog.present();
    gtk_widget_activate_default(GTK_WIDGET(dialog.gobj()));
    ASSERT_TRUE(runMainLoopUntil([&] { return response.has_value(); }, 3s));
    EXPECT_EQ(*response, CloseDialog::Hide);
    dialog.hide();
    parent.destroy();
}

TEST_F(ShellWidgets, SessionMenuHoldsTheFirstNineAndEachKeyReachesOneSession) {
    // Keyboard shortcuts need a registered application.
    static const bool registered = widgetTestApplication().register_application();
    ASSERT_TRUE(registered);
    Gtk::Application& application = widgetTestApplication();
    for (int i = 2; i <= 11; ++i)
        addSession("客服" + std::to_string(i));
    SessionSwitchMenu menu;
    auto menubar = menu.rebuild(application, store.sessions());
    ASSERT_EQ(menubar->get_n_items(), 1);
    auto submenu = menubar->get_item_link(0, Gio::MenuModel::Link::SUBMENU);
    ASSERT_TRUE(submenu);
    ASSERT_EQ(submenu->get_n_items(), 9);
    const Glib::VariantBase label =
        submenu->get_item_attribute(8, Gio::MenuModel::Attribute::LABEL, Glib::VARIANT_TYPE_STRING);
    EXPECT_EQ(Glib::VariantBase::cast_dynamic<Glib::Variant<Glib::ustring>>(label).get(),
              "9. 客服9");
    const std::string first = store.sessions()[0].id;
    const auto accels = [&](const std::string& id) {
        return application.get_accels_for_action(SessionSwitchMenu::actionFor(id));
    };
    // GTK reports <Primary> as the key it stands for here.
    EXPECT_EQ(accels(first), std::vector<Glib::ustring>{"<Control>1"});
    EXPECT_TRUE(accels(store.sessions()[9].id).empty());

    // After a reorder the key belongs to the new first tab only.
    store.move(store.sessions()[3].id, first);
    menu.rebuild(application, store.sessions());
    const auto actions = application.get_actions_for_accel("<Primary>1");
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_NE(actions[0].raw().find(store.sessions()[0].id), std::string::npos);
    EXPECT_EQ(accels(first), std::vector<Glib::ustring>{"<Control>2"});
}

TEST_F(ShellWidgets, TabDropMovesOnlyForASessionID) {
    const std::string first = store.sessions()[0].id;
    const std::string second = addSession("客服二").id;
    LogoCache logos{directory.path() / "logos", nullptr};
    SessionTab tab(model, logos, store.sessions()[0], true);
    // The tab's own drop target, as a drag from anywhere would reach it.
    GtkDropTarget* target = nullptr;
    auto controllers = Glib::wrap(gtk_widget_observe_controllers(GTK_WIDGET(tab.gobj())));
    for (guint i = 0; i < g_list_model_get_n_items(controllers->gobj()); ++i) {
        GObject* controller = G_OBJECT(g_list_model_get_item(controllers->gobj(), i));
        if (GTK_IS_DROP_TARGET(controller))
            target = GTK_DROP_TARGET(controller);
        g_object_unref(controller);
    }
    ASSERT_NE(target, nullptr);
    const auto drop = [&](const std::string& text) {
        Glib::Value<Glib::ustring> value;
        value.init(value.value_type());
        value.set(text);
        gboolean accepted = FALSE;
        g_signal_emit_by_name(target, "drop", value.gobj(), 1.0, 1.0, &accepted);
        return accepted == TRUE;
    };
    EXPECT_FALSE(drop("https://example.com/not-a-tab"));
    EXPECT_FALSE(drop(""));
    EXPECT_EQ(store.sessions()[0].id, first);
    EXPECT_TRUE(drop(text::asciiLowercased(second)))
        << "an id in lower case is still the session's";
    EXPECT_EQ(store.sessions()[0].id, second);
}

// The strip edits the selected account only, shows another account's own values when it is
// selected, and shows send translation off where pages do not translate before sending.
TEST_F(ShellWidgets, QuickStripEditsTheSelectedAccountAndFollowsTheSelection) {
    const std::string whatsApp = store.sessions()[0].id;
    const std::string telegram = addSession("电报", "https://web.telegram.org/a/").id;
    const std::string other = addSession("客服二").id;
    const auto session = [&](const std::string& id) {
        return *std::ranges::find(store.sessions(), id, &ChatSession::id);
    };
    store.select(whatsApp);
    auto* strip = Gtk::make_managed<QuickSettingsStrip>(model);
    present(*strip);

    auto switches = findWidgets<Gtk::Switch>(*strip);
    ASSERT_EQ(switches.size(), 3u); // send, group, receive
    Gtk::Switch* send = switches[0];
    EXPECT_TRUE(send->get_active());
    send->set_active(false);
    EXPECT_EQ(session(whatsApp).sendTranslationEnabled, false);
    auto languages = findWidgets<ChoicePicker>(*strip);
    // the open conversation's override on the summary line (hidden here), then input,
    // outgoing and incoming
    ASSERT_EQ(languages.size(), 4u);
    ChoicePicker* outgoing = languages[2];
    outgoing->set_selected(2); // after 跟随客户语言 and English: Spanish
    EXPECT_EQ(session(whatsApp).outgoingLanguageCode, "es");
    EXPECT_TRUE(labelShowing(*strip, "收到 → 简体中文   ·   发送 → 西班牙语"));

    store.select(other);
    EXPECT_TRUE(send->get_active());
    EXPECT_EQ(outgoing->value(), "en");
    EXPECT_FALSE(session(other).sendTranslationEnabled.has_value());
    EXPECT_FALSE(session(other).outgoingLanguageCode.has_value());
    EXPECT_EQ(session(whatsApp).outgoingLanguageCode, "es");

    ChatSession withSend = session(telegram);
    withSend.sendTranslationEnabled = true;
    store.updateSession(withSend);
    store.select(telegram);
    EXPECT_FALSE(send->get_sensitive());
    EXPECT_FALSE(send->get_active()) << "shown as off, since it never runs there";
    EXPECT_EQ(std::string(send->get_tooltip_text()), std::string(kSendTranslationUnavailableNote));
    EXPECT_EQ(session(telegram).sendTranslationEnabled, true) << "the choice is kept";
    store.select(other);
    EXPECT_TRUE(send->get_sensitive());
    EXPECT_EQ(send->get_tooltip_text(), "");
}

} // namespace
} // namespace aurelo::test
