// An account's proxy set through the window's sheets, with the real main view in-process (the
// built program would leave only blind key strokes). The chat site's host name exists only behind
// the proxy, so its page can load only through it.

#include "support/LoopbackProxy.hpp"
#include "views/SessionSettingsSheet.hpp"
#include "views/SessionTab.hpp"
#include "views/WebsiteDialog.hpp"

#include "WidgetTestSupport.hpp"

namespace aurelo::test {
namespace {

constexpr const char* kChatPage =
    "<!doctype html><html><head><meta charset='utf-8'><title>Telegram Fixture</title></head>"
    "<body><div id='main'><h1>Telegram-like chat</h1></div></body></html>";

class AccountProxyEndToEnd : public MainViewTest {
protected:
    AccountProxyEndToEnd() {
        site.setFallback("/chat", ScriptedAnswer::text(200, kChatPage, "text/html; charset=utf-8"));
        site.setFallback("/start", ScriptedAnswer::text(200, "<title>start</title>", "text/html"));
    }

    std::string sitePort() const { return site.origin().substr(site.origin().rfind(':') + 1); }
    std::string chatAddress() const { return "http://telegram.test:" + sitePort() + "/chat"; }

    SessionSettingsSheet* settingsSheetOf(const std::string& sessionID) {
        SessionTab* tab = nullptr;
        runMainLoopUntil(
            [&] {
                tab = findWidget<SessionTab>(
                    *view, [&](SessionTab& t) { return t.sessionID() == sessionID; });
                return tab != nullptr;
            },
            5s);
        if (!tab || !tab->activate_action("tab.session-settings"))
            return nullptr;
        return toplevelTitled<SessionSettingsSheet>("账号独立设置");
    }

    bool chatLoaded(const std::string& sessionID) {
        ChatWebView* page = view->pages().pageFor(sessionID);
        if (!page || webkit_web_view_is_loading(page->webView()))
            return false;
        const char* title = webkit_web_view_get_title(page->webView());
        return title && std::string(title) == "Telegram Fixture";
    }

    std::map<std::string, int> built;
};

// The app centre's "自定义网站" tile, the website dialog, then "账号独立设置" from the new tab's
// menu. The proxy behind the address speaks SOCKS5 only: set up as HTTP the page cannot load,
// and changing only the type must build the page again on the new route.
TEST_F(AccountProxyEndToEnd, CustomSiteAccountMovesToTheProxyTypeSetInItsSheet) {
    LoopbackProxy socks(LoopbackProxy::Kind::Socks5);
    firstAccountAt("/start");
    openMainView();
    view->pages().signalPageBuilt().connect(
        [this](const std::string& id, ChatWebView&) { ++built[id]; });
    ASSERT_TRUE(runMainLoopUntil([&] { return site.requestCount("/start") > 0; }, 30s));

    Gtk::Button* appCenter = buttonLabelled(*view, "应用中心");
    ASSERT_TRUE(appCenter);
    click(*appCenter);
    ASSERT_TRUE(model.showAppCenter());
    Gtk::Button* customTile = buttonLabelled(*view, "自定义网站");
    ASSERT_TRUE(customTile);
    click(*customTile);

    auto* dialog = toplevelTitled<WebsiteDialog>("添加自定义网站");
    ASSERT_TRUE(dialog);
    dialog->nameField().set_text("Telegram");
    dialog->addressField().set_text(chatAddress());
    click(dialog->addButton());
    ASSERT_FALSE(dialog->get_visible()) << dialog->errorLabel().get_text();
    const ChatSession created = store.sessions().back();
    ASSERT_EQ(created.urlString, chatAddress());
    ASSERT_EQ(store.selectedID(), created.id);
    ASSERT_FALSE(model.showAppCenter()) << "the new account's page is shown";

    SessionSettingsSheet* sheet = settingsSheetOf(created.id);
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->proxyFields().hostField().get_text(), "") << "opens with the account's own values";
    sheet->proxyTypePicker().choose("http");
    sheet->proxyFields().hostField().set_text("127.0.0.1");
    sheet->proxyFields().portField().set_text(std::to_string(socks.port()));
    click(sheet->saveButton());
    ASSERT_FALSE(sheet->get_visible()) << sheet->errorLabel().get_text();
    EXPECT_EQ(store.sessions().back().proxyHost, "127.0.0.1");
    EXPECT_EQ(store.sessions().back().proxyPort, socks.port());
    runMainLoopFor(1s);
    EXPECT_FALSE(chatLoaded(created.id)) << "an HTTP proxy request reached a SOCKS5 proxy";
    const int builtBefore = built[created.id];

    sheet = settingsSheetOf(created.id);
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->proxyFields().portField().get_text(), Glib::ustring(std::to_string(socks.port())));
    sheet->proxyTypePicker().choose("socks5");
    click(sheet->saveButton());
    ASSERT_FALSE(sheet->get_visible()) << sheet->errorLabel().get_text();
    ASSERT_TRUE(runMainLoopUntil(
        [&] {
            const auto seen = socks.destinations();
            return chatLoaded(created.id) &&
                   std::ranges::count(seen, "telegram.test", &LoopbackProxy::Destination::host) > 0;
        },
        30s))
        << "the page stayed on the HTTP route: pages built " << built[created.id];
    EXPECT_EQ(built[created.id], builtBefore + 1) << "built once for the new route";
    EXPECT_TRUE(std::ranges::any_of(site.requests(), [&](const RecordedRequest& request) {
        return request.path == "/chat" && request.header("host") == "telegram.test:" + sitePort();
    })) << "the site was asked for the invented host";
}

} // namespace
} // namespace aurelo::test
