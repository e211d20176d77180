#pragma once

// The application: one instance per desktop session ("com.aurelo.translator"), the stores created
// once, the main window with the login view or the main view, the session-switch menu, and the
// close dialog that hides the window instead of ending every login.

#include "app/SessionSwitchMenu.hpp"
#include "models/AccountStore.hpp"
#include "models/AppLockStore.hpp"
#include "models/SessionStore.hpp"
#include "models/SettingsStore.hpp"
#include "platform/ApplicationNotice.hpp"
#include "platform/DesktopNotificationCenter.hpp"
#include "platform/LauncherEntry.hpp"
#include "platform/LibsecretSecretStore.hpp"
#include "platform/RenderingPolicy.hpp"
#include "platform/UserDefaults.hpp"
#include "viewmodels/MainWindowPreferences.hpp"
#include "viewmodels/UnreadAttention.hpp"
#include "views/LogoCache.hpp"
#include "views/PageShareReport.hpp"
#include "webview/WebEnvironment.hpp"
#include "webview/WebsiteDataStores.hpp"

#include <gtkmm/application.h>
#include <gtkmm/applicationwindow.h>
#include <gtkmm/stack.h>

#include <memory>

namespace aurelo {

class ContentView;
class ContentViewModel;
class LoginView;
class SettingsWindow;

class AureloTranslatorApp : public Gtk::Application {
public:

    // `rendering` is what main() decided before the toolkit started; every page follows it.
    static Glib::RefPtr<AureloTranslatorApp> create(RenderingDecision rendering = {});
    ~AureloTranslatorApp() override;

    // Set once the user chose "完全退出"; closing no longer asks.
    bool isQuitting() const { return m_isQuitting; }

protected:
    explicit AureloTranslatorApp(RenderingDecision rendering);
    void on_startup() override;
    void on_activate() override;

private:
    struct Stores;

    void buildWindow();
    void showLoginOrMain();
    bool onCloseRequest();
    void rebuildSessionMenu();
    void restart();
    void watchEngines();
    void showSettingsWindow();
    bool isLocked() const;
    void followUnreadCount();

    RenderingDecision m_rendering;
    std::unique_ptr<Stores> m_stores;
    Gtk::ApplicationWindow* m_window = nullptr;
    Gtk::Stack* m_stack = nullptr;
    LoginView* m_loginView = nullptr;
    ContentView* m_contentView = nullptr;
    // With AURELO_LAYOUT_REPORT=1, the pages' share of the window's height on standard output.
    std::unique_ptr<PageShareReport> m_pageShareReport;
    std::unique_ptr<ContentViewModel> m_contentModel;
    std::unique_ptr<SettingsWindow> m_settingsWindow;
    std::vector<std::string> m_lastEngineProviders;
    SessionSwitchMenu m_sessionMenu;
    bool m_isQuitting = false;
    std::vector<sigc::connection> m_connections;
};

} // namespace aurelo
