#pragma once

#include "support/TestDirectory.hpp"

#include "models/KeychainStore.hpp"
#include "models/WebSessionCleaner.hpp"
#include "platform/DockBadge.hpp"
#include "platform/InMemorySecretStore.hpp"
#include "platform/UserDefaults.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace aurelo::test {

struct RecordingBadge final : DockBadge {
    std::vector<std::optional<std::string>> labels;
    void show(const std::optional<std::string>& label, std::int64_t) override {
        labels.push_back(label);
    }
};

struct RecordingCleaner final : WebSessionCleaner {
    std::vector<std::string> cleared;
    void clear(const std::string& sessionId) override { cleared.push_back(sessionId); }
};

class StoreEnvironment {
public:
    TestDirectory directory;
    std::filesystem::path defaultsFile = directory.path() / "aurelo-translator" / "defaults.json";
    std::unique_ptr<UserDefaults> defaults = std::make_unique<UserDefaults>(defaultsFile);
    InMemorySecretStore secrets;
    KeychainStore keychain{secrets};

    // Reads the defaults file again, as the next start would.
    void restart() { defaults = std::make_unique<UserDefaults>(defaultsFile); }
    UserDefaults::Json storedDefaults() const {
        return UserDefaults::Json::parse(readFile(defaultsFile));
    }
    std::vector<std::filesystem::path> filesBeside(const std::string& prefix) const {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(defaultsFile.parent_path()))
            if (entry.path().filename().string().starts_with(prefix))
                found.push_back(entry.path());
        return found;
    }
};

} // namespace aurelo::test
