// aurelo-service figures: translation requests per second and latency percentiles with 1, 16 and
// 64 clients in flight, with the server's cache warm and with every text new to a fake provider
// that answers after 50 ms; then the service's memory while accounts translate and an attacker
// without an account holds slow connections and sends large bodies. The service runs as its own
// process (the built aurelo-service, or the binary named on the command line); this program plays
// the provider, the clients and the attacker, all on loopback.
//
//   build/default/bench/service/bench_service [path/to/aurelo-service]

#include "AbuseClients.hpp"
#include "ServiceHarness.hpp"
#include "ServiceProcess.hpp"

#include "platform/HttpSession.hpp"
#include "support/MainLoopWait.hpp"

#include <gio/gio.h>
#include <libsoup/soup.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace aurelo;
using namespace aurelo::service::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using nlohmann::json;

namespace {

struct Figures {
    double perSecond;
    double p50, p99;
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
    aurelo::test::runMainLoopUntil([&] { return finished == total; }, 10min);
    double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    std::ranges::sort(latencies);
    auto at = [&](double q) {
        return latencies.empty()
                   ? 0
                   : latencies[std::min(latencies.size() - 1,
                                        static_cast<std::size_t>(q * latencies.size()))];
    };
    return {total / seconds, at(0.5), at(0.99), failed + (total - finished)};
}

void print(const std::string& name, const Figures& f) {
    std::printf("%-34s %8.0f req/s   p50 %7.1f ms   p99 %7.1f ms%s\n", name.c_str(), f.perSecond,
                f.p50, f.p99,
                f.failed ? ("   (" + std::to_string(f.failed) + " failed)").c_str() : "");
}

// libsoup writes a request's headers and body separately; with Nagle's algorithm on, the body
// waits for the server's delayed acknowledgement (about 40 ms). The benchmark disables it, so
// that it measures the service.
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
    std::string binary = argc > 1 ? argv[1] : ServiceProcess::builtBinary();
    if (!std::filesystem::exists(binary)) {
        std::fprintf(stderr, "aurelo-service not found at %s\n", binary.c_str());
        return 1;
    }
    // The provider: Google's v2 answer format, 50 ms after each request.
    FakeUpstream provider(
        [](const UpstreamRequest& request) { return googleTranslations(request, 50ms); });
    ServiceProcess service(binary);
    service.admin({"users", "add", "bench", "--password", "bench-password"});
    service.admin({"engines", "enable", "bench", "google"});
    service.admin(
        {"providers", "set", "google", "--key", "bench-key", "--endpoint", provider.origin()});
    if (!service.start({"--rate-limit", "0"})) {
        std::fprintf(stderr, "cannot start the service\n");
        return 1;
    }

    HttpSession client(HttpSessionConfiguration{30s, 30s, 64, {}});
    g_signal_connect(client.soupSession(), "request-queued", G_CALLBACK(requestQueuedCallback),
                     nullptr);
    auto post = [&](const std::string& path, const json& body, const std::string& token) {
        return service.post(path, body, token);
    };
    std::string token;
    client.send(
        post("/api/auth/login", {{"username", "bench"}, {"password", "bench-password"}}, ""),
        [&](HttpResult result) {
            token = result && result->status == 200
                        ? json::parse(result->body)["token"].get<std::string>()
                        : "-";
        });
    aurelo::test::runMainLoopUntil([&] { return !token.empty(); }, 30s);
    auto single = [&](const std::string& text) {
        return post("/api/translate", {{"text", text}, {"target", "zh-CN"}, {"provider", "google"}},
                    token);
    };

    std::printf("aurelo-service (%s) on %s, %u cores\n", binary.c_str(), service.origin().c_str(),
                g_get_num_processors());
    int round = 0;
    for (int clients : {1, 16, 64}) {
        // Every text new: the provider answers after 50 ms.
        std::string prefix = "cold " + std::to_string(++round) + " ";
        print("uncached, " + std::to_string(clients) + " in flight",
              measure(client, clients == 1 ? 40 : clients * 12, clients,
                      [&](int i) { return single(prefix + std::to_string(i)); }));
        // The same 100 texts again and again, answered from the service's cache.
        measure(client, 100, clients, [&](int i) { return single("warm " + std::to_string(i)); });
        print("cached, " + std::to_string(clients) + " in flight",
              measure(client, clients == 1 ? 2000 : 6000, clients,
                      [&](int i) { return single("warm " + std::to_string(i % 100)); }));
    }

    // Under attack: 16 requests of the account in flight (cached and new texts), 60 slow
    // clients and 8 clients sending 24 MiB bodies without a token, for 15 seconds (longer than
    // the service's default header time-out of 10 s).
    aurelo::test::runMainLoopFor(500ms);
    long baseline = service.residentKiB();
    AbuseClients attack({.port = service.port(), .slowClients = 60, .duration = 15s});
    auto load = service.keepBusy(client, 16, 15s, [&](int n) {
        return single((n % 2 ? "warm " : "attack ") + std::to_string(n % 2 ? n % 100 : n));
    });
    AbuseReport report = attack.finish();
    aurelo::test::runMainLoopFor(2s);
    long after = service.residentKiB();
    std::printf("under attack: memory %ld KiB before, %ld KiB peak, %ld KiB 2 s after\n", baseline,
                load.peakKiB, after);
    std::printf("  account: %d requests answered, %d failed\n", load.succeeded, load.failed);
    std::printf("  slow clients: %d of %d closed by the service\n", report.slowClosedByServer,
                report.slowOpened);
    std::printf("  large bodies: %d attempts, %d answered before the body was sent;",
                report.bodyAttempts, report.bodyCutShort);
    for (const auto& [status, count] : report.bodyStatuses)
        std::printf(" %u x%d", status, count);
    std::printf("\n");
    return 0;
}
