// Taking the identity of the data folder's owner when the admin command runs as root.
#include "service/DataOwner.hpp"

#include <glib.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace aurelo::service {

std::expected<std::optional<std::string>, std::string>
becomeDataOwner(const std::filesystem::path& folder) {
    if (::geteuid() != 0)
        return std::nullopt;
    struct stat info {};
    std::filesystem::path existing = std::filesystem::absolute(folder);
    while (::stat(existing.c_str(), &info) != 0) {
        if (existing == existing.parent_path())
            return std::nullopt;
        existing = existing.parent_path();
    }
    if (info.st_uid == 0)
        return std::nullopt;
    const passwd* owner = ::getpwuid(info.st_uid);
    std::string name = owner ? owner->pw_name : std::to_string(info.st_uid);
    gid_t group = owner ? owner->pw_gid : info.st_gid;
    // Groups first, then the group, then the user: once the user is dropped, nothing else can be.
    bool switched = (owner ? ::initgroups(owner->pw_name, group) : ::setgroups(0, nullptr)) == 0 &&
                    ::setgid(group) == 0 && ::setuid(info.st_uid) == 0;
    if (!switched)
        return std::unexpected("无法切换到数据目录所有者 " + name + " 的身份：" +
                               g_strerror(errno) + "。请以该用户运行（例如 sudo -u " + name +
                               " aurelo-service admin …）。");
    return name;
}

} // namespace aurelo::service
