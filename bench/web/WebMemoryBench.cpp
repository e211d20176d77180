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

int parentOf(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream rest(line.substr(close + 2));
    char state;
    int ppid;
    rest >> state >> ppid;
    return ppid;
}

long pssKiB(int pid) {
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string key;
    long value = 0;
    while (rollup >> key) {
        if (key == "Pss:") {
            rollup >> value;
            return value;
        }
        rollup.ignore(1 << 12, '\n');
    }
    return 0;
}

// This process and all its descendants.
long treePssKiB() {
    std::set<int> tree{static_cast<int>(getpid())};
    std::map<int, int> parents;
    if (DIR* proc = opendir("/proc")) {
        while (dirent* entry = readdir(proc))
            if (int pid = std::atoi(entry->d_name); pid > 0)
                parents[pid] = parentOf(pid);
        closedir(proc);
    }
    for (bool grown = true; grown;) {
        grown = false;
        for (const auto& [pid, parent] : parents)
            if (tree.contains(parent) && tree.insert(pid).second)
                grown = true;
    }
    long total = 0;
    for (int pid : tree)
        total += pssKiB(pid);
    return total;
}

} // namespace

int main() {
    bench::initialiseGtk();
    const auto root = bench::temporaryRoot();
    bench::PageServer pages;
    pages.add("/chat.html", chatPage(500));
    test::FakeManagedService fake;
    HttpSession translationSession{TranslationNetwork::sessionConfiguration()};
    TranslationRequestCache cache;
    TranslationService service{fake.origin(), translationSession, cache};
    WebsiteDataStores stores(root / "data", root / "cache");
    WebEnvironment environment{stores,
                               service,
                               translationSession,
                               fake.origin(),
                               "window.aureloReady = true;",
                               root / "downloads",
                               {},
                               false};

    std::vector<std::unique_ptr<WhatsAppWebView>> hosts;
    const long baseline = treePssKiB();
    std::printf("sessions  total PSS (MiB)  per session (MiB)\n");
    std::printf("%8d  %15.1f\n", 0, baseline / 1024.0);
    long previous = baseline;
    int previousCount = 0;
    for (int target : {1, 5, 10}) {
        while (static_cast<int>(hosts.size()) < target) {
            WhatsAppWebViewInputs inputs;
            inputs.sessionID = bench::sessionId(static_cast<int>(hosts.size()));
            inputs.pageURL = pages.url("/chat.html");
            hosts.push_back(std::make_unique<WhatsAppWebView>(inputs, environment));
            if (!bench::waitForLoad(hosts.back()->webView())) {
                std::fprintf(stderr, "session %zu did not load\n", hosts.size());
                return 1;
            }
        }
        // Let the pages settle (layout, the network process's caches) before measuring.
        test::runMainLoopFor(std::chrono::seconds(2));
        const long total = treePssKiB();
        std::printf("%8d  %15.1f  %17.1f\n", target, total / 1024.0,
                    (total - previous) / 1024.0 / (target - previousCount));
        previous = total;
        previousCount = target;
    }
    hosts.clear();
    test::runMainLoopFor(std::chrono::milliseconds(200));
    std::error_code error;
    std::filesystem::remove_all(root, error);
    return 0;
}
