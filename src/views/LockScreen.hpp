#pragma once

#include "viewmodels/ContentViewModel.hpp"

#include <gtkmm/box.h>
#include <gtkmm/label.h>
#include <gtkmm/passwordentry.h>

namespace aurelo {

// Covers the whole window while it is locked; the pages keep running underneath.
class LockScreen : public Gtk::Box {
public:
    explicit LockScreen(ContentViewModel& model);
    ~LockScreen() override;

    // Clears the field and puts the focus in it, each time the lock comes on.
    void prepare();

private:
    void unlock();

    ContentViewModel& m_model;
    Gtk::PasswordEntry m_password;
    Gtk::Label m_message;
    sigc::connection m_lockConnection;
};

} // namespace aurelo
