// The lock screen against real key presses: while locked, Tab, Space, Return and typing reach
// only the lock screen's own controls — no button under the lock, and no web page.

#include "support/WebViewTestSupport.hpp"
#include "views/LockScreen.hpp"

#include "WidgetTestSupport.hpp"

namespace aurelo::test {
namespace {

// A page that counts every key it is given, whichever of its elements has the focus.
constexpr const char* kKeyPage =
    "<!doctype html><html><head><meta charset='utf-8'><title>Keys</title></head><body>"
    "<input id='field' autofocus><button onclick='window.clicks++'>按钮</button>"
    "<script>window.keys=[];window.clicks=0;"
    "document.addEventListener('keydown',e=>keys.push(e.key),true);</script></body></html>";

class LockKeyboard : public MainViewTest {
protected:
    ChatWebView* page() { return view->pages().pageFor(store.sessions().front().id); }

    std::string pageValue(const std::string& expression) {
        return evaluateScript(page()->webView(), expression, nullptr).value_or("<no answer>");
    }

    // Where the keyboard focus is: inside the lock screen, nowhere, or the control's type.
    std::string focusOwner() {
        Gtk::Widget* focus = window->get_focus();
        if (!focus)
            return "nothing";
        auto* lock = findWidget<LockScreen>(*view);
        if (focus == lock || (lock && focus->is_ancestor(*lock)))
            return "lock screen";
        return G_OBJECT_TYPE_NAME(focus->gobj());
    }
};

TEST_F(LockKeyboard, KeysWhileLockedReachOnlyTheLockScreen) {
    site.setFallback("/keys", ScriptedAnswer::text(200, kKeyPage, "text/html; charset=utf-8"));
    firstAccountAt("/keys");
    openMainView();
    ASSERT_TRUE(runMainLoopUntil(
        [&] {
            return page() && !webkit_web_view_is_loading(page()->webView()) &&
                   pageValue("document.title") == R"("Keys")";
        },
        30s));

    // Unlocked, the page takes what is typed: the same presses are seen when nothing blocks them.
    gtk_widget_grab_focus(GTK_WIDGET(page()->webView()));
    ASSERT_TRUE(type("q"));
    ASSERT_TRUE(runMainLoopUntil([&] { return pageValue("window.keys.join('')") == "\"q\""; }, 5s))
        << "the page did not get the key before locking";

    // Locked with the page focused, as a user locks in the middle of typing.
    ASSERT_TRUE(model.saveLockSetup("2468", "2468"));
    ASSERT_TRUE(model.appLocked());
    pageValue("window.keys=[]; 0");
    runMainLoopFor(200ms);
    EXPECT_EQ(focusOwner(), "lock screen");

    for (int i = 0; i < 14; ++i) {
        ASSERT_TRUE(press(i % 2 ? "Tab" : "shift+Tab"));
        const auto owner = focusOwner();
        EXPECT_TRUE(owner == "lock screen" || owner == "nothing") << "Tab " << i << ": " << owner;
        // Space presses what has the focus; under the lock that must be nothing of the window.
        ASSERT_TRUE(press("space"));
    }
    ASSERT_TRUE(type("abc"));
    ASSERT_TRUE(press("F10"));

    EXPECT_EQ(pageValue("window.keys.length"), "0") << pageValue("window.keys.join(',')");
    EXPECT_EQ(pageValue("window.clicks"), "0");
    EXPECT_TRUE(model.appLocked());
    EXPECT_FALSE(model.showAppCenter()) << "应用中心 was pressed under the lock";
    EXPECT_FALSE(model.showingInlineSettings()) << "设置 was pressed under the lock";
    EXPECT_FALSE(preferences.doNotDisturb()) << "勿扰 was pressed under the lock";
    EXPECT_FALSE(model.refreshingServices()) << "刷新服务器 was pressed under the lock";

    ASSERT_TRUE(press("ctrl+a"));
    ASSERT_TRUE(type("2468"));
    ASSERT_TRUE(press("Return"));
    EXPECT_TRUE(runMainLoopUntil([&] { return !model.appLocked(); }, 5s));

    bool leftTheLockScreen = false;
    for (int i = 0; i < 6 && !leftTheLockScreen; ++i) {
        ASSERT_TRUE(press("Tab"));
        leftTheLockScreen = focusOwner() != "lock screen" && focusOwner() != "nothing";
    }
    EXPECT_TRUE(leftTheLockScreen) << "after unlocking, Tab should reach the window's controls";
}

} // namespace
} // namespace aurelo::test
