// Every screen walked as assistive technology meets it — the login view, the main window and its
// panels, each sheet and dialog, the settings window and the lock screen — failing on any control
// the keyboard can reach that has no accessible name. Screen readers announce such a control by
// its type alone ("button"), and UI tests over the AT-SPI bus cannot find it.
//
// The names are read from each widget's accessible context in-process (GTK's own test accessors
// of GtkAccessible), which is what GTK hands to the AT-SPI bus.

#include "app/LoginView.hpp"
#include "app/MainViewHarness.hpp"
#include "support/FakeNotificationCenter.hpp"
#include "viewmodels/AccountFieldsForm.hpp"
#include "views/CloseDialog.hpp"
#include "views/LockScreen.hpp"
#include "views/NewAccountSheet.hpp"
#include "views/SessionSettingsSheet.hpp"
#include "views/SessionTab.hpp"
#include "views/SettingsWindow.hpp"
#include "views/WebsiteDialog.hpp"

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <set>

namespace aurelo::test {
namespace {

// The accessible name GTK gives assistive technology, or nothing: the "label" property when it
// is set and not empty, or the labels a "labelled-by" relation points to.
std::optional<std::string> accessibleName(GtkWidget* widget) {
    auto* accessible = GTK_ACCESSIBLE(widget);
    if (gtk_test_accessible_has_property(accessible, GTK_ACCESSIBLE_PROPERTY_LABEL)) {
        // The check answers with the actual value when it differs from the one given.
        char* differs =
            gtk_test_accessible_check_property(accessible, GTK_ACCESSIBLE_PROPERTY_LABEL, "");
        if (differs) {
            std::string name(differs);
            g_free(differs);
            return name;
        }
    }
    if (gtk_test_accessible_has_relation(accessible, GTK_ACCESSIBLE_RELATION_LABELLED_BY))
        return "(labelled)";
    return std::nullopt;
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

// The control's type, its tooltip and the types of its ancestors up to its window's title.
std::string describe(GtkWidget* widget) {
    std::string text = G_OBJECT_TYPE_NAME(widget);
    if (const char* tooltip = gtk_widget_get_tooltip_text(widget))
        text += " tooltip “" + std::string(tooltip) + "”";
    int depth = 0;
    for (GtkWidget* parent = gtk_widget_get_parent(widget); parent;
         parent = gtk_widget_get_parent(parent)) {
        if (GTK_IS_WINDOW(parent)) {
            const char* title = gtk_window_get_title(GTK_WINDOW(parent));
            text += " in “" + std::string(title ? title : "") + "”";
            break;
        }
        if (depth++ < 5)
            text += std::string(" < ") + G_OBJECT_TYPE_NAME(parent);
    }
    return text;
}

// Every reachable control under `root` without a name, described for the failure message.
void collectNameless(GtkWidget* root, std::set<std::string>& found) {
    if (!gtk_widget_get_visible(root) || !gtk_widget_get_child_visible(root))
        return;
    if (reachable(root) && !accessibleName(namedControl(root)))
        found.insert(describe(namedControl(root)));
    for (GtkWidget* child = gtk_widget_get_first_child(root); child;
         child = gtk_widget_get_next_sibling(child))
        collectNameless(child, found);
}

// Lets the screen settle, then walks every visible window of the application.
std::set<std::string> namelessOnScreen() {
    runMainLoopFor(150ms);
    std::set<std::string> found;
    for (auto* window : Gtk::Window::list_toplevels())
        if (window->get_visible())
            collectNameless(GTK_WIDGET(window->gobj()), found);
    return found;
}

std::string listed(const std::set<std::string>& found) {
    std::string text;
    for (const auto& item : found)
        text += "\n  " + item;
    return text;
}

class AccessibleNames : public MainViewHarness {
protected:
    void expectAllNamed(const char* screen) {
        const auto found = namelessOnScreen();
        EXPECT_TRUE(found.empty())
            << screen << ": controls without an accessible name:" << listed(found);
    }
    void closeOtherWindows() {
        for (auto* other : Gtk::Window::list_toplevels())
            if (other != window.get() && other->get_visible())
                other->close();
        runMainLoopFor(100ms);
    }
};

TEST_F(AccessibleNames, LoginView) {
    UserDefaults loginDefaults{home.path() / "login.json"};
    AccountStore loginAccount{loginDefaults, keychain, service.origin(), httpSession};
    Gtk::Window login;
    login.set_title("登录");
    login.set_child(*Gtk::make_managed<LoginView>(loginAccount));
    login.present();
    expectAllNamed("login view");
    login.destroy();
}

TEST_F(AccessibleNames, MainWindowPanelsSheetsAndLockScreen) {
    site.setFallback("/chat", ScriptedAnswer::text(200, "<title>chat</title><input>", "text/html"));
    open(siteAccount("/chat"), "无障碍名称");
    ASSERT_TRUE(runMainLoopUntil([&] { return site.requestCount("/chat") > 0; }, 30s));
    expectAllNamed("main window");

    model->setShowAppCenter(true);
    expectAllNamed("app centre");
    model->closePanels();
    model->setShowAppCenter(false);

    model->openSettingsPanel();
    expectAllNamed("settings panel");
    model->closePanels();

    // The new-account sheet, section by section, the proxy fields switched on.
    model->addPlatform(platformEntries().front());
    auto* sheet = toplevelTitled<NewAccountSheet>("新增 " + platformEntries().front().name);
    ASSERT_TRUE(sheet);
    for (auto section :
         {NewSessionForm::SetupSection::Basic, NewSessionForm::SetupSection::Translation,
          NewSessionForm::SetupSection::Proxy, NewSessionForm::SetupSection::Appearance}) {
        g_signal_emit_by_name(sheet->sectionButton(section).gobj(), "clicked");
        if (section == NewSessionForm::SetupSection::Proxy) {
            sheet->proxySwitch().set_active(true);
            runMainLoopFor(100ms);
            // Where the proxy is set, the sheet says which traffic does not take it.
            EXPECT_TRUE(findWidget<Gtk::Label>(*sheet, [](Gtk::Label& label) {
                return label.get_mapped() &&
                       label.get_text() ==
                           Glib::ustring(std::string(AccountFieldsForm::kProxyScopeNote));
            })) << "the new-account sheet says which traffic does not take the proxy";
        }
        expectAllNamed(std::string("new-account sheet, section ")
                           .append(NewSessionForm::kSetupSectionTitles[std::size_t(section)])
                           .c_str());
    }
    closeOtherWindows();

    model->addPlatform(platformEntries().back());
    ASSERT_TRUE(toplevelTitled<WebsiteDialog>("添加自定义网站"));
    expectAllNamed("website dialog");
    closeOtherWindows();

    auto* tab = findWidget<SessionTab>(*view);
    ASSERT_TRUE(tab);
    ASSERT_TRUE(tab->activate_action("tab.session-settings"));
    auto* settingsSheet = toplevelTitled<SessionSettingsSheet>("账号独立设置");
    ASSERT_TRUE(settingsSheet);
    expectAllNamed("account settings sheet");
    EXPECT_TRUE(findWidget<Gtk::Label>(*settingsSheet, [](Gtk::Label& label) {
        return label.get_mapped() &&
               label.get_text() == Glib::ustring(std::string(AccountFieldsForm::kProxyScopeNote));
    })) << "the account settings sheet says which traffic does not take the proxy";
    closeOtherWindows();

    model->beginRename(store->sessions().front().id);
    ASSERT_TRUE(toplevelTitled("修改 WhatsApp 名称"));
    expectAllNamed("rename dialog");
    closeOtherWindows();

    model->askToDelete(store->sessions().front());
    runMainLoopFor(200ms);
    expectAllNamed("delete confirmation");
    model->cancelDelete();
    closeOtherWindows();

    CloseDialog closeDialog(*window);
    closeDialog.present();
    expectAllNamed("close dialog");
    closeDialog.hide();

    model->requestApplicationLock();
    runMainLoopFor(200ms);
    expectAllNamed("lock password setup");
    model->cancelLockSetup();
    closeOtherWindows();

    ASSERT_TRUE(model->saveLockSetup("2468", "2468"));
    expectAllNamed("lock screen");
    EXPECT_TRUE(findWidget<LockScreen>(*view)->get_mapped());
}

TEST_F(AccessibleNames, SettingsWindow) {
    FakeNotificationCenter notifications;
    makeStores(siteAccount("/chat"));
    SettingsWindow settingsWindow(*settings, *account, appLock, notifications);
    settingsWindow.showPage();
    ASSERT_TRUE(runMainLoopUntil([&] { return settingsWindow.page()->get_mapped(); }, 5s));
    expectAllNamed("settings window");
    settingsWindow.destroy();
}

} // namespace
} // namespace aurelo::test
