#pragma once

// The application's user defaults: one JSON object in
// $XDG_CONFIG_HOME/aurelo-translator/defaults.json, read once at start and written as a whole,
// atomically, on every change. Values are JSON values under fixed keys; the stores convert them
// to typed values where they read them.

#include <nlohmann/json.hpp>

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace aurelo {

class UserDefaults {
public:
    // Keys keep the order in which they were first written, so the file reads naturally.
    using Json = nlohmann::ordered_json;

    // Loads `file`. A file that is not a JSON object is renamed to
    // "<name>.unreadable-<UTC timestamp>" and the defaults start empty; a file that exists but
    // cannot be read, or cannot be moved aside, makes the defaults read-only for this run so
    // that nothing the user had is overwritten.
    explicit UserDefaults(std::filesystem::path file);
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // $XDG_CONFIG_HOME/aurelo-translator/defaults.json, or ~/.config/… when the variable is unset
    // or not absolute (as the XDG base directory rules say). Read from the environment on every
    // call, so tests can point it at a temporary folder.
    static std::filesystem::path standardLocation();

    std::optional<Json> value(std::string_view key) const;
    // Typed reads: absent keys and values of another JSON type give nullopt.
    std::optional<std::string> string(std::string_view key) const;
    std::optional<bool> boolean(std::string_view key) const;
    std::optional<double> number(std::string_view key) const;
    bool contains(std::string_view key) const;

    // Change the value in memory and write the file. On a write failure the value stays changed
    // in memory (the running application keeps working) and the reason is returned.
    std::expected<void, std::string> set(std::string_view key, Json value);
    std::expected<void, std::string> remove(std::string_view key);
    // Several values in one write, so that they are stored together or not at all.
    std::expected<void, std::string>
    setValues(const std::vector<std::pair<std::string, Json>>& values);

    // Copies the current value of `key` to its own file beside the defaults,
    // "<key>.unreadable-<UTC timestamp>.json", before a caller replaces a value it could not
    // understand. Returns the file written.
    std::expected<std::filesystem::path, std::string> preserveValue(std::string_view key) const;

    const std::filesystem::path& file() const { return m_file; }
    // Where an unreadable file was moved at load, if it was.
    const std::optional<std::filesystem::path>& setAsideFile() const { return m_setAsideFile; }
    // Why the file is not written in this run, if it is not.
    const std::optional<std::string>& readOnlyReason() const { return m_readOnlyReason; }

private:
    void load();
    void removeStaleTemporaryFiles() const;
    std::expected<void, std::string> write();

    std::filesystem::path m_file;
    Json m_values = Json::object();
    std::optional<std::filesystem::path> m_setAsideFile;
    std::optional<std::string> m_readOnlyReason;
};

} // namespace aurelo
