// The page stack with real pages: their look, the requests the window hands them, sleeping pages
// and hidden ones.

#include "support/ScreenPixels.hpp"
#include "support/WebViewTestSupport.hpp"
#include "views/Theme.hpp"

#include "WidgetTestSupport.hpp"

#include <unistd.h>

#include <fstream>
#include <set>

namespace aurelo::test {
namespace {

constexpr const char* kChatPage =
    "<!doctype html><html><head><meta charset='utf-8'><title>chat</title></head>"
    "<body><div id='main' contenteditable='true'></div></body></html>";

// A chat page whose title count grows every second, as chat sites show new messages.
constexpr const char* kCountingPage =
    "<!doctype html><html><head><meta charset='utf-8'><title>(1) chat</title></head>"
    "<body><div id='main'></div><script>let n = 1; setInterval(() => { n += 1; "
    "document.title = '(' + n + ') chat'; }, 1000);</script></body></html>";

// A page that fills its view with one colour, so the screen shows whether it is drawn.
constexpr const char* kGreenPage =
    "<!doctype html><html><head><meta charset='utf-8'><title>chat</title></head>"
    "<body style='margin:0;background:#28a05a;height:100vh'><div id='main'></div></body></html>";
constexpr std::uint32_t kGreen = 0x28a05a;

int parentOf(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("PPid:"))
            return std::stoi(line.substr(5));
    return 0;
}

// WebKit's web processes below this one (inside their sandbox or not), by process id.
std::set<int> webProcesses() {
    std::set<int> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        std::string command;
        std::ifstream cmdline(entry.path() / "cmdline");
        std::getline(cmdline, command, '\0');
        if (name.empty() || !std::isdigit(static_cast<unsigned char>(name[0])) ||
            !command.ends_with("/WebKitWebProcess"))
            continue;
        for (int up = parentOf(std::stoi(name)); up > 1; up = parentOf(up))
            if (up == getpid()) {
                found.insert(std::stoi(name));
                break;
            }
    }
    return found;
}

bool desktopIsDark() {
    gboolean dark = FALSE;
    g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &dark, nullptr);
    return dark != FALSE;
}

std::string evaluate(ChatWebView& page, const std::string& script) {
    return evaluateScript(page.webView(), script, nullptr).value_or("");
}

bool pageSays(ChatWebView& page, const std::string& script, const std::string& expected) {
    return runMainLoopUntil([&] { return evaluate(page, script) == expected; }, 10s);
}

// Whether WebKit sees the page's view on screen: it counts a view as visible when mapped.
bool mapped(ChatWebView& page) {
    return gtk_widget_get_mapped(GTK_WIDGET(page.webView())) != FALSE;
}

class WebViewStackWidgets : public MainViewTest {
protected:
    WebViewStackWidgets() {
        site.setFallback("/chat", ScriptedAnswer::text(200, kChatPage, "text/html; charset=utf-8"));
        const ChatSession original = store.sessions().front();
        first = addSession("first", site.origin() + "/chat").id;
        second = addSession("second", site.origin() + "/chat").id;
        store.remove(original);
        store.select(first);
    }

    void TearDown() override {
        MainViewTest::TearDown();
        Theme::applyAppearance(AppAppearance::System);
    }

    WebViewStack& showStack() {
        auto* stack = Gtk::make_managed<WebViewStack>(model, environment);
        present(*stack, 800, 600);
        return *stack;
    }

    bool loaded(WebViewStack& stack, const std::string& sessionID) {
        return runMainLoopUntil(
            [&] {
                ChatWebView* page = stack.pageFor(sessionID);
                return page && !webkit_web_view_is_loading(page->webView()) &&
                       evaluate(*page, "document.readyState") == R"("complete")";
            },
            30s);
    }

    bool keepsCounting(const std::string& sessionID) {
        const auto count = [&] {
            const auto it = store.unreadCounts().find(sessionID);
            return it == store.unreadCounts().end() ? 0 : it->second;
        };
        const int start = count();
        return runMainLoopUntil([&] { return count() >= start + 3; }, 30s);
    }

    std::string first;
    std::string second;
};

// The application applies the stored look before it builds any page; a page built in a forced
// look must not take that look for the desktop's own and bring it back for "跟随系统".
TEST_F(WebViewStackWidgets, ChoosingSystemAfterAForcedStartFollowsTheLightDesktop) {
    ASSERT_FALSE(desktopIsDark()) << "the virtual display's desktop asks for light";
    settings.setAppearance(AppAppearance::Dark);
    sigc::connection following = Theme::followAppearance(settings);
    EXPECT_TRUE(desktopIsDark());

    WebViewStack& stack = showStack();
    ASSERT_TRUE(loaded(stack, first));
    ChatWebView& page = *stack.pageFor(first);
    const std::string darkQuery = "matchMedia('(prefers-color-scheme: dark)').matches";
    EXPECT_TRUE(pageSays(page, darkQuery, "true"));

    settings.setAppearance(AppAppearance::System);
    runMainLoopFor(100ms);
    EXPECT_FALSE(desktopIsDark()) << "跟随系统 keeps the forced look";
    EXPECT_TRUE(pageSays(page, darkQuery, "false"));

    settings.setAppearance(AppAppearance::Dark);
    EXPECT_TRUE(pageSays(page, darkQuery, "true"));
    settings.setAppearance(AppAppearance::Light);
    EXPECT_TRUE(pageSays(page, darkQuery, "false"));
    following.disconnect();
}

// The translation box's text reaches the composer of its own account's page, once; a whole-page
// command is taken by the selected page as soon as it is issued.
TEST_F(WebViewStackWidgets, PendingRequestsAreTakenByTheirPage) {
    ASSERT_TRUE(keychain.save("token", std::string(KeychainStore::kLoginTokenAccount)));
    fake.setResponder([](const RecordedRequest& r) { return echoTranslation(r, "EN:"); });
    WebViewStack& stack = showStack();
    ASSERT_TRUE(loaded(stack, first));
    ASSERT_TRUE(loaded(stack, second));

    auto& box = model.translationBox();
    fake.enqueue("/api/translate", ScriptedAnswer::json(200, {{"text", "EN:hello"}}));
    box.setInput("你好");
    box.performTranslation();
    ASSERT_TRUE(runMainLoopUntil([&] { return !box.translating(); }));
    box.insertOutput();
    EXPECT_FALSE(model.textInsertion()) << "the page did not take the insertion";
    const std::string composer = "document.getElementById('main').textContent";
    EXPECT_TRUE(pageSays(*stack.pageFor(first), composer, R"("EN:hello")"));
    EXPECT_EQ(evaluate(*stack.pageFor(second), composer), R"("")");

    bool issued = false;
    bool pendingAfterIssue = true;
    sigc::connection watch = model.signalChanged().connect([&](ContentViewModel::Field field) {
        if (field != ContentViewModel::Field::PageCommand)
            return;
        issued = true;
        pendingAfterIssue = model.pageCommand().has_value();
    });
    model.translateWholePage(second);
    ASSERT_TRUE(runMainLoopUntil([&] { return issued; }));
    watch.disconnect();
    EXPECT_FALSE(pendingAfterIssue) << "the selected page did not take the command";
}

// The page stack's plan drops the page and builds it again when selected; here that dropping it
// really ends its web process.
TEST_F(WebViewStackWidgets, ASleepingAccountsWebProcessEnds) {
    WebViewStack& stack = showStack();
    ASSERT_TRUE(loaded(stack, first));
    ASSERT_TRUE(loaded(stack, second));
    ASSERT_TRUE(runMainLoopUntil([&] { return webProcesses().size() >= 2; }, 30s))
        << "one web process per page";
    const std::set<int> awake = webProcesses();

    model.hibernation().hibernateNow(second);
    EXPECT_EQ(stack.pageFor(second), nullptr);
    EXPECT_NE(stack.pageFor(first), nullptr);
    // WebKit may start a spare process at any time, so the test looks for the end of one that
    // ran before rather than at the count.
    EXPECT_TRUE(runMainLoopUntil(
        [&] {
            const std::set<int> now = webProcesses();
            return std::ranges::any_of(awake, [&](int pid) { return !now.contains(pid); });
        },
        30s))
        << "the sleeping page's web process is still running";
}

TEST_F(WebViewStackWidgets, UnmappedHiddenPagesKeepReportingAndMapWhenSelected) {
    environment.hiddenPages = HiddenPages::Unmapped;
    environment.softwareRendering = true;
    site.setFallback("/chat", ScriptedAnswer::text(200, kCountingPage, "text/html; charset=utf-8"));
    WebViewStack& stack = showStack();
    ASSERT_TRUE(loaded(stack, first));
    ASSERT_TRUE(loaded(stack, second));
    ChatWebView& firstPage = *stack.pageFor(first);
    ChatWebView& secondPage = *stack.pageFor(second);
    EXPECT_TRUE(runMainLoopUntil([&] { return mapped(firstPage); }, 10s));
    EXPECT_FALSE(mapped(secondPage)) << "a hidden page is still on screen for WebKit";
    // WebKit aligns a hidden page's timers to whole seconds; its count must still climb.
    EXPECT_TRUE(keepsCounting(second)) << "a hidden page stopped reporting";

    model.selectTab(second);
    EXPECT_TRUE(runMainLoopUntil([&] { return mapped(secondPage) && !mapped(firstPage); }, 10s))
        << "selecting an account does not bring its page on screen";
    EXPECT_TRUE(keepsCounting(first)) << "the page hidden second stopped reporting";

    model.selectTab(first);
    EXPECT_TRUE(runMainLoopUntil([&] { return mapped(firstPage) && !mapped(secondPage); }, 10s));
}

// What the agent sees after the page was covered, by every way back, in both ways of hiding a
// page: the page's own pixels on screen, not only a view that says it is mapped.
TEST_F(WebViewStackWidgets, ThePageIsOnScreenAgainAfterEveryWayBack) {
    site.setFallback("/chat", ScriptedAnswer::text(200, kGreenPage, "text/html; charset=utf-8"));
    const auto entryOf = [&](const std::string& id) {
        return EnabledPlatform{"custom", "", "", std::nullopt, id};
    };
    const struct {
        const char* way;
        std::function<void()> away;
        std::function<void()> back;
        const std::string& shown;
    } ways[] = {
        {"app centre, then the account's entry", [&] { model.setShowAppCenter(true); },
         [&] { model.selectPlatform(entryOf(first)); }, first},
        {"settings panel, then closed", [&] { model.openSettingsPanel(); },
         [&] { model.closePanels(); }, first},
        {"app centre, then another account's entry", [&] { model.setShowAppCenter(true); },
         [&] { model.selectPlatform(entryOf(second)); }, second},
        {"another account, then back", [&] { model.selectTab(first); },
         [&] { model.selectTab(second); }, second},
    };
    for (HiddenPages hiding : {HiddenPages::Transparent, HiddenPages::Unmapped}) {
        SCOPED_TRACE(hiding == HiddenPages::Unmapped ? "unmapped" : "transparent");
        environment.hiddenPages = hiding;
        environment.softwareRendering = hiding == HiddenPages::Unmapped;
        model.selectTab(first);
        openMainView();
        const auto onScreen = [&](const std::string& id) {
            ChatWebView* page = view->pages().pageFor(id);
            return page && waitForScreen(GTK_WIDGET(page->webView()), kGreen, 0.9, 10s);
        };
        const auto seen = [&](const std::string& id) {
            return screenArea(GTK_WIDGET(view->pages().pageFor(id)->webView())).summary();
        };
        ASSERT_TRUE(loaded(view->pages(), first));
        ASSERT_TRUE(onScreen(first)) << seen(first);
        for (const auto& way : ways) {
            SCOPED_TRACE(way.way);
            way.away();
            runMainLoopFor(300ms);
            way.back();
            EXPECT_TRUE(onScreen(way.shown)) << seen(way.shown);
        }
        window->destroy();
        window.reset();
    }
}

} // namespace
} // namespace aurelo::test
