#include "support/LogCapture.hpp"

#include <glib.h>

#include <cstring>
#include <mutex>
#include <span>

namespace aurelo::test {

namespace {

std::mutex gMutex;
std::vector<CapturedLog> gEntries;
bool gCapturing = false;

GLogWriterOutput captureWriter(GLogLevelFlags level, const GLogField* fields, gsize count,
                               gpointer) {
    CapturedLog entry;
    std::string domain;
    const std::pair<const char*, std::string*> wanted[] = {{"MESSAGE", &entry.message},
                                                           {"CATEGORY", &entry.category},
                                                           {"PRIORITY", &entry.priority},
                                                           {"GLIB_DOMAIN", &domain}};
    for (const auto& field : std::span(fields, count))
        for (const auto& [key, value] : wanted)
            if (std::strcmp(field.key, key) == 0)
                *value = field.length < 0 ? std::string(static_cast<const char*>(field.value))
                                          : std::string(static_cast<const char*>(field.value),
                                                        static_cast<std::size_t>(field.length));
    std::lock_guard lock(gMutex);
    if (!gCapturing || domain != "com.aurelo.translator")
        return g_log_writer_default(level, fields, count, nullptr);
    gEntries.push_back(entry);
    return G_LOG_WRITER_HANDLED;
}

} // namespace

LogCapture::LogCapture() {
    static std::once_flag installed;
    std::call_once(installed, [] { g_log_set_writer_func(captureWriter, nullptr, nullptr); });
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
