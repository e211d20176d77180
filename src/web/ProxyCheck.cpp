#include "web/ProxyCheck.hpp"

#include "platform/GRef.hpp"
#include "platform/MainLoop.hpp"
#include "web/ProxyRelay.hpp"

#include <gio/gio.h>

namespace aurelo {

struct ProxyCheck::Attempt {
    GRef<GCancellable> cancellable;
    GRef<GSocketClient> client;
    std::unique_ptr<ProxyRelay> relay;
    std::string destination;
    Done done;
    std::chrono::steady_clock::time_point started;
    guint deadlineSource = 0;
    bool timedOut = false;
    bool finished = false;
    // The TCP connection to the proxy stands: a failure from here on is the proxy's answer.
    bool reachedProxy = false;

    ~Attempt() {
        // The connection being given up may still hold the client for a moment.
        if (client)
            g_signal_handlers_disconnect_by_data(client.get(), this);
    }

    void finish(const Result& result) {
        if (finished)
            return;
        finished = true;
        if (deadlineSource)
            g_source_remove(std::exchange(deadlineSource, 0));
        // Moved out first: `done` may start the next check, which replaces this attempt.
        auto callback = std::move(done);
        if (callback)
            callback(result);
    }
};

namespace {

std::string reasonFor(const GError* error, bool reachedProxy) {
    if (error && error->domain == G_IO_ERROR) {
        switch (error->code) {
        case G_IO_ERROR_PROXY_AUTH_FAILED:
        case G_IO_ERROR_PROXY_NEED_AUTH:
            return std::string(ProxyCheck::kLoginRefused);
        // The proxy was reached and answered, but would not connect the destination.
        case G_IO_ERROR_PROXY_NOT_ALLOWED:
        case G_IO_ERROR_PROXY_FAILED:
            return std::string(ProxyCheck::kDestinationRefused);
        default:
            break;
        }
    }
    // SOCKS5 reports a destination that refused or could not be reached with the plain
    // connection errors; only what happened before the proxy answered tells them apart.
    return std::string(reachedProxy ? ProxyCheck::kDestinationRefused : ProxyCheck::kUnreachable);
}

} // namespace

std::string ProxyCheck::Result::line() const {
    if (reachable)
        return "代理可用 · 延迟 " + std::to_string(latency.count()) + " ms";
    return reason;
}

bool ProxyCheck::running() const {
    return m_attempt && !m_attempt->finished;
}

ProxyCheck::~ProxyCheck() {
    cancel();
}

void ProxyCheck::cancel() {
    if (!m_attempt)
        return;
    auto attempt = std::move(m_attempt);
    attempt->done = nullptr;
    attempt->finished = true;
    if (attempt->deadlineSource)
        g_source_remove(std::exchange(attempt->deadlineSource, 0));
    g_cancellable_cancel(attempt->cancellable.get());
}

void ProxyCheck::start(const ProxyRoute& route, const std::string& destinationURL, Done done,
                       std::chrono::milliseconds deadline) {
    cancel();
    auto attempt = std::make_shared<Attempt>();
    attempt->cancellable = adoptGRef(g_cancellable_new());
    attempt->client = adoptGRef(g_socket_client_new());
    attempt->done = std::move(done);
    attempt->started = std::chrono::steady_clock::now();
    auto access = proxyAccess(route);
    m_attempt = attempt;
    if (!access) {
        postToMainLoop([weak = std::weak_ptr<Attempt>(attempt), reason = access.error()] {
            if (auto attempt = weak.lock())
                attempt->finish({false, {}, reason});
        });
        return;
    }
    attempt->relay = std::move(access->relay);
    attempt->destination = destinationURL;
    // The entered proxy for every destination, and no ignore list: there is no direct route.
    auto resolver = adoptGRef(g_simple_proxy_resolver_new(access->uri.c_str(), nullptr));
    g_socket_client_set_proxy_resolver(attempt->client.get(), G_PROXY_RESOLVER(resolver.get()));
    g_socket_client_set_enable_proxy(attempt->client.get(), TRUE);
    g_signal_connect(attempt->client.get(), "event",
                     G_CALLBACK(+[](GSocketClient*, GSocketClientEvent event, GSocketConnectable*,
                                    GIOStream*, gpointer data) {
                         if (event == G_SOCKET_CLIENT_PROXY_NEGOTIATING)
                             static_cast<Attempt*>(data)->reachedProxy = true;
                     }),
                     attempt.get());

    // The deadline and the connection each hold the attempt weakly: a check abandoned or
    // replaced is never reported.
    attempt->deadlineSource = g_timeout_add_full(
        G_PRIORITY_DEFAULT, static_cast<guint>(deadline.count()),
        +[](gpointer data) -> gboolean {
            auto* weak = static_cast<std::weak_ptr<Attempt>*>(data);
            if (auto attempt = weak->lock()) {
                attempt->deadlineSource = 0;
                attempt->timedOut = true;
                g_cancellable_cancel(attempt->cancellable.get());
            }
            return G_SOURCE_REMOVE;
        },
        new std::weak_ptr<Attempt>(attempt),
        +[](gpointer data) { delete static_cast<std::weak_ptr<Attempt>*>(data); });

    const guint16 defaultPort = destinationURL.starts_with("http://") ? 80 : 443;
    g_socket_client_connect_to_uri_async(
        attempt->client.get(), destinationURL.c_str(), defaultPort, attempt->cancellable.get(),
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::weak_ptr<Attempt>> weak(
                static_cast<std::weak_ptr<Attempt>*>(data));
            GErrorHolder error;
            auto connection = adoptGRef(g_socket_client_connect_to_uri_finish(
                G_SOCKET_CLIENT(source), result, error.out()));
            auto attempt = weak->lock();
            if (!attempt || attempt->finished)
                return;
            Result outcome;
            if (connection) {
                outcome.reachable = true;
                outcome.latency = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - attempt->started);
                g_io_stream_close(G_IO_STREAM(connection.get()), nullptr, nullptr);
            } else {
                // The relay knows what the proxy answered; GIO sees only the relay's refusal.
                const auto relayed = attempt->relay
                                         ? attempt->relay->failureFor(attempt->destination)
                                         : std::nullopt;
                outcome.reason = attempt->timedOut ? std::string(kTimedOut)
                                 : relayed         ? *relayed
                                                   : reasonFor(error.get(), attempt->reachedProxy);
            }
            attempt->finish(outcome);
        },
        new std::weak_ptr<Attempt>(attempt));
}

} // namespace aurelo
