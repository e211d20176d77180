#include "service/UpdateFiles.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace aurelo::service {

bool isSafeUpdateFileName(const std::string& name) {
    return !name.empty() && name.size() <= 255 && name.front() != '.' &&
           std::ranges::all_of(name, [](unsigned char c) {
               return g_ascii_isalnum(c) || c == '.' || c == '-' || c == '_' || c == '+';
           });
}

std::optional<UpdateFile> openUpdateFile(const std::filesystem::path& directory,
                                         const std::string& name) {
    if (!isSafeUpdateFileName(name))
        return std::nullopt;
    std::filesystem::path path = directory / name;
    // O_NOFOLLOW: a link placed in the folder must not expose a file elsewhere.
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    UpdateFile file;
    if (info.st_size == 0) {
        file.contents = adoptGRef(g_bytes_new(nullptr, 0));
    } else {
        GMappedFile* mapped = g_mapped_file_new_from_fd(fd, FALSE, nullptr);
        if (!mapped) {
            ::close(fd);
            return std::nullopt;
        }
        file.contents = adoptGRef(g_mapped_file_get_bytes(mapped));
        g_mapped_file_unref(mapped);
    }
    ::close(fd);
    if (name.ends_with(".json"))
        file.contentType = "application/json; charset=utf-8";
    else if (name.ends_with(".zip"))
        file.contentType = "application/zip";
    else
        file.contentType = "application/octet-stream";
    return file;
}

} // namespace aurelo::service
