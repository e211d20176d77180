#pragma once

// The structured request log: one JSON object per line for every request answered, with what an
// operator needs to see load and failures. Texts, audio, passwords and tokens never appear in it.

#include <functional>
#include <string>

namespace aurelo::service {

struct RequestLogEntry {
    std::string method;
    std::string path;
    unsigned status = 0;
    double durationMs = 0;
    std::string user;     // the account, when the request was authenticated
    std::string provider; // the engine asked for, for translations
    std::size_t texts = 0;
    std::size_t cacheHits = 0;
    std::size_t requestBytes = 0;
    std::string remote;
};

class RequestLog {
public:
    using Sink = std::function<void(const std::string& line)>;

    // Without a sink, lines go to standard error.
    explicit RequestLog(Sink sink = {});

    void write(const RequestLogEntry& entry) const;
    static std::string format(const RequestLogEntry& entry);

private:
    Sink m_sink;
};

} // namespace aurelo::service
