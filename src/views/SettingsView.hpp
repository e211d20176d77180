#pragma once

// The settings page: its cards (engine, languages, phrases, glossary, notifications, appearance,
// account, lock) in a scrolling column, bound to the settings page model and the
// three stores it shares with the main window. Shown in the settings window and in the main
// window's settings panel; each instance runs the page's start task when it is created, so the
// owners create a fresh one every time the page is shown.

#include "models/QuickReplyStore.hpp"
#include "platform/NotificationCenter.hpp"
#include "viewmodels/SettingsViewModel.hpp"

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/passwordentry.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/stringlist.h>
#include <gtkmm/switch.h>

#include <vector>

namespace aurelo {

class SettingsView : public Gtk::ScrolledWindow {
public:
    // Without `quickReplies`, the page has no "常用语" card.
    // Without `fetchGlossary`, the "术语表" card stays empty.
    SettingsView(SettingsStore& settings, AccountStore& account, AppLockStore& appLock,
                 NotificationCenter& notifications, QuickReplyStore* quickReplies = nullptr,
                 SettingsGlossaryModel::Fetch fetchGlossary = {});
    ~SettingsView() override;

    SettingsViewModel& model() { return m_model; }
    // For the widget tests.
    Gtk::Button& validateButton() { return m_validate; }
    Gtk::PasswordEntry& currentLockPasswordField() { return m_currentPassword; }
    Gtk::Button& lockButton() { return m_lockButton; }
    Gtk::Label& lockMessage() { return m_lockMessage; }
    Gtk::DropDown& providerPicker() { return m_provider; }
    Gtk::Label& providerFallback() { return m_providerFallback; }
    Gtk::Label& engineListError() { return m_engineListError; }
    Gtk::Label& notificationPill() { return m_notificationPill; }
    Gtk::Label& loggedInPill() { return m_loggedIn; }
    Gtk::Button& logoutButton() { return m_logout; }

private:
    void engineCard(Gtk::Box& column);
    void languageCard(Gtk::Box& column);
    void notificationCard(Gtk::Box& column);
    void appearanceCard(Gtk::Box& column);
    // A picker of one of the view model's lists of choices, in a row named `name`.
    template <typename T>
    void choiceRow(Gtk::Box& card, Gtk::DropDown& picker, const char* name,
                   const std::vector<T>& (*values)(), std::string (*label)(T),
                   void (SettingsViewModel::*choose)(T));
    void accountCard(Gtk::Box& column);
    void lockCard(Gtk::Box& column);
    void quickReplyCard(Gtk::Box& column, QuickReplyStore& replies);
    void glossaryCard(Gtk::Box& column);

    void showSettings(SettingsStore::Field field);
    void showProviders();
    void showNotifications();
    void showLock();
    void showLockFields();
    void showAccount();
    void showEngineListError();

    SettingsViewModel m_model;
    // Set while the page writes into its own controls, so that the writes do not come back as
    // user choices.
    bool m_syncing = false;

    Glib::RefPtr<Gtk::StringList> m_providerNames =
        Gtk::StringList::create(std::vector<Glib::ustring>{});
    Gtk::DropDown m_provider{m_providerNames};
    // The current engine by name while the account does not offer it (the picker would show
    // nothing selected).
    Gtk::Label m_providerFallback;
    Gtk::Label m_engineListError;
    std::vector<SettingsViewModel::OfferedEngine> m_providerChoices;
    Gtk::Button m_validate;
    Gtk::Image m_statusIcon;
    Gtk::Label m_statusMessage;

    Gtk::DropDown m_inputLanguage;
    Gtk::DropDown m_outgoingLanguage;
    Gtk::DropDown m_incomingLanguage;
    Gtk::DropDown m_target;
    Gtk::Switch m_automaticTranslation;

    Gtk::Label m_notificationPill;
    Gtk::Button m_notificationButton;
    // "定时勿扰": on or off, and its daily period in half hours.
    Gtk::Switch m_quietHours;
    Gtk::DropDown m_quietFrom;
    Gtk::DropDown m_quietTo;

    Gtk::DropDown m_appearance;
    Gtk::DropDown m_renderingMode;
    Gtk::DropDown m_pageMemoryLimit;

    Gtk::Label m_loggedIn;
    Gtk::Label m_username;
    Gtk::Button m_logout;

    Gtk::Label m_lockPill;
    Gtk::PasswordEntry m_currentPassword;
    Gtk::PasswordEntry m_newPassword;
    Gtk::PasswordEntry m_confirmPassword;
    Gtk::Label m_lockMessage;
    Gtk::Button m_lockButton;

    std::vector<sigc::connection> m_connections;
};

} // namespace aurelo
