#pragma once

// The configuration file of `aurelo-service serve --config FILE`:
//
//   # comment
//   listen = 0.0.0.0:8443
//   data = /var/lib/aurelo-service
//   tls-cert =
//
// Each setting "name = value" stands for the serve command's option "--name value", so every
// option the serve command knows, now or later, can be set in the file without more code here.
// An empty value leaves the option unset. Options given on the command line win over the file.

#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace aurelo::service {

class ServeConfigFile {
public:
    // Anything larger is not a settings file of ours.
    static constexpr std::size_t kMaximumSize = 64 * 1024;

    // Reads and parses `file`. The error names the file (and the line) and says what is wrong.
    static std::expected<ServeConfigFile, std::string> read(const std::filesystem::path& file);

    // Parses settings text; `origin` names it in errors.
    static std::expected<ServeConfigFile, std::string> parse(std::string_view text,
                                                             const std::string& origin);

    // Replaces "--config FILE" (or "--config=FILE") in the serve command's arguments by the
    // file's settings. Arguments without it come back unchanged.
    static std::expected<std::vector<std::string>, std::string>
    expandArguments(const std::vector<std::string>& arguments);

    // The settings in file order, names without the leading "--".
    const std::vector<std::pair<std::string, std::string>>& settings() const { return m_settings; }

    // "--name value" for each setting that `commandLine` does not give itself, then
    // `commandLine`.
    std::vector<std::string> argumentsWith(const std::vector<std::string>& commandLine) const;

private:
    std::vector<std::pair<std::string, std::string>> m_settings;
};

} // namespace aurelo::service
