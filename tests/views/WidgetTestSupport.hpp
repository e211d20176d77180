#pragma once

// What the widget tests share: GTK set up once per process, searches of a widget tree as a user
// finds the controls on the screen, and real key presses through XTest.

#include "support/Programs.hpp"

#include <gtest/gtest.h>
#include <gtkmm.h>

#include <functional>
#include <string>
#include <vector>

namespace aurelo::test {

// Creating an application object sets gtkmm up; GTK itself needs gtk_init.
inline Gtk::Application& widgetTestApplication() {
    static const auto application = [] {
        auto created = Gtk::Application::create("com.aurelo.translator.widget-tests",
                                                Gio::Application::Flags::NON_UNIQUE);
        gtk_init();
        return created;
    }();
    return *application;
}

// Every widget of type T under `root` (itself included) for which `match` holds, depth first.
template <typename T>
std::vector<T*> findWidgets(Gtk::Widget& root, const std::function<bool(T&)>& match = nullptr) {
    std::vector<T*> found;
    if (auto* widget = dynamic_cast<T*>(&root); widget && (!match || match(*widget)))
        found.push_back(widget);
    for (auto* child = root.get_first_child(); child; child = child->get_next_sibling())
        for (auto* widget : findWidgets<T>(*child, match))
            found.push_back(widget);
    return found;
}

// The button whose label reads `text`.
inline Gtk::Button* buttonLabelled(Gtk::Widget& root, const Glib::ustring& text) {
    const auto labels =
        findWidgets<Gtk::Label>(root, [&](Gtk::Label& l) { return l.get_text() == text; });
    for (Gtk::Widget* widget = labels.empty() ? nullptr : labels[0]; widget;
         widget = widget->get_parent())
        if (auto* button = dynamic_cast<Gtk::Button*>(widget))
            return button;
    return nullptr;
}

inline void click(Gtk::Button& button) {
    g_signal_emit_by_name(button.gobj(), "clicked");
}

// A real key press, as the X server delivers it, to the window with this title.
inline bool pressKey(const std::string& windowTitle, const std::string& key) {
    const auto search = runProgram({"xdotool", "search", "--name", windowTitle});
    const std::string window = search.output.substr(0, search.output.find('\n'));
    return search.succeeded && !window.empty() &&
           runProgram({"xdotool", "windowfocus", "--sync", window}).succeeded &&
           runProgram({"xdotool", "key", "--clearmodifiers", key}).succeeded;
}

} // namespace aurelo::test
