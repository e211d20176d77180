#include "update/PackageExtractor.hpp"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace aurelo {

namespace {

struct ArchiveDeleter {
    void operator()(archive* a) const { archive_read_free(a); }
};

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    ~FileDescriptor() {
        if (m_fd >= 0)
            close(m_fd);
    }
    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

private:
    int m_fd;
};

// Splits an entry name into its components, dropping empty and "." ones. nullopt for absolute
// names and for any ".." component: such an entry is refused, never "cleaned up".
std::optional<std::vector<std::string>> entryComponents(std::string_view name) {
    if (name.empty() || name.front() == '/')
        return std::nullopt;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string_view::npos)
            end = name.size();
        std::string_view part = name.substr(start, end - start);
        if (part == "..")
            return std::nullopt;
        if (!part.empty() && part != ".")
            parts.emplace_back(part);
        start = end + 1;
    }
    if (parts.empty())
        return std::nullopt;
    return parts;
}

// A link target is allowed when it is relative, made of leading ".." steps followed by plain
// names only, and the leading steps do not climb above the destination. The leading steps walk
// up through real folders (entries are never written through links), and a ".." after a name is
// refused because that name could be a link itself, whose parent is somewhere else.
bool linkTargetStaysInside(std::string_view target, std::size_t linkDepth) {
    if (target.empty() || target.front() == '/' || target.find('\0') != std::string_view::npos)
        return false;
    std::size_t climbs = 0;
    bool seenName = false;
    std::size_t start = 0;
    while (start <= target.size()) {
        std::size_t end = target.find('/', start);
        if (end == std::string_view::npos)
            end = target.size();
        std::string_view part = target.substr(start, end - start);
        if (part == "..") {
            if (seenName)
                return false;
            ++climbs;
        } else if (part == ".") {
            // "./name" is harmless but "name/." after a link is not; allow it only up front.
            if (seenName)
                return false;
        } else if (!part.empty()) {
            seenName = true;
        }
        start = end + 1;
    }
    return climbs <= linkDepth;
}

// Opens (creating where needed) the folders leading to an entry, one step at a time from the
// destination, never following a link.
std::expected<FileDescriptor, std::string> openParents(int root,
                                                       const std::vector<std::string>& parts) {
    FileDescriptor current(dup(root));
    if (!current)
        return std::unexpected("cannot open the destination");
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        if (mkdirat(current.get(), parts[i].c_str(), 0755) != 0 && errno != EEXIST)
            return std::unexpected("cannot create the folder " + parts[i]);
        FileDescriptor next(openat(current.get(), parts[i].c_str(),
                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next)
            return std::unexpected("an entry passes through something that is not a folder: " +
                                   parts[i]);
        current = std::move(next);
    }
    return current;
}

std::string errorText(archive* a) {
    const char* text = archive_error_string(a);
    return text ? text : "unknown error";
}

bool writeAll(int fd, const char* data, std::size_t size, off_t offset) {
    while (size > 0) {
        ssize_t written = pwrite(fd, data, size, offset);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
        offset += written;
    }
    return true;
}

} // namespace

std::expected<void, std::string> expandPackage(const std::filesystem::path& archivePath,
                                               const std::filesystem::path& destination,
                                               const ExtractionLimits& limits) {
    FileDescriptor root(open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root)
        return std::unexpected("cannot open the destination folder");
    std::unique_ptr<archive, ArchiveDeleter> reader(archive_read_new());
    archive_read_support_format_zip(reader.get());
    if (archive_read_open_filename(reader.get(), archivePath.c_str(), 64 * 1024) != ARCHIVE_OK)
        return std::unexpected(std::string("cannot open the archive: ") + errorText(reader.get()));

    std::uint64_t entries = 0;
    std::uint64_t total = 0;
    archive_entry* entry = nullptr;
    int status;
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK ||
           status == ARCHIVE_WARN) {
        if (++entries > limits.maximumEntries)
            return std::unexpected("the archive has too many entries");
        const char* name = archive_entry_pathname_utf8(entry);
        if (!name)
            name = archive_entry_pathname(entry);
        if (!name)
            return std::unexpected("an entry has no name");
        auto parts = entryComponents(name);
        if (!parts)
            return std::unexpected(std::string("an entry would land outside the folder: ") + name);
        if (archive_entry_hardlink(entry))
            return std::unexpected(std::string("hard links are not allowed: ") + name);
        auto parent = openParents(root.get(), *parts);
        if (!parent)
            return std::unexpected(parent.error());
        const std::string& leaf = parts->back();

        switch (archive_entry_filetype(entry)) {
        case AE_IFDIR: {
            if (mkdirat(parent->get(), leaf.c_str(), 0755) != 0) {
                struct stat info {};
                if (errno != EEXIST ||
                    fstatat(parent->get(), leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
                    !S_ISDIR(info.st_mode))
                    return std::unexpected(std::string("cannot create the folder ") + name);
            }
            break;
        }
        case AE_IFLNK: {
            const char* target = archive_entry_symlink_utf8(entry);
            if (!target)
                target = archive_entry_symlink(entry);
            if (!target || !linkTargetStaysInside(target, parts->size() - 1))
                return std::unexpected(std::string("a link points outside the folder: ") + name);
            if (symlinkat(target, parent->get(), leaf.c_str()) != 0)
                return std::unexpected(std::string("cannot create the link ") + name);
            break;
        }
        case AE_IFREG: {
            if (archive_entry_size_is_set(entry) &&
                (archive_entry_size(entry) < 0 ||
                 static_cast<std::uint64_t>(archive_entry_size(entry)) > limits.maximumFileSize))
                return std::unexpected(std::string("an entry is too large: ") + name);
            mode_t mode = (archive_entry_perm(entry) & 0111) ? 0755 : 0644;
            // O_EXCL: a second entry of the same name, or one named like the archive itself,
            // never replaces what is already there.
            FileDescriptor file(openat(parent->get(), leaf.c_str(),
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
            if (!file)
                return std::unexpected(std::string("cannot create the file ") + name);
            const void* block = nullptr;
            std::size_t size = 0;
            la_int64_t offset = 0;
            int read;
            while ((read = archive_read_data_block(reader.get(), &block, &size, &offset)) ==
                   ARCHIVE_OK) {
                if (offset < 0 ||
                    static_cast<std::uint64_t>(offset) + size > limits.maximumFileSize)
                    return std::unexpected(std::string("an entry is too large: ") + name);
                total += size;
                if (total > limits.maximumTotalSize)
                    return std::unexpected("the archive expands to too much data");
                if (!writeAll(file.get(), static_cast<const char*>(block), size, offset))
                    return std::unexpected(std::string("cannot write the file ") + name);
            }
            if (read != ARCHIVE_EOF)
                return std::unexpected(std::string("the archive is damaged at ") + name + ": " +
                                       errorText(reader.get()));
            // Fix the mode after writing so that the umask does not leave a program unrunnable.
            if (fchmod(file.get(), mode) != 0)
                return std::unexpected(std::string("cannot set the mode of ") + name);
            break;
        }
        default:
            return std::unexpected(std::string("an entry is neither file, folder nor link: ") +
                                   name);
        }
    }
    if (status != ARCHIVE_EOF)
        return std::unexpected(std::string("the archive is damaged: ") + errorText(reader.get()));
    return {};
}

} // namespace aurelo
