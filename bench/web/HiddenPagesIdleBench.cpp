// Idle cost of pages that are loaded but not on show. Three chat sessions with the real page
// script, stacked as the main window stacks them (one shown; the others transparent, not
// targetable), each page a chat of 300 messages. Nothing changes on the pages but the unread
// count in their titles, once every 4 s. The CPU time of this process and of every process below
// it (WebKit's web and network processes) is read from /proc before and after 20 s, first with
// one page shown, then with the window hidden. The unread reports the hosts receive are counted,
// to show that the hidden pages keep running.
//
//   scripts/test-session build/default/bench/web/bench_web_hidden_idle

#include "WebBenchSupport.hpp"
#include "web/WebPageCommand.hpp"

#include <gtkmm/overlay.h>
#include <gtkmm/window.h>

#include <cstdio>
#include <sstream>

using namespace aurelo;

namespace {

std::string chatPage(int messages) {
    std::ostringstream html;
    html << "<!DOCTYPE html><html><head><meta charset='utf-8'><title>(3) Chat</title></head>"
            "<body><div id='main'>";
    for (int i = 0; i < messages; ++i)
        html << "<div class='" << (i % 2 ? "message-out" : "message-in") << "' data-id='m" << i
             << "'><div class='copyable-text' data-pre-plain-text='[12:00] A: '>"
             << "<span class='selectable-text'>message " << i << "</span></div></div>";
    // The page's own script: one new unread message every 4 s, as a quiet chat would have.
    html << "</div><footer><div contenteditable='true'></div></footer><script>"
            "let unread = 3; setInterval(() => { unread += 1; document.title = `(${unread}) Chat`; "
            "}, 4000);</script></body></html>";
    return html.str();
}

// CPU ticks used so far by this process and all its descendants.
long long treeTicks() {
    long long total = 0;
    for (int pid : bench::processTree())
        total += bench::readProcessStat(pid).cpuTicks;
    return total;
}

// Percent of one core used by the tree while the main loop runs for `duration`.
double idleLoad(std::chrono::seconds duration) {
    const long long before = treeTicks();
    test::runMainLoopFor(duration);
    const long long used = treeTicks() - before;
    return 100.0 * double(used) / double(sysconf(_SC_CLK_TCK)) / double(duration.count());
}

} // namespace

int main() {
    bench::initialiseGtk();
    bench::HostBench bench(pageScriptTemplate());
    bench.pages.add("/chat.html", chatPage(300));

    Gtk::Window window;
    window.set_default_size(1000, 700);
    Gtk::Overlay stack;
    window.set_child(stack);
    window.present();

    constexpr int kPages = 3;
    std::vector<std::unique_ptr<ChatWebView>> hosts;
    std::map<int, int> reports;
    for (int i = 0; i < kPages; ++i) {
        ChatWebViewInputs inputs;
        inputs.sessionID = bench::sessionId(i);
        inputs.pageURL = bench.pages.url("/chat.html");
        inputs.onUnreadCountChanged = [&reports, i](int) { ++reports[i]; };
        hosts.push_back(std::make_unique<ChatWebView>(inputs, bench.environment));
        auto& view = *hosts.back();
        view.set_hexpand(true);
        view.set_vexpand(true);
        const bool shown = i == 0;
        view.set_opacity(shown ? 1.0 : 0.0);
        view.set_can_target(shown);
        stack.add_overlay(view);
        if (!bench::waitForLoad(view.webView())) {
            std::fprintf(stderr, "page %d did not load\n", i);
            return 1;
        }
    }
    // Let the first scans and their translations finish before measuring.
    test::runMainLoopFor(std::chrono::seconds(5));

    reports.clear();
    const double shownLoad = idleLoad(std::chrono::seconds(20));
    const auto reportsShown = reports;
    window.hide();
    reports.clear();
    const double hiddenLoad = idleLoad(std::chrono::seconds(20));
    std::printf("%d idle pages, 20 s each          CPU (%% of one core)  unread reports per page\n",
                kPages);
    std::printf("one shown, two hidden             %6.2f               %d / %d / %d\n", shownLoad,
                reportsShown.contains(0) ? reportsShown.at(0) : 0,
                reportsShown.contains(1) ? reportsShown.at(1) : 0,
                reportsShown.contains(2) ? reportsShown.at(2) : 0);
    std::printf("window hidden                     %6.2f               %d / %d / %d\n", hiddenLoad,
                reports[0], reports[1], reports[2]);

    hosts.clear();
    test::runMainLoopFor(std::chrono::milliseconds(200));
    return 0;
}
