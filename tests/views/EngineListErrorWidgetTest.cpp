// An engine list that cannot be read while logged in is said where the engine is chosen, and the
// line goes once the list reads again or the user logs out.

#include "support/FakeNotificationCenter.hpp"
#include "support/ShellTestFixture.hpp"

#include "views/SettingsWindow.hpp"

#include <gtkmm.h>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

class EngineListErrorTest : public ShellTestFixture {
protected:
    static void SetUpTestSuite() {
        static auto application = Gtk::Application::create("com.aurelo.translator.engine-tests",
                                                           Gio::Application::Flags::NON_UNIQUE);
        gtk_init();
    }
    void SetUp() override {
        if (!g_getenv("DISPLAY"))
            GTEST_SKIP() << "needs the virtual display of the test session";
    }
    ~EngineListErrorTest() override { window.destroy(); }

    FakeNotificationCenter notifications;
    SettingsWindow window{settings, account, appLock, notifications};
};

// The button that shows `text`, found as a user finds it.
Gtk::Button* buttonShowing(Gtk::Widget& root, const Glib::ustring& text) {
    if (auto* label = dynamic_cast<Gtk::Label*>(&root); label && label->get_text() == text)
        for (Gtk::Widget* widget = label; widget; widget = widget->get_parent())
            if (auto* button = dynamic_cast<Gtk::Button*>(widget))
                return button;
    for (auto* child = root.get_first_child(); child; child = child->get_next_sibling())
        if (auto* button = buttonShowing(*child, text))
            return button;
    return nullptr;
}

TEST_F(EngineListErrorTest, ShownBesideTheEngineChoiceUntilTheListReadsAgain) {
    const nlohmann::json engines = {{"engines", {{{"provider", "google"}, {"label", "谷歌"}}}}};
    fake.enqueue("/api/auth/login", ScriptedAnswer::json(200, {{"token", "tok-1"}}));
    fake.setFallback("/api/engines", ScriptedAnswer::json(200, engines));
    bool done = false;
    account.login("alice", "secret", [&] { done = true; });
    ASSERT_TRUE(runMainLoopUntil([&] { return done; }));

    window.showPage();
    SettingsView& page = *window.page();
    ASSERT_TRUE(runMainLoopUntil([&] { return page.get_mapped(); }, 5s));
    runMainLoopFor(300ms); // the page's own refresh on showing has come back
    Gtk::Button* refresh = buttonShowing(page, "刷新可用引擎");
    ASSERT_TRUE(refresh);
    EXPECT_FALSE(page.engineListError().get_visible());

    struct Case {
        const char* what;
        ScriptedAnswer answer;
        std::string line; // empty: no line shown
    };
    const Case cases[] = {
        {"an answer that is not JSON",
         ScriptedAnswer::text(200, "<html>维护中</html>", "text/html"),
         "无法读取可用翻译引擎：未能读取数据，因为它的格式不正确。"},
        {"a list without engines", ScriptedAnswer::json(200, {{"list", nlohmann::json::array()}}),
         "无法读取可用翻译引擎：未能读取数据，因为缺少“engines”。"},
        {"the list reads again", ScriptedAnswer::json(200, engines), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = fake.requestCount("/api/engines");
        fake.setFallback("/api/engines", c.answer);
        g_signal_emit_by_name(refresh->gobj(), "clicked");
        ASSERT_TRUE(runMainLoopUntil([&] { return fake.requestCount("/api/engines") > before; }));
        runMainLoopFor(100ms);
        EXPECT_EQ(page.engineListError().get_visible(), !c.line.empty());
        if (!c.line.empty()) {
            EXPECT_TRUE(page.engineListError().get_mapped()) << "on screen, not just set";
            EXPECT_EQ(page.engineListError().get_text().raw(), c.line);
        }
        EXPECT_TRUE(account.isLoggedIn());
    }

    // Failed again, then logged out: the line goes with the login it was about.
    fake.setFallback("/api/engines", ScriptedAnswer::text(200, "oops", "text/plain"));
    g_signal_emit_by_name(refresh->gobj(), "clicked");
    ASSERT_TRUE(runMainLoopUntil([&] { return page.engineListError().get_visible(); }));
    account.logout();
    EXPECT_FALSE(page.engineListError().get_visible());
}

} // namespace
} // namespace aurelo::test
