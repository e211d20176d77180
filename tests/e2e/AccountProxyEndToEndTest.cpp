// A user adds a chat site of their own and routes it through a proxy, the way the window offers
// it: the app centre's "自定义网站" tile, the website dialog, then "账号独立设置" from the new
// tab's menu with an HTTP proxy. The site's host name exists only behind the proxy, so its page can
// finish loading only through that proxy.
//
// The real main view runs in-process: the sheets are separate windows whose fields a test can
// reach directly, whereas driving the built program would leave only blind key strokes.

#include "models/SessionStore.hpp"
#include "platform/InMemorySecretStore.hpp"
#include "support/TestDirectory.hpp"
#include "support/FakeManagedService.hpp"
#include "support/MainLoopWait.hpp"
#include "translation/TranslationNetwork.hpp"
#include "views/ContentView.hpp"
#include "views/SessionSettingsSheet.hpp"
#include "views/SessionTab.hpp"
#include "views/WebsiteDialog.hpp"
#include "support/LoopbackProxy.hpp"
#include "web/WebPageCommand.hpp"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include <fstream>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kChatPage =
    "<!doctype html><html><head><meta charset='utf-8'><title>Telegram Fixture</title></head>"
    "<body><div id='main'><h1>Telegram-like chat</h1></div></body></html>";

// The first widget under `root` (itself included) for which `match` holds.
template <typename T> T* findWidget(Gtk::Widget& root, const std::function<bool(T&)>& match) {
    if (auto* widget = dynamic_cast<T*>(&root); widget && match(*widget))
        return widget;
    for (auto* child = root.get_first_child(); child; child = child->get_next_sibling())
        if (auto* found = findWidget<T>(*child, match))
            return found;
    return nullptr;
}

// The button whose label reads `text`, as a user finds it on the screen.
Gtk::Button* buttonLabelled(Gtk::Widget& root, const Glib::ustring& text) {
    auto* label = findWidget<Gtk::Label>(root, [&](Gtk::Label& l) { return l.get_text() == text; });
    for (Gtk::Widget* widget = label; widget; widget = widget->get_parent())
        if (auto* button = dynamic_cast<Gtk::Button*>(widget))
            return button;
    return nullptr;
}

template <typename T> T* toplevelTitled(const Glib::ustring& title) {
    for (auto* window : Gtk::Window::list_toplevels())
        if (window->get_visible() && window->get_title() == title)
            if (auto* typed = dynamic_cast<T*>(window))
                return typed;
    return nullptr;
}

// Every catalogue logo already in the cache, so that the window fetches nothing from outside.
void seedLogos(const std::filesystem::path& folder) {
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

TEST(AccountProxyEndToEnd, CustomSiteAccountLoadsThroughItsHttpProxy) {
    if (!g_getenv("DISPLAY"))
        GTEST_SKIP() << "needs the virtual display of the test session";
    static auto application = Gtk::Application::create("com.aurelo.translator.proxy-e2e",
                                                       Gio::Application::Flags::NON_UNIQUE);
    gtk_init();

    FakeManagedService service;
    service.setResponder([](const RecordedRequest& r) { return echoTranslation(r); });
    FakeManagedService site;
    site.setFallback("/chat", ScriptedAnswer::text(200, kChatPage, "text/html; charset=utf-8"));
    site.setFallback("/start", ScriptedAnswer::text(200, "<title>start</title>", "text/html"));
    const std::string sitePort = site.origin().substr(site.origin().rfind(':') + 1);
    LoopbackProxy proxy(LoopbackProxy::Kind::Http);

    // One account already there, on the loopback site, so that nothing loads from outside.
    TestDirectory home;
    const auto defaultsFile = home.path() / "defaults.json";
    std::ofstream(defaultsFile)
        << R"({"aureloTranslator.sessions":[{"id":"6F1D2C3B-1111-4A5B-8C9D-0E1F2A3B4C5D",)"
        << R"("name":"起始","urlString":")" << site.origin() << R"(/start"}]})";
    seedLogos(home.path() / "logos");

    UserDefaults defaults(defaultsFile);
    InMemorySecretStore secrets;
    KeychainStore keychain(secrets);
    HttpSession httpSession(TranslationNetwork::sessionConfiguration());
    HttpSession voiceSession(HttpSessionConfiguration{});
    TranslationRequestCache cache;
    TranslationService translator(service.origin(), httpSession, cache);
    WebsiteDataStores dataStores(home.path() / "data", home.path() / "cache");
    SessionStore store(defaults, nullptr, &dataStores);
    SettingsStore settings(defaults, keychain, translator);
    AccountStore account(defaults, keychain, service.origin(), httpSession);
    AppLockStore appLock(keychain);
    MainWindowPreferences preferences(defaults);
    LogoCache logos(home.path() / "logos", voiceSession);
    WebEnvironment environment{dataStores,
                               translator,
                               voiceSession,
                               service.origin(),
                               pageScriptTemplate(),
                               home.path() / "downloads",
                               {},
                               false};
    ContentViewModel model(store, settings, account, appLock, preferences, translator, "1.0.0");

    auto window = std::make_unique<Gtk::Window>();
    window->set_default_size(1100, 760);
    auto* view = Gtk::make_managed<ContentView>(
        model, environment, logos, [] {}, [] {});
    window->set_child(*view);
    window->present();
    ASSERT_TRUE(runMainLoopUntil([&] { return site.requestCount("/start") > 0; }, 30s));

    // App centre, then the custom-website tile.
    Gtk::Button* appCenter = buttonLabelled(*view, "应用中心");
    ASSERT_TRUE(appCenter);
    g_signal_emit_by_name(appCenter->gobj(), "clicked");
    ASSERT_TRUE(model.showAppCenter());
    Gtk::Button* customTile = buttonLabelled(*view, "自定义网站");
    ASSERT_TRUE(customTile);
    g_signal_emit_by_name(customTile->gobj(), "clicked");

    WebsiteDialog* dialog = nullptr;
    ASSERT_TRUE(runMainLoopUntil(
        [&] { return (dialog = toplevelTitled<WebsiteDialog>("添加自定义网站")) != nullptr; }, 5s));
    // A host name that no resolver knows: only the proxy can reach it.
    const std::string address = "http://telegram.test:" + sitePort + "/chat";
    dialog->nameField().set_text("Telegram");
    dialog->addressField().set_text(address);
    g_signal_emit_by_name(dialog->addButton().gobj(), "clicked");
    ASSERT_FALSE(dialog->get_visible()) << dialog->errorLabel().get_text();
    const ChatSession created = store.sessions().back();
    ASSERT_EQ(created.urlString, address);
    ASSERT_EQ(store.selectedID(), created.id);
    // Out of the app centre, to the new account's page.
    g_signal_emit_by_name(appCenter->gobj(), "clicked");
    ASSERT_FALSE(model.showAppCenter());

    // The new tab's menu: "账号独立设置".
    SessionTab* tab = nullptr;
    ASSERT_TRUE(runMainLoopUntil(
        [&] {
            tab = findWidget<SessionTab>(
                *view, [&](SessionTab& t) { return t.sessionID() == created.id; });
            return tab != nullptr;
        },
        5s));
    ASSERT_TRUE(tab->activate_action("tab.session-settings"));
    SessionSettingsSheet* sheet = nullptr;
    ASSERT_TRUE(runMainLoopUntil(
        [&] { return (sheet = toplevelTitled<SessionSettingsSheet>("账号独立设置")) != nullptr; },
        5s));
    EXPECT_EQ(sheet->proxyHostField().get_text(), "") << "opens with the account's own values";
    sheet->proxyTypePicker().choose("http");
    sheet->proxyHostField().set_text("127.0.0.1");
    sheet->proxyPortField().set_text(std::to_string(proxy.port()));
    g_signal_emit_by_name(sheet->saveButton().gobj(), "clicked");
    ASSERT_FALSE(sheet->get_visible()) << sheet->errorLabel().get_text();
    EXPECT_EQ(store.sessions().back().proxyHost, "127.0.0.1");
    EXPECT_EQ(store.sessions().back().proxyPort, proxy.port());

    // The rebuilt page reaches the site through the proxy and finishes loading.
    auto routed = [&] {
        for (const auto& destination : proxy.destinations())
            if (destination.host == "telegram.test")
                return true;
        return false;
    };
    auto loaded = [&] {
        ChatWebView* page = view->pages().pageFor(created.id);
        if (!page || webkit_web_view_is_loading(page->webView()))
            return false;
        const char* title = webkit_web_view_get_title(page->webView());
        return title && std::string(title) == "Telegram Fixture";
    };
    ASSERT_TRUE(runMainLoopUntil([&] { return routed() && loaded(); }, 30s))
        << "proxy saw telegram.test: " << routed() << ", page loaded: " << loaded();
    bool viaProxyName = false;
    for (const auto& request : site.requests())
        viaProxyName = viaProxyName || (request.path == "/chat" &&
                                        request.header("host") == "telegram.test:" + sitePort);
    EXPECT_TRUE(viaProxyName) << "the site was asked for the invented host";

    window->destroy();
    window.reset();
    runMainLoopFor(100ms);
}

} // namespace
} // namespace aurelo::test
