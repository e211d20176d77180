#include "web/DownloadNaming.hpp"

#include "platform/GRef.hpp"

#include <glib.h>

namespace aurelo {

namespace {

// NAME_MAX of the common Linux file systems, in bytes.
constexpr std::size_t kMaximumNameBytes = 255;

std::string validUtf8(std::string_view text) {
    return adoptString(g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
}

// Cuts `text` to at most `bytes` bytes without splitting a UTF-8 sequence.
std::string truncatedUtf8(const std::string& text, std::size_t bytes) {
    if (text.size() <= bytes)
        return text;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

// "report.pdf" -> {"report", "pdf"}; "README" -> {"README", ""}; "archive.tar.gz" ->
// {"archive.tar", "gz"}.
std::pair<std::string, std::string> splitExtension(const std::string& name) {
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size())
        return {name, ""};
    return {name.substr(0, dot), name.substr(dot + 1)};
}

} // namespace

std::string downloadFileName(std::string_view suggestedName) {
    // Control bytes are never part of a multi-byte UTF-8 sequence, so they can be replaced before
    // the repair (which would otherwise stop at an embedded NUL).
    std::string raw(suggestedName);
    for (auto& c : raw) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || byte < 0x20 || byte == 0x7F)
            c = '-';
    }
    std::string name = validUtf8(raw);
    const auto start = name.find_first_not_of(". ");
    name = start == std::string::npos ? std::string() : name.substr(start);
    if (name.size() > kMaximumNameBytes) {
        auto [base, extension] = splitExtension(name);
        // Room for the extension and a collision suffix such as " 99".
        const std::size_t suffix = extension.empty() ? 0 : extension.size() + 1;
        if (suffix + 8 < kMaximumNameBytes)
            name = truncatedUtf8(base, kMaximumNameBytes - suffix - 8) +
                   (extension.empty() ? "" : "." + extension);
        else
            name = truncatedUtf8(name, kMaximumNameBytes - 8);
    }
    if (name.empty())
        return std::string(kFallbackDownloadName);
    return name;
}

std::filesystem::path
freeDownloadPath(const std::filesystem::path& folder, std::string_view suggestedName,
                 const std::function<bool(const std::filesystem::path&)>& exists) {
    const std::string name = downloadFileName(suggestedName);
    std::filesystem::path candidate = folder / name;
    const auto [base, extension] = splitExtension(name);
    for (unsigned n = 2; exists(candidate); ++n)
        candidate =
            folder / (base + " " + std::to_string(n) + (extension.empty() ? "" : "." + extension));
    return candidate;
}

std::filesystem::path defaultDownloadFolder() {
    if (const char* downloads = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD))
        return downloads;
    return g_get_tmp_dir();
}

} // namespace aurelo
