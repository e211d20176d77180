#pragma once

#include "viewmodels/SessionSettingsForm.hpp"
#include "views/FormSheet.hpp"
#include "views/ProxyFields.hpp"
#include "views/SessionPickers.hpp"

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/entry.h>
#include <gtkmm/label.h>
#include <gtkmm/switch.h>

namespace aurelo {

// "账号独立设置": the selected account's languages, engine and proxy.
class SessionSettingsSheet : public FormSheet {
public:
    SessionSettingsSheet(SessionSettingsForm& form, Gtk::Window* parent);

    ChoicePicker& providerPicker() { return m_pickers.provider; }
    ChoicePicker& proxyTypePicker() { return m_pickers.proxyType; }
    ProxyFields& proxyFields() { return m_proxy; }
    Gtk::Entry& addressField() { return m_address; }
    Gtk::Label& schemeNoteLine() { return m_schemeNote; }
    Gtk::DropDown& hibernationField() { return m_hibernation; }
    Gtk::Switch& spellCheckingField() { return m_spellChecking; }
    Gtk::Switch& notificationsField() { return m_notifications; }
    Gtk::Label& errorLabel() { return m_error; }
    Gtk::Button& saveButton() { return m_save; }

private:
    void redraw() override;
    // A per-account switch: named for screen readers, and passed on to the form when flipped.
    void bindSwitch(Gtk::Switch& toggle, const Glib::ustring& name,
                    bool (SessionSettingsForm::*get)() const,
                    void (SessionSettingsForm::*set)(bool));

    SessionSettingsForm& m_form;
    SessionPickers m_pickers;
    Gtk::Box* m_website = nullptr;
    Gtk::Entry m_address;
    Gtk::Label m_schemeNote;
    ProxyFields m_proxy;
    Gtk::DropDown m_hibernation;
    Gtk::Switch m_spellChecking;
    Gtk::Switch m_notifications;
    Gtk::Label m_error;
    Gtk::Button m_cancel{"取消"};
    Gtk::Button m_save{"保存并重新载入"};
};

} // namespace aurelo
