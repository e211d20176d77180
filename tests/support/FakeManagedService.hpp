#pragma once

// A stand-in for the managed service on 127.0.0.1: the loopback server, answering what the test
// scripts per path and recording every request.

#include "support/LoopbackServer.hpp"

namespace aurelo::test {

class FakeManagedService : public LoopbackServer {
public:
    // Every request to `path` gets `answer` once its queue is empty.
    void setFallback(const std::string& path, ScriptedAnswer answer) {
        route(path, std::move(answer));
    }
};

// Answers a translation request by echoing its text(s) with a prefix: "text" -> "<prefix>text".
ScriptedAnswer echoTranslation(const RecordedRequest& request, const std::string& prefix = "译:");

} // namespace aurelo::test
