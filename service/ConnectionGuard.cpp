#include "service/ConnectionGuard.hpp"

#include <libsoup/soup.h>

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
        GSocket* socket; // not owned: the record is freed when the socket is
        std::string address;
        bool counted = false; // in the per-address count
        bool overCapacity = false;
        guint timer = 0;
    };

    ConnectionLimits limits;
    std::unordered_map<GSocket*, Connection*> connections;
    std::unordered_map<std::string, std::size_t> perAddress;
    std::size_t bytesInFlight = 0;

    Connection* find(SoupServerMessage* message) const {
        auto it = connections.find(soup_server_message_get_socket(message));
        return it == connections.end() ? nullptr : it->second;
    }

    static gboolean deadlineCallback(gpointer data) {
        auto* connection = static_cast<Connection*>(data);
        connection->timer = 0;
        // Shutting the socket down wakes libsoup's pending read with end-of-file, and libsoup
        // then closes and frees the connection as it does for any client that hangs up.
        g_socket_shutdown(connection->socket, TRUE, TRUE, nullptr);
        return G_SOURCE_REMOVE;
    }

    void arm(Connection* connection, std::chrono::milliseconds after) {
        disarm(connection);
        if (after.count() > 0)
            connection->timer =
                g_timeout_add(static_cast<guint>(after.count()), deadlineCallback, connection);
    }

    static void disarm(Connection* connection) {
        if (connection->timer)
            g_source_remove(std::exchange(connection->timer, 0));
    }

    void forget(Connection* connection) {
        disarm(connection);
        connections.erase(connection->socket);
        if (connection->counted) {
            auto it = perAddress.find(connection->address);
            if (it != perAddress.end() && --it->second == 0)
                perAddress.erase(it);
        }
    }

    static void socketFreedCallback(gpointer data, GObject*) {
        auto* connection = static_cast<Connection*>(data);
        connection->state->forget(connection);
        delete connection;
    }

    static void requestStartedCallback(SoupServer*, SoupServerMessage* message, gpointer data) {
        static_cast<State*>(data)->requestStarted(message);
    }

    // An answer has been written; a kept-alive connection may now wait for the next request.
    static void requestFinishedCallback(SoupServer*, SoupServerMessage* message, gpointer data) {
        auto* state = static_cast<State*>(data);
        if (auto* connection = state->find(message))
            state->arm(connection, state->limits.idleTimeout);
    }

    void requestStarted(SoupServerMessage* message) {
        GSocket* socket = soup_server_message_get_socket(message);
        if (!socket)
            return;
        if (auto it = connections.find(socket); it != connections.end()) {
            // The next request on a kept-alive connection has begun to arrive.
            arm(it->second, it->second->overCapacity ? kOverCapacityGrace : limits.headerTimeout);
            return;
        }
        const char* remote = soup_server_message_get_remote_host(message);
        auto* connection = new Connection{this, socket, remote ? remote : "", false, false, 0};
        connections.emplace(socket, connection);
        g_object_weak_ref(G_OBJECT(socket), socketFreedCallback, connection);
        bool proxy = !limits.trustedProxy.empty() && connection->address == limits.trustedProxy;
        std::size_t& fromAddress = perAddress[connection->address];
        connection->counted = true;
        ++fromAddress;
        if (connections.size() > 2 * limits.maxConnections) {
            // A flood: not even a 503 is worth reading the headers for.
            g_socket_shutdown(socket, TRUE, TRUE, nullptr);
            return;
        }
        connection->overCapacity = connections.size() > limits.maxConnections ||
                                   (!proxy && fromAddress > limits.maxConnectionsPerAddress);
        arm(connection, connection->overCapacity
                            ? std::min(kOverCapacityGrace, limits.headerTimeout)
                            : limits.headerTimeout);
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
}

ConnectionGuard::~ConnectionGuard() {
    if (m_server) {
        g_signal_handler_disconnect(m_server, m_startedHandler);
        g_signal_handler_disconnect(m_server, m_finishedHandler);
    }
    // Sockets may outlive the guard; they must not call back into it.
    for (auto& [socket, connection] : m_state->connections) {
        State::disarm(connection);
        g_object_weak_unref(G_OBJECT(socket), State::socketFreedCallback, connection);
        delete connection;
    }
    m_state->connections.clear();
}

void ConnectionGuard::attach(SoupServer* server) {
    m_server = server;
    m_startedHandler = g_signal_connect(server, "request-started",
                                        G_CALLBACK(State::requestStartedCallback), m_state.get());
    m_finishedHandler = g_signal_connect(server, "request-finished",
                                         G_CALLBACK(State::requestFinishedCallback), m_state.get());
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
    if (auto* connection = m_state->find(message))
        m_state->arm(connection, m_limits.bodyTimeout);
}

void ConnectionGuard::requestRead(SoupServerMessage* message) {
    if (auto* connection = m_state->find(message))
        State::disarm(connection);
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
    guint timer = 0;
    char scratch[16384] = {};

    ~ClosingAnswer() {
        if (timer)
            g_source_remove(timer);
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
                                  G_PRIORITY_LOW, answer->cancellable, drainedCallback, answer);
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
                              sizeof answer->scratch, G_PRIORITY_LOW, answer->cancellable,
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
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " +
                       soup_status_get_phrase(status) +
                       "\r\nContent-Type: application/json; charset=utf-8\r\n"
                       "Cache-Control: no-store\r\nConnection: close\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\n";
    if (retryAfterSeconds > 0)
        text += "Retry-After: " + std::to_string(retryAfterSeconds) + "\r\n";
    text += "\r\n" + body;
    auto* answer = new ClosingAnswer{stream, std::move(text), g_cancellable_new(), 0, {}};
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
