// aurelo-service measured against the HTTP limit of the machine it runs on. Debian's wrk drives the
// service at 1, 16, 64 and 256 connections, with cached translations (one text, answered from the
// result cache) and uncached ones (a new text each time, which a loopback provider answers after
// 50 ms), on SQLite and on PostgreSQL with one instance and with two. In the same run wrk drives a
// bare libsoup server answering a fixed JSON body of the cached answer's size, the most any
// libsoup service can answer here, and the provider itself over the connections the service keeps
// to it, the most the service can translate uncached. Throughput is printed as ratios to those two.
//
//   build/default/bench/service/bench_http_limit [--seconds N] [--upstream-connections N]
//                                                [path/to/aurelo-service]

#include "PostgresCluster.hpp"
#include "ServiceHarness.hpp"
#include "ServiceProcess.hpp"

#include "platform/GRef.hpp"
#include "platform/HttpSession.hpp"
#include "support/MainLoopWait.hpp"
#include "support/TestDirectory.hpp"

#include <gio/gio.h>
#include <libsoup/soup.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>

using namespace aurelo;
using namespace aurelo::service::test;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

constexpr int kConnections[] = {1, 16, 64, 256};
constexpr auto kProviderDelay = 50ms;

// What wrk reports for one run.
struct Load {
    double perSecond = 0;
    double p99Ms = 0;
    long failed = 0; // answers other than 2xx, and socket errors
};

// A libsoup server on loopback that answers every request with what `answer` makes of its body,
// after `delay`, over the same libsoup and with the same socket option as the service. With no
// delay and a fixed answer it is the bare server, the limit of cached translations; with Google's
// answer after 50 ms it is the provider (written here rather than taken from the tests' fake
// provider, which leaves Nagle's algorithm on: its answers then wait for the delayed
// acknowledgement of a client such as libsoup, about 40 ms, which is not the provider's limit).
class LoopbackHttpServer {
public:
    using Answer = std::function<std::string(std::string_view body)>;
    LoopbackHttpServer(Answer answer, std::chrono::milliseconds delay)
        : m_answer(std::move(answer)), m_delay(delay) {
        m_server = adoptGRef(soup_server_new("server-header", "bare ", nullptr));
        soup_server_add_handler(m_server.get(), nullptr, handleCallback, this, nullptr);
        soup_server_listen_local(m_server.get(), 0, SOUP_SERVER_LISTEN_IPV4_ONLY, nullptr);
        GSList* uris = soup_server_get_uris(m_server.get());
        m_port = uris ? g_uri_get_port(static_cast<GUri*>(uris->data)) : 0;
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(m_port); }

private:
    static void handleCallback(SoupServer*, SoupServerMessage* message, const char*, GHashTable*,
                               gpointer data) {
        auto* self = static_cast<LoopbackHttpServer*>(data);
        if (GSocket* socket = soup_server_message_get_socket(message))
            g_socket_set_option(socket, IPPROTO_TCP, TCP_NODELAY, 1, nullptr);
        SoupMessageBody* request = soup_server_message_get_request_body(message);
        std::string body = self->m_answer(
            request && request->data ? std::string_view(request->data, request->length) : "");
        soup_server_message_set_status(message, 200, nullptr);
        soup_message_headers_replace(soup_server_message_get_response_headers(message),
                                     "Cache-Control", "no-store");
        soup_server_message_set_response(message, "application/json; charset=utf-8",
                                         SOUP_MEMORY_COPY, body.data(), body.size());
        if (self->m_delay.count() == 0)
            return;
        soup_server_message_pause(message);
        g_timeout_add_full(
            G_PRIORITY_DEFAULT, static_cast<guint>(self->m_delay.count()),
            [](gpointer held) -> gboolean {
                soup_server_message_unpause(static_cast<SoupServerMessage*>(held));
                return G_SOURCE_REMOVE;
            },
            g_object_ref(message), g_object_unref);
    }

    Answer m_answer;
    std::chrono::milliseconds m_delay;
    GRef<SoupServer> m_server;
    int m_port = 0;
};

// Google's v2 answer: every text of "q" as "译:<text>", from English.
std::string googleAnswer(std::string_view body) {
    auto request = json::parse(body, nullptr, false);
    json items = json::array();
    if (request.is_object() && request.contains("q") && request["q"].is_array())
        for (const auto& text : request["q"])
            if (text.is_string())
                items.push_back({{"translatedText", "译:" + text.get<std::string>()},
                                 {"detectedSourceLanguage", "en"}});
    return json{{"data", {{"translations", items}}}}.dump();
}

// A wrk script: POSTs of `body` to `path`; with `fresh`, every request carries a text of its own
// (per thread, per run) so that no answer comes from a cache.
std::string writeScript(const std::filesystem::path& folder, const std::string& name,
                        const std::string& path, const std::string& token, bool fresh,
                        const std::string& runTag) {
    auto file = folder / (name + ".lua");
    std::ofstream script(file);
    script << "local threads = 0\n"
              "function setup(thread) threads = threads + 1; thread:set('id', threads) end\n"
              "local counter = 0\n"
              "local headers = {['Content-Type'] = 'application/json'"
           << (token.empty() ? "" : ", ['Authorization'] = 'Bearer " + token + "'")
           << "}\n"
              "request = function()\n"
              "  counter = counter + 1\n"
              "  local text = "
           << (fresh ? "'fresh " + runTag + " ' .. tostring(id) .. ' ' .. counter" : "'warm'")
           << "\n"
              "  return wrk.format('POST', '"
           << path
           << "', headers, '{\"text\":\"' .. text .. '\",\"q\":[\"' .. text .. "
              "'\"],\"target\":\"zh-CN\",\"provider\":\"google\"}')\n"
              "end\n";
    return file.string();
}

double milliseconds(const std::string& number, const std::string& unit) {
    double value = std::stod(number);
    return unit == "us" ? value / 1000 : unit == "s" ? value * 1000 : value;
}

// Runs wrk against each of `origins` at once (connections split between them) while the main
// loop keeps serving the in-process servers; the sum of their throughput, the worst p99.
Load runWrk(const std::vector<std::string>& origins, int connections, const std::string& script,
            int seconds) {
    Load total;
    int pending = 0;
    std::vector<GRef<GSubprocess>> processes;
    std::vector<std::string> outputs(origins.size());
    // Fewer connections than instances: only the first instances get one.
    std::size_t used = std::min(origins.size(), static_cast<std::size_t>(connections));
    outputs.resize(used);
    for (std::size_t i = 0; i < used; ++i) {
        int share = connections / static_cast<int>(used);
        std::string threads = std::to_string(std::min(2, share));
        std::string count = std::to_string(share), duration = std::to_string(seconds) + "s";
        const char* argv[] = {"wrk",           "-t", threads.c_str(), "-c",
                              count.c_str(),   "-d", duration.c_str(), "--latency",
                              "-s",            script.c_str(),        origins[i].c_str(),
                              nullptr};
        GErrorHolder error;
        auto process = adoptGRef(g_subprocess_newv(argv, G_SUBPROCESS_FLAGS_STDOUT_PIPE, error.out()));
        if (!process) {
            std::fprintf(stderr, "cannot run wrk: %s\n", error->message);
            continue;
        }
        ++pending;
        struct Done {
            std::string* output;
            int* pending;
        };
        g_subprocess_communicate_utf8_async(
            process.get(), nullptr, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<Done> done(static_cast<Done*>(data));
                char* out = nullptr;
                g_subprocess_communicate_utf8_finish(G_SUBPROCESS(source), result, &out, nullptr,
                                                     nullptr);
                *done->output = out ? out : "";
                g_free(out);
                --*done->pending;
            },
            new Done{&outputs[i], &pending});
        processes.push_back(std::move(process));
    }
    aurelo::test::runMainLoopUntil([&] { return pending == 0; }, std::chrono::seconds(seconds + 60));
    const std::regex rate(R"(Requests/sec:\s+([0-9.]+))");
    const std::regex p99(R"(\n\s+99%\s+([0-9.]+)(us|ms|s)\b)");
    const std::regex non2xx(R"(Non-2xx or 3xx responses:\s+([0-9]+))");
    const std::regex errors(R"(Socket errors: connect ([0-9]+), read ([0-9]+), write ([0-9]+), timeout ([0-9]+))");
    for (const auto& output : outputs) {
        std::smatch match;
        if (std::regex_search(output, match, rate))
            total.perSecond += std::stod(match[1]);
        if (std::regex_search(output, match, p99))
            total.p99Ms = std::max(total.p99Ms, milliseconds(match[1], match[2]));
        if (std::regex_search(output, match, non2xx))
            total.failed += std::stol(match[1]);
        if (std::regex_search(output, match, errors))
            for (int i = 1; i <= 4; ++i)
                total.failed += std::stol(match[i]);
    }
    return total;
}

// One or more instances on one store, with an account whose google points at the provider.
class Deployment {
public:
    Deployment(const std::string& binary, int instances, const std::string& database,
               const std::string& provider, unsigned upstreamConnections)
        : m_database(database) {
        for (int i = 0; i < instances; ++i)
            m_instances.push_back(std::make_unique<ServiceProcess>(binary));
        admin({"users", "add", "bench", "--password", "bench-password"});
        admin({"engines", "enable", "bench", "google"});
        admin({"providers", "set", "google", "--key", "k", "--endpoint", provider});
        // Limits far above what the benchmark sends (counted, with PostgreSQL in the database,
        // but never reached), and room for 256 connections from one address.
        std::vector<std::string> options = {
            "--rate-limit", "1000000000", "--max-connections", "4096",
            "--max-connections-per-address", "4096", "--upstream-connections",
            std::to_string(upstreamConnections)};
        if (!database.empty())
            options.insert(options.end(), {"--database", database});
        for (auto& instance : m_instances)
            m_started = instance->start(options) && m_started;
    }
    bool started() const { return m_started; }
    std::vector<std::string> origins() const {
        std::vector<std::string> all;
        for (const auto& instance : m_instances)
            all.push_back(instance->origin());
        return all;
    }
    ServiceProcess& first() { return *m_instances.front(); }

private:
    int admin(std::vector<std::string> arguments) {
        if (!m_database.empty())
            arguments.insert(arguments.begin(), {"--database", m_database});
        return m_instances.front()->admin(arguments);
    }
    std::string m_database;
    std::vector<std::unique_ptr<ServiceProcess>> m_instances;
    bool m_started = true;
};

} // namespace

int main(int argc, char** argv) {
    int seconds = 5;
    unsigned upstreamConnections = 16;
    std::string binary = ServiceProcess::builtBinary();
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--seconds" && i + 1 < argc)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (argument == "--upstream-connections" && i + 1 < argc)
            upstreamConnections = static_cast<unsigned>(std::max(1, std::atoi(argv[++i])));
        else
            binary = argument;
    }
    gchar* wrk = g_find_program_in_path("wrk");
    bool haveWrk = wrk != nullptr;
    g_free(wrk);
    if (!std::filesystem::exists(binary) || !haveWrk) {
        std::fprintf(stderr, "needs aurelo-service (%s) and wrk (scripts/deps --bench)\n",
                     binary.c_str());
        return 1;
    }
    PostgresCluster cluster(/*durable=*/true);
    if (!cluster.ready()) {
        std::fprintf(stderr, "%s\n", cluster.failure().c_str());
        return 1;
    }
    LoopbackHttpServer provider(googleAnswer, kProviderDelay);
    HttpSession client(HttpSessionConfiguration{30s, 30s, 8, {}});
    aurelo::test::TestDirectory scripts;
    std::printf("aurelo-service (%s), %u cores, wrk %d s per run, %u connections per provider "
                "host, provider answers after %lld ms\n\n",
                binary.c_str(), g_get_num_processors(), seconds, upstreamConnections,
                static_cast<long long>(kProviderDelay.count()));

    struct Setup {
        std::string name;
        int instances;
        std::string database;
    };
    cluster.recreateDatabase("limit_one");
    cluster.recreateDatabase("limit_two");
    const Setup setups[] = {{"SQLite, 1 instance", 1, ""},
                            {"PostgreSQL, 1 instance", 1, cluster.uri("limit_one")},
                            {"PostgreSQL, 2 instances", 2, cluster.uri("limit_two")}};

    // The limits, measured once per connection count in this run.
    std::map<int, Load> bare, providerLimit;
    std::unique_ptr<LoopbackHttpServer> bareServer;
    const std::string providerScript =
        writeScript(scripts.path(), "provider", "/language/translate/v2", "", true, "p");
    int run = 0;
    for (const auto& setup : setups) {
        Deployment deployment(binary, setup.instances, setup.database, provider.origin(),
                              upstreamConnections);
        if (!deployment.started()) {
            std::printf("%s: cannot start\n", setup.name.c_str());
            continue;
        }
        std::string token = tokenOf(awaitReply(
            client, deployment.first().post("/api/auth/login", {{"username", "bench"},
                                                                {"password", "bench-password"}})));
        if (token.empty()) {
            std::printf("%s: cannot log in\n", setup.name.c_str());
            continue;
        }
        // The cached answer, whose size the bare server's body takes; every instance warmed.
        std::string answer;
        for (const auto& origin : deployment.origins()) {
            answer = awaitReply(client, serviceRequest(origin, "POST", "/api/translate",
                                                       json{{"text", "warm"},
                                                            {"target", "zh-CN"},
                                                            {"provider", "google"}}
                                                           .dump(),
                                                       token))
                         .body;
        }
        if (!bareServer) {
            bareServer = std::make_unique<LoopbackHttpServer>(
                [answer](std::string_view) { return answer; }, std::chrono::milliseconds(0));
            std::string bareScript = writeScript(scripts.path(), "bare", "/", "", false, "");
            for (int connections : kConnections)
                bare[connections] = runWrk({bareServer->origin()}, connections, bareScript, seconds);
            std::printf("bare libsoup server (answer body %zu bytes)\n", answer.size());
            for (int connections : kConnections)
                std::printf("  %3d connections: %8.0f req/s  p99 %6.1f ms\n", connections,
                            bare[connections].perSecond, bare[connections].p99Ms);
            std::printf("\n");
        }
        std::printf("%s\n", setup.name.c_str());
        for (bool fresh : {false, true}) {
            for (int connections : kConnections) {
                std::string script = writeScript(scripts.path(), "service" + std::to_string(run),
                                                 "/api/translate", token, fresh,
                                                 "r" + std::to_string(run));
                ++run;
                Load load = runWrk(deployment.origins(), connections, script, seconds);
                // Uncached, the limit is the provider over as many connections as the instances
                // keep to it (measured once per count, in this run).
                int toProvider = std::min<int>(
                    connections, static_cast<int>(upstreamConnections) * setup.instances);
                if (fresh && !providerLimit.contains(toProvider))
                    providerLimit[toProvider] =
                        runWrk({provider.origin()}, toProvider, providerScript, seconds);
                const Load& limit = fresh ? providerLimit[toProvider] : bare[connections];
                std::string against = fresh ? "of the provider over " + std::to_string(toProvider)
                                            : std::string("of bare libsoup");
                std::printf("  %-8s %3d connections: %8.0f req/s  %.2f %-27s p99 %7.1f ms%s\n",
                            fresh ? "uncached" : "cached", connections, load.perSecond,
                            limit.perSecond > 0 ? load.perSecond / limit.perSecond : 0.0,
                            against.c_str(), load.p99Ms,
                            load.failed ? ("  (" + std::to_string(load.failed) + " failed)").c_str()
                                        : "");
            }
        }
        std::printf("\n");
    }
    return 0;
}
