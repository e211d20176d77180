// The built application, started as a user would start it, against the fake managed service and
// a fixture chat site: log in through the keyboard, get two accounts of two platforms, switch
// between them, and see the hidden account's unread count keep reaching the dock badge; a page
// hidden since start notifies under its account, and a click on it leads to that page.

#include "support/BadgeListener.hpp"
#include "support/FakeDesktopService.hpp"
#include "support/FakeManagedService.hpp"
#include "support/MainLoopWait.hpp"
#include "support/Programs.hpp"
#include "support/TestDirectory.hpp"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <map>
#include <optional>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

// A chat page whose title carries an unread count that grows every second.
std::string countingPage(const std::string& name, int start) {
    return "<!doctype html><html><head><meta charset='utf-8'><title>(" + std::to_string(start) +
           ") " + name + "</title></head><body><div id='main'><h1>" + name +
           "</h1></div><script>let n=" + std::to_string(start) +
           ";setInterval(()=>{n++;document.title='('+n+') " + name +
           "';},1000);</script></body></html>";
}

// The built application with two accounts on two hosts of `site` (paths /a and /b), started
// and logged in through the keyboard.
class RunningApp {
public:
    RunningApp(FakeManagedService& service, FakeManagedService& site) {
        service.setFallback("/api/auth/login", ScriptedAnswer::json(200, {{"token", "e2e-token"}}));
        service.setFallback("/api/engines",
                            ScriptedAnswer::json(
                                200, {{"engines", {{{"provider", "google"}, {"label", "Google"}}}}}));
        service.setResponder([](const RecordedRequest& r) { return echoTranslation(r); });
        const std::string port = site.origin().substr(site.origin().rfind(':') + 1);
        const auto config = m_home.path() / "config";
        std::filesystem::create_directories(config / "aurelo-translator");
        // Two accounts on two different hosts, so two platforms.
        std::ofstream(config / "aurelo-translator" / "defaults.json")
            << R"({"aureloTranslator.sessions":[)"
            << R"({"id":"6F1D2C3B-1111-4A5B-8C9D-0E1F2A3B4C5D","name":"客服A","urlString":"http://127.0.0.1:)"
            << port << R"(/a"},)"
            << R"({"id":"6F1D2C3B-2222-4A5B-8C9D-0E1F2A3B4C5D","name":"客服B","urlString":"http://localhost:)"
            << port << R"(/b"}]})";

        gchar** environment = g_get_environ();
        for (const auto& [name, value] :
             std::map<std::string, std::string>{{"AURELO_SERVICE_URL", service.origin()},
                                                {"XDG_CONFIG_HOME", config},
                                                {"XDG_DATA_HOME", m_home.path() / "data"},
                                                {"XDG_CACHE_HOME", m_home.path() / "cache"},
                                                {"GDK_BACKEND", "x11"}})
            environment = g_environ_setenv(environment, name.c_str(), value.c_str(), TRUE);
        const char* argv[] = {AURELO_APP_PROGRAM, nullptr};
        m_started = g_spawn_async(nullptr, const_cast<char**>(argv), environment,
                                  G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &m_pid, nullptr);
        g_strfreev(environment);
    }
    ~RunningApp() {
        if (!m_started)
            return;
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        g_spawn_close_pid(m_pid);
    }

    // Waits for the window and logs in as "agent"; fails the test when either does not happen.
    void logIn(FakeManagedService& service) {
        ASSERT_TRUE(m_started);
        // An application that ends before its window shows (a crash, or another instance owning
        // the application id on the bus) is reported with its status instead of a bare time-out.
        std::optional<int> ended;
        ASSERT_TRUE(runMainLoopUntil(
            [&] {
                g_usleep(200000);
                int status = 0;
                if (!ended && waitpid(m_pid, &status, WNOHANG) == m_pid)
                    ended = status;
                return ended || runProgram({"xdotool", "search", "--onlyvisible", "--name",
                                            "Aurelo翻译器"})
                                    .succeeded;
            },
            30s));
        ASSERT_FALSE(ended) << "the application ended before its window showed, wait status "
                            << *ended;
        runMainLoopFor(1500ms);
        // The login view: the account, Tab, the password, Return.
        runProgram({"xdotool", "type", "--delay", "30", "agent"});
        runProgram({"xdotool", "key", "Tab"});
        runProgram({"xdotool", "type", "--delay", "30", "secret"});
        runProgram({"xdotool", "key", "Return"});
        ASSERT_TRUE(
            runMainLoopUntil([&] { return service.requestCount("/api/engines") > 0; }, 20s))
            << "login and engine list";
    }

private:
    TestDirectory m_home;
    GPid m_pid = 0;
    bool m_started = false;
};

TEST(ApplicationEndToEnd, LogsInShowsTwoPlatformsAndKeepsHiddenPagesCounting) {
    FakeManagedService service;
    FakeManagedService site;
    site.setFallback("/a", ScriptedAnswer::text(200, countingPage("Chat A", 1), "text/html"));
    site.setFallback("/b", ScriptedAnswer::text(200, countingPage("Chat B", 5), "text/html"));
    BadgeListener badge;
    RunningApp app(service, site);
    ASSERT_NO_FATAL_FAILURE(app.logIn(service));
    const auto& login = service.requests().front();
    ASSERT_TRUE(login.json);
    EXPECT_EQ((*login.json)["username"], "agent");
    EXPECT_EQ((*login.json)["password"], "secret");

    ASSERT_TRUE(runMainLoopUntil(
        [&] { return site.requestCount("/a") > 0 && site.requestCount("/b") > 0; }, 30s));
    ASSERT_TRUE(
        runMainLoopUntil([&] { return !badge.counts.empty() && badge.counts.back() >= 7; }, 30s))
        << "the unread counts of both pages reach the badge";

    // Switch to the second platform's account and back; the hidden page keeps counting.
    runProgram({"xdotool", "key", "ctrl+2"});
    const auto before = badge.counts.back();
    ASSERT_TRUE(runMainLoopUntil([&] { return badge.counts.back() >= before + 3; }, 20s))
        << "the page that is not shown keeps reporting";
    runProgram({"xdotool", "key", "ctrl+1"});
    const auto later = badge.counts.back();
    ASSERT_TRUE(runMainLoopUntil([&] { return badge.counts.back() >= later + 3; }, 20s));

    // Every page loaded once: switching shows pages, it does not reload them.
    EXPECT_EQ(site.requestCount("/a"), 1u);
    EXPECT_EQ(site.requestCount("/b"), 1u);
}

// A chat page that tells the site when a key reaches it and, with `notify`, notifies as soon as it
// loads and tells the site when its notification is clicked.
std::string keyedPage(const std::string& name, bool notify) {
    const std::string notification =
        notify ? "const n = new Notification('新消息', {body: '你好'});"
                 "n.onclick = () => fetch('/clicked-" + name + "');"
               : "";
    return "<!doctype html><html><head><meta charset='utf-8'><title>" + name +
           "</title></head><body><script>" + notification +
           "document.addEventListener('keydown', () => fetch('/typed-" + name + "'));"
           "</script></body></html>";
}

TEST(ApplicationEndToEnd, AHiddenPageNotifiesUnderItsAccountAndTheClickLeadsToIt) {
    auto notifications = FakeDesktopService::notifications();
    ASSERT_TRUE(runMainLoopUntil([&] { return notifications.owned(); }, 5s));
    FakeManagedService service;
    FakeManagedService site;
    site.setFallback("/a", ScriptedAnswer::text(200, keyedPage("a", false), "text/html"));
    site.setFallback("/b", ScriptedAnswer::text(200, keyedPage("b", true), "text/html"));
    RunningApp app(service, site);
    ASSERT_NO_FATAL_FAILURE(app.logIn(service));

    // Account A is on show; B's page was never shown nor clicked, and notifies all the same.
    ASSERT_TRUE(runMainLoopUntil([&] { return !notifications.notified().empty(); }, 30s));
    ASSERT_EQ(notifications.notified().size(), 1u);
    EXPECT_EQ(notifications.notified()[0].summary, "客服B · 新消息");

    // A click leads to B: its page gets the click and, focused, the next key.
    runMainLoopFor(300ms); // the desktop's id for the notification (1) comes back
    FakeDesktopService::clickNotification(1);
    ASSERT_TRUE(runMainLoopUntil([&] { return site.requestCount("/clicked-b") == 1; }, 20s));
    runMainLoopFor(500ms);
    runProgram({"xdotool", "key", "x"});
    EXPECT_TRUE(runMainLoopUntil([&] { return site.requestCount("/typed-b") > 0; }, 10s));
    EXPECT_EQ(site.requestCount("/typed-a"), 0u);
}

} // namespace
} // namespace aurelo::test
