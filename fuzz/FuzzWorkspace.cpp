#include "FuzzWorkspace.hpp"

#include "FuzzSupport.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

namespace aurelo::fuzz {

namespace fs = std::filesystem;

namespace {

// Extracted entries may be read-only folders; make everything writable again so that the
// folder can be emptied for the next input.
void makeRemovable(const fs::path& folder) {
    std::error_code error;
    for (fs::recursive_directory_iterator
             it(folder, fs::directory_options::skip_permission_denied, error),
         end;
         !error && it != end; it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error))
            ::chmod(it->path().c_str(), 0700);
    }
}

} // namespace

FuzzWorkspace& FuzzWorkspace::shared() {
    static FuzzWorkspace workspace;
    return workspace;
}

FuzzWorkspace::FuzzWorkspace() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/aurelo-fuzz-XXXXXX";
    require(::mkdtemp(pattern.data()) != nullptr, "cannot create the fuzz workspace");
    m_root = pattern;
}

FuzzWorkspace::~FuzzWorkspace() {
    makeRemovable(m_root);
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
}

fs::path FuzzWorkspace::freshFolder(std::string_view name) const {
    const fs::path folder = m_root / name;
    std::error_code error;
    if (fs::exists(fs::symlink_status(folder, error))) {
        ::chmod(folder.c_str(), 0700);
        makeRemovable(folder);
        fs::remove_all(folder, error);
        require(!error, "cannot empty a workspace folder");
    }
    fs::create_directories(folder, error);
    require(!error, "cannot create a workspace folder");
    return folder;
}

void FuzzWorkspace::writeFile(const fs::path& file, std::string_view contents) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    out.close();
    require(static_cast<bool>(out), "cannot write a workspace file");
}

} // namespace aurelo::fuzz
