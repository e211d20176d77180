#pragma once

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/flowbox.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/passwordentry.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/widget.h>
#include <gtkmm/window.h>

#include <functional>
#include <memory>
#include <string_view>

namespace aurelo {

// The name assistive technology announces for a control (its label, or a field's meaning).
void setAccessibleLabel(Gtk::Widget& widget, const Glib::ustring& label);

// The desktop icon for a symbol name of the design (see SymbolIcons); `pixelSize` 0 keeps the
// theme's size for where the image is placed.
Gtk::Image* symbolImage(std::string_view symbol, int pixelSize = 0);

// Gives `button` an icon and, when `title` is not empty, the title after it; the button is
// announced by the title.
void setIconButtonContent(Gtk::Button& button, std::string_view symbol, const Glib::ustring& title);
// A new button made that way.
Gtk::Button* iconButton(std::string_view symbol, const Glib::ustring& title);
// A flat button that shows the icon alone: the title is its tooltip and the name announced.
Gtk::Button* iconOnlyButton(std::string_view symbol, const Glib::ustring& title);

// A wrapping line of explanation, left-aligned, in the style `cssClass` ("aurelo-subtitle" under
// a heading, "aurelo-note" for the quieter remark at the end of a card).
Gtk::Label* note(const Glib::ustring& text, const char* cssClass = "aurelo-subtitle");

// A status line under a form: hidden while `text` is empty, red for a failure, green for a
// confirmation, so that a success is never dressed as an error.
void showStatusLine(Gtk::Label& label, const std::string& text, bool isError);

// Makes the children of a flow box used only for wrapping (no selection) pass the keyboard
// focus straight to the controls inside them. Each child would otherwise be a nameless focus
// stop of its own before its controls, announced by assistive technology as an empty item.
void passFocusThroughChildren(Gtk::FlowBox& flow);

// Return in a password field; gtkmm 4.8 does not wrap the field's "activate" signal. The
// handler lives as long as the field.
void onPasswordActivate(Gtk::PasswordEntry& entry, std::function<void()> handler);

// Makes a window a sheet of `parent`: modal, fixed size, hidden (not destroyed) when closed, and
// closed by Escape like every dialog of the desktop. Closing it any way emits its hide signal,
// which is where a sheet drops what was typed.
void configureSheet(Gtk::Window& sheet, Gtk::Window* parent, const Glib::ustring& title);

// The part of a sheet that scrolls: `content` at its natural height up to the sheet's maximum
// less `fixedHeight`, the room the sheet's fixed parts (its title, its buttons) take, so that
// the whole sheet fits a small screen and its buttons stay in sight.
Gtk::ScrolledWindow* sheetScroller(Gtk::Widget& content, int fixedHeight);

// A small sheet: a column of widgets and a row of buttons under it; the column scrolls when it
// is too tall for a small screen.
std::unique_ptr<Gtk::Window> makeSheet(Gtk::Window* parent, const Glib::ustring& title,
                                       Gtk::Box*& body, Gtk::Box*& buttons);

} // namespace aurelo
