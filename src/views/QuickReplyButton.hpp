#pragma once

// The "常用语" button beside the translation box and its list: a search field over the phrases;
// the arrows move, Return puts the translated phrase into the chat, Shift+Return the phrase as
// written, Escape closes.

#include "viewmodels/QuickReplyPicker.hpp"

#include <gtkmm/label.h>
#include <gtkmm/listbox.h>
#include <gtkmm/menubutton.h>
#include <gtkmm/popover.h>
#include <gtkmm/searchentry.h>
#include <gtkmm/spinner.h>

#include <functional>
#include <vector>

namespace aurelo {

class QuickReplyButton : public Gtk::MenuButton {
public:
    explicit QuickReplyButton(QuickReplyPicker& picker);
    ~QuickReplyButton() override;

    // For the widget tests.
    Gtk::SearchEntry& searchField() { return m_search; }
    Gtk::ListBox& list() { return m_list; }
    Gtk::Label& errorLabel() { return m_error; }

private:
    void showMatches();
    void showHighlight();
    void showState();

    QuickReplyPicker& m_picker;
    Gtk::Popover m_popover;
    Gtk::SearchEntry m_search;
    Gtk::ListBox m_list;
    Gtk::Label m_empty;
    Gtk::Spinner m_spinner;
    Gtk::Label m_error;
    bool m_syncing = false;
    // Set while the list opens to show why a shortcut's phrase did not go in.
    bool m_openingForError = false;
    std::vector<sigc::connection> m_connections;
};

// Ctrl+Shift+1…9 anywhere in `target` (a page with the keyboard included) pick the first nine
// phrases of the library, translated; nothing while `locked` says the window is locked.
void addQuickReplyShortcuts(Gtk::Widget& target, QuickReplyPicker& picker,
                            std::function<bool()> locked);

} // namespace aurelo
