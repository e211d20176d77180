#include "support/LogCapture.hpp"

#include <glib.h>

#include <mutex>

namespace aurelo::test {

namespace {

std::mutex gMutex;
std::vector<CapturedLog> gEntries;
bool gCapturing = false;

GLogWriterOutput writerCallback(GLogLevelFlags level, const GLogField* fields, gsize count,
                                gpointer) {
    CapturedLog entry;
    for (gsize i = 0; i < count; ++i) {
        const std::string key = fields[i].key;
        if (key != "MESSAGE" && key != "CATEGORY" && key != "GLIB_DOMAIN" && key != "PRIORITY")
            continue;
        const auto* value = static_cast<const char*>(fields[i].value);
        std::string text = fields[i].length < 0
                               ? std::string(value)
                               : std::string(value, static_cast<std::size_t>(fields[i].length));
        if (key == "MESSAGE")
            entry.message = text;
        else if (key == "CATEGORY")
            entry.category = text;
        else if (key == "GLIB_DOMAIN")
            entry.domain = text;
        else if (key == "PRIORITY")
            entry.priority = text;
    }
    {
        std::lock_guard lock(gMutex);
        if (gCapturing && entry.domain == "com.aurelo.translator") {
            gEntries.push_back(entry);
            return G_LOG_WRITER_HANDLED;
        }
    }
    return g_log_writer_default(level, fields, count, nullptr);
}

} // namespace

LogCapture::LogCapture() {
    static std::once_flag installed;
    std::call_once(installed, [] { g_log_set_writer_func(writerCallback, nullptr, nullptr); });
    std::lock_guard lock(gMutex);
    gEntries.clear();
    gCapturing = true;
}

LogCapture::~LogCapture() {
    std::lock_guard lock(gMutex);
    gCapturing = false;
    gEntries.clear();
}

std::vector<CapturedLog> LogCapture::entries() const {
    std::lock_guard lock(gMutex);
    return gEntries;
}

std::vector<std::string> LogCapture::messages() const {
    std::vector<std::string> result;
    for (const auto& entry : entries())
        result.push_back(entry.message);
    return result;
}

} // namespace aurelo::test
