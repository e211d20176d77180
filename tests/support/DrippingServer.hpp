#pragma once

// The loopback server answering every request with a dripping body (see ScriptedAnswer::drip).

#include "support/LoopbackServer.hpp"

namespace aurelo::test {

class DrippingServer : public LoopbackServer {
public:
    struct Options {
        std::size_t pieceSize = 1;
        std::chrono::milliseconds interval{200};
        std::size_t maximumPieces = 100;
    };

    explicit DrippingServer(Options options) {
        setResponder([options](const RecordedRequest&) {
            return ScriptedAnswer::drip(options.pieceSize, options.interval, options.maximumPieces);
        });
    }

    using LoopbackServer::requestCount;
    std::size_t requestCount() const { return requests().size(); }
};

} // namespace aurelo::test
