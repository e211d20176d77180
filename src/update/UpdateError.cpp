#include "update/UpdateError.hpp"

#include <glib.h>

namespace aurelo {

std::string UpdateError::description() const {
    switch (m_kind) {
    case Kind::InstallFailed:
        return std::string("安装失败。") + m_detail.value_or("请确认“下载”文件夹可以写入。");
    case Kind::ServerUnavailable:
        return "更新服务器暂时无法访问，请稍后重试。";
    case Kind::InvalidPackageURL:
        return "更新包地址无效。";
    case Kind::DownloadFailed:
        return "更新包下载失败，请稍后重试。";
    case Kind::IntegrityFailed:
        return "更新包安全校验失败，已停止安装。";
    case Kind::ExpandFailed:
        return "更新包无法解压。";
    case Kind::AppMissing:
        return "更新包中没有找到应用程序。";
    }
    return {};
}

SystemError SystemError::fromErrno(const std::string& what, int code) {
    return {what + "：" + g_strerror(code)};
}

std::string describeUpdateFailure(const UpdateFailure& failure) {
    struct Visitor {
        std::string operator()(const UpdateError& e) const { return e.description(); }
        std::string operator()(const TransportError& e) const { return e.description; }
        std::string operator()(const DecodingError& e) const { return e.description; }
        std::string operator()(const SystemError& e) const { return e.description; }
    };
    return std::visit(Visitor{}, failure);
}

} // namespace aurelo
