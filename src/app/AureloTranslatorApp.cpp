#include "app/AureloTranslatorApp.hpp"

#include "app/LoginView.hpp"
#include "models/PlatformCatalogue.hpp"
#include "platform/BuildConfig.hpp"
#include "platform/HiddenPagePolicy.hpp"
#include "translation/AureloServiceURL.hpp"
#include "translation/TranslationService.hpp"
#include "views/CloseDialog.hpp"
#include "views/ContentView.hpp"
#include "viewmodels/ContentViewModel.hpp"
#include "viewmodels/SettingsViewModel.hpp"
#include "viewmodels/WindowGeometry.hpp"
#include "views/SettingsWindow.hpp"
#include "webview/WebEngineContext.hpp"
#include "views/Theme.hpp"
#include "web/WebPageCommand.hpp"
#include "webview/AccountLogoFetcher.hpp"
#include "webview/PageNotifications.hpp"

#include <gdkmm/display.h>
#include <gdkmm/monitor.h>
#include <giomm/menu.h>
#include <giomm/simpleaction.h>
#include <glibmm/main.h>
#include <glibmm/miscutils.h>
#include <glibmm/spawn.h>
#include <gtkmm/icontheme.h>
#include <gtkmm/messagedialog.h>

#include <unistd.h>

#include <filesystem>
#include <iostream>

#ifndef AURELO_DATA_DIR
#define AURELO_DATA_DIR ""
#endif

namespace aurelo {


// Everything that lives as long as the process, in the order it is built.
struct AureloTranslatorApp::Stores {
    UserDefaults defaults{UserDefaults::standardLocation()};
    LibsecretSecretStore secrets;
    KeychainStore keychain{secrets};
    LauncherEntry badge;
    WebsiteDataStores dataStores;
    TranslationService translator;
    SessionStore sessions{defaults, &badge, &dataStores};
    ProxyPasswords proxyPasswords{keychain, sessions};
    SettingsStore settings{defaults, keychain, translator};
    AccountStore account{defaults, keychain};
    AppLockStore appLock{keychain};
    DesktopNotificationCenter notifications;
    MainWindowPreferences preferences{defaults};
    QuickReplyStore quickReplies{defaults};
    ApplicationNotice unreadNotice{UnreadAttention::kNoticeID};
    UnreadAttention unread{sessions, preferences, unreadNotice,
                           [this] { return settings.quietHours().coversNow(); }};
    // Logos come only through an account of their platform (its session, its proxy).
    AccountLogoFetcher logoFetcher{
        dataStores,
        [this](const std::string& url) { return accountForLogo(sessions.sessions(), url); },
        LogoCache::standardFolder() / "downloads", LogoCache::kMaximumLogoBytes,
        [this](const std::string& id) { return proxyPasswords.password(id); }};
    LogoCache logos{LogoCache::standardFolder(),
                    [this](const std::string& url, LogoCache::FetchDone done) {
                        return logoFetcher.fetch(url, std::move(done));
                    }};
    // Pages' own notifications, under the account's name and its platform's logo.
    PageNotifications pageNotifications{
        [this](const std::string& id) -> std::optional<PageNotifications::Account> {
            const auto& list = sessions.sessions();
            const auto it = std::ranges::find(list, id, &ChatSession::id);
            if (it == list.end())
                return std::nullopt;
            const auto logo = platformLogoURL(*it);
            return PageNotifications::Account{
                it->name, logo ? LogoCache::fileFor(LogoCache::standardFolder(), *logo)
                               : std::filesystem::path()};
        }};
    WebEnvironment environment{dataStores, translator, sharedHttpSession(), aureloServiceURL(),
                               pageScriptTemplate(), {}, {}, false};
};

AureloTranslatorApp::AureloTranslatorApp(RenderingDecision rendering)
    : Gtk::Application(build::kApplicationId), m_rendering(std::move(rendering)) {}

AureloTranslatorApp::~AureloTranslatorApp() {
    for (auto& connection : m_connections)
        connection.disconnect();
}

Glib::RefPtr<AureloTranslatorApp> AureloTranslatorApp::create(RenderingDecision rendering) {
    return Glib::make_refptr_for_instance(new AureloTranslatorApp(std::move(rendering)));
}

void AureloTranslatorApp::on_startup() {
    Gtk::Application::on_startup();
    Glib::set_application_name("Aurelo翻译器");
    if (auto display = Gdk::Display::get_default()) {
        auto icons = Gtk::IconTheme::get_for_display(display);
        // The bundle's own icons (share/aurelo-translator beside bin/), or the source tree's when
        // the program runs from the build folder.
        char buffer[4096];
        if (ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1); length > 0) {
            std::filesystem::path program(std::string(buffer, std::size_t(length)));
            icons->add_search_path(
                (program.parent_path().parent_path() / "share/aurelo-translator/icons").string());
        }
        if (std::string dir = AURELO_DATA_DIR; !dir.empty())
            icons->add_search_path(dir + "/icons");
    }
    Theme::install();
    // The web processes' memory limits follow the rendering; they are fixed when the first page
    // (through its website data store) creates WebKit's context.
    WebEngineContext::configure(m_rendering.rendering);
    m_stores = std::make_unique<Stores>();
    m_stores->environment.softwareRendering = m_rendering.rendering == Rendering::Software;
    m_stores->environment.pageNotifications = &m_stores->pageNotifications;
    m_stores->environment.quietHoursNow = [&settings = m_stores->settings] {
        return settings.quietHours().coversNow();
    };
    const char* hiding = g_getenv("AURELO_HIDDEN_PAGES");
    m_stores->environment.hiddenPages =
        HiddenPagePolicy::choose(m_rendering.rendering, hiding ? hiding : "");
    // For support: the web inspector (right click → 检查元素) and the console's logged values.
    const char* extras = g_getenv("AURELO_DEVELOPER_EXTRAS");
    m_stores->environment.developerExtras = extras && std::string_view(extras) == "1";
    // Before any window or page exists, so that the first page is built in the stored look.
    m_connections.push_back(Theme::followAppearance(m_stores->settings));

    add_action_with_parameter("show-session", Glib::Variant<Glib::ustring>::variant_type(),
                              [this](const Glib::VariantBase& parameter) {
                                  if (isLocked()) {
                                      // Shows the lock screen; the account stays as it was.
                                      if (m_window)
                                          m_window->present();
                                      return;
                                  }
                                  auto id = Glib::VariantBase::cast_dynamic<
                                                Glib::Variant<Glib::ustring>>(parameter)
                                                .get();
                                  m_stores->sessions.select(id);
                                  if (m_contentModel)
                                      m_contentModel->showSession(id);
                                  if (m_window)
                                      m_window->present();
                              });
    // A click on a page's notification: its account, then the click to the page itself (its
    // own handler opens the conversation). The key comes from the desktop; an unknown one only
    // shows the window.
    add_action_with_parameter(
        PageNotifications::kActionName, Glib::Variant<Glib::ustring>::variant_type(),
        [this](const Glib::VariantBase& parameter) {
            const std::string key =
                Glib::VariantBase::cast_dynamic<Glib::Variant<Glib::ustring>>(parameter).get();
            const auto id = m_stores->pageNotifications.sessionFor(key);
            if (!id) {
                if (m_window)
                    m_window->present();
                return;
            }
            activate_action("show-session", Glib::Variant<Glib::ustring>::create(*id));
            if (!isLocked())
                m_stores->pageNotifications.clicked(key);
        });
    add_action("quit", [this] {
        m_isQuitting = true;
        quit();
    });
    set_accel_for_action("app.quit", "<Primary>q");
    add_action("preferences", [this] {
        if (!isLocked())
            showSettingsWindow();
    });
    set_accel_for_action("app.preferences", "<Primary>comma");

    m_connections.push_back(m_stores->sessions.signalChanged().connect([this](SessionStore::Field f) {
        if (f == SessionStore::Field::Sessions)
            rebuildSessionMenu();
    }));
    m_connections.push_back(m_stores->account.signalChanged().connect([this](AccountStore::Field f) {
        if (f == AccountStore::Field::IsLoggedIn)
            showLoginOrMain();
        if (f == AccountStore::Field::AvailableEngines)
            watchEngines();
    }));
    rebuildSessionMenu();
    m_stores->sessions.updateDockBadge();
}

void AureloTranslatorApp::on_activate() {
    // A second start, or the launcher: show the window we have.
    if (!m_window)
        buildWindow();
    m_window->present();
}

void AureloTranslatorApp::buildWindow() {
    // The application keeps the window (hidden or shown) until it quits.
    m_window = new Gtk::ApplicationWindow();
    followUnreadCount();
    m_window->set_icon_name(build::kApplicationId);
    // Opened at a size that fits the screen: a window larger than the monitor is clipped by
    // some desktops rather than shrunk.
    WindowSize monitor;
    if (auto display = Gdk::Display::get_default()) {
        auto monitors = display->get_monitors();
        if (monitors && monitors->get_n_items() > 0)
            if (auto first = std::dynamic_pointer_cast<Gdk::Monitor>(monitors->get_object(0))) {
                Gdk::Rectangle geometry;
                first->get_geometry(geometry);
                monitor = {geometry.get_width(), geometry.get_height()};
            }
    }
    const WindowSize opening = WindowGeometry::openingSize(monitor);
    m_window->set_default_size(opening.width, opening.height);
    m_window->set_show_menubar(true);
    m_stack = Gtk::make_managed<Gtk::Stack>();
    m_stack->set_size_request(WindowGeometry::kMinimumSize.width,
                              WindowGeometry::kMinimumSize.height);
    m_stack->set_transition_type(Gtk::StackTransitionType::CROSSFADE);
    m_window->set_child(*m_stack);
    m_window->signal_close_request().connect([this] { return onCloseRequest(); }, false);
    add_window(*m_window);
    showLoginOrMain();
}

void AureloTranslatorApp::showLoginOrMain() {
    if (!m_stack)
        return;
    if (m_stores->account.isLoggedIn()) {
        if (m_loginView) {
            m_stack->remove(*m_loginView);
            m_loginView = nullptr;
        }
        if (m_contentView)
            return;
        m_contentModel = std::make_unique<ContentViewModel>(
            m_stores->sessions, m_stores->settings, m_stores->account, m_stores->appLock,
            m_stores->preferences, m_stores->translator, build::kVersion,
            &m_stores->proxyPasswords);
        m_contentModel->conversationLanguages().persistIn(
            ConversationLanguageStore::standardFolder());
        m_contentView = Gtk::make_managed<ContentView>(*m_contentModel, m_stores->environment,
                                                       m_stores->logos, m_stores->quickReplies,
                                                       [this] { restart(); },
                                                       [this] {
                                                           m_isQuitting = true;
                                                           quit();
                                                       });
        m_stack->add(*m_contentView, "main");
        m_stack->set_visible_child("main");
        if (const char* report = g_getenv("AURELO_LAYOUT_REPORT");
            report && std::string_view(report) == "1")
            m_pageShareReport =
                std::make_unique<PageShareReport>(m_contentView->pageArea(), std::cout);
        return;
    }
    // Logged out: the login view, with empty fields each time.
    if (m_contentView) {
        m_pageShareReport.reset();
        m_stack->remove(*m_contentView);
        m_contentView = nullptr;
        m_contentModel.reset();
    }
    if (!m_loginView) {
        m_loginView = Gtk::make_managed<LoginView>(m_stores->account);
        m_stack->add(*m_loginView, "login");
    }
    m_stack->set_visible_child("login");
}

bool AureloTranslatorApp::onCloseRequest() {
    if (m_isQuitting)
        return false;
    auto* dialog = new CloseDialog(*m_window);
    dialog->signal_response().connect([this, dialog](int response) {
        dialog->hide();
        if (response == CloseDialog::Hide) {
            // The window and every page stay alive; activating the application shows it again.
            m_window->hide();
        } else if (response == CloseDialog::Quit) {
            m_isQuitting = true;
            Glib::signal_idle().connect_once([this] { quit(); });
        }
        Glib::signal_idle().connect_once([dialog] { delete dialog; });
    });
    dialog->present();
    return true;
}

void AureloTranslatorApp::rebuildSessionMenu() {
    auto menubar = m_sessionMenu.rebuild(*this, m_stores->sessions.sessions());
    // The application menu before it: its settings item and the quit command.
    auto application = Gio::Menu::create();
    auto preferences = Gio::MenuItem::create("设置…", "app.preferences");
    preferences->set_attribute_value("accel",
                                     Glib::Variant<Glib::ustring>::create("<Primary>comma"));
    application->append_item(preferences);
    auto quitItem = Gio::MenuItem::create("退出", "app.quit");
    quitItem->set_attribute_value("accel", Glib::Variant<Glib::ustring>::create("<Primary>q"));
    application->append_item(quitItem);
    menubar->prepend_submenu("Aurelo翻译器", application);
    set_menubar(menubar);
}

void AureloTranslatorApp::showSettingsWindow() {
    // One settings window for the application; it hides when closed and is shown again here.
    if (!m_settingsWindow) {
        m_settingsWindow = std::make_unique<SettingsWindow>(
            m_stores->settings, m_stores->account, m_stores->appLock, m_stores->notifications,
            &m_stores->quickReplies);
        add_window(*m_settingsWindow);
    }
    m_settingsWindow->showPage();
}

void AureloTranslatorApp::followUnreadCount() {
    // Stock GNOME shows no launcher badge, so the total is in the title, and in a notification
    // while the window is hidden.
    auto& unread = m_stores->unread;
    m_window->set_title(unread.windowTitle());
    m_connections.push_back(unread.signalTitleChanged().connect(
        [this] { m_window->set_title(m_stores->unread.windowTitle()); }));
    m_connections.push_back(m_window->property_visible().signal_changed().connect(
        [this] { m_stores->unread.setWindowVisible(m_window->get_visible()); }));
}

bool AureloTranslatorApp::isLocked() const {
    // The session menu's accelerators and the settings shortcut are the application's, not the
    // window's, so the lock screen's shutting off of the window does not reach them.
    return m_contentModel && m_contentModel->appLocked();
}

void AureloTranslatorApp::watchEngines() {
    std::vector<std::string> providers;
    for (const auto& engine : m_stores->account.availableEngines())
        providers.push_back(engine.provider);
    if (providers == m_lastEngineProviders)
        return;
    m_lastEngineProviders = providers;
    SettingsViewModel::applyEngineListChange(providers, m_stores->settings);
}

void AureloTranslatorApp::restart() {
    // The new instance must not find this one still holding the application name, or it would
    // only activate it; a small shell waits for this process to end, then starts the program.
    char buffer[4096];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0)
        return;
    const std::string program(buffer, std::size_t(length));
    const std::string pid = std::to_string(getpid());
    std::vector<std::string> argv{"/bin/sh", "-c",
                                  "while kill -0 \"$1\" 2>/dev/null; do sleep 0.1; done; exec \"$2\"",
                                  "aurelo-restart", pid, program};
    try {
        Glib::spawn_async("", argv, Glib::SpawnFlags::DEFAULT);
    } catch (const Glib::Error&) {
        return; // the application stays as it is
    }
    m_isQuitting = true;
    quit();
}

} // namespace aurelo
