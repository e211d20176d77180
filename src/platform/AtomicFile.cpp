#include "platform/AtomicFile.hpp"

#include <glib.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace aurelo {

namespace {

std::string errnoText(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

// Closes a descriptor on every path out of a function.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

} // namespace

std::expected<void, std::string> writeFileAtomically(const std::filesystem::path& path,
                                                     std::string_view contents, mode_t mode) {
    const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
    if (g_mkdir_with_parents(folder.c_str(), 0700) != 0)
        return std::unexpected(errnoText("cannot create folder", errno));

    std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    FileDescriptor fd(::mkstemp(temporary.data()));
    if (fd.get() < 0)
        return std::unexpected(errnoText("cannot create temporary file", errno));

    auto fail = [&](const char* what) {
        int error = errno;
        ::unlink(temporary.c_str());
        return std::unexpected(errnoText(what, error));
    };
    if (::fchmod(fd.get(), mode) != 0)
        return fail("cannot set file mode");
    if (!writeAll(fd.get(), contents))
        return fail("cannot write");
    // Without the flush a crash soon after the rename can leave an empty file behind on
    // file systems that order metadata before data (ext4 with delalloc, btrfs).
    if (::fsync(fd.get()) != 0)
        return fail("cannot flush to disk");
    if (::close(fd.release()) != 0)
        return fail("cannot close");
    if (::rename(temporary.c_str(), path.c_str()) != 0)
        return fail("cannot replace file");

    // The rename itself lives in the folder; flushing the folder makes it survive a power cut.
    FileDescriptor folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.get() >= 0)
        ::fsync(folderFd.get());
    return {};
}

std::expected<std::optional<std::string>, std::string>
readWholeFile(const std::filesystem::path& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT)
            return std::optional<std::string>();
        return std::unexpected(errnoText("cannot open", errno));
    }
    std::string contents;
    char buffer[16384];
    for (;;) {
        ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return std::unexpected(errnoText("cannot read", errno));
        }
        if (count == 0)
            break;
        contents.append(buffer, static_cast<std::size_t>(count));
    }
    return std::optional<std::string>(std::move(contents));
}

std::string utcTimestampForFileName() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

std::filesystem::path unusedFileName(const std::filesystem::path& base) {
    std::filesystem::path candidate = base;
    std::error_code ignored;
    for (int n = 2; std::filesystem::exists(candidate, ignored); ++n)
        candidate = base.string() + "-" + std::to_string(n);
    return candidate;
}

} // namespace aurelo
