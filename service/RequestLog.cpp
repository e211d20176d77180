#include "service/RequestLog.hpp"

#include "platform/GRef.hpp"
#include "translation/JsonCoding.hpp"

#include <glib.h>

#include <cstdio>
#include <memory>

namespace aurelo::service {

RequestLog::RequestLog(Sink sink) : m_sink(std::move(sink)) {}

std::string RequestLog::format(const RequestLogEntry& entry) {
    std::unique_ptr<GDateTime, decltype(&g_date_time_unref)> now(g_date_time_new_now_utc(),
                                                                 g_date_time_unref);
    const GCharPtr time(g_date_time_format_iso8601(now.get()));
    nlohmann::json line = {
        {"time", time.get()},
        {"method", entry.method},
        {"path", entry.path},
        {"status", entry.status},
        {"ms", static_cast<double>(static_cast<long>(entry.durationMs * 10)) / 10},
        {"bytes", entry.requestBytes},
        {"remote", entry.remote}};
    if (!entry.user.empty())
        line["user"] = entry.user;
    if (!entry.provider.empty()) {
        line["provider"] = entry.provider;
        line["texts"] = entry.texts;
        line["cacheHits"] = entry.cacheHits;
    }
    return json::serialize(line);
}

void RequestLog::write(const RequestLogEntry& entry) const {
    std::string line = format(entry);
    if (m_sink)
        m_sink(line);
    else
        std::fprintf(stderr, "%s\n", line.c_str());
}

} // namespace aurelo::service
