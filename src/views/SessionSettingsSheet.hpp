#pragma once

#include "views/ChoicePicker.hpp"
#include "views/SessionFormModel.hpp"

#include <gtkmm/button.h>
#include <gtkmm/entry.h>
#include <gtkmm/label.h>
#include <gtkmm/window.h>

namespace aurelo {

// "账号独立设置": the selected account's languages, engine and proxy. Shown while
// `showingSessionSettings` is set; closing it any way clears that flag without saving.
class SessionSettingsSheet : public Gtk::Window {
public:
    SessionSettingsSheet(SessionFormModel& form, Gtk::Window* parent);
    ~SessionSettingsSheet() override;

    void syncVisibility();

    ChoicePicker& proxyTypePicker() { return m_proxyType; }
    Gtk::Entry& proxyHostField() { return m_proxyHost; }
    Gtk::Entry& proxyPortField() { return m_proxyPort; }
    Gtk::Label& errorLabel() { return m_error; }
    Gtk::Button& saveButton() { return m_save; }

private:
    void refresh();

    SessionFormModel& m_form;
    bool m_syncing = false;
    ChoicePicker m_inputLanguage;
    ChoicePicker m_outgoingLanguage;
    ChoicePicker m_incomingLanguage;
    ChoicePicker m_ownMessageLanguage;
    ChoicePicker m_provider;
    ChoicePicker m_proxyType;
    Gtk::Entry m_proxyHost;
    Gtk::Entry m_proxyPort;
    Gtk::Label m_error;
    Gtk::Button m_cancel{"取消"};
    Gtk::Button m_save{"保存并重新载入"};
    sigc::connection m_formConnection;
};

} // namespace aurelo
