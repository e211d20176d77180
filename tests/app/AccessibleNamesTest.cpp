// Every screen walked for controls the keyboard reaches that have no accessible name: screen
// readers announce such a control by its type alone ("button"). The names are read in-process
// with GTK's test accessors, from what GTK hands to the AT-SPI bus.

#include "app/LoginView.hpp"
#include "support/FakeNotificationCenter.hpp"
#include "viewmodels/AccountFieldsForm.hpp"
#include "views/CloseDialog.hpp"
#include "views/LockScreen.hpp"
#include "views/NewAccountSheet.hpp"
#include "views/SessionTab.hpp"
#include "views/SettingsWindow.hpp"

#include "WidgetTestSupport.hpp"

#include <set>

namespace aurelo::test {
namespace {

// Whether assistive technology gets a name for the widget: the "label" property set and not
// empty, or a "labelled-by" relation.
bool named(GtkWidget* widget) {
    auto* accessible = GTK_ACCESSIBLE(widget);
    if (gtk_test_accessible_has_relation(accessible, GTK_ACCESSIBLE_RELATION_LABELLED_BY))
        return true;
    if (!gtk_test_accessible_has_property(accessible, GTK_ACCESSIBLE_PROPERTY_LABEL))
        return false;
    // The check answers with the actual value when it differs from the one given.
    char* differs =
        gtk_test_accessible_check_property(accessible, GTK_ACCESSIBLE_PROPERTY_LABEL, "");
    const bool notEmpty = differs != nullptr;
    g_free(differs);
    return notEmpty;
}

// The widget assistive technology names for `widget`: composite controls name the whole
// (a drop-down, a menu button, an entry), not the button or text field inside them.
// A web view is one document to them, whatever WebKit puts inside it.
GtkWidget* namedControl(GtkWidget* widget) {
    int depth = 0;
    for (GtkWidget* parent = gtk_widget_get_parent(widget); parent && depth < 5;
         parent = gtk_widget_get_parent(parent), ++depth)
        if (GTK_IS_DROP_DOWN(parent) || GTK_IS_MENU_BUTTON(parent) || GTK_IS_ENTRY(parent) ||
            GTK_IS_PASSWORD_ENTRY(parent) || GTK_IS_SEARCH_ENTRY(parent) ||
            GTK_IS_SPIN_BUTTON(parent) || GTK_IS_COLOR_BUTTON(parent) ||
            GTK_IS_FONT_BUTTON(parent) || GTK_IS_SCALE_BUTTON(parent) || WEBKIT_IS_WEB_VIEW(parent))
            return parent;
    return widget;
}

bool reachable(GtkWidget* widget);

bool anyReachableInside(GtkWidget* widget) {
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child;
         child = gtk_widget_get_next_sibling(child))
        if (reachable(child) || anyReachableInside(child))
            return true;
    return false;
}

// Whether the keyboard can reach the widget now: shown on screen, sensitive and focusable. A
// scrolled window is a stop of its own only when nothing inside it can take the focus.
bool reachable(GtkWidget* widget) {
    const bool focusable = gtk_widget_get_mapped(widget) && gtk_widget_is_sensitive(widget) &&
                           gtk_widget_get_focusable(widget) && gtk_widget_get_can_focus(widget) &&
                           gtk_widget_get_child_visible(widget);
    if (focusable && GTK_IS_SCROLLED_WINDOW(widget))
        return !anyReachableInside(widget);
    return focusable;
}

// The control's type, its tooltip, its parent's type and its window's title.
std::string describe(GtkWidget* widget) {
    const char* tooltip = gtk_widget_get_tooltip_text(widget);
    GtkWidget* parent = gtk_widget_get_parent(widget);
    const char* title = gtk_window_get_title(GTK_WINDOW(gtk_widget_get_root(widget)));
    return std::string(G_OBJECT_TYPE_NAME(widget)) + " “" + (tooltip ? tooltip : "") + "” < " +
           (parent ? G_OBJECT_TYPE_NAME(parent) : "") + " in “" + (title ? title : "") + "”";
}

void collectNameless(GtkWidget* root, std::set<std::string>& found) {
    if (!gtk_widget_get_visible(root) || !gtk_widget_get_child_visible(root))
        return;
    if (reachable(root) && !named(namedControl(root)))
        found.insert(describe(namedControl(root)));
    for (GtkWidget* child = gtk_widget_get_first_child(root); child;
         child = gtk_widget_get_next_sibling(child))
        collectNameless(child, found);
}

std::set<std::string> namelessOnScreen() {
    runMainLoopFor(150ms);
    std::set<std::string> found;
    for (auto* window : Gtk::Window::list_toplevels())
        if (window->get_visible())
            collectNameless(GTK_WIDGET(window->gobj()), found);
    return found;
}

using AccessibleNames = MainViewTest;

TEST_F(AccessibleNames, EveryScreenNamesEveryControlTheKeyboardReaches) {
    using Section = NewSessionForm::SetupSection;
    site.setFallback("/chat", ScriptedAnswer::text(200, "<title>chat</title><input>", "text/html"));
    const std::string first = firstAccountAt("/chat");
    openMainView();
    ASSERT_TRUE(runMainLoopUntil([&] { return site.requestCount("/chat") > 0; }, 30s));
    Gtk::Window login;
    login.set_title("登录");
    login.set_child(*Gtk::make_managed<LoginView>(account));
    FakeNotificationCenter notifications;
    SettingsWindow settingsWindow(settings, account, appLock, notifications);
    CloseDialog closeDialog(*window);

    const std::string newAccountTitle = "新增 " + platformEntries().front().name;
    // The new-account sheet at one section, with the proxy switched on in its own section.
    const auto newAccount = [&](Section section) {
        return [&, section] {
            model.addPlatform(platformEntries().front());
            if (auto* sheet = toplevelTitled<NewAccountSheet>(newAccountTitle)) {
                click(sheet->sectionButton(section));
                sheet->proxySwitch().set_active(section == Section::Proxy);
            }
        };
    };
    struct Screen {
        const char* name;
        std::function<void()> open;
        std::string window = {};   // the window it opens, if any
        std::string mustShow = {}; // a text it must show, if any
    };
    // Where the proxy is set, the sheets say which traffic does not take it.
    const std::string note(AccountFieldsForm::kProxyScopeNote);
    const Screen screens[] = {
        {"main window", [] {}},
        {"app centre", [&] { model.setShowAppCenter(true); }},
        {"settings panel", [&] { model.openSettingsPanel(); }},
        {"new-account sheet, basics", newAccount(Section::Basic), newAccountTitle},
        {"new-account sheet, translation", newAccount(Section::Translation), newAccountTitle},
        {"new-account sheet, proxy", newAccount(Section::Proxy), newAccountTitle, note},
        {"new-account sheet, appearance", newAccount(Section::Appearance), newAccountTitle},
        {"website dialog", [&] { model.addPlatform(platformEntries().back()); }, "添加自定义网站"},
        {"account settings sheet",
         [&] { findWidget<SessionTab>(*view)->activate_action("tab.session-settings"); },
         "账号独立设置", note},
        // The account is on a loopback site, a custom website: the dialog names the account.
        {"rename dialog", [&] { model.beginRename(first); }, "修改 WhatsApp 1 名称"},
        {"delete confirmation", [&] { model.askToDelete(store.sessions().front()); }},
        {"close dialog", [&] { closeDialog.present(); }},
        {"lock password setup", [&] { model.requestApplicationLock(); }},
        {"login view", [&] { login.present(); }, "登录"},
        {"settings window", [&] { settingsWindow.showPage(); }, "设置"},
        {"lock screen", [&] { ASSERT_TRUE(model.saveLockSetup("2468", "2468")); }},
    };
    for (const auto& screen : screens) {
        SCOPED_TRACE(screen.name);
        screen.open();
        if (!screen.window.empty()) {
            ASSERT_TRUE(toplevelTitled(screen.window));
        }
        for (const auto& control : namelessOnScreen())
            ADD_FAILURE() << "no accessible name: " << control;
        if (!screen.mustShow.empty()) {
            EXPECT_TRUE(std::ranges::any_of(Gtk::Window::list_toplevels(), [&](Gtk::Window* w) {
                auto* label = labelShowing(*w, screen.mustShow);
                return label && label->get_mapped();
            })) << screen.mustShow;
        }
        model.setShowAppCenter(false);
        closeEverySheet();
    }
    EXPECT_TRUE(findWidget<LockScreen>(*view)->get_mapped());
}

} // namespace
} // namespace aurelo::test
