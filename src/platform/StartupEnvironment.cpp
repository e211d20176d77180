#include "platform/StartupEnvironment.hpp"

#include <glib.h>

namespace aurelo {

namespace {

bool hasFlag(std::string_view list, std::string_view flag) {
    // GDK_DEBUG is a list separated by ':', ',', ' ' or ';' (g_parse_debug_string).
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = list.find_first_of(":, ;", start);
        const std::string_view item = list.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (item == flag || item == "all")
            return true;
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return false;
}

} // namespace

std::vector<StartupEnvironment::Change> StartupEnvironment::changesFor(Rendering rendering,
                                                                       const Lookup& current) {
    std::vector<Change> changes;
    if (rendering == Rendering::Software) {
        const auto debug = current("GDK_DEBUG").value_or("");
        if (!hasFlag(debug, "gl-disable"))
            changes.push_back({"GDK_DEBUG", debug.empty() ? "gl-disable" : debug + ",gl-disable"});
        if (current("GSK_RENDERER").value_or("").empty())
            changes.push_back({"GSK_RENDERER", "cairo"});
    }
    if (current("JSC_largeHeapSize").value_or("").empty())
        changes.push_back({"JSC_largeHeapSize", std::string(kJSCHeapBytes)});
    return changes;
}

std::optional<std::string> StartupEnvironment::processValue(std::string_view name) {
    const char* value = g_getenv(std::string(name).c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void StartupEnvironment::apply(const std::vector<Change>& changes) {
    for (const auto& change : changes)
        g_setenv(change.name.c_str(), change.value.c_str(), TRUE);
}

} // namespace aurelo
