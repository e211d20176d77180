// Hidden pages unmapped, as software rendering hides them: the page on show is the only one
// mapped, the others keep reporting their unread counts, and a page selected again is mapped.

#include "support/ShellTestFixture.hpp"

#include "views/WebViewStack.hpp"
#include "web/WebPageCommand.hpp"

#include <gtest/gtest.h>
#include <gtkmm.h>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

// A chat page whose title count grows every second, as chat sites show new messages.
constexpr const char* kCountingPage =
    "<!doctype html><html><head><meta charset='utf-8'><title>(1) chat</title></head>"
    "<body><div id='main'></div><script>let n = 1; setInterval(() => { n += 1; "
    "document.title = '(' + n + ') chat'; }, 1000);</script></body></html>";

class UnmappedHiddenPages : public ShellTestFixture {
protected:
    static void SetUpTestSuite() {
        static auto application = Gtk::Application::create(
            "com.aurelo.translator.hidden-page-tests", Gio::Application::Flags::NON_UNIQUE);
        static const bool initialised = [] {
            gtk_init();
            return true;
        }();
        (void)initialised;
    }

    void SetUp() override {
        if (!g_getenv("DISPLAY"))
            GTEST_SKIP() << "needs the virtual display of the test session";
        site.setFallback("/chat",
                         ScriptedAnswer::text(200, kCountingPage, "text/html; charset=utf-8"));
        const ChatSession original = store.sessions().front();
        first = addSession("first", site.origin() + "/chat").id;
        second = addSession("second", site.origin() + "/chat").id;
        store.remove(original);
        store.select(first);
        environment.hiddenPages = HiddenPages::Unmapped;
        environment.softwareRendering = true;
    }

    void TearDown() override {
        if (window)
            window->destroy();
        window.reset();
        runMainLoopFor(100ms);
    }

    WebViewStack& showStack() {
        window = std::make_unique<Gtk::Window>();
        window->set_default_size(800, 600);
        auto* stack = Gtk::make_managed<WebViewStack>(model, environment);
        window->set_child(*stack);
        window->present();
        return *stack;
    }

    bool loaded(WebViewStack& stack, const std::string& sessionID) {
        return runMainLoopUntil(
            [&] {
                ChatWebView* page = stack.pageFor(sessionID);
                return page && !webkit_web_view_is_loading(page->webView()) &&
                       store.unreadCounts().contains(sessionID);
            },
            30s);
    }

    int countOf(const std::string& id) {
        auto it = store.unreadCounts().find(id);
        return it == store.unreadCounts().end() ? 0 : it->second;
    }

    // Whether WebKit sees the page's view on screen: it counts a view as visible when mapped.
    static bool mapped(ChatWebView& page) {
        return gtk_widget_get_mapped(GTK_WIDGET(page.webView())) != FALSE;
    }

    FakeManagedService site;
    HttpSession voiceSession{HttpSessionConfiguration{}};
    WebsiteDataStores dataStores{directory.path() / "data", directory.path() / "cache"};
    WebEnvironment environment{dataStores,
                               translator,
                               voiceSession,
                               fake.origin(),
                               pageScriptTemplate(),
                               directory.path() / "downloads",
                               {},
                               false};
    std::unique_ptr<Gtk::Window> window;
    std::string first;
    std::string second;
};

TEST_F(UnmappedHiddenPages, OnlyThePageOnShowIsMappedAndHiddenPagesKeepReporting) {
    WebViewStack& stack = showStack();
    ASSERT_TRUE(loaded(stack, first));
    ASSERT_TRUE(loaded(stack, second));
    ChatWebView& firstPage = *stack.pageFor(first);
    ChatWebView& secondPage = *stack.pageFor(second);
    EXPECT_TRUE(runMainLoopUntil([&] { return mapped(firstPage); }, 10s));
    EXPECT_FALSE(mapped(secondPage)) << "a hidden page is still on screen for WebKit";

    // WebKit aligns a hidden page's timers to whole seconds; its count must still climb.
    const int hiddenStart = countOf(second);
    EXPECT_TRUE(runMainLoopUntil([&] { return countOf(second) >= hiddenStart + 3; }, 30s))
        << "a hidden page stopped reporting";

    model.selectTab(second);
    EXPECT_TRUE(runMainLoopUntil([&] { return mapped(secondPage) && !mapped(firstPage); }, 10s))
        << "selecting an account does not bring its page on screen";
    const int firstStart = countOf(first);
    EXPECT_TRUE(runMainLoopUntil([&] { return countOf(first) >= firstStart + 3; }, 30s))
        << "the page hidden second stopped reporting";

    model.selectTab(first);
    EXPECT_TRUE(runMainLoopUntil([&] { return mapped(firstPage) && !mapped(secondPage); }, 10s));
}

} // namespace
} // namespace aurelo::test
