#pragma once

#include <filesystem>
#include <string_view>

namespace aurelo::fuzz {

// A private temporary folder for the targets that read files: each input is written into a
// fresh folder inside it, and the whole folder goes when the process ends normally.
class FuzzWorkspace {
public:
    // The process's workspace, created on first use under $TMPDIR (or /tmp).
    static FuzzWorkspace& shared();

    // An empty folder `name` inside the workspace; whatever the previous input left there is
    // removed first.
    std::filesystem::path freshFolder(std::string_view name) const;

    // Writes `contents` to `file`, replacing it.
    static void writeFile(const std::filesystem::path& file, std::string_view contents);

    const std::filesystem::path& root() const { return m_root; }

private:
    FuzzWorkspace();
    ~FuzzWorkspace();

    std::filesystem::path m_root;
};

} // namespace aurelo::fuzz
