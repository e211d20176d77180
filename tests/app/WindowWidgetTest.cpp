// The main window's controls with real widgets under the virtual display: the session-switch
// menu, tab drops, and the quick-settings strip.

#include "support/ShellTestFixture.hpp"
#include "app/SessionSwitchMenu.hpp"
#include "views/LogoCache.hpp"
#include "views/QuickSettingsStrip.hpp"
#include "views/SessionTab.hpp"

#include "WidgetTestSupport.hpp"

namespace aurelo::test {
namespace {

// Keyboard shortcuts need a registered application.
Gtk::Application& testApplication() {
    static const bool registered = widgetTestApplication().register_application();
    (void)registered;
    return widgetTestApplication();
}

class WindowWidgets : public ShellTestFixture {
protected:
    Gtk::Application& application = testApplication();
    LogoCache logos{directory.path() / "logos", nullptr}; // fetches nothing
};

TEST_F(WindowWidgets, SessionMenuHoldsTheFirstNineAndEachKeyReachesOneSession) {
    for (int i = 2; i <= 11; ++i)
        addSession("客服" + std::to_string(i));
    SessionSwitchMenu menu;
    auto menubar = menu.rebuild(application, store.sessions());
    ASSERT_EQ(menubar->get_n_items(), 1);
    auto submenu = menubar->get_item_link(0, Gio::MenuModel::Link::SUBMENU);
    ASSERT_TRUE(submenu);
    ASSERT_EQ(submenu->get_n_items(), 9);
    const Glib::VariantBase label = submenu->get_item_attribute(
        8, Gio::MenuModel::Attribute::LABEL, Glib::VARIANT_TYPE_STRING);
    EXPECT_EQ(Glib::VariantBase::cast_dynamic<Glib::Variant<Glib::ustring>>(label).get(),
              "9. 客服9");
    const std::string first = store.sessions()[0].id;
    // GTK reports <Primary> as the key it stands for here.
    EXPECT_EQ(application.get_accels_for_action(SessionSwitchMenu::actionFor(first)),
              std::vector<Glib::ustring>{"<Control>1"});
    EXPECT_TRUE(application.get_accels_for_action(
                               SessionSwitchMenu::actionFor(store.sessions()[9].id))
                    .empty());

    // After a reorder the key belongs to the new first tab only.
    store.move(store.sessions()[3].id, first);
    menu.rebuild(application, store.sessions());
    const auto actions = application.get_actions_for_accel("<Primary>1");
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_TRUE(actions[0].raw().find(store.sessions()[0].id) != std::string::npos);
    EXPECT_EQ(application.get_accels_for_action(SessionSwitchMenu::actionFor(first)),
              std::vector<Glib::ustring>{"<Control>2"});
}

TEST_F(WindowWidgets, TabDropMovesOnlyForASessionID) {
    addSession("客服二");
    const auto order = [&] {
        std::vector<std::string> ids;
        for (const auto& s : store.sessions())
            ids.push_back(s.id);
        return ids;
    };
    const auto before = order();
    auto tab = std::make_unique<SessionTab>(model, logos, store.sessions()[0], true);
    // The tab's own drop target, as a drag from anywhere would reach it.
    GtkDropTarget* target = nullptr;
    auto controllers = Glib::wrap(gtk_widget_observe_controllers(GTK_WIDGET(tab->gobj())));
    for (guint i = 0; i < g_list_model_get_n_items(controllers->gobj()); ++i) {
        GObject* controller = G_OBJECT(g_list_model_get_item(controllers->gobj(), i));
        if (GTK_IS_DROP_TARGET(controller))
            target = GTK_DROP_TARGET(controller);
        g_object_unref(controller);
    }
    ASSERT_NE(target, nullptr);
    const auto drop = [&](const char* text) {
        GValue value = G_VALUE_INIT;
        g_value_init(&value, G_TYPE_STRING);
        g_value_set_string(&value, text);
        gboolean accepted = FALSE;
        g_signal_emit_by_name(target, "drop", &value, 1.0, 1.0, &accepted);
        g_value_unset(&value);
        return accepted == TRUE;
    };
    EXPECT_FALSE(drop("https://example.com/not-a-tab"));
    EXPECT_FALSE(drop(""));
    EXPECT_EQ(order(), before);
    std::string lower = before[1];
    std::ranges::transform(lower, lower.begin(),
                           [](char c) { return static_cast<char>(std::tolower(c)); });
    EXPECT_TRUE(drop(lower.c_str())) << "an id in lower case is still the session's";
    EXPECT_EQ(order(), (std::vector<std::string>{before[1], before[0]}));
}

TEST_F(WindowWidgets, QuickStripEditsTheSelectedAccountAndFollowsTheSelection) {
    const std::string firstID = store.sessions()[0].id;
    addSession("客服二");
    store.select(firstID);
    Gtk::Window window;
    auto* strip = Gtk::make_managed<QuickSettingsStrip>(model);
    window.set_child(*strip);
    window.present();

    auto switches = findWidgets<Gtk::Switch>(*strip);
    ASSERT_EQ(switches.size(), 3u); // send, group, receive
    auto* send = switches[0];
    EXPECT_TRUE(send->get_active());
    send->set_active(false);
    EXPECT_EQ(store.sessions()[0].sendTranslationEnabled, false);
    EXPECT_FALSE(store.sessions()[1].sendTranslationEnabled.has_value());

    auto languages = findWidgets<ChoicePicker>(*strip);
    ASSERT_EQ(languages.size(), 3u); // input, outgoing, incoming
    languages[1]->set_selected(1); // the second outgoing language: Spanish
    EXPECT_EQ(store.sessions()[0].outgoingLanguageCode, "es");
    auto labels = findWidgets<Gtk::Label>(*strip);
    EXPECT_TRUE(std::ranges::any_of(labels, [](Gtk::Label* label) {
        return label->get_text() == "收到 → 简体中文   ·   发送 → 西班牙语";
    }));

    // Selecting the other account shows its values and writes nothing back to either.
    store.select(store.sessions()[1].id);
    EXPECT_TRUE(send->get_active());
    EXPECT_EQ(languages[1]->value(), "en");
    EXPECT_FALSE(store.sessions()[1].outgoingLanguageCode.has_value());
    EXPECT_EQ(store.sessions()[0].outgoingLanguageCode, "es");
    window.destroy();
}

} // namespace
} // namespace aurelo::test
