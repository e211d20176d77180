#include "platform/UserDefaults.hpp"

#include "platform/AtomicFile.hpp"

#include <glib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace aurelo {

UserDefaults::UserDefaults(std::filesystem::path file) : m_file(std::move(file)) {
    load();
}

std::filesystem::path UserDefaults::standardLocation() {
    std::filesystem::path base;
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome && configHome[0] == '/') {
        base = configHome;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home && home[0] ? home : g_get_home_dir()) / ".config";
    }
    return base / "aurelo-translator" / "defaults.json";
}

void UserDefaults::load() {
    removeStaleTemporaryFiles();
    auto contents = readWholeFile(m_file);
    if (!contents) {
        // Present but unreadable (permissions, a folder in its place): it may be perfectly good,
        // so it is neither moved nor overwritten.
        m_readOnlyReason = m_file.string() + " " + contents.error();
        g_warning("User defaults are not saved in this run: %s", m_readOnlyReason->c_str());
        return;
    }
    if (!contents->has_value())
        return; // First start.

    // Nothing we store nests more than a few levels. A file nested far deeper would load (the
    // parser keeps its own stack) and then overflow the call stack when the next change
    // serialises it, so it counts as unreadable like any other damaged file.
    constexpr int kMaximumDepth = 100;
    bool tooDeep = false;
    const Json::parser_callback_t depthLimit = [&tooDeep](int depth, Json::parse_event_t event,
                                                          Json&) {
        if ((event == Json::parse_event_t::object_start ||
             event == Json::parse_event_t::array_start) &&
            depth > kMaximumDepth)
            tooDeep = true;
        return !tooDeep;
    };
    Json parsed = Json::parse(**contents, depthLimit, /*allow_exceptions=*/false);
    if (!tooDeep && parsed.is_object()) {
        m_values = std::move(parsed);
        return;
    }

    // Not ours to interpret: keep it for the user under a new name and start afresh.
    std::filesystem::path aside =
        unusedFileName(m_file.string() + ".unreadable-" + utcTimestampForFileName());
    if (::rename(m_file.c_str(), aside.c_str()) == 0) {
        m_setAsideFile = aside;
        g_warning("User defaults could not be read; the file was moved to %s", aside.c_str());
    } else {
        m_readOnlyReason =
            "cannot move unreadable " + m_file.string() + " aside: " + std::strerror(errno);
        g_warning("User defaults are not saved in this run: %s", m_readOnlyReason->c_str());
    }
}

void UserDefaults::removeStaleTemporaryFiles() const {
    // A write interrupted by a crash leaves its temporary file (".defaults.json.XXXXXX") behind;
    // the real file is intact, so the leftover is only clutter.
    const std::string prefix = "." + m_file.filename().string() + ".";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(m_file.parent_path(), error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == prefix.size() + 6 && name.starts_with(prefix) && entry.is_regular_file())
            std::filesystem::remove(entry.path(), error);
    }
}

std::optional<UserDefaults::Json> UserDefaults::value(std::string_view key) const {
    auto it = m_values.find(key);
    if (it == m_values.end())
        return std::nullopt;
    return *it;
}

std::optional<std::string> UserDefaults::string(std::string_view key) const {
    auto it = m_values.find(key);
    if (it == m_values.end() || !it->is_string())
        return std::nullopt;
    return it->get<std::string>();
}

std::optional<bool> UserDefaults::boolean(std::string_view key) const {
    auto it = m_values.find(key);
    if (it == m_values.end() || !it->is_boolean())
        return std::nullopt;
    return it->get<bool>();
}

std::optional<double> UserDefaults::number(std::string_view key) const {
    auto it = m_values.find(key);
    if (it == m_values.end() || !it->is_number())
        return std::nullopt;
    return it->get<double>();
}

bool UserDefaults::contains(std::string_view key) const {
    return m_values.contains(key);
}

std::expected<void, std::string> UserDefaults::set(std::string_view key, Json value) {
    m_values[std::string(key)] = std::move(value);
    return write();
}

std::expected<void, std::string>
UserDefaults::setValues(const std::vector<std::pair<std::string, Json>>& values) {
    for (const auto& [key, value] : values)
        m_values[key] = value;
    return write();
}

std::expected<void, std::string> UserDefaults::remove(std::string_view key) {
    if (m_values.erase(std::string(key)) == 0)
        return {};
    return write();
}

std::expected<void, std::string> UserDefaults::write() {
    if (m_readOnlyReason)
        return std::unexpected(*m_readOnlyReason);
    // Invalid UTF-8 in a value is replaced rather than refused, so one bad string cannot stop
    // every later setting from being saved.
    std::string text = m_values.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    auto written = writeFileAtomically(m_file, text);
    if (!written)
        g_warning("Cannot save user defaults to %s: %s", m_file.c_str(), written.error().c_str());
    return written;
}

std::expected<std::filesystem::path, std::string>
UserDefaults::preserveValue(std::string_view key) const {
    auto it = m_values.find(key);
    if (it == m_values.end())
        return std::unexpected("no value to preserve");
    std::filesystem::path target =
        unusedFileName(m_file.parent_path() /
                       (std::string(key) + ".unreadable-" + utcTimestampForFileName() + ".json"));
    auto written =
        writeFileAtomically(target, it->dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
    if (!written)
        return std::unexpected(written.error());
    return target;
}

} // namespace aurelo
