// aurelo-service on its two stores: requests per second and latency for login, the engine list
// and a cached translation, with one instance on SQLite, one on PostgreSQL and two on one
// PostgreSQL database (the client spreads its requests over both, as a round-robin load balancer
// would); then how long a revocation made through one instance takes to be refused by the other.
// PostgreSQL is a private cluster on a Unix socket that flushes to disk as a real one does.
//
//   build/default/bench/service/bench_shared_store [path/to/aurelo-service]

#include "PostgresCluster.hpp"
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
#include <memory>

using namespace aurelo;
using namespace aurelo::service::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using nlohmann::json;

namespace {

struct Figures {
    double perSecond = 0;
    double p50 = 0, p99 = 0;
    int failed = 0;
};

double percentile(std::vector<double>& values, double q) {
    if (values.empty())
        return 0;
    std::ranges::sort(values);
    return values[std::min(values.size() - 1, static_cast<std::size_t>(q * values.size()))];
}

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
    Figures figures{total / seconds, 0, 0, failed + (total - finished)};
    figures.p50 = percentile(latencies, 0.5);
    figures.p99 = percentile(latencies, 0.99);
    return figures;
}

void print(const std::string& name, const Figures& f) {
    std::printf("  %-28s %8.0f req/s   p50 %7.1f ms   p99 %7.1f ms%s\n", name.c_str(), f.perSecond,
                f.p50, f.p99,
                f.failed ? ("   (" + std::to_string(f.failed) + " failed)").c_str() : "");
}

void networkEventCallback(SoupMessage*, GSocketClientEvent event, GIOStream* connection, gpointer) {
    if (event == G_SOCKET_CLIENT_CONNECTED && G_IS_SOCKET_CONNECTION(connection))
        g_socket_set_option(g_socket_connection_get_socket(G_SOCKET_CONNECTION(connection)),
                            IPPROTO_TCP, TCP_NODELAY, 1, nullptr);
}

void requestQueuedCallback(SoupSession*, SoupMessage* message, gpointer) {
    g_signal_connect(message, "network-event", G_CALLBACK(networkEventCallback), nullptr);
}

std::optional<HttpResponse> callOnce(HttpSession& client, const HttpRequest& request) {
    std::optional<HttpResult> answer;
    client.send(request, [&](HttpResult result) { answer = std::move(result); });
    aurelo::test::runMainLoopUntil([&] { return answer.has_value(); }, 30s);
    if (!answer || !*answer)
        return std::nullopt;
    return **answer;
}

class Scenario {
public:
    Scenario(const std::string& binary, int instances, const std::string& database,
             const std::string& providerOrigin)
        : m_database(database) {
        for (int i = 0; i < instances; ++i)
            m_instances.push_back(std::make_unique<ServiceProcess>(binary));
        admin({"users", "add", "bench", "--password", "bench-password"});
        admin({"engines", "enable", "bench", "google"});
        admin({"providers", "set", "google", "--key", "k", "--endpoint", providerOrigin});
        // Limits far above what the benchmark sends: counted (in the database with PostgreSQL)
        // but never reached.
        std::vector<std::string> options = {"--rate-limit",
                                            "100000000",
                                            "--login-rate-limit",
                                            "100000000",
                                            "--login-user-rate-limit",
                                            "100000000"};
        if (!database.empty())
            options.insert(options.end(), {"--database", database});
        for (auto& instance : m_instances)
            m_started = instance->start(options) && m_started;
    }

    bool started() const { return m_started; }
    int admin(std::vector<std::string> arguments) {
        if (!m_database.empty())
            arguments.insert(arguments.begin(), {"--database", m_database});
        return m_instances.front()->admin(arguments);
    }
    const ServiceProcess& instance(int i) const {
        return *m_instances[static_cast<std::size_t>(i) % m_instances.size()];
    }
    int count() const { return static_cast<int>(m_instances.size()); }

private:
    std::string m_database;
    std::vector<std::unique_ptr<ServiceProcess>> m_instances;
    bool m_started = true;
};

HttpRequest loginRequest(const ServiceProcess& instance) {
    return instance.post("/api/auth/login",
                         {{"username", "bench"}, {"password", "bench-password"}});
}

HttpRequest enginesRequest(const ServiceProcess& instance, const std::string& token) {
    return {"GET",
            instance.origin() + "/api/engines",
            {{"Authorization", "Bearer " + token}},
            std::nullopt,
            {},
            {}};
}

std::string login(HttpSession& client, const ServiceProcess& instance) {
    auto answer = callOnce(client, loginRequest(instance));
    if (!answer || answer->status != 200)
        return {};
    return json::parse(answer->body)["token"].get<std::string>();
}

void run(const std::string& title, Scenario& scenario, HttpSession& client) {
    std::printf("%s\n", title.c_str());
    std::string token = login(client, scenario.instance(0));
    if (token.empty()) {
        std::printf("  cannot log in\n");
        return;
    }
    auto translate = [&](int i) {
        return scenario.instance(i).post(
            "/api/translate",
            {{"text", "warm " + std::to_string(i / scenario.count() % 100)},
             {"target", "zh-CN"},
             {"provider", "google"}},
            token);
    };
    // Logins stretch the password (two threads per instance): fewer of them.
    print("login, 8 in flight",
          measure(client, 48, 8, [&](int i) { return loginRequest(scenario.instance(i)); }));
    print("engine list, 16 in flight", measure(client, 4000, 16, [&](int i) {
              return enginesRequest(scenario.instance(i), token);
          }));
    // Every instance's cache warmed with the same 100 texts first.
    measure(client, 100 * scenario.count(), 16, translate);
    print("cached translation, 16 in flight", measure(client, 4000, 16, translate));
}

} // namespace

int main(int argc, char** argv) {
    std::string binary = argc > 1 ? argv[1] : ServiceProcess::builtBinary();
    if (!std::filesystem::exists(binary)) {
        std::fprintf(stderr, "aurelo-service not found at %s\n", binary.c_str());
        return 1;
    }
    PostgresCluster cluster(/*durable=*/true);
    if (!cluster.ready()) {
        std::fprintf(stderr, "%s\n", cluster.failure().c_str());
        return 1;
    }
    FakeUpstream provider(
        [](const UpstreamRequest& request) { return googleTranslations(request, 0ms); });
    HttpSession client(HttpSessionConfiguration{30s, 30s, 64, {}});
    g_signal_connect(client.soupSession(), "request-queued", G_CALLBACK(requestQueuedCallback),
                     nullptr);
    std::printf("aurelo-service (%s), %u cores\n", binary.c_str(), g_get_num_processors());

    {
        Scenario sqlite(binary, 1, "", provider.origin());
        if (sqlite.started())
            run("one instance on SQLite", sqlite, client);
    }
    cluster.recreateDatabase("bench_one");
    {
        Scenario one(binary, 1, cluster.uri("bench_one"), provider.origin());
        if (one.started())
            run("one instance on PostgreSQL", one, client);
    }
    cluster.recreateDatabase("bench_two");
    Scenario two(binary, 2, cluster.uri("bench_two"), provider.origin());
    if (!two.started()) {
        std::fprintf(stderr, "cannot start two instances\n");
        return 1;
    }
    run("two instances on one PostgreSQL (requests alternate)", two, client);

    // A logout through the first instance, then the same token on the second until refused:
    // the time from the logout's answer to the second instance's refusal.
    std::vector<double> delays;
    int attemptsAfter = 0;
    for (int round = 0; round < 50; ++round) {
        std::string token = login(client, two.instance(0));
        if (token.empty() ||
            callOnce(client, enginesRequest(two.instance(1), token))->status != 200)
            continue;
        auto logout =
            callOnce(client, two.instance(0).post("/api/auth/logout", json::object(), token));
        if (!logout || logout->status != 204)
            continue;
        auto revoked = Clock::now();
        for (int attempt = 1; attempt <= 1000; ++attempt) {
            auto answer = callOnce(client, enginesRequest(two.instance(1), token));
            if (answer && answer->status == 401) {
                delays.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - revoked).count());
                attemptsAfter = std::max(attemptsAfter, attempt);
                break;
            }
        }
    }
    std::printf("revocation on one instance refused by the other: %zu rounds, median %.2f ms, "
                "p99 %.2f ms, refused at the latest on request %d after the logout\n",
                delays.size(), percentile(delays, 0.5), percentile(delays, 0.99), attemptsAfter);
    return 0;
}
