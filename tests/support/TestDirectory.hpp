#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace aurelo::test {

// A fresh folder under the system's temporary folder, removed with everything in it at the end
// (folders a test made unreadable included).
class TestDirectory {
public:
    TestDirectory() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "aurelo-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        m_path = pattern;
    }
    TestDirectory(const TestDirectory&) = delete;
    TestDirectory& operator=(const TestDirectory&) = delete;
    ~TestDirectory() {
        namespace fs = std::filesystem;
        std::error_code ignored;
        fs::permissions(m_path, fs::perms::owner_all, ignored);
        for (auto it = fs::recursive_directory_iterator(m_path, ignored);
             it != fs::recursive_directory_iterator(); it.increment(ignored))
            if (it->is_directory(ignored) && !it->is_symlink(ignored))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(m_path, ignored);
    }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Writes `contents`, making the folders on the way, with the permission bits `mode`.
inline void writeFile(const std::filesystem::path& path, const std::string& contents,
                      mode_t mode = 0644) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
    ::chmod(path.c_str(), mode);
}

} // namespace aurelo::test
