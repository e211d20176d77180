// aurelo-service figures: translation requests per second and latency percentiles, single and
// batch, with the server's cache warm and with every text new to a fake provider that answers
// after 50 ms. The service runs as its own process (the built aurelo-service binary); this
// program plays the provider and the desktop clients (8 requests in flight, like the client's
// 8 connections), all on loopback.
//
//   build/default/bench/service/bench_service [path/to/aurelo-service]

#include "platform/HttpSession.hpp"
#include "support/FakeManagedService.hpp"
#include "support/MainLoopWait.hpp"

#include <gio/gio.h>
#include <glib.h>
#include <libsoup/soup.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace aurelo;
using Clock = std::chrono::steady_clock;

namespace {

int runAdmin(const std::string& binary, const std::string& data,
             std::vector<std::string> arguments) {
    std::vector<const char*> argv = {binary.c_str(), "admin", "--data", data.c_str()};
    for (const auto& a : arguments)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    int status = 0;
    g_spawn_sync(nullptr, const_cast<char**>(argv.data()), nullptr, G_SPAWN_STDOUT_TO_DEV_NULL,
                 nullptr, nullptr, nullptr, nullptr, &status, nullptr);
    return status;
}

struct Figures {
    double perSecond;
    double p50, p90, p99;
    int failed;
};

// Keeps `concurrency` requests in flight until `total` have been answered.
Figures measure(HttpSession& client, int total, int concurrency,
                const std::function<HttpRequest(int)>& make) {
    std::vector<double> latencies;
    int started = 0, finished = 0, failed = 0;
    std::function<void()> launch = [&] {
        int index = started++;
        auto begin = Clock::now();
        client.send(make(index), [&, begin](HttpResult result) {
            latencies.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
            if (!result || result->status != 200)
                ++failed;
            ++finished;
            if (started < total)
                launch();
        });
    };
    auto begin = Clock::now();
    for (int i = 0; i < std::min(concurrency, total); ++i)
        launch();
    test::runMainLoopUntil([&] { return finished == total; }, std::chrono::minutes(10));
    double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    std::ranges::sort(latencies);
    auto at = [&](double q) {
        return latencies.empty()
                   ? 0
                   : latencies[std::min(latencies.size() - 1,
                                        static_cast<std::size_t>(q * latencies.size()))];
    };
    return {total / seconds, at(0.5), at(0.9), at(0.99), failed + (total - finished)};
}

void print(const char* name, const Figures& f, int textsPerRequest) {
    std::printf("%-44s %8.0f req/s %8.0f texts/s   p50 %6.1f ms  p90 %6.1f ms  p99 %6.1f ms%s\n",
                name, f.perSecond, f.perSecond * textsPerRequest, f.p50, f.p90, f.p99,
                f.failed ? ("   (" + std::to_string(f.failed) + " failed)").c_str() : "");
}

// libsoup writes a request's headers and body separately; with Nagle's algorithm on, the body
// waits for the server's delayed acknowledgement (about 40 ms). Real clients should disable it;
// the benchmark does, so that it measures the service.
void networkEventCallback(SoupMessage*, GSocketClientEvent event, GIOStream* connection, gpointer) {
    if (event == G_SOCKET_CLIENT_CONNECTED && G_IS_SOCKET_CONNECTION(connection))
        g_socket_set_option(g_socket_connection_get_socket(G_SOCKET_CONNECTION(connection)),
                            IPPROTO_TCP, TCP_NODELAY, 1, nullptr);
}

void requestQueuedCallback(SoupSession*, SoupMessage* message, gpointer) {
    g_signal_connect(message, "network-event", G_CALLBACK(networkEventCallback), nullptr);
}

} // namespace

int main(int argc, char** argv) {
    std::filesystem::path self = std::filesystem::canonical("/proc/self/exe");
    std::string binary =
        argc > 1
            ? argv[1]
            : (self.parent_path() / "../../service/aurelo-service").lexically_normal().string();
    if (!std::filesystem::exists(binary)) {
        std::fprintf(stderr, "aurelo-service not found at %s\n", binary.c_str());
        return 1;
    }
    char* tmp = g_dir_make_tmp("aurelo-service-bench-XXXXXX", nullptr);
    std::string data = tmp;
    g_free(tmp);

    // The provider: Google's v2 answer format, 50 ms after each request.
    test::FakeManagedService provider;
    provider.setResponder([](const test::RecordedRequest& request) {
        nlohmann::json items = nlohmann::json::array();
        if (request.json && request.json->contains("q"))
            for (const auto& text : (*request.json)["q"])
                items.push_back({{"translatedText", "译:" + text.get<std::string>()},
                                 {"detectedSourceLanguage", "en"}});
        auto answer = test::ScriptedAnswer::json(200, {{"data", {{"translations", items}}}});
        answer.delay = std::chrono::milliseconds(50);
        return answer;
    });

    runAdmin(binary, data, {"users", "add", "bench", "--password", "bench-password"});
    runAdmin(binary, data, {"engines", "enable", "bench", "google"});
    runAdmin(binary, data,
             {"providers", "set", "google", "--key", "bench-key", "--endpoint", provider.origin()});

    const char* serveArgv[] = {binary.c_str(), "serve",        "--listen", "127.0.0.1:0", "--data",
                               data.c_str(),   "--rate-limit", "0",        nullptr};
    GError* error = nullptr;
    GSubprocess* server =
        g_subprocess_newv(serveArgv,
                          static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                                                        G_SUBPROCESS_FLAGS_STDERR_SILENCE),
                          &error);
    if (!server) {
        std::fprintf(stderr, "cannot start the service: %s\n", error->message);
        return 1;
    }
    GDataInputStream* lines = g_data_input_stream_new(g_subprocess_get_stdout_pipe(server));
    char* line = g_data_input_stream_read_line_utf8(lines, nullptr, nullptr, nullptr);
    std::string listening = line ? line : "";
    g_free(line);
    std::string origin = listening.substr(listening.find("http://"));

    HttpSession client(
        HttpSessionConfiguration{std::chrono::seconds(30), std::chrono::seconds(30), 8, {}});
    if (!g_getenv("BENCH_KEEP_NAGLE"))
        g_signal_connect(client.soupSession(), "request-queued", G_CALLBACK(requestQueuedCallback),
                         nullptr);
    auto post = [&](const std::string& path, const nlohmann::json& body, const std::string& token) {
        HttpRequest request{"POST", origin + path, {}, body.dump(), "application/json", {}};
        if (!token.empty())
            request.headers.emplace_back("Authorization", "Bearer " + token);
        return request;
    };
    std::string token;
    client.send(
        post("/api/auth/login", {{"username", "bench"}, {"password", "bench-password"}}, ""),
        [&](HttpResult result) {
            if (result && result->status == 200)
                token = nlohmann::json::parse(result->body)["token"];
            else
                token = "-";
        });
    test::runMainLoopUntil([&] { return !token.empty(); }, std::chrono::seconds(30));

    auto single = [&](const std::string& text) {
        return post("/api/translate", {{"text", text}, {"target", "zh-CN"}, {"provider", "google"}},
                    token);
    };
    auto batch = [&](const std::string& prefix) {
        std::vector<std::string> texts;
        for (int i = 0; i < 10; ++i)
            texts.push_back(prefix + " item " + std::to_string(i));
        return post("/api/translate",
                    {{"texts", texts}, {"target", "zh-CN"}, {"provider", "google"}}, token);
    };

    std::printf("aurelo-service on %s, 8 requests in flight, %u cores\n", origin.c_str(),
                g_get_num_processors());
    // Cold: every text new, the provider answers after 50 ms.
    print(
        "single, provider 50 ms (all texts new)",
        measure(client, 400, 8, [&](int i) { return single("cold single " + std::to_string(i)); }),
        1);
    print("batch of 10, provider 50 ms (all texts new)",
          measure(client, 200, 8, [&](int i) { return batch("cold batch " + std::to_string(i)); }),
          10);
    // Warm: the same 100 texts / 20 batches again and again, answered from the server's cache.
    measure(client, 100, 8, [&](int i) { return single("warm single " + std::to_string(i)); });
    measure(client, 20, 8, [&](int i) { return batch("warm batch " + std::to_string(i)); });
    print("single, cache warm",
          measure(client, 5000, 8,
                  [&](int i) { return single("warm single " + std::to_string(i % 100)); }),
          1);
    print("batch of 10, cache warm",
          measure(client, 2000, 8,
                  [&](int i) { return batch("warm batch " + std::to_string(i % 20)); }),
          10);

    g_subprocess_send_signal(server, SIGTERM);
    g_subprocess_wait(server, nullptr, nullptr);
    g_object_unref(lines);
    g_object_unref(server);
    std::filesystem::remove_all(data);
    return 0;
}
