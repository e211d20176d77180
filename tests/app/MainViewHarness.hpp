#pragma once

// The main view in-process over temporary stores, in a window of its own under the virtual
// display, with what the screen tests share: finding widgets as a user sees them and pressing
// real keys through the X server (XTest, by way of xdotool).

#include "platform/InMemorySecretStore.hpp"
#include "support/FakeManagedService.hpp"
#include "support/MainLoopWait.hpp"
#include "support/Programs.hpp"
#include "support/TestDirectory.hpp"
#include "translation/TranslationNetwork.hpp"
#include "views/ContentView.hpp"
#include "web/WebPageCommand.hpp"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace aurelo::test {

using namespace std::chrono_literals;

// The first widget under `root` (itself included) of type T for which `match` holds.
template <typename T>
T* findWidget(
    Gtk::Widget& root, const std::function<bool(T&)>& match = [](T&) { return true; }) {
    if (auto* widget = dynamic_cast<T*>(&root); widget && match(*widget))
        return widget;
    for (auto* child = root.get_first_child(); child; child = child->get_next_sibling())
        if (auto* found = findWidget<T>(*child, match))
            return found;
    return nullptr;
}

// The button whose label reads `text`, as a user finds it on the screen.
inline Gtk::Button* buttonLabelled(Gtk::Widget& root, const Glib::ustring& text) {
    auto* label = findWidget<Gtk::Label>(root, [&](Gtk::Label& l) { return l.get_text() == text; });
    for (Gtk::Widget* widget = label; widget; widget = widget->get_parent())
        if (auto* button = dynamic_cast<Gtk::Button*>(widget))
            return button;
    return nullptr;
}

// The visible window with this title, once it shows (within a few seconds).
template <typename T = Gtk::Window> T* toplevelTitled(const Glib::ustring& title) {
    T* found = nullptr;
    runMainLoopUntil(
        [&] {
            for (auto* window : Gtk::Window::list_toplevels())
                if (window->get_visible() && window->get_title() == title)
                    if ((found = dynamic_cast<T*>(window)))
                        return true;
            return false;
        },
        5s);
    return found;
}

// Real key presses to the X window with this title: `xdotool key` for key names ("Tab",
// "space", "Return"), `xdotool type` for text. The main loop runs afterwards so that GTK has
// taken the events before the test looks.
class XKeyboard {
public:
    explicit XKeyboard(std::string windowTitle) : m_title(std::move(windowTitle)) {}

    bool focusWindow() {
        if (m_window.empty()) {
            const auto found = runProgram({"xdotool", "search", "--name", m_title});
            m_window = found.output.substr(0, found.output.find('\n'));
        }
        return !m_window.empty() &&
               runProgram({"xdotool", "windowfocus", "--sync", m_window}).succeeded;
    }
    bool key(const std::string& name) { return settle(runProgram({"xdotool", "key", name})); }
    bool type(const std::string& text) {
        return settle(runProgram({"xdotool", "type", "--delay", "20", text}));
    }

private:
    static bool settle(const ProgramRun& run) {
        runMainLoopFor(150ms);
        return run.succeeded;
    }
    std::string m_title;
    std::string m_window;
};

// Every catalogue logo already in the cache, so that the window fetches nothing from outside.
inline void seedLogos(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    GdkPixbuf* pixel = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 1, 1);
    gdk_pixbuf_fill(pixel, 0xD4AF37FF);
    gchar* png = nullptr;
    gsize size = 0;
    gdk_pixbuf_save_to_buffer(pixel, &png, &size, "png", nullptr, nullptr);
    for (const auto& entry : platformEntries())
        if (entry.logoURL)
            std::ofstream(LogoCache::fileFor(folder, *entry.logoURL), std::ios::binary)
                .write(png, std::streamsize(size));
    g_free(png);
    g_object_unref(pixel);
}

class MainViewHarness : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static bool initialised = false;
        if (!initialised) {
            static auto application = Gtk::Application::create("com.aurelo.translator.screen-tests",
                                                               Gio::Application::Flags::NON_UNIQUE);
            gtk_init();
            initialised = true;
        }
    }

    void SetUp() override {
        if (!g_getenv("DISPLAY"))
            GTEST_SKIP() << "needs the virtual display of the test session";
        service.setResponder([](const RecordedRequest& r) { return echoTranslation(r); });
        seedLogos(home.path() / "logos");
    }

    void TearDown() override {
        if (window)
            window->destroy();
        window.reset();
        runMainLoopFor(100ms);
    }

    // The stores over a defaults file holding `sessions` (a JSON array).
    void makeStores(const std::string& sessions) {
        std::ofstream(home.path() / "defaults.json")
            << R"({"aureloTranslator.sessions":)" << sessions << "}";
        defaults = std::make_unique<UserDefaults>(home.path() / "defaults.json");
        store = std::make_unique<SessionStore>(*defaults, nullptr, &dataStores);
        settings = std::make_unique<SettingsStore>(*defaults, keychain, translator);
        account =
            std::make_unique<AccountStore>(*defaults, keychain, service.origin(), httpSession);
        preferences = std::make_unique<MainWindowPreferences>(*defaults);
        quickReplies = std::make_unique<QuickReplyStore>(*defaults);
        model = std::make_unique<ContentViewModel>(*store, *settings, *account, appLock,
                                                   *preferences, translator, "1.0.0");
    }

    // Opens the main view over the stores `makeStores` makes, in a window titled `title`.
    void open(const std::string& sessions, const std::string& title) {
        makeStores(sessions);
        window = std::make_unique<Gtk::Window>();
        window->set_title(title);
        window->set_default_size(1400, 900);
        view = Gtk::make_managed<ContentView>(
            *model, environment, logos, *quickReplies, [] {}, [] {});
        window->set_child(*view);
        window->present();
    }

    // One account on a page of the loopback site.
    std::string siteAccount(const std::string& path) const {
        return R"([{"id":"6F1D2C3B-1111-4A5B-8C9D-0E1F2A3B4C5D","name":"测试账号","urlString":")" +
               site.origin() + path + R"("}])";
    }

    TestDirectory home;
    FakeManagedService service;
    FakeManagedService site;
    InMemorySecretStore secrets;
    KeychainStore keychain{secrets};
    HttpSession httpSession{TranslationNetwork::sessionConfiguration()};
    HttpSession voiceSession{HttpSessionConfiguration{}};
    TranslationRequestCache cache;
    TranslationService translator{service.origin(), httpSession, cache};
    WebsiteDataStores dataStores{home.path() / "data", home.path() / "cache"};
    AppLockStore appLock{keychain};
    LogoCache logos{home.path() / "logos", nullptr}; // fetches nothing
    WebEnvironment environment{dataStores,
                               translator,
                               voiceSession,
                               service.origin(),
                               pageScriptTemplate(),
                               home.path() / "downloads",
                               {},
                               false};
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<SessionStore> store;
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<AccountStore> account;
    std::unique_ptr<MainWindowPreferences> preferences;
    std::unique_ptr<QuickReplyStore> quickReplies;
    std::unique_ptr<ContentViewModel> model;
    std::unique_ptr<Gtk::Window> window;
    ContentView* view = nullptr;
};

} // namespace aurelo::test
