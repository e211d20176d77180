#pragma once

// The button, and its shortcut, that switch the main window between its full layout and the
// focus layout, where the pages take all the height but the tab row's.

#include "viewmodels/MainWindowPreferences.hpp"

#include <gtkmm/button.h>

#include <functional>

namespace aurelo {

class FocusLayoutButton : public Gtk::Button {
public:
    static constexpr const char* kTitle = "专注布局";
    static constexpr const char* kLeaveTitle = "退出专注布局";
    static constexpr const char* kShortcutLabel = "Ctrl+Shift+F";

    explicit FocusLayoutButton(MainWindowPreferences& preferences);
    ~FocusLayoutButton() override;

    // Ctrl+Shift+F on `target`, caught on the way down so that it works while a page or the
    // translation box has the keyboard; not while `locked` says the window is locked.
    static void addShortcut(Gtk::Widget& target, MainWindowPreferences& preferences,
                            std::function<bool()> locked);

private:
    void refresh();

    MainWindowPreferences& m_preferences;
    sigc::connection m_changed;
};

} // namespace aurelo
