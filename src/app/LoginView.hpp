#pragma once

// Asks for the account an administrator created; the login itself, its errors and its busy
// state belong to the account store.

#include "models/AccountStore.hpp"

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/entry.h>
#include <gtkmm/label.h>
#include <gtkmm/passwordentry.h>
#include <gtkmm/spinner.h>

namespace aurelo {

class LoginView : public Gtk::Box {
public:
    explicit LoginView(AccountStore& account);
    ~LoginView() override;

    Gtk::Entry& usernameField() { return m_username; }
    Gtk::PasswordEntry& passwordField() { return m_password; }
    Gtk::Button& loginButton() { return m_button; }
    Gtk::Label& errorLabel() { return m_error; }

private:
    void submit();
    void refresh();

    AccountStore& m_account;
    Gtk::Entry m_username;
    Gtk::PasswordEntry m_password;
    Gtk::Label m_error;
    Gtk::Button m_button;
    Gtk::Label m_buttonLabel{"登录"};
    Gtk::Spinner m_spinner;
    sigc::connection m_accountConnection;
};

} // namespace aurelo
