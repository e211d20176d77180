// Hidden pages, two ways: laid over the shown page at opacity 0 (still mapped: WebKit counts them
// as visible and keeps painting them), or unmapped (as the application's page stack does in
// software rendering: WebKit is told they are hidden and drops their frames after 10 s). For
// each way, five chat sessions with the real page script, each page its own background colour
// and a title count that grows every second, in a window like the main one:
//   - how long a page takes to be on screen after it is selected: from the switch to the first
//     frame in which the view draws its page's colour (ten switches over the five pages);
//   - how often the hidden pages' unread counts reach their hosts (the longest gap, over 20 s);
//   - the PSS of this process and every process below it.
// The rendering mode is the application's ("memory" draws in software, "smooth" as the toolkit
// and WebKit would choose), decided and set up as the application's main() does.
//
//   scripts/test-session build/ci/bench/web/bench_web_page_switch [memory|smooth]
//   [opacity|unmapped|both] [seconds before each switch, 1.5 by default; 12 lets WebKit drop
//   the frames of unmapped pages first]

#include "WebBenchSupport.hpp"
#include "platform/RenderingPolicy.hpp"
#include "platform/StartupEnvironment.hpp"
#include "support/ScreenPixels.hpp"
#include "web/WebPageCommand.hpp"

#include <gtkmm/box.h>
#include <gtkmm/overlay.h>
#include <gtkmm/window.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

using namespace aurelo;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPages = 5;

std::array<unsigned char, 3> colourOf(int page) {
    return {static_cast<unsigned char>(40 + 40 * page), 90,
            static_cast<unsigned char>(200 - 30 * page)};
}

std::string chatPage(int page) {
    const auto colour = colourOf(page);
    std::ostringstream html;
    html << "<!DOCTYPE html><html><head><meta charset='utf-8'><title>(1) Chat</title><style>"
         << "html,body{margin:0;height:100%;background:rgb(" << int(colour[0]) << ','
         << int(colour[1]) << ',' << int(colour[2]) << ")}</style></head><body><div id='main'>";
    for (int i = 0; i < 300; ++i)
        html << "<div class='" << (i % 2 ? "message-out" : "message-in") << "' data-id='m" << i
             << "'><span class='selectable-text'>message " << i << "</span></div>";
    html << "</div><script>let n = 1; setInterval(() => { n += 1; document.title = `(${n}) Chat`; "
            "}, 1000);</script></body></html>";
    return html.str();
}

// Whether the screen shows the colour near the bottom middle of `widget`. A snapshot of the
// widget alone is not enough: it showed the page while the window went on drawing the page area
// without it.
bool drawsColour(Gtk::Widget& widget, const std::array<unsigned char, 3>& colour) {
    const auto pixel =
        test::screenPixel(widget.gobj(), widget.get_width() / 2, widget.get_height() - 20);
    if (!pixel)
        return false;
    auto near = [](int a, int b) { return std::abs(a - b) <= 6; };
    return near(int((*pixel >> 16) & 0xff), colour[0]) &&
           near(int((*pixel >> 8) & 0xff), colour[1]) && near(int(*pixel & 0xff), colour[2]);
}

} // namespace

int main(int argc, char* argv[]) {
    const std::string mode = argc > 1 ? argv[1] : "memory";
    const std::string hiding = argc > 2 ? argv[2] : "both";
    const auto pause = std::chrono::milliseconds(
        static_cast<int>(1000 * (argc > 3 ? std::max(0.0, std::atof(argv[3])) : 1.5)));
    RenderingEnvironment environment = RenderingEnvironment::fromProcess(std::nullopt);
    environment.override = mode;
    const auto decision = RenderingPolicy::decide(RenderingMode::Automatic, environment);
    StartupEnvironment::apply(
        StartupEnvironment::changesFor(decision.rendering, StartupEnvironment::processValue));

    bench::initialiseGtk();
    std::printf("rendering: %s (%s)\n",
                decision.rendering == Rendering::Software ? "software" : "hardware",
                decision.reason.c_str());
    std::printf("pause before each switch: %.1f s\n", double(pause.count()) / 1000);
    std::printf("hidden pages  switch to shown (ms): median  max  never  longest gap between "
                "hidden pages' reports (s)  PSS (MiB)\n");

    for (const std::string way : {"opacity", "unmapped"}) {
        if (hiding != "both" && hiding != way)
            continue;
        bench::HostBench bench(pageScriptTemplate());
        bench.environment.softwareRendering = decision.rendering == Rendering::Software;
        for (int i = 0; i < kPages; ++i)
            bench.pages.add("/chat" + std::to_string(i) + ".html", chatPage(i));

        Gtk::Window window;
        window.set_default_size(1280, 800);
        Gtk::Overlay overlay;
        Gtk::Box base;
        base.set_hexpand(true);
        base.set_vexpand(true);
        overlay.set_child(base);
        window.set_child(overlay);
        window.present();

        std::vector<std::unique_ptr<ChatWebView>> hosts;
        std::map<int, std::vector<Clock::time_point>> reports;
        int shown = 0;
        auto show = [&](int page) {
            shown = page;
            for (int i = 0; i < int(hosts.size()); ++i) {
                if (way == "unmapped")
                    hosts[std::size_t(i)]->set_visible(i == page);
                else
                    hosts[std::size_t(i)]->set_opacity(i == page ? 1.0 : 0.0);
                hosts[std::size_t(i)]->set_can_target(i == page);
            }
        };
        for (int i = 0; i < kPages; ++i) {
            ChatWebViewInputs inputs;
            inputs.sessionID = bench::sessionId(i);
            inputs.pageURL = bench.pages.url("/chat" + std::to_string(i) + ".html");
            inputs.onUnreadCountChanged = [&reports, i](int) {
                reports[i].push_back(Clock::now());
            };
            hosts.push_back(std::make_unique<ChatWebView>(inputs, bench.environment));
            auto& view = *hosts.back();
            view.set_hexpand(true);
            view.set_vexpand(true);
            overlay.add_overlay(view);
            show(0);
            if (!bench::waitForLoad(view.webView())) {
                std::fprintf(stderr, "page %d did not load\n", i);
                return 1;
            }
        }
        show(0);
        test::runMainLoopFor(5s);

        // Ten switches: every page twice, each time from another one.
        std::vector<double> latencies;
        int never = 0;
        for (int round = 0; round < 2 * kPages; ++round) {
            const int page = (round * 2 + 1) % kPages;
            if (page == shown)
                continue;
            test::runMainLoopFor(pause);
            const auto start = Clock::now();
            show(page);
            bool seen = false;
            while (Clock::now() - start < 3s) {
                g_main_context_iteration(nullptr, FALSE);
                if (drawsColour(*hosts[std::size_t(page)], colourOf(page))) {
                    seen = true;
                    break;
                }
                g_usleep(2000);
            }
            if (seen)
                latencies.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            else
                ++never;
        }
        std::sort(latencies.begin(), latencies.end());

        // The hidden pages' reports over 20 s with the first page shown.
        show(0);
        test::runMainLoopFor(2s);
        reports.clear();
        const auto windowStart = Clock::now();
        test::runMainLoopFor(20s);
        const auto windowEnd = Clock::now();
        double longestGap = 0;
        for (int i = 1; i < kPages; ++i) {
            auto last = windowStart;
            for (auto when : reports[i]) {
                longestGap =
                    std::max(longestGap, std::chrono::duration<double>(when - last).count());
                last = when;
            }
            longestGap =
                std::max(longestGap, std::chrono::duration<double>(windowEnd - last).count());
        }
        const double pss = double(bench::treePssKiB()) / 1024.0;
        std::printf("%-12s  %34.0f  %4.0f  %5d  %41.1f  %9.0f\n", way.c_str(),
                    latencies.empty() ? -1.0 : latencies[latencies.size() / 2],
                    latencies.empty() ? -1.0 : latencies.back(), never, longestGap, pss);
        std::fflush(stdout);

        hosts.clear();
        window.unset_child();
        window.hide();
        test::runMainLoopFor(1s);
    }
    return 0;
}
