#include "support/DrippingServer.hpp"

#include <libsoup/soup.h>

#include <stdexcept>

namespace aurelo::test {

struct DrippingServer::Answer {
    DrippingServer* server = nullptr;
    GRef<SoupServerMessage> message;
    guint timer = 0;
    gulong finishedHandler = 0;
    std::size_t pieces = 0;
    bool done = false;

    ~Answer() {
        stop();
        if (finishedHandler)
            g_signal_handler_disconnect(message.get(), finishedHandler);
    }

    void stop() {
        if (timer)
            g_source_remove(timer);
        timer = 0;
        if (!done)
            ++server->m_ended;
        done = true;
    }

    static gboolean tickCallback(gpointer data) {
        auto* answer = static_cast<Answer*>(data);
        DrippingServer* server = answer->server;
        SoupMessageBody* body = soup_server_message_get_response_body(answer->message.get());
        std::string piece(server->m_options.pieceSize, ' ');
        soup_message_body_append(body, SOUP_MEMORY_COPY, piece.data(), piece.size());
        ++answer->pieces;
        ++server->m_piecesSent;
        if (answer->pieces >= server->m_options.maximumPieces) {
            soup_message_body_complete(body);
            answer->timer = 0;
            answer->done = true;
            soup_server_message_unpause(answer->message.get());
            return G_SOURCE_REMOVE;
        }
        soup_server_message_unpause(answer->message.get());
        return G_SOURCE_CONTINUE;
    }

    static void finishedCallback(SoupServerMessage*, gpointer data) {
        static_cast<Answer*>(data)->stop();
    }
};

DrippingServer::DrippingServer(Options options)
    : m_options(options), m_server(adoptGRef(soup_server_new(nullptr, nullptr))) {
    GErrorHolder error;
    if (!soup_server_listen_local(m_server.get(), 0, SOUP_SERVER_LISTEN_IPV4_ONLY, error.out()))
        throw std::runtime_error("the dripping server cannot listen");
    GSList* uris = soup_server_get_uris(m_server.get());
    m_origin = "http://127.0.0.1:" + std::to_string(g_uri_get_port(static_cast<GUri*>(uris->data)));
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    soup_server_add_handler(m_server.get(), nullptr, handleCallback, this, nullptr);
}

DrippingServer::~DrippingServer() {
    m_answers.clear();
    soup_server_disconnect(m_server.get());
}

void DrippingServer::handleCallback(SoupServer*, SoupServerMessage* message, const char*,
                                    GHashTable*, gpointer self) {
    auto* server = static_cast<DrippingServer*>(self);
    ++server->m_requests;
    soup_server_message_set_status(message, 200, nullptr);
    SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
    soup_message_headers_set_encoding(headers, SOUP_ENCODING_CHUNKED);
    soup_message_headers_set_content_type(headers, "application/json", nullptr);
    auto answer = std::make_unique<Answer>();
    answer->server = server;
    answer->message = GRef<SoupServerMessage>(message);
    answer->finishedHandler =
        g_signal_connect(message, "finished", G_CALLBACK(Answer::finishedCallback), answer.get());
    answer->timer = g_timeout_add(static_cast<guint>(server->m_options.interval.count()),
                                  Answer::tickCallback, answer.get());
    soup_server_message_pause(message);
    server->m_answers.push_back(std::move(answer));
}

} // namespace aurelo::test
