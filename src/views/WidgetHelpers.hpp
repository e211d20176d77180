#pragma once

#include <gtkmm/passwordentry.h>
#include <gtkmm/widget.h>

#include <functional>

namespace aurelo {

// The name assistive technology announces for a control (its label, or a field's meaning).
void setAccessibleLabel(Gtk::Widget& widget, const Glib::ustring& label);

// Return in a password field; gtkmm 4.8 does not wrap the field's "activate" signal. The
// handler lives as long as the field.
void onPasswordActivate(Gtk::PasswordEntry& entry, std::function<void()> handler);

} // namespace aurelo
