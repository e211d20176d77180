#pragma once

#include <gtkmm/box.h>
#include <gtkmm/passwordentry.h>
#include <gtkmm/widget.h>
#include <gtkmm/window.h>

#include <functional>
#include <memory>

namespace aurelo {

// The name assistive technology announces for a control (its label, or a field's meaning).
void setAccessibleLabel(Gtk::Widget& widget, const Glib::ustring& label);

// Return in a password field; gtkmm 4.8 does not wrap the field's "activate" signal. The
// handler lives as long as the field.
void onPasswordActivate(Gtk::PasswordEntry& entry, std::function<void()> handler);

// Makes a window a sheet of `parent`: modal, fixed size, hidden (not destroyed) when closed, and
// closed by Escape like every dialog of the desktop. Closing it any way emits its hide signal,
// which is where a sheet drops what was typed.
void configureSheet(Gtk::Window& sheet, Gtk::Window* parent, const Glib::ustring& title);

// A small sheet: a column of widgets and a row of buttons under it.
std::unique_ptr<Gtk::Window> makeSheet(Gtk::Window* parent, const Glib::ustring& title,
                                       Gtk::Box*& body, Gtk::Box*& buttons);

} // namespace aurelo
