// The defaults file as the application finds it at start: loaded, the session list read from
// it, and then the next change written. Whatever the file held, the write must succeed and
// leave a file that loads again with the same sessions; a file that cannot be used is set
// aside, never lost.

#include "FuzzSupport.hpp"
#include "FuzzWorkspace.hpp"

#include "models/SessionStore.hpp"
#include "platform/UserDefaults.hpp"

#include <filesystem>
#include <system_error>

namespace {

namespace fs = std::filesystem;
using aurelo::fuzz::FuzzWorkspace;
using aurelo::fuzz::require;

std::size_t fileCount(const fs::path& folder) {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        (void)entry;
        ++count;
    }
    return count;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    aurelo::fuzz::installGLibLogPolicy();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path folder = FuzzWorkspace::shared().freshFolder("config");
    const fs::path file = folder / "defaults.json";
    FuzzWorkspace::writeFile(file, aurelo::fuzz::asText(data, size));

    std::vector<aurelo::ChatSession> sessions;
    {
        aurelo::UserDefaults defaults(file);
        require(!defaults.readOnlyReason(), "a readable file made the defaults read-only");
        if (defaults.setAsideFile())
            require(fs::exists(*defaults.setAsideFile()), "an unreadable file was lost");
        aurelo::SessionStore store(defaults, nullptr, nullptr);
        sessions = store.sessions();
        store.save();
        require(static_cast<bool>(defaults.set("aureloTranslator.translationFontSize", 17)),
                "the next write failed");
    }

    aurelo::UserDefaults reloaded(file);
    require(!reloaded.setAsideFile() && !reloaded.readOnlyReason(),
            "the file written does not load again");
    aurelo::SessionStore store(reloaded, nullptr, nullptr);
    require(store.sessions() == sessions, "the sessions changed on their way through the file");
    // The file, its possible set-aside copy and a kept unreadable session list; no temporary.
    require(fileCount(folder) <= 3, "a write left a file behind");
    return 0;
}
