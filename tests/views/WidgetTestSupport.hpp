#pragma once

// What the widget tests share: GTK set up once per process, searches of a widget tree as a user
// finds the controls on the screen, real key presses through XTest (by way of xdotool), and the
// main view in-process over the stores of ShellTestFixture with its pages on a loopback site.
// GTK needs a display: run these tests under scripts/test-session.

#include "support/Programs.hpp"
#include "support/ShellTestFixture.hpp"
#include "views/ContentView.hpp"
#include "web/WebPageCommand.hpp"

#include <gtest/gtest.h>
#include <gtkmm.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace aurelo::test {

using namespace std::chrono_literals;

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

template <typename T>
T* findWidget(Gtk::Widget& root, const std::function<bool(T&)>& match = nullptr) {
    const auto found = findWidgets<T>(root, match);
    return found.empty() ? nullptr : found.front();
}

inline Gtk::Label* labelShowing(Gtk::Widget& root, const Glib::ustring& text) {
    return findWidget<Gtk::Label>(root, [&](Gtk::Label& l) { return l.get_text() == text; });
}

inline Gtk::Button* buttonLabelled(Gtk::Widget& root, const Glib::ustring& text) {
    for (Gtk::Widget* widget = labelShowing(root, text); widget; widget = widget->get_parent())
        if (auto* button = dynamic_cast<Gtk::Button*>(widget))
            return button;
    return nullptr;
}

inline void click(Gtk::Button& button) {
    g_signal_emit_by_name(button.gobj(), "clicked");
}

// The visible window with this title, once it shows (within a few seconds).
template <typename T = Gtk::Window> T* toplevelTitled(const Glib::ustring& title) {
    T* found = nullptr;
    runMainLoopUntil(
        [&] {
            for (auto* window : Gtk::Window::list_toplevels())
                if (window->get_visible() && window->get_title() == title &&
                    (found = dynamic_cast<T*>(window)))
                    return true;
            return false;
        },
        5s);
    return found;
}

inline bool focusWindow(const std::string& windowTitle) {
    const auto search = runProgram({"xdotool", "search", "--name", windowTitle});
    const std::string window = search.output.substr(0, search.output.find('\n'));
    return !window.empty() && runProgram({"xdotool", "windowfocus", "--sync", window}).succeeded;
}

// Real key presses, as the X server delivers them, to the window with this title: each of the
// space-separated `keys` ("Tab", "shift+F10"), or with `typed` the text as typed. The main loop
// runs afterwards so that GTK has taken the events before the test looks.
inline bool pressKeys(const std::string& windowTitle, const std::string& keys, bool typed = false) {
    std::vector<std::string> command{"xdotool", typed ? "type" : "key", "--delay", "40"};
    std::istringstream words(keys);
    for (std::string key; !typed && words >> key;)
        command.push_back(key);
    if (typed)
        command.push_back(keys);
    const bool pressed = focusWindow(windowTitle) && runProgram(command).succeeded;
    runMainLoopFor(300ms);
    return pressed;
}

class WidgetTest : public ShellTestFixture {
protected:
    static constexpr const char* kWindowTitle = "aurelo-widget-test";

    static void SetUpTestSuite() { widgetTestApplication(); }

    void TearDown() override {
        if (window)
            window->destroy();
        window.reset();
        runMainLoopFor(100ms);
    }

    void present(Gtk::Widget& child, int width = 1000, int height = 700) {
        window = std::make_unique<Gtk::Window>();
        window->set_title(kWindowTitle);
        window->set_default_size(width, height);
        window->set_child(child);
        window->present();
    }
    void show(Gtk::Widget& child, int width = 1000, int height = 700) {
        present(child, width, height);
        ASSERT_TRUE(runMainLoopUntil([&] { return child.get_mapped(); }, 5s));
        runMainLoopFor(200ms);
    }
    // Closes every sheet, dialog, panel and other window the test opened beside `window`.
    void closeEverySheet() {
        if (model.pendingDeleteSession())
            model.cancelDelete();
        if (model.showingLockSetup())
            model.cancelLockSetup();
        model.closePanels();
        for (auto* other : Gtk::Window::list_toplevels())
            if (other != window.get() && other->get_visible())
                other->close();
        runMainLoopFor(100ms);
    }
    bool press(const std::string& keys) { return pressKeys(kWindowTitle, keys); }
    bool type(const std::string& text) { return pressKeys(kWindowTitle, text, true); }

    std::unique_ptr<Gtk::Window> window;
};

// The main view and its pages, which load only from the loopback `site`.
class MainViewTest : public WidgetTest {
protected:
    // The account a fresh store starts with, moved to `path` of the loopback site.
    std::string firstAccountAt(const std::string& path) {
        ChatSession first = store.sessions().front();
        first.urlString = site.origin() + path;
        store.updateSession(first);
        return first.id;
    }
    void openMainView() {
        view = Gtk::make_managed<ContentView>(
            model, environment, logos, quickReplies, [] {}, [] {});
        present(*view, 1400, 900);
    }

    FakeManagedService site;
    HttpSession voiceSession{HttpSessionConfiguration{}};
    WebsiteDataStores dataStores{directory.path() / "data", directory.path() / "cache"};
    LogoCache logos{directory.path() / "logos", nullptr}; // fetches nothing
    QuickReplyStore quickReplies{*defaults};
    WebEnvironment environment{dataStores,
                               translator,
                               voiceSession,
                               fake.origin(),
                               pageScriptTemplate(),
                               directory.path() / "downloads",
                               {},
                               false};
    ContentView* view = nullptr;
};

} // namespace aurelo::test
