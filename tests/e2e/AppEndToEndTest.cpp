// The built application, started as a user would start it, against the fake managed service and
// a fixture chat site: log in through the keyboard, get two accounts of two platforms, switch
// between them, and see the hidden account's unread count keep reaching the dock badge.

#include "support/BadgeListener.hpp"
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

TEST(ApplicationEndToEnd, LogsInShowsTwoPlatformsAndKeepsHiddenPagesCounting) {
    FakeManagedService service;
    service.setFallback("/api/auth/login", ScriptedAnswer::json(200, {{"token", "e2e-token"}}));
    service.setFallback(
        "/api/engines",
        ScriptedAnswer::json(200, {{"engines", {{{"provider", "google"}, {"label", "Google"}}}}}));
    service.setResponder([](const RecordedRequest& r) { return echoTranslation(r); });

    FakeManagedService site;
    site.setFallback("/a", ScriptedAnswer::text(200, countingPage("Chat A", 1), "text/html"));
    site.setFallback("/b", ScriptedAnswer::text(200, countingPage("Chat B", 5), "text/html"));
    const std::string port = site.origin().substr(site.origin().rfind(':') + 1);

    TestDirectory home;
    const auto config = home.path() / "config";
    std::filesystem::create_directories(config / "aurelo-translator");
    // Two accounts on two different hosts, so two platforms.
    std::ofstream(config / "aurelo-translator" / "defaults.json")
        << R"({"aureloTranslator.sessions":[)"
        << R"({"id":"6F1D2C3B-1111-4A5B-8C9D-0E1F2A3B4C5D","name":"客服A","urlString":"http://127.0.0.1:)"
        << port << R"(/a"},)"
        << R"({"id":"6F1D2C3B-2222-4A5B-8C9D-0E1F2A3B4C5D","name":"客服B","urlString":"http://localhost:)"
        << port << R"(/b"}]})";

    BadgeListener badge;

    gchar** environment = g_get_environ();
    for (const auto& [name, value] :
         std::map<std::string, std::string>{{"AURELO_SERVICE_URL", service.origin()},
                                            {"XDG_CONFIG_HOME", config},
                                            {"XDG_DATA_HOME", home.path() / "data"},
                                            {"XDG_CACHE_HOME", home.path() / "cache"},
                                            {"GDK_BACKEND", "x11"}})
        environment = g_environ_setenv(environment, name.c_str(), value.c_str(), TRUE);
    const char* argv[] = {AURELO_APP_PROGRAM, nullptr};
    GPid pid = 0;
    ASSERT_TRUE(g_spawn_async(nullptr, const_cast<char**>(argv), environment,
                              G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid, nullptr));
    g_strfreev(environment);
    struct Reaper {
        GPid pid;
        ~Reaper() {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
            g_spawn_close_pid(pid);
        }
    } reaper{pid};

    // An application that ends before its window shows (a crash, or another instance owning
    // the application id on the bus) is reported with its status instead of a bare time-out.
    std::optional<int> ended;
    ASSERT_TRUE(runMainLoopUntil(
        [&] {
            g_usleep(200000);
            int status = 0;
            if (!ended && waitpid(pid, &status, WNOHANG) == pid)
                ended = status;
            return ended ||
                   runProgram({"xdotool", "search", "--onlyvisible", "--name", "Aurelo翻译器"})
                       .succeeded;
        },
        30s));
    ASSERT_FALSE(ended) << "the application ended before its window showed, wait status " << *ended;
    runMainLoopFor(1500ms);
    // The login view: the account, Tab, the password, Return.
    runProgram({"xdotool", "type", "--delay", "30", "agent"});
    runProgram({"xdotool", "key", "Tab"});
    runProgram({"xdotool", "type", "--delay", "30", "secret"});
    runProgram({"xdotool", "key", "Return"});
    ASSERT_TRUE(runMainLoopUntil([&] { return service.requestCount("/api/engines") > 0; }, 20s))
        << "login and engine list";
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

} // namespace
} // namespace aurelo::test
