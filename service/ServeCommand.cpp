#include "service/ServeCommand.hpp"

#include "service/ServiceServer.hpp"

#include <glib-unix.h>
#include <glib.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>

namespace aurelo::service {

namespace {

constexpr const char* kUsage =
    "用法：aurelo-service serve --listen 地址:端口 --data 目录 [--tls-cert 证书.pem --tls-key "
    "私钥.pem]\n"
    "  [--database sqlite:文件 | postgresql://用户@主机/数据库（默认 sqlite:数据目录/"
    "aurelo-service.sqlite3）]\n"
    "  [--database-pool 每实例数据库连接数（默认 4）] [--database-wait-ms "
    "等待空闲连接的毫秒数（默认 2000）]\n"
    "  [--database-timeout-ms 每个请求等待数据库的最长毫秒数（默认 5000）]\n"
    "  [--rate-limit 每分钟请求数（每账号，默认 600，0 为不限）] [--login-rate-limit "
    "每分钟登录次数（每地址，默认 30）]\n"
    "  [--login-user-rate-limit 每分钟登录次数（每用户名，默认 10）]\n"
    "  [--token-lifetime-hours 小时（默认 720）] [--upstream-timeout-ms 毫秒（默认 4500）]\n"
    "  [--transcription-timeout-ms 毫秒（默认 45000）] [--upstream-connections "
    "每个服务商主机的连接数（默认 16）]\n"
    "  [--cache-mb 译文缓存总量（默认 64）] [--cache-account-mb 每账号译文缓存（默认 4）]\n"
    "  [--max-connections 连接数（默认 1024）] [--max-connections-per-address 每地址连接数（默认 "
    "128）]\n"
    "  [--max-inflight-mb 内存中的请求正文总量（默认 64）]\n"
    "  [--header-timeout-s 秒（默认 10）] [--body-timeout-s 秒（默认 60）] [--idle-timeout-s "
    "秒（默认 30）]\n"
    "  [--trusted-proxy 反向代理地址 [--forwarded-header 头部名称（默认 X-Forwarded-For）]]\n"
    "  [--metrics-allow 可读取 /metrics 的地址或网段，逗号分隔（默认无人可读）]\n"
    "  [--updates 目录（默认 数据目录/updates）] [--apertium 程序路径]\n";

std::optional<unsigned long> number(const std::string& text) {
    unsigned long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

struct StopState {
    GMainLoop* loop;
    ServiceServer* server;
    bool stopping = false;
};

gboolean stopSignalCallback(gpointer data) {
    auto* state = static_cast<StopState*>(data);
    if (!state->stopping) {
        state->stopping = true;
        std::fprintf(stderr, "aurelo-service: 正在停止，等待处理中的请求完成…\n");
        state->server->beginShutdown([loop = state->loop] { g_main_loop_quit(loop); });
    } else {
        g_main_loop_quit(state->loop); // a second signal stops at once
    }
    return G_SOURCE_CONTINUE;
}

} // namespace

int runServeCommand(const std::vector<std::string>& arguments) {
    std::map<std::string, std::string> options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!argument.starts_with("--") || i + 1 >= arguments.size()) {
            std::fprintf(stderr, "无法识别的参数：%s\n%s", argument.c_str(), kUsage);
            return 2;
        }
        options[argument] = arguments[++i];
    }
    ServiceConfiguration configuration;
    DatabasePoolOptions pool;
    ConnectionLimits& connections = configuration.connections;
    using Apply = std::function<void(unsigned long)>;
    auto megabytes = [](unsigned long v) { return static_cast<std::size_t>(v) * 1024 * 1024; };
    auto seconds = [](unsigned long v) {
        return std::chrono::milliseconds(std::max(1ul, v) * 1000);
    };
    // The numeric options and where each goes.
    const std::map<std::string, Apply> numericOptions = {
        {"--rate-limit",
         [&](unsigned long v) { configuration.rateLimitPerMinute = static_cast<unsigned>(v); }},
        {"--login-rate-limit",
         [&](unsigned long v) {
             configuration.loginRateLimitPerMinute = static_cast<unsigned>(v);
         }},
        {"--login-user-rate-limit",
         [&](unsigned long v) {
             configuration.loginUserRateLimitPerMinute = static_cast<unsigned>(v);
         }},
        {"--token-lifetime-hours",
         [&](unsigned long v) {
             configuration.tokenLifetime = std::chrono::hours(std::max(1ul, v));
         }},
        {"--upstream-connections",
         [&](unsigned long v) {
             configuration.upstreamConnections = static_cast<unsigned>(std::clamp(v, 1ul, 1024ul));
         }},
        {"--upstream-timeout-ms",
         [&](unsigned long v) {
             configuration.upstreamTimeout = std::chrono::milliseconds(std::max(100ul, v));
         }},
        {"--transcription-timeout-ms",
         [&](unsigned long v) {
             configuration.transcriptionTimeout = std::chrono::milliseconds(std::max(100ul, v));
         }},
        {"--cache-mb", [&](unsigned long v) { configuration.cache.totalBytes = megabytes(v); }},
        {"--cache-account-mb",
         [&](unsigned long v) { configuration.cache.accountBytes = megabytes(v); }},
        {"--max-connections",
         [&](unsigned long v) { connections.maxConnections = std::max(1ul, v); }},
        {"--max-connections-per-address",
         [&](unsigned long v) { connections.maxConnectionsPerAddress = std::max(1ul, v); }},
        {"--max-inflight-mb",
         [&](unsigned long v) { connections.maxBytesInFlight = megabytes(std::max(1ul, v)); }},
        {"--header-timeout-s", [&](unsigned long v) { connections.headerTimeout = seconds(v); }},
        {"--body-timeout-s", [&](unsigned long v) { connections.bodyTimeout = seconds(v); }},
        {"--idle-timeout-s", [&](unsigned long v) { connections.idleTimeout = seconds(v); }},
        {"--database-pool", [&](unsigned long v) { pool.connections = std::max(1ul, v); }},
        {"--database-wait-ms",
         [&](unsigned long v) { pool.acquireTimeout = std::chrono::milliseconds(v); }},
        {"--database-timeout-ms",
         [&](unsigned long v) {
             configuration.databaseTimeout = std::chrono::milliseconds(std::max(100ul, v));
         }},
    };
    static const char* kKnown[] = {
        "--listen",   "--data",          "--tls-cert",         "--tls-key", "--updates",
        "--apertium", "--trusted-proxy", "--forwarded-header", "--database", "--metrics-allow"};
    for (const auto& [name, value] : options)
        if (!numericOptions.contains(name) &&
            std::ranges::none_of(kKnown, [&](const char* known) { return name == known; })) {
            std::fprintf(stderr, "未知选项：%s\n%s", name.c_str(), kUsage);
            return 2;
        }
    if (!options.contains("--listen") || !options.contains("--data")) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    auto address = parseListenAddress(options["--listen"]);
    if (!address) {
        std::fprintf(stderr, "监听地址无效：%s（例如 127.0.0.1:8787）\n",
                     options["--listen"].c_str());
        return 2;
    }
    for (const auto& [name, apply] : numericOptions) {
        if (!options.contains(name))
            continue;
        auto value = number(options[name]);
        if (!value) {
            std::fprintf(stderr, "%s 需要一个非负整数。\n", name.c_str());
            return 2;
        }
        apply(*value);
    }
    if (options.contains("--trusted-proxy")) {
        connections.trustedProxy = options["--trusted-proxy"];
        if (!g_hostname_is_ip_address(connections.trustedProxy.c_str())) {
            std::fprintf(stderr, "--trusted-proxy 需要一个 IP 地址。\n");
            return 2;
        }
    }
    if (configuration.upstreamTimeout + std::chrono::milliseconds(1000) >
        TranslationNetwork::kRequestTimeout)
        std::fprintf(stderr,
                     "警告：--upstream-timeout-ms 接近或超过应用的等待时间（%lld 毫秒），"
                     "慢速引擎将在应用端表现为超时。\n",
                     static_cast<long long>(TranslationNetwork::kRequestTimeout.count()));
    if (options.contains("--metrics-allow")) {
        auto access = MetricsAccess::parse(options["--metrics-allow"]);
        if (!access) {
            std::fprintf(stderr, "%s\n", access.error().c_str());
            return 2;
        }
        configuration.metricsAccess = std::move(*access);
    }
    if (options.contains("--forwarded-header"))
        configuration.forwardedHeader = options["--forwarded-header"];

    std::filesystem::path data = options["--data"];
    configuration.updatesDirectory = options.contains("--updates")
                                         ? std::filesystem::path(options["--updates"])
                                         : data / "updates";
    if (options.contains("--apertium"))
        configuration.apertium.program = options["--apertium"];
    if (g_mkdir_with_parents(data.c_str(), 0700) != 0 ||
        g_mkdir_with_parents(configuration.updatesDirectory.c_str(), 0755) != 0) {
        std::fprintf(stderr, "无法创建数据目录 %s：%s\n", data.c_str(), g_strerror(errno));
        return 1;
    }
    DatabaseLocation location{DatabaseLocation::Kind::sqlite,
                              (data / ServiceDatabase::kFileName).string()};
    if (options.contains("--database") && !options["--database"].empty()) {
        auto given = DatabaseLocation::parse(options["--database"]);
        if (!given) {
            std::fprintf(stderr, "%s\n", given.error().c_str());
            return 2;
        }
        location = *given;
    }
    auto database = ServiceDatabase::open(location, pool);
    if (!database) {
        std::fprintf(stderr, "%s\n", database.error().message.c_str());
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);
    ServiceServer server(**database, std::move(configuration));
    auto listening = server.listen(*address, options["--tls-cert"], options["--tls-key"]);
    if (!listening) {
        std::fprintf(stderr, "%s\n", listening.error().c_str());
        return 1;
    }
    // The stop signals are ours before the line that tells a supervisor we are up: a SIGTERM sent
    // as soon as it reads the line must stop us cleanly, not kill us mid-start.
    GRef<GMainLoop> loop = adoptGRef(g_main_loop_new(nullptr, FALSE));
    StopState state{loop.get(), &server};
    guint interrupt = g_unix_signal_add(SIGINT, stopSignalCallback, &state);
    guint terminate = g_unix_signal_add(SIGTERM, stopSignalCallback, &state);
    std::printf("aurelo-service 正在监听 %s\n", server.origin().c_str());
    std::fflush(stdout);

    g_main_loop_run(loop.get());
    g_source_remove(interrupt);
    g_source_remove(terminate);
    std::fprintf(stderr, "aurelo-service: 已停止。\n");
    return 0;
}

} // namespace aurelo::service
