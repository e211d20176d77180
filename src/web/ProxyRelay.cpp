#include "web/ProxyRelay.hpp"

#include "platform/GRef.hpp"
#include "platform/Text.hpp"

#include <gio/gio.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ranges>
#include <vector>

namespace aurelo {

namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

struct Head {
    std::string firstLine;
    std::vector<std::pair<std::string, std::string>> fields; // names as sent

    const std::string* field(std::string_view name) const {
        for (const auto& [key, value] : fields)
            if (g_ascii_strcasecmp(key.c_str(), std::string(name).c_str()) == 0)
                return &value;
        return nullptr;
    }
};

// A head of CRLF-terminated lines without its blank last line; nullopt when a line has no
// colon or a character that could split it into two.
std::optional<Head> parseHead(std::string_view text) {
    Head head;
    bool first = true;
    for (const auto part : std::views::split(text, std::string_view("\r\n"))) {
        std::string_view line(part.begin(), part.end());
        if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
            return std::nullopt;
        if (first) {
            head.firstLine = line;
            first = false;
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            return std::nullopt;
        head.fields.emplace_back(std::string(line.substr(0, colon)),
                                 text::trimmed(line.substr(colon + 1)));
    }
    if (head.firstLine.empty())
        return std::nullopt;
    return head;
}

// "HTTP/1.1 407 Proxy Authentication Required" → 407; 0 when it is no status line.
int statusOf(const Head& head) {
    const std::string& line = head.firstLine;
    if (!line.starts_with("HTTP/1.") || line.size() < 12 || line[8] != ' ')
        return 0;
    int status = 0;
    const auto [end, error] = std::from_chars(line.data() + 9, line.data() + 12, status);
    return error == std::errc() && end == line.data() + 12 ? status : 0;
}

// The "host:port" a request is for, lower-cased, IPv6 in brackets: from a CONNECT's authority or
// an absolute "http://" address. Nothing else is carried: the relay is a proxy for these two.
std::optional<std::string> destinationOf(std::string_view method, std::string_view target) {
    const std::string uri =
        method == "CONNECT" ? "http://" + std::string(target) + "/" : std::string(target);
    if (!g_str_has_prefix(text::asciiLowercased(uri).c_str(), "http://"))
        return std::nullopt;
    GErrorHolder error;
    GUri* parsed = g_uri_parse(uri.c_str(), G_URI_FLAGS_ENCODED, error.out());
    if (!parsed)
        return std::nullopt;
    std::optional<std::string> destination;
    const char* host = g_uri_get_host(parsed);
    const int port = g_uri_get_port(parsed);
    const bool hasPort = method != "CONNECT" || port > 0;
    if (host && *host && hasPort && !g_uri_get_userinfo(parsed)) {
        const std::string name = text::asciiLowercased(host);
        destination = (name.find(':') != std::string::npos ? "[" + name + "]" : name) + ":" +
                      std::to_string(port > 0 ? port : 80);
    }
    g_uri_unref(parsed);
    return destination;
}

std::string answer(int status, std::string_view reason) {
    return "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) +
           "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

bool isHopByHop(std::string_view name) {
    for (const char* hop : {"Proxy-Authorization", "Proxy-Authenticate", "Proxy-Connection",
                            "Connection", "Keep-Alive"})
        if (g_ascii_strcasecmp(std::string(name).c_str(), hop) == 0)
            return true;
    return false;
}

// A head passed on with the hop-by-hop fields of the other side's connection taken out and
// ours put in. The connection to the proxy carries one request: a second one on a kept-alive
// connection would reach the proxy without the relay having seen its head.
std::string rewrittenHead(const Head& head, std::string_view added) {
    std::string text = head.firstLine + "\r\n";
    const std::string* upgrade = head.field("Upgrade");
    for (const auto& [name, value] : head.fields)
        if (!isHopByHop(name))
            text += name + ": " + value + "\r\n";
    text += upgrade ? "Connection: Upgrade\r\n" : "Connection: close\r\n";
    text += added;
    return text + "\r\n";
}

std::string hexOfLoopback() {
    // The kernel prints an address as the number its bytes make in memory order.
    const guint32 address = g_htonl(0x7F000001u);
    char text[9];
    std::snprintf(text, sizeof text, "%08X", address);
    return text;
}

} // namespace

std::optional<uid_t> loopbackPeerOwner(std::string_view table, std::uint16_t peerPort,
                                       std::uint16_t localPort) {
    // The peer's own socket is the row whose local end is the peer and whose remote end is us.
    char local[32];
    char remote[32];
    const std::string loopback = hexOfLoopback();
    std::snprintf(local, sizeof local, "%s:%04X", loopback.c_str(), peerPort);
    std::snprintf(remote, sizeof remote, "%s:%04X", loopback.c_str(), localPort);
    for (const auto part : std::views::split(table, '\n')) {
        const std::string line(part.begin(), part.end());
        char sl[16], localAddress[64], remoteAddress[64], state[8], queues[40], timer[40];
        char retransmits[16];
        unsigned long uid = 0;
        if (std::sscanf(line.c_str(), "%15s %63s %63s %7s %39s %39s %15s %lu", sl, localAddress,
                        remoteAddress, state, queues, timer, retransmits, &uid) != 8)
            continue;
        if (g_ascii_strcasecmp(localAddress, local) == 0 &&
            g_ascii_strcasecmp(remoteAddress, remote) == 0)
            return static_cast<uid_t>(uid);
    }
    return std::nullopt;
}

// One connection from the browser, and the one to the proxy that carries it. Every pending
// operation holds the connection; a relay that goes cancels them all and lets go of it.
struct ProxyRelay::Connection : std::enable_shared_from_this<Connection> {
    // An async call's user data: the connection, kept alive until the call completes, and what
    // the call reads into or writes from.
    struct Pending;
    using Step = void (*)(Pending&, GObject* source, GAsyncResult* result);
    struct Pending {
        std::shared_ptr<Connection> connection;
        Step step;
        std::array<char, kChunkBytes> buffer = {};
        std::string written = {};
        GSocketConnection* from = nullptr;
        GSocketConnection* to = nullptr;
    };

    ProxyRelay* relay = nullptr;
    GRef<GSocketConnection> client;
    GRef<GSocketConnection> upstream;
    GRef<GCancellable> cancellable = adoptGRef(g_cancellable_new());
    guint deadline = 0;
    std::string head;        // a head being read, from the browser or from the proxy
    std::string destination; // "host:port"
    bool tunnel = false;
    int directionsOpen = 2;
    bool closed = false;

    // Whether the step may go on: the connection is neither closed nor left by its relay.
    bool live() const { return !closed && relay; }

    static void completed(GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
        pending->step(*pending, source, result);
    }
    static GInputStream* input(GSocketConnection* connection) {
        return g_io_stream_get_input_stream(G_IO_STREAM(connection));
    }
    static GOutputStream* output(GSocketConnection* connection) {
        return g_io_stream_get_output_stream(G_IO_STREAM(connection));
    }
    static gssize readCount(GObject* source, GAsyncResult* result) {
        GErrorHolder error;
        return g_input_stream_read_finish(G_INPUT_STREAM(source), result, error.out());
    }
    static bool wrote(GObject* source, GAsyncResult* result) {
        GErrorHolder error;
        return g_output_stream_write_all_finish(G_OUTPUT_STREAM(source), result, nullptr,
                                                error.out());
    }

    void read(GSocketConnection* from, Step step, GSocketConnection* to = nullptr) {
        auto* pending = new Pending{shared_from_this(), step};
        pending->from = from;
        pending->to = to;
        g_input_stream_read_async(input(from), pending->buffer.data(), kChunkBytes,
                                  G_PRIORITY_DEFAULT, cancellable.get(), completed, pending);
    }
    void write(GSocketConnection* to, std::string bytes, Step step,
               GSocketConnection* from = nullptr) {
        auto* pending = new Pending{shared_from_this(), step};
        pending->written = std::move(bytes);
        pending->from = from;
        pending->to = to;
        g_output_stream_write_all_async(output(to), pending->written.data(),
                                        pending->written.size(), G_PRIORITY_DEFAULT,
                                        cancellable.get(), completed, pending);
    }

    void close() {
        if (closed)
            return;
        closed = true;
        if (deadline)
            g_source_remove(std::exchange(deadline, 0));
        g_cancellable_cancel(cancellable.get());
        for (auto* connection : {client.get(), upstream.get()})
            if (connection)
                g_io_stream_close(G_IO_STREAM(connection), nullptr, nullptr);
        if (relay)
            std::exchange(relay, nullptr)->forget(this);
    }

    // Tells the browser no, and remembers why for the destination when it is the proxy's doing.
    void refuse(int status, std::string_view statusText, std::optional<std::string> reason) {
        if (reason && relay && !destination.empty())
            relay->recordFailure(destination, std::move(*reason));
        write(client.get(), answer(status, statusText),
              [](Pending& pending, GObject* source, GAsyncResult* result) {
                  wrote(source, result);
                  pending.connection->close();
              });
    }

    void start() {
        deadline = g_timeout_add_seconds(
            kHandshakeSeconds,
            +[](gpointer data) -> gboolean {
                auto self = static_cast<Connection*>(data)->shared_from_this();
                self->deadline = 0;
                // Still waiting for the proxy: it took the connection and never answered.
                if (self->relay && self->upstream)
                    self->relay->recordFailure(self->destination,
                                               std::string(kProxyUnreachable) + "（超时）");
                self->close();
                return G_SOURCE_REMOVE;
            },
            this);
        readHead([](Connection& self) { self.requestHeadRead(); });
    }

    // Reads from `from` until a whole head is in `head`, then runs `done`; the bytes after the
    // head stay in `head` after the position `headEnd()` gives.
    using HeadDone = void (*)(Connection&);
    HeadDone headDone = nullptr;
    void readHead(HeadDone done) {
        headDone = done;
        // The browser's request head first; once the proxy is connected, its answer's.
        read(upstream ? upstream.get() : client.get(),
             [](Pending& pending, GObject* source, GAsyncResult* result) {
                 const gssize count = readCount(source, result);
                 Connection& self = *pending.connection;
                 if (!self.live())
                     return;
                 if (count <= 0)
                     return self.headEnded();
                 self.head.append(pending.buffer.data(), static_cast<std::size_t>(count));
                 const auto end = self.head.find("\r\n\r\n");
                 if ((end == std::string::npos ? self.head.size() : end) > kMaximumHeadBytes)
                     return self.refuse(431, "Request Header Fields Too Large", std::nullopt);
                 if (end != std::string::npos)
                     return self.headDone(self);
                 self.read(pending.from, pending.step);
             });
    }
    // The side being read ended before its head did.
    void headEnded() {
        if (upstream)
            return refuse(502, "Bad Gateway", std::string(kProxyUnreachable));
        close();
    }

    void requestHeadRead() {
        const auto end = head.find("\r\n\r\n");
        const auto request = parseHead(std::string_view(head).substr(0, end));
        std::string rest = head.substr(end + 4);
        head.clear();
        if (!request)
            return refuse(400, "Bad Request", std::nullopt);
        const auto& line = request->firstLine;
        const auto firstSpace = line.find(' ');
        const auto lastSpace = line.rfind(' ');
        if (firstSpace == std::string::npos || lastSpace <= firstSpace ||
            !line.substr(lastSpace + 1).starts_with("HTTP/1."))
            return refuse(400, "Bad Request", std::nullopt);
        const std::string method = line.substr(0, firstSpace);
        const std::string target = line.substr(firstSpace + 1, lastSpace - firstSpace - 1);
        const auto to = destinationOf(method, target);
        if (!to)
            return refuse(400, "Bad Request", std::nullopt);
        destination = *to;
        tunnel = method == "CONNECT";
        const std::string login = relay->m_authorization.empty()
                                      ? ""
                                      : "Proxy-Authorization: " + relay->m_authorization + "\r\n";
        std::string upstreamHead;
        if (tunnel) {
            upstreamHead = "CONNECT " + destination + " HTTP/1.1\r\nHost: " + destination + "\r\n" +
                           login + "\r\n";
        } else {
            upstreamHead = rewrittenHead(*request, login);
        }
        connectUpstream(upstreamHead + rest);
    }

    void connectUpstream(std::string firstBytes) {
        auto socketClient = adoptGRef(g_socket_client_new());
        // The relay's own connection goes straight to the proxy, whatever the desktop's proxy.
        g_socket_client_set_enable_proxy(socketClient.get(), FALSE);
        // No socket time-out: it would end tunnels that idle for a while, as a chat's
        // long-lived connections do. The handshake's deadline bounds the wait for the proxy.
        auto address = adoptGRef(
            g_network_address_new(relay->m_upstream.host.c_str(), relay->m_upstream.port));
        auto* pending = new Pending{
            shared_from_this(), [](Pending& pending, GObject* source, GAsyncResult* result) {
                GErrorHolder error;
                auto connection = adoptGRef(
                    g_socket_client_connect_finish(G_SOCKET_CLIENT(source), result, error.out()));
                Connection& self = *pending.connection;
                if (!self.live())
                    return;
                if (!connection)
                    return self.refuse(502, "Bad Gateway", std::string(kProxyUnreachable));
                self.upstream = std::move(connection);
                self.sendUpstream(std::move(pending.written));
            }};
        pending->written = std::move(firstBytes);
        g_socket_client_connect_async(socketClient.get(), G_SOCKET_CONNECTABLE(address.get()),
                                      cancellable.get(), completed, pending);
    }

    void sendUpstream(std::string bytes) {
        write(upstream.get(), std::move(bytes),
              [](Pending& pending, GObject* source, GAsyncResult* result) {
                  const bool ok = wrote(source, result);
                  Connection& self = *pending.connection;
                  if (!self.live())
                      return;
                  if (!ok)
                      return self.refuse(502, "Bad Gateway", std::string(kProxyUnreachable));
                  // A plain request's body, if any, follows at once; a tunnel waits for the
                  // proxy to open it.
                  if (!self.tunnel)
                      self.pump(self.client.get(), self.upstream.get());
                  self.readHead([](Connection& self) { self.responseHeadRead(); });
              });
    }

    void responseHeadRead() {
        const auto end = head.find("\r\n\r\n");
        const auto response = parseHead(std::string_view(head).substr(0, end));
        std::string rest = head.substr(end + 4);
        head.clear();
        const int status = response ? statusOf(*response) : 0;
        if (status == 0)
            return refuse(502, "Bad Gateway", std::string(kProxyUnreachable));
        if (tunnel) {
            if (status == 407)
                return refuse(407, "Proxy Authentication Required",
                              std::string(kProxyLoginRefused));
            if (status < 200 || status > 299)
                return refuse(502, "Bad Gateway", std::string(kProxyRefusedDestination));
            relay->recordSuccess(destination);
            return startRelaying("HTTP/1.1 200 Connection established\r\n\r\n" + rest);
        }
        // A plain request's answer: a 407 that asks for the proxy's login is the proxy refusing
        // ours; a site cannot make a proxy that checks logins ask for one.
        if (status == 407 && response->field("Proxy-Authenticate"))
            relay->recordFailure(destination, std::string(kProxyLoginRefused));
        else
            relay->recordSuccess(destination);
        startRelaying(rewrittenHead(*response, "") + rest);
    }

    // Hands the browser the proxy's answer, and from then on only passes bytes: from the proxy,
    // and from the browser too for a tunnel (a plain request's body is already on its way).
    void startRelaying(std::string answer) {
        if (deadline)
            g_source_remove(std::exchange(deadline, 0));
        write(client.get(), std::move(answer),
              [](Pending& pending, GObject* source, GAsyncResult* result) {
                  const bool ok = wrote(source, result);
                  Connection& self = *pending.connection;
                  if (!self.live())
                      return;
                  if (!ok)
                      return self.close();
                  if (self.tunnel)
                      self.pump(self.client.get(), self.upstream.get());
                  self.pump(self.upstream.get(), self.client.get());
              });
    }

    // Copies everything from `from` to `to` until `from` ends, then ends `to`'s direction.
    void pump(GSocketConnection* from, GSocketConnection* to) {
        read(
            from,
            [](Pending& pending, GObject* source, GAsyncResult* result) {
                const gssize count = readCount(source, result);
                Connection& self = *pending.connection;
                if (!self.live())
                    return;
                if (count < 0)
                    return self.close();
                if (count == 0) {
                    g_socket_shutdown(g_socket_connection_get_socket(pending.to), FALSE, TRUE,
                                      nullptr);
                    if (--self.directionsOpen == 0)
                        self.close();
                    return;
                }
                self.write(
                    pending.to, std::string(pending.buffer.data(), static_cast<std::size_t>(count)),
                    [](Pending& pending, GObject* source, GAsyncResult* result) {
                        const bool ok = wrote(source, result);
                        Connection& self = *pending.connection;
                        if (!self.live())
                            return;
                        if (!ok)
                            return self.close();
                        self.pump(pending.from, pending.to);
                    },
                    pending.from);
            },
            to);
    }
};

ProxyRelay::ProxyRelay(ProxyRoute upstream) : m_upstream(std::move(upstream)) {
    if (!m_upstream.username.empty()) {
        // Basic credentials of the UTF-8 bytes as typed: RFC 7617's charset, which the proxies
        // users buy expect; libsoup would have sent ISO-8859-1 and mangled anything else.
        const std::string login = m_upstream.username + ":" + m_upstream.password;
        m_authorization =
            "Basic " + adoptString(g_base64_encode(reinterpret_cast<const guchar*>(login.data()),
                                                   login.size()));
    }
}

std::expected<std::unique_ptr<ProxyRelay>, std::string> ProxyRelay::start(ProxyRoute upstream) {
    std::unique_ptr<ProxyRelay> relay(new ProxyRelay(std::move(upstream)));
    relay->m_service = g_socket_service_new();
    auto loopback = adoptGRef(g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4));
    auto address = adoptGRef(g_inet_socket_address_new(loopback.get(), 0));
    GErrorHolder error;
    GSocketAddress* effective = nullptr;
    if (!g_socket_listener_add_address(G_SOCKET_LISTENER(relay->m_service), address.get(),
                                       G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, nullptr,
                                       &effective, error.out()))
        return std::unexpected("无法启动本机代理中转：" + std::string(error->message));
    relay->m_port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(effective));
    g_object_unref(effective);
    g_signal_connect(relay->m_service, "incoming", G_CALLBACK(incomingCallback), relay.get());
    g_socket_service_start(relay->m_service);
    return relay;
}

ProxyRelay::~ProxyRelay() {
    if (m_service) {
        g_signal_handlers_disconnect_by_data(m_service, this);
        g_socket_service_stop(m_service);
        g_socket_listener_close(G_SOCKET_LISTENER(m_service));
        g_object_unref(m_service);
    }
    auto connections = std::move(m_connections);
    for (auto& [key, connection] : connections) {
        connection->relay = nullptr;
        connection->close();
    }
}

std::string ProxyRelay::uri() const {
    return "http://127.0.0.1:" + std::to_string(m_port);
}

int ProxyRelay::incomingCallback(GSocketService*, GSocketConnection* connection, GObject*,
                                 void* data) {
    auto* self = static_cast<ProxyRelay*>(data);
    GRef<GSocketAddress> remote =
        adoptGRef(g_socket_connection_get_remote_address(connection, nullptr));
    const auto peerPort = remote && G_IS_INET_SOCKET_ADDRESS(remote.get())
                              ? g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(remote.get()))
                              : 0;
    gchar* table = nullptr;
    std::optional<uid_t> owner;
    if (peerPort && g_file_get_contents("/proc/net/tcp", &table, nullptr, nullptr))
        owner = loopbackPeerOwner(table, peerPort, self->m_port);
    g_free(table);
    if (!owner || *owner != getuid()) {
        // Another user of this machine: they get nothing, not even an answer.
        g_io_stream_close(G_IO_STREAM(connection), nullptr, nullptr);
        return TRUE;
    }
    auto carried = std::make_shared<Connection>();
    carried->relay = self;
    carried->client = GRef<GSocketConnection>(connection);
    self->m_connections.emplace(carried.get(), carried);
    carried->start();
    return TRUE;
}

void ProxyRelay::forget(Connection* connection) {
    m_connections.erase(connection);
}

void ProxyRelay::recordFailure(const std::string& destination, std::string reason) {
    // A page that asks for host after host the proxy refuses must not grow this without end;
    // forgetting old refusals only loses a reason for a page that is not the one on show.
    constexpr std::size_t kRememberedFailures = 256;
    if (m_failures.size() >= kRememberedFailures && !m_failures.contains(destination))
        m_failures.clear();
    m_failures[destination] = std::move(reason);
}

void ProxyRelay::recordSuccess(const std::string& destination) {
    m_failures.erase(destination);
}

std::optional<std::string> ProxyRelay::failureFor(std::string_view url) const {
    GErrorHolder error;
    GUri* parsed = g_uri_parse(std::string(url).c_str(), G_URI_FLAGS_ENCODED, error.out());
    if (!parsed || !g_uri_get_host(parsed)) {
        if (parsed)
            g_uri_unref(parsed);
        return std::nullopt;
    }
    const std::string scheme = text::asciiLowercased(g_uri_get_scheme(parsed));
    const std::string host = text::asciiLowercased(g_uri_get_host(parsed));
    int port = g_uri_get_port(parsed);
    g_uri_unref(parsed);
    if (port <= 0)
        port = scheme == "https" || scheme == "wss" ? 443 : 80;
    const std::string key = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
                            std::to_string(port);
    if (auto it = m_failures.find(key); it != m_failures.end())
        return it->second;
    return std::nullopt;
}

std::expected<ProxyAccess, std::string> proxyAccess(const ProxyRoute& route) {
    if (route.kind == ProxyRoute::Kind::Socks5)
        return ProxyAccess{route.uri(), nullptr};
    auto relay = ProxyRelay::start(route);
    if (!relay)
        return std::unexpected(relay.error());
    std::string uri = (*relay)->uri();
    return ProxyAccess{std::move(uri), std::move(*relay)};
}

} // namespace aurelo
