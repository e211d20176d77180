#include "web/WebLogger.hpp"

#include <glib.h>

#include <string>

namespace aurelo::webLogger {

namespace {

void log(GLogLevelFlags level, const std::string& message) {
    const GLogField fields[] = {
        {"GLIB_DOMAIN", kDomain, -1},
        {"CATEGORY", kCategory, -1},
        {"MESSAGE", message.c_str(), -1},
        {"PRIORITY", level == G_LOG_LEVEL_INFO ? "6" : "3", -1},
    };
    // G_LOG_LEVEL_ERROR would abort the process, so errors travel with the WARNING flag and the
    // syslog priority "3" (err) in the PRIORITY field, which is what the journal files them under.
    g_log_structured_array(level, fields, G_N_ELEMENTS(fields));
}

} // namespace

void malformedBridgeMessage() {
    log(G_LOG_LEVEL_WARNING, "Ignored malformed bridge message");
}

void downloadCompleted(std::string_view fileName) {
    log(G_LOG_LEVEL_INFO, "Download completed: " + std::string(fileName));
}

void downloadFailed(std::string_view description) {
    log(G_LOG_LEVEL_WARNING, "Download failed: " + std::string(description));
}

} // namespace aurelo::webLogger
