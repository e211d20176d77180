#pragma once

// A server on 127.0.0.1 that answers every request with 200 and a chunked body sent one piece
// per tick: a few bytes every few hundred milliseconds play a server that keeps a connection
// alive without ever finishing, large pieces every millisecond a fast one that never stops. It
// gives up by itself after `maximumPieces`, so a test can never hang on it.

#include "platform/GRef.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct _SoupServer SoupServer;
typedef struct _SoupServerMessage SoupServerMessage;

namespace aurelo::test {

class DrippingServer {
public:
    struct Options {
        std::size_t pieceSize = 1;
        std::chrono::milliseconds interval{200};
        std::size_t maximumPieces = 100;
    };

    explicit DrippingServer(Options options);
    DrippingServer(const DrippingServer&) = delete;
    DrippingServer& operator=(const DrippingServer&) = delete;
    ~DrippingServer();

    // "http://127.0.0.1:<port>"
    const std::string& origin() const { return m_origin; }
    std::string url(const std::string& path) const { return m_origin + path; }

    std::size_t requestCount() const { return m_requests; }
    // Pieces handed to the connection across all answers so far.
    std::size_t piecesSent() const { return m_piecesSent; }
    // Answers whose client went away (or that ended) before the last piece.
    std::size_t answersEnded() const { return m_ended; }

private:
    struct Answer;
    static void handleCallback(SoupServer*, SoupServerMessage*, const char*, GHashTable*,
                               gpointer self);

    Options m_options;
    GRef<SoupServer> m_server;
    std::string m_origin;
    std::size_t m_requests = 0;
    std::size_t m_piecesSent = 0;
    std::size_t m_ended = 0;
    std::vector<std::unique_ptr<Answer>> m_answers;
};

} // namespace aurelo::test
