#pragma once

// The building blocks the account sheets share: section headers, information cards and labelled
// controls, each with the desktop icon for its symbol.

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/entry.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>

#include <string>
#include <string_view>

#include "views/WidgetHelpers.hpp"

namespace aurelo::SheetLayout {

using aurelo::note;
using aurelo::symbolImage;

// Icon, title in bold and a line of explanation under it.
Gtk::Box* sectionHeader(std::string_view symbol, const Glib::ustring& title,
                        const Glib::ustring& subtitle);
// A tinted card: icon and title, and a text under them when given.
Gtk::Box* infoCard(std::string_view symbol, const Glib::ustring& title,
                   const Glib::ustring& text = {});
// A caption above a control; the control is announced by the caption's text.
Gtk::Box* labeled(const Glib::ustring& caption, Gtk::Widget& control);
// Styles a sheet's error line; it stays hidden until `showError` gives it a text.
Gtk::Label& errorLine(Gtk::Label& label);
void showError(Gtk::Label& label, const std::string& error);
// The same for a field's own error line: the field also gets the text as its accessible
// description, so that a screen reader reads why with the field.
void showFieldError(Gtk::Label& label, Gtk::Widget& field, const std::string& error);
// A quiet line of explanation that stays hidden while it has no text, like the error line.
Gtk::Label& noteLine(Gtk::Label& label);
// The example in a website address field's placeholder.
inline constexpr const char* kExampleAddress = "https://chat.example.com";
// A website address field with, under it, the line saying which scheme a scheme-less address
// opens with.
Gtk::Box* websiteAddress(Gtk::Entry& entry, Gtk::Label& schemeNote);
// A sheet's footer: "取消" and the primary action, at the end of the row.
Gtk::Box* buttonRow(Gtk::Button& cancel, Gtk::Button& primary);

} // namespace aurelo::SheetLayout
