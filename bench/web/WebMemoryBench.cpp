// Memory of 1, 5 and 10 chat sessions, each a view on its own network session showing a chat
// page of 500 messages: the proportional set size (PSS) of this process and every process below
// it (WebKit's web and network processes, and their sandbox helpers), from smaps_rollup.
//
//   scripts/test-session build/default/bench/web/bench_web_memory

#include "WebBenchSupport.hpp"

#include <dirent.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

using namespace aurelo;

namespace {

std::string chatPage(int messages) {
    std::ostringstream html;
    html << "<!DOCTYPE html><html><head><meta charset='utf-8'><title>chat</title>"
            "<style>.m{padding:4px;margin:2px;border-radius:6px;background:#eef}</style></"
            "head><body>";
    for (int i = 0; i < messages; ++i)
        html << "<div class='m" << (i % 2 ? " out" : " in") << "' data-id='" << i
             << "'><span class='author'>" << (i % 2 ? "我" : "Customer") << "</span> "
             << "<span class='text'>Message number " << i
             << ": hello, could you tell me when my order will arrive? 谢谢</span>"
             << "<span class='time'>12:" << (i % 60) << "</span></div>";
    html << "<div contenteditable='true' id='composer'></div></body></html>";
    return html.str();
}

} // namespace

int main() {
    bench::initialiseGtk();
    // A stand-in script: this measures the pages and processes, not the page script.
    bench::HostBench bench("window.aureloReady = true;");
    bench.pages.add("/chat.html", chatPage(500));

    std::vector<std::unique_ptr<ChatWebView>> hosts;
    const long baseline = bench::treePssKiB();
    std::printf("sessions  total PSS (MiB)  per session (MiB)\n");
    std::printf("%8d  %15.1f\n", 0, baseline / 1024.0);
    long previous = baseline;
    int previousCount = 0;
    for (int target : {1, 5, 10}) {
        while (static_cast<int>(hosts.size()) < target) {
            ChatWebViewInputs inputs;
            inputs.sessionID = bench::sessionId(static_cast<int>(hosts.size()));
            inputs.pageURL = bench.pages.url("/chat.html");
            hosts.push_back(std::make_unique<ChatWebView>(inputs, bench.environment));
            if (!bench::waitForLoad(hosts.back()->webView())) {
                std::fprintf(stderr, "session %zu did not load\n", hosts.size());
                return 1;
            }
        }
        // Let the pages settle (layout, the network process's caches) before measuring.
        test::runMainLoopFor(std::chrono::seconds(2));
        const long total = bench::treePssKiB();
        std::printf("%8d  %15.1f  %17.1f\n", target, total / 1024.0,
                    (total - previous) / 1024.0 / (target - previousCount));
        previous = total;
        previousCount = target;
    }
    hosts.clear();
    test::runMainLoopFor(std::chrono::milliseconds(200));
    return 0;
}
