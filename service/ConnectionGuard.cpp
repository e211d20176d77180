#include "service/ConnectionGuard.hpp"

#include <gio/gunixsocketaddress.h>
#include <glib/gstdio.h>
#include <libsoup/soup.h>

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <unordered_map>
#include <utility>

namespace aurelo::service {

namespace {
// A connection over a cap gets this long to send its headers and read its 503.
constexpr std::chrono::milliseconds kOverCapacityGrace{2000};
} // namespace

struct ConnectionGuard::State {
    struct Connection {
        State* state;
        GSocketConnection* stream; // a reference of our own: closed by libsoup, freed by us
        GSocket* socket;
        GSocketAddress* key; // the remote address object libsoup hands back with each request
        std::string address;
        bool overCapacity = false;
        // When the connection is closed unless it has moved on; 0: no deadline.
        gint64 deadline = 0;
        // Between the headers of a request and its answer.
        bool busy = false;
        // Shut down for being too slow.
        bool shutDown = false;
    };

    ConnectionLimits limits;
    SoupServer* server = nullptr;
    std::unordered_map<GSocketAddress*, Connection*> connections;
    std::unordered_map<std::string, std::size_t> perAddress;
    std::size_t bytesInFlight = 0;
    unsigned ticks = 0;

    Connection* find(SoupServerMessage* message) const {
        auto it = connections.find(soup_server_message_get_remote_address(message));
        return it == connections.end() ? nullptr : it->second;
    }

    // Deadlines are checked by one periodic tick rather than a timer per connection: a request
    // moves a connection through three deadlines, and a tick of a quarter second is precise
    // enough for time-outs of seconds.
    static void arm(Connection* connection, std::chrono::milliseconds after) {
        connection->deadline =
            after.count() > 0 ? g_get_monotonic_time() + after.count() * 1000 : 0;
    }

    static void disarm(Connection* connection) { connection->deadline = 0; }

    void closeOverdue() {
        gint64 now = g_get_monotonic_time();
        for (auto& [key, connection] : connections)
            if (connection->deadline != 0 && connection->deadline <= now) {
                connection->deadline = 0;
                connection->shutDown = true;
                // Shutting the socket down wakes libsoup's pending read with end-of-file, and
                // libsoup then closes the connection as it does for any client that hangs up.
                g_socket_shutdown(connection->socket, TRUE, TRUE, nullptr);
            }
    }

    void forget(Connection* connection) {
        connections.erase(connection->key);
        auto it = perAddress.find(connection->address);
        if (it != perAddress.end() && --it->second == 0)
            perAddress.erase(it);
    }

    // Whether the client has gone. libsoup notices a client that hangs up on a kept-alive
    // connection only when it next reads from it, which may be never; the kernel knows at once
    // (the connection waits for our close). Only an idle connection is judged by that: a client
    // may half-close after sending a request and still wait for the answer.
    static bool gone(const Connection* connection) {
        if (connection->shutDown || g_io_stream_is_closed(G_IO_STREAM(connection->stream)) ||
            g_socket_is_closed(connection->socket))
            return true;
        if (connection->busy)
            return false;
        tcp_info info{};
        socklen_t size = sizeof info;
        return getsockopt(g_socket_get_fd(connection->socket), IPPROTO_TCP, TCP_INFO, &info,
                          &size) == 0 &&
               (info.tcpi_state == TCP_CLOSE_WAIT || info.tcpi_state == TCP_CLOSE);
    }

    void sweepClosed() {
        for (auto it = connections.begin(); it != connections.end();) {
            Connection* connection = (it++)->second;
            if (!gone(connection))
                continue;
            g_io_stream_close(G_IO_STREAM(connection->stream), nullptr, nullptr);
            drop(connection);
        }
    }

    void drop(Connection* connection) {
        forget(connection);
        g_object_unref(connection->stream);
        g_object_unref(connection->key);
        delete connection;
    }

    static gboolean tickCallback(gpointer data) {
        auto* state = static_cast<State*>(data);
        state->closeOverdue();
        if (++state->ticks % 4 == 0)
            state->sweepClosed();
        return G_SOURCE_CONTINUE;
    }

    static void requestStartedCallback(SoupServer*, SoupServerMessage* message, gpointer data) {
        static_cast<State*>(data)->requestStarted(message);
    }

    // An answer has been written; a kept-alive connection may now wait for the next request.
    static void requestFinishedCallback(SoupServer*, SoupServerMessage* message, gpointer data) {
        auto* state = static_cast<State*>(data);
        if (auto* connection = state->find(message)) {
            connection->busy = false;
            state->arm(connection, state->limits.idleTimeout);
        }
    }

    void requestStarted(SoupServerMessage* message) {
        // The first request of a connection, or the next one on a kept-alive connection, has
        // begun to arrive.
        if (auto* connection = find(message))
            arm(connection, connection->overCapacity ? kOverCapacityGrace : limits.headerTimeout);
    }

    static gboolean incomingCallback(GSocketService*, GSocketConnection* stream, GObject*,
                                     gpointer data) {
        static_cast<ConnectionGuard*>(data)->m_state->accept(
            stream, static_cast<ConnectionGuard*>(data)->m_certificate);
        return TRUE;
    }

    void accept(GSocketConnection* stream, GTlsCertificate* certificate) {
        GSocket* socket = g_socket_connection_get_socket(stream);
        // Answers are written as headers, then body; with Nagle's algorithm the second small
        // write waits for the client's delayed acknowledgement, about 40 ms on Linux.
        g_socket_set_option(socket, IPPROTO_TCP, TCP_NODELAY, 1, nullptr);
        GSocketAddress* remote = g_socket_connection_get_remote_address(stream, nullptr);
        GSocketAddress* local = g_socket_connection_get_local_address(stream, nullptr);
        if (!remote || !local) {
            g_clear_object(&remote);
            g_clear_object(&local);
            g_io_stream_close(G_IO_STREAM(stream), nullptr, nullptr);
            return;
        }
        char* host = g_inet_address_to_string(
            g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(remote)));
        std::string address = host;
        g_free(host);
        bool proxy = !limits.trustedProxy.empty() && address == limits.trustedProxy;
        auto full = [&] {
            auto it = perAddress.find(address);
            return connections.size() >= limits.maxConnections ||
                   (!proxy && it != perAddress.end() &&
                    it->second >= limits.maxConnectionsPerAddress);
        };
        // The periodic sweep may not have seen the latest closes yet: look before refusing.
        if (full())
            sweepClosed();
        if (connections.size() >= 2 * limits.maxConnections) {
            // A flood: not even a 503 is worth reading the headers for.
            g_io_stream_close(G_IO_STREAM(stream), nullptr, nullptr);
            g_object_unref(remote);
            g_object_unref(local);
            return;
        }
        bool overCapacity = full();
        GIOStream* served = G_IO_STREAM(g_object_ref(stream));
        if (certificate) {
            GIOStream* secure = g_tls_server_connection_new(served, certificate, nullptr);
            g_object_unref(served);
            served = secure;
        }
        auto* connection = new Connection{
            this, G_SOCKET_CONNECTION(g_object_ref(stream)), socket, remote, address, overCapacity,
            0};
        connections.emplace(remote, connection);
        ++perAddress[address];
        arm(connection, overCapacity ? std::min(kOverCapacityGrace, limits.headerTimeout)
                                     : limits.headerTimeout);
        if (!served || !soup_server_accept_iostream(server, served, local, remote, nullptr))
            g_io_stream_close(G_IO_STREAM(stream), nullptr, nullptr);
        g_clear_object(&served);
        g_object_unref(local);
    }
};

namespace {

struct Reservation {
    std::shared_ptr<ConnectionGuard::State> state;
    std::size_t bytes;
};

} // namespace

ConnectionGuard::ConnectionGuard(ConnectionLimits limits)
    : m_limits(std::move(limits)), m_state(std::make_shared<State>()) {
    m_state->limits = m_limits;
    m_sweepTimer = g_timeout_add(250, State::tickCallback, m_state.get());
}

ConnectionGuard::~ConnectionGuard() {
    if (m_service) {
        g_socket_service_stop(m_service);
        g_socket_listener_close(G_SOCKET_LISTENER(m_service));
        g_signal_handlers_disconnect_by_data(m_service, this);
        g_object_unref(m_service);
    }
    g_clear_object(&m_certificate);
    if (!m_privateFolder.empty()) {
        std::string path = m_privateFolder + "/listener";
        g_unlink(path.c_str());
        g_rmdir(m_privateFolder.c_str());
    }
    if (m_server) {
        g_signal_handler_disconnect(m_server, m_startedHandler);
        g_signal_handler_disconnect(m_server, m_finishedHandler);
    }
    g_source_remove(m_sweepTimer);
    while (!m_state->connections.empty())
        m_state->drop(m_state->connections.begin()->second);
}

void ConnectionGuard::attach(SoupServer* server) {
    m_server = server;
    m_state->server = server;
    m_startedHandler = g_signal_connect(server, "request-started",
                                        G_CALLBACK(State::requestStartedCallback), m_state.get());
    m_finishedHandler = g_signal_connect(server, "request-finished",
                                         G_CALLBACK(State::requestFinishedCallback), m_state.get());
}

// libsoup keeps a connection alive after an answer only while the server has a listener of its
// own, and closes every connection handed to it otherwise. The server gets one that nobody can
// reach: a local socket in a folder only this process may enter.
std::expected<void, std::string> ConnectionGuard::keepAliveListener() {
    char* folder = g_dir_make_tmp("aurelo-service-XXXXXX", nullptr);
    if (!folder)
        return std::unexpected(std::string("无法创建临时目录"));
    m_privateFolder = folder;
    g_free(folder);
    std::string path = m_privateFolder + "/listener";
    GError* error = nullptr;
    GSocket* socket =
        g_socket_new(G_SOCKET_FAMILY_UNIX, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_DEFAULT, &error);
    GSocketAddress* address = g_unix_socket_address_new(path.c_str());
    bool ok = socket && g_socket_bind(socket, address, FALSE, &error) &&
              g_socket_listen(socket, &error) &&
              soup_server_listen_socket(m_server, socket, static_cast<SoupServerListenOptions>(0),
                                        &error);
    std::string message = error ? error->message : "";
    g_clear_error(&error);
    g_clear_object(&address);
    g_clear_object(&socket);
    if (!ok)
        return std::unexpected(message);
    return {};
}

std::expected<unsigned, std::string> ConnectionGuard::listen(GSocketAddress* address,
                                                             GTlsCertificate* certificate) {
    GError* error = nullptr;
    GSocket* socket = g_socket_new(g_socket_address_get_family(address), G_SOCKET_TYPE_STREAM,
                                   G_SOCKET_PROTOCOL_TCP, &error);
    auto fail = [&] {
        std::string message = error ? error->message : "";
        g_clear_error(&error);
        g_clear_object(&socket);
        return std::unexpected(message);
    };
    if (!socket)
        return fail();
    // GIO's default queue of 10 drops the connections of a burst of clients (every agent's
    // application reconnecting at once) for a second each.
    g_socket_set_listen_backlog(socket, 1024);
    if (!g_socket_bind(socket, address, TRUE, &error) || !g_socket_listen(socket, &error))
        return fail();
    GSocketAddress* bound = g_socket_get_local_address(socket, &error);
    if (!bound)
        return fail();
    unsigned port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound));
    g_object_unref(bound);
    if (!m_service) {
        if (auto kept = keepAliveListener(); !kept)
            return std::unexpected(kept.error());
        m_service = g_socket_service_new();
        g_signal_connect(m_service, "incoming", G_CALLBACK(State::incomingCallback), this);
    }
    if (!g_socket_listener_add_socket(G_SOCKET_LISTENER(m_service), socket, nullptr, &error))
        return fail();
    g_object_unref(socket);
    if (certificate && !m_certificate)
        m_certificate = G_TLS_CERTIFICATE(g_object_ref(certificate));
    g_socket_service_start(m_service);
    return port;
}

bool ConnectionGuard::overCapacity(SoupServerMessage* message) const {
    auto* connection = m_state->find(message);
    return connection && connection->overCapacity;
}

bool ConnectionGuard::reserveBody(SoupServerMessage* message, std::size_t bytes) {
    if (bytes == 0)
        return true;
    if (m_state->bytesInFlight + bytes > m_limits.maxBytesInFlight)
        return false;
    m_state->bytesInFlight += bytes;
    // Released when the message is freed: after the answer, and after the handler has let go of
    // the body, whichever way the request ended.
    g_object_set_data_full(G_OBJECT(message), "aurelo-body-reservation",
                           new Reservation{m_state, bytes}, [](gpointer data) {
                               auto* reservation = static_cast<Reservation*>(data);
                               reservation->state->bytesInFlight -= reservation->bytes;
                               delete reservation;
                           });
    return true;
}

void ConnectionGuard::awaitBody(SoupServerMessage* message) {
    if (auto* connection = m_state->find(message)) {
        connection->busy = true;
        m_state->arm(connection, m_limits.bodyTimeout);
    }
}

void ConnectionGuard::requestRead(SoupServerMessage* message) {
    if (auto* connection = m_state->find(message)) {
        connection->busy = true;
        State::disarm(connection);
    }
}

namespace {

// After the answer, what the client still sends is read and dropped for a short while: a client
// that is still sending its body when the connection closes would get a reset instead of the
// answer. Nothing read here is kept.
constexpr guint kDrainMilliseconds = 3000;

struct ClosingAnswer {
    GIOStream* stream;
    std::string text;
    GCancellable* cancellable;
    // The accepted connection under the stream libsoup handed over, which closing that stream
    // leaves open.
    GIOStream* base = nullptr;
    guint timer = 0;
    char scratch[16384] = {};

    ~ClosingAnswer() {
        if (timer)
            g_source_remove(timer);
        if (base) {
            g_io_stream_close(base, nullptr, nullptr);
            g_object_unref(base);
        }
        g_object_unref(cancellable);
        g_object_unref(stream);
    }
};

void answerClosedCallback(GObject*, GAsyncResult* result, gpointer data) {
    auto* answer = static_cast<ClosingAnswer*>(data);
    (void)g_io_stream_close_finish(answer->stream, result, nullptr);
    delete answer;
}

void drainedCallback(GObject* source, GAsyncResult* result, gpointer data) {
    auto* answer = static_cast<ClosingAnswer*>(data);
    gssize read = g_input_stream_read_finish(G_INPUT_STREAM(source), result, nullptr);
    if (read > 0) {
        g_input_stream_read_async(G_INPUT_STREAM(source), answer->scratch, sizeof answer->scratch,
                                  G_PRIORITY_DEFAULT, answer->cancellable, drainedCallback, answer);
        return;
    }
    g_io_stream_close_async(answer->stream, G_PRIORITY_DEFAULT, nullptr, answerClosedCallback,
                            answer);
}

void answerWrittenCallback(GObject* source, GAsyncResult* result, gpointer data) {
    auto* answer = static_cast<ClosingAnswer*>(data);
    (void)g_output_stream_write_all_finish(G_OUTPUT_STREAM(source), result, nullptr, nullptr);
    answer->timer = g_timeout_add(
        kDrainMilliseconds,
        [](gpointer data) -> gboolean {
            auto* answer = static_cast<ClosingAnswer*>(data);
            answer->timer = 0;
            g_cancellable_cancel(answer->cancellable);
            return G_SOURCE_REMOVE;
        },
        answer);
    g_input_stream_read_async(g_io_stream_get_input_stream(answer->stream), answer->scratch,
                              sizeof answer->scratch, G_PRIORITY_DEFAULT, answer->cancellable,
                              drainedCallback, answer);
}

} // namespace

void ConnectionGuard::answerAndClose(SoupServerMessage* message, unsigned status,
                                     const std::string& body, unsigned retryAfterSeconds) {
    SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
    soup_message_headers_replace(headers, "Connection", "close");
    if (retryAfterSeconds > 0)
        soup_message_headers_replace(headers, "Retry-After",
                                     std::to_string(retryAfterSeconds).c_str());
    // Taking the connection from libsoup is the one way to answer before the body: libsoup reads
    // the whole body of a request before it writes any answer. Taken over, the connection gets
    // the answer written by hand and is closed.
    GIOStream* stream = soup_server_message_steal_connection(message);
    if (!stream) {
        soup_server_message_set_status(message, status, nullptr);
        soup_server_message_set_response(message, "application/json; charset=utf-8",
                                         SOUP_MEMORY_COPY, body.data(), body.size());
        return;
    }
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + soup_status_get_phrase(status) +
                       "\r\nContent-Type: application/json; charset=utf-8\r\n"
                       "Cache-Control: no-store\r\nConnection: close\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\n";
    if (retryAfterSeconds > 0)
        text += "Retry-After: " + std::to_string(retryAfterSeconds) + "\r\n";
    text += "\r\n" + body;
    auto* answer = new ClosingAnswer{stream, std::move(text), g_cancellable_new(), nullptr, 0, {}};
    if (auto* connection = m_state->find(message))
        answer->base = G_IO_STREAM(g_object_ref(connection->stream));
    g_output_stream_write_all_async(g_io_stream_get_output_stream(stream), answer->text.data(),
                                    answer->text.size(), G_PRIORITY_DEFAULT, nullptr,
                                    answerWrittenCallback, answer);
}

std::size_t ConnectionGuard::connections() const {
    return m_state->connections.size();
}

std::size_t ConnectionGuard::bytesInFlight() const {
    return m_state->bytesInFlight;
}

} // namespace aurelo::service
