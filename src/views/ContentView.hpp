#pragma once

// The main view once logged in: sidebar, session bar, the pages of every account, the app
// centre, and the lock screen over everything. It binds the view model to widgets and owns the
// sheets and dialogs of the tab actions.

#include "captions/LiveCaptionManager.hpp"
#include "platform/Cancellable.hpp"
#include "platform/DesktopNotificationCenter.hpp"
#include "update/UpdateAlertPresenter.hpp"
#include "update/UpdateManager.hpp"
#include "viewmodels/ContentViewModel.hpp"
#include "views/LogoCache.hpp"
#include "views/LockScreen.hpp"
#include "platform/ApplicationNotice.hpp"
#include "viewmodels/QuickReplyPicker.hpp"
#include "views/WebViewStack.hpp"

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/messagedialog.h>
#include <gtkmm/overlay.h>
#include <gtkmm/window.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace aurelo {

class NewAccountSheet;
class SessionSettingsSheet;
class WebsiteDialog;
class SettingsPanel;

class ContentView : public Gtk::Overlay {
public:
    ContentView(ContentViewModel& model, WebEnvironment& environment, LogoCache& logos,
                QuickReplyStore& quickReplies, std::function<void()> restart,
                std::function<void()> quit);
    ~ContentView() override;

    WebViewStack& pages() { return *m_pages; }
    // The area the pages are shown in, whose height the layout is for.
    Gtk::Widget& pageArea() { return m_content; }

private:
    void bind(ContentViewModel::Field field);
    void updateContentLayers();
    // While locked only the lock screen takes focus and input; everything under it is shut off.
    void applyLock();
    // The focus layout is for working in the page: the keyboard goes there unless it is there.
    void focusPageSoon();
    void showRenameDialog();
    void showDeleteDialog();
    void showLockSetupDialog();
    void syncUpdateAlert();
    void showUpdateAlert();
    void retireUpdateAlert();
    void refreshUpdateButton();
    void addPlatform(const PlatformEntry& entry);
    void addCurrentPlatformSession();
    // The account sheets are made when first shown; they show and hide themselves on the form
    // model's flags from then on.
    void showAccountSheet(ContentViewModel::Field field);
    Gtk::Window* window();

    ContentViewModel& m_model;
    LogoCache& m_logos;
    Gtk::Overlay m_content;
    WebViewStack* m_pages = nullptr;
    Gtk::Widget* m_emptyState = nullptr;
    Gtk::Widget* m_appCenter = nullptr;
    DesktopNotificationCenter m_notifications;
    SettingsPanel* m_settingsPanel = nullptr;
    LiveCaptionManager m_captions;
    QuickReplyPicker m_quickReplies;
    // One notice per account whose page broke while hidden; a newer one replaces it.
    std::map<std::string, std::unique_ptr<ApplicationNotice>> m_healthNotices;
    UpdateManager m_updates;
    Gtk::Button* m_updateButton = nullptr;
    std::unique_ptr<Gtk::MessageDialog> m_updateAlert;
    // Alerts closed or replaced, kept until the next idle turn: a dialog cannot be destroyed
    // inside its own response handler.
    std::vector<std::unique_ptr<Gtk::MessageDialog>> m_retiredAlerts;
    UpdateAlertPresenter m_updateAlertPresenter;
    LockScreen m_lockScreen;
    Gtk::Widget* m_underLock = nullptr;
    // The lock-password sheet's message follows the store while the sheet exists: after the
    // desktop's unlock prompt it changes outside any click. Declared before the sheet, which
    // disconnects it as it goes.
    sigc::connection m_lockSetupMessage;
    std::unique_ptr<Gtk::Window> m_dialog;
    std::unique_ptr<NewAccountSheet> m_newAccountSheet;
    std::unique_ptr<WebsiteDialog> m_websiteDialog;
    std::unique_ptr<SessionSettingsSheet> m_sessionSettingsSheet;
    std::vector<sigc::connection> m_connections;
    // Checked first by the idle callbacks this view schedules.
    Cancellable m_cancellable;
};

} // namespace aurelo
