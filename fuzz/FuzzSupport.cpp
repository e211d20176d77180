#include "FuzzSupport.hpp"

#include <glib.h>

#include <cstdio>
#include <cstdlib>

namespace aurelo::fuzz {

namespace {

GLogWriterOutput logWriterCallback(GLogLevelFlags level, const GLogField* fields, gsize count,
                                   gpointer) {
    if ((level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL)) == 0)
        return G_LOG_WRITER_HANDLED;
    return g_log_writer_standard_streams(level, fields, count, nullptr);
}

} // namespace

void installGLibLogPolicy() {
    g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_FATAL_MASK | G_LOG_LEVEL_CRITICAL));
    g_log_set_writer_func(logWriterCallback, nullptr, nullptr);
}

void require(bool condition, const char* what) {
    if (condition)
        return;
    std::fprintf(stderr, "fuzz property violated: %s\n", what);
    std::abort();
}

} // namespace aurelo::fuzz
