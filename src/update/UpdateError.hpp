#pragma once

// The ways an update check or installation can fail, each with the sentence the user sees.

#include "platform/HttpSession.hpp"
#include "translation/TranslationError.hpp"

#include <optional>
#include <string>
#include <variant>

namespace aurelo {

class UpdateError {
public:
    enum class Kind {
        InstallFailed,
        ServerUnavailable,
        InvalidPackageURL,
        DownloadFailed,
        IntegrityFailed,
        ExpandFailed,
        AppMissing,
    };

    static constexpr const char* kCannotLocateApplication = "无法确定当前应用位置。";
    static constexpr const char* kApplicationFolderNotWritable =
        "当前应用目录不可写，请将应用移到你有写入权限的应用程序文件夹后再更新。";

    static UpdateError installFailed(std::optional<std::string> detail = std::nullopt) {
        return UpdateError(Kind::InstallFailed, std::move(detail));
    }
    static UpdateError serverUnavailable() { return UpdateError(Kind::ServerUnavailable); }
    static UpdateError invalidPackageURL() { return UpdateError(Kind::InvalidPackageURL); }
    static UpdateError downloadFailed() { return UpdateError(Kind::DownloadFailed); }
    static UpdateError integrityFailed() { return UpdateError(Kind::IntegrityFailed); }
    static UpdateError expandFailed() { return UpdateError(Kind::ExpandFailed); }
    static UpdateError appMissing() { return UpdateError(Kind::AppMissing); }

    Kind kind() const { return m_kind; }
    const std::optional<std::string>& detail() const { return m_detail; }
    std::string description() const;

    friend bool operator==(const UpdateError&, const UpdateError&) = default;

private:
    explicit UpdateError(Kind kind, std::optional<std::string> detail = std::nullopt)
        : m_kind(kind), m_detail(std::move(detail)) {}

    Kind m_kind;
    std::optional<std::string> m_detail;
};

// A file, copy or process-launch failure, described in the system's words (strerror or GIO).
struct SystemError {
    std::string description;

    // "<what>：<strerror(code)>", for a failed system call on `path`.
    static SystemError fromErrno(const std::string& what, int code);
};

// Everything an update step can end with: our own errors, and transport, decoding and system
// errors, which are shown with their own descriptions.
using UpdateFailure = std::variant<UpdateError, TransportError, DecodingError, SystemError>;

std::string describeUpdateFailure(const UpdateFailure& failure);

} // namespace aurelo
