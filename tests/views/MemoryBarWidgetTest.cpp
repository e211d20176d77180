// The memory watchdog on screen, in a 1366 × 768 window: the bar above the page on show, with its
// "重新加载" whole and working, and the word on the tab of a page reloaded while hidden.

#include "support/WebViewTestSupport.hpp"
#include "views/Theme.hpp"

#include "WidgetTestSupport.hpp"

namespace aurelo::test {
namespace {

constexpr const char* kChatPage =
    "<!doctype html><html><head><meta charset='utf-8'><title>chat</title></head>"
    "<body><div id='main' contenteditable='true'></div></body></html>";
constexpr int kWidth = 1366;
constexpr int kHeight = 768;
constexpr std::uint64_t kUsedKiB = 1024 * 1024 + 400 * 1024; // 1.4 GB

class MemoryBarWidgets : public MainViewTest {
protected:
    MemoryBarWidgets() {
        // Measurements come from the test alone.
        environment.memoryCheckInterval = std::chrono::hours(1);
        site.setFallback("/chat", ScriptedAnswer::text(200, kChatPage, "text/html; charset=utf-8"));
        shown = firstAccountAt("/chat");
        hidden = addSession("北美客户", site.origin() + "/chat").id;
        store.select(shown);
        settings.setPageMemoryLimit(PageMemoryLimit::GB1);
    }

    bool loaded(const std::string& sessionID) {
        return runMainLoopUntil(
            [&] {
                ChatWebView* page = view->pages().pageFor(sessionID);
                return page && !webkit_web_view_is_loading(page->webView()) &&
                       evaluateScript(page->webView(), "document.readyState", nullptr) ==
                           R"("complete")";
            },
            30s);
    }
    bool marked(const std::string& sessionID) {
        return evaluateScript(view->pages().pageFor(sessionID)->webView(), "window.marker",
                              nullptr) == "1";
    }

    std::string shown;
    std::string hidden;
};

TEST_F(MemoryBarWidgets, TheShownPageIsOfferedAReloadAndAHiddenOneIsReloaded) {
    Theme::install(); // the application's look, as its window has it
    view = Gtk::make_managed<ContentView>(
        model, environment, logos, quickReplies, [] {}, [] {});
    present(*view, kWidth, kHeight);
    ASSERT_TRUE(loaded(shown));
    ASSERT_TRUE(loaded(hidden));
    for (const auto& id : {shown, hidden})
        ASSERT_TRUE(
            evaluateScript(view->pages().pageFor(id)->webView(), "window.marker = 1", nullptr));

    model.memory().measured(hidden, kUsedKiB);
    model.memory().measured(shown, kUsedKiB);
    runMainLoopFor(300ms);

    // The hidden page went into a new process; its tab says why.
    EXPECT_TRUE(runMainLoopUntil([&] { return loaded(hidden) && !marked(hidden); }, 30s));
    Gtk::Label* note = labelShowing(*view, PageMemoryWatchdog::kReloadedNote);
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->get_mapped());

    // The page on show keeps its state; the bar says how much it uses.
    EXPECT_TRUE(marked(shown));
    Gtk::Label* text = labelShowing(*view, "此页面占用内存 1.4 GB，超过上限 1 GB");
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->get_mapped());
    Gtk::Button* reload = buttonLabelled(*view, ChatWebView::kMemoryReloadLabel);
    ASSERT_NE(reload, nullptr);
    ASSERT_TRUE(reload->get_mapped());
    graphene_rect_t bounds;
    ASSERT_TRUE(
        gtk_widget_compute_bounds(GTK_WIDGET(reload->gobj()), GTK_WIDGET(window->gobj()), &bounds));
    EXPECT_GE(bounds.origin.x, 0);
    EXPECT_LE(bounds.origin.x + bounds.size.width, kWidth) << "the button is cut off";
    EXPECT_LE(bounds.origin.y + bounds.size.height, kHeight);

    click(*reload);
    EXPECT_FALSE(text->get_mapped());
    EXPECT_TRUE(runMainLoopUntil([&] { return loaded(shown) && !marked(shown); }, 30s));
}

} // namespace
} // namespace aurelo::test
