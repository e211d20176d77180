#pragma once

// What the web benchmarks share: a page server on loopback, the fake managed service, a temporary
// home for website data, and helpers that wait for loads and evaluate script. Run under
// scripts/test-session (a virtual display and a private bus).

#include "support/FakeManagedService.hpp"
#include "support/MainLoopWait.hpp"
#include "translation/TranslationNetwork.hpp"
#include "translation/TranslationService.hpp"
#include "webview/ChatWebView.hpp"

#include <gtkmm/init.h>
#include <libsoup/soup.h>

#include <dirent.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <memory>
#include <optional>
#include <string>

namespace aurelo::bench {

inline void initialiseGtk() {
    gtk_init();
    Gtk::init_gtkmm_internals();
}

class PageServer {
public:
    PageServer() : m_server(adoptGRef(soup_server_new(nullptr, nullptr))) {
        soup_server_add_handler(m_server.get(), nullptr, handleCallback, this, nullptr);
        soup_server_listen_local(m_server.get(), 0, SOUP_SERVER_LISTEN_IPV4_ONLY, nullptr);
        GSList* uris = soup_server_get_uris(m_server.get());
        m_port = g_uri_get_port(static_cast<GUri*>(uris->data));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    }
    void add(const std::string& path, std::string html) { m_pages[path] = std::move(html); }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }

private:
    static void handleCallback(SoupServer*, SoupServerMessage* message, const char* path,
                               GHashTable*, gpointer data) {
        auto* self = static_cast<PageServer*>(data);
        auto it = self->m_pages.find(path);
        soup_server_message_set_status(message, it == self->m_pages.end() ? 404 : 200, nullptr);
        const std::string body = it == self->m_pages.end() ? "" : it->second;
        soup_server_message_set_response(message, "text/html; charset=utf-8", SOUP_MEMORY_COPY,
                                         body.data(), body.size());
    }

    GRef<SoupServer> m_server;
    int m_port = 0;
    std::map<std::string, std::string> m_pages;
};

inline std::string sessionId(int n) {
    char id[37];
    std::snprintf(id, sizeof id, "%08X-0000-4000-8000-%012X", n + 1, n + 1);
    return id;
}

inline bool waitForLoad(WebKitWebView* view,
                        std::chrono::seconds deadline = std::chrono::seconds(30)) {
    bool finished = false;
    auto handler = g_signal_connect(
        view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer flag) {
            if (event == WEBKIT_LOAD_FINISHED)
                *static_cast<bool*>(flag) = true;
        }),
        &finished);
    const bool ok = test::runMainLoopUntil([&] { return finished; }, deadline);
    g_signal_handler_disconnect(view, handler);
    return ok;
}

inline std::optional<std::string> evaluate(WebKitWebView* view, const std::string& script,
                                           const char* world = ChatWebView::kScriptWorld) {
    struct State {
        bool done = false;
        std::optional<std::string> json;
    };
    auto state = std::make_shared<State>();
    webkit_web_view_evaluate_javascript(
        view, script.c_str(), static_cast<gssize>(script.size()), world, nullptr, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::shared_ptr<State>> state(
                static_cast<std::shared_ptr<State>*>(data));
            auto value = adoptGRef(webkit_web_view_evaluate_javascript_finish(
                WEBKIT_WEB_VIEW(source), result, nullptr));
            if (value) {
                char* json = jsc_value_to_json(value.get(), 0);
                (*state)->json = json ? json : "undefined";
                g_free(json);
            }
            (*state)->done = true;
        },
        new std::shared_ptr<State>(state));
    test::runMainLoopUntil([&] { return state->done; }, std::chrono::seconds(60));
    return state->json;
}

inline std::filesystem::path temporaryRoot() {
    char* root = g_dir_make_tmp("aurelo-web-bench-XXXXXX", nullptr);
    std::filesystem::path path = root;
    g_free(root);
    return path;
}

// Everything a host needs, on a temporary root that is removed at the end: the page server, the
// fake managed service (echoing every translation), and the web environment with `pageScript`.
struct HostBench {
    explicit HostBench(std::string pageScript)
        : environment{stores, service, translationSession, fake.origin(), std::move(pageScript),
                      root / "downloads", {}, false} {
        fake.setResponder(
            [](const test::RecordedRequest& request) { return test::echoTranslation(request); });
    }
    ~HostBench() {
        std::error_code error;
        std::filesystem::remove_all(root, error);
    }

    std::filesystem::path root = temporaryRoot();
    PageServer pages;
    test::FakeManagedService fake;
    HttpSession translationSession{TranslationNetwork::sessionConfiguration()};
    TranslationRequestCache cache;
    TranslationService service{fake.origin(), translationSession, cache};
    WebsiteDataStores stores{root / "data", root / "cache"};
    WebEnvironment environment;
};

struct ProcessStat {
    int parent = -1;
    long long cpuTicks = 0; // user + system
};

// The parent and CPU time of a process, from /proc/<pid>/stat.
inline ProcessStat readProcessStat(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    ProcessStat result;
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return result;
    std::istringstream rest(line.substr(close + 2));
    std::vector<std::string> fields;
    for (std::string field; rest >> field;)
        fields.push_back(field);
    // After the command: state(0) ppid(1) … utime(11) stime(12).
    if (fields.size() > 12) {
        result.parent = std::stoi(fields[1]);
        result.cpuTicks = std::stoll(fields[11]) + std::stoll(fields[12]);
    }
    return result;
}

// This process and all its descendants (WebKit's web and network processes and their helpers).
inline std::set<int> processTree() {
    std::map<int, int> parents;
    if (DIR* proc = opendir("/proc")) {
        while (dirent* entry = readdir(proc))
            if (int pid = std::atoi(entry->d_name); pid > 0)
                parents[pid] = readProcessStat(pid).parent;
        closedir(proc);
    }
    std::set<int> tree{static_cast<int>(getpid())};
    for (bool grown = true; grown;) {
        grown = false;
        for (const auto& [pid, parent] : parents)
            if (tree.contains(parent) && tree.insert(pid).second)
                grown = true;
    }
    return tree;
}

// Proportional set size of one process, from the kernel's rollup; 0 when it is gone.
inline long pssKiB(int pid) {
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
inline long treePssKiB() {
    long total = 0;
    for (int pid : processTree())
        total += pssKiB(pid);
    return total;
}

} // namespace aurelo::bench
