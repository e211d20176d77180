#include "views/LogoCache.hpp"

#include "platform/AtomicFile.hpp"
#include "platform/GRef.hpp"

#include <glib.h>
#include <glibmm/bytes.h>

namespace aurelo {

namespace {

// Logos are small pictures; anything bigger is not one.
constexpr std::size_t kMaximumLogoBytes = 512 * 1024;

Glib::RefPtr<Gdk::Texture> textureFrom(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > kMaximumLogoBytes)
        return {};
    try {
        auto data = Glib::Bytes::create(bytes.data(), bytes.size());
        return Gdk::Texture::create_from_bytes(data);
    } catch (const Glib::Error&) {
        return {}; // not a picture GDK can read
    }
}

} // namespace

LogoCache::LogoCache(std::filesystem::path folder, HttpSession& session)
    : m_folder(std::move(folder)), m_session(session) {}

LogoCache::~LogoCache() = default;

std::filesystem::path LogoCache::standardFolder() {
    return std::filesystem::path(g_get_user_cache_dir()) / "aurelo-translator" / "logos";
}

std::filesystem::path LogoCache::fileFor(const std::filesystem::path& folder,
                                         const std::string& url) {
    return folder /
           (adoptString(g_compute_checksum_for_string(G_CHECKSUM_SHA256, url.c_str(), -1)) +
            ".logo");
}

Glib::RefPtr<Gdk::Texture> LogoCache::logo(const std::string& url) {
    if (auto it = m_textures.find(url); it != m_textures.end())
        return it->second;
    if (m_failed.contains(url) || m_pending.contains(url))
        return {};
    if (auto stored = readWholeFile(fileFor(m_folder, url)); stored && *stored) {
        if (auto texture = textureFrom(**stored)) {
            m_textures[url] = texture;
            return texture;
        }
    }
    fetch(url);
    return {};
}

void LogoCache::fetch(const std::string& url) {
    m_pending.insert(url);
    HttpRequest request;
    request.url = url;
    request.timeout = std::chrono::seconds(20);
    request.maximumBodySize = kMaximumLogoBytes;
    m_session.send(
        request,
        [this, cancellation = m_cancellable.token(), url](HttpResult result) {
            if (cancellation.isCancelled())
                return;
            m_pending.erase(url);
            Glib::RefPtr<Gdk::Texture> texture;
            if (result && result->status >= 200 && result->status <= 299)
                texture = textureFrom(result->body);
            if (!texture) {
                m_failed.insert(url);
                return;
            }
            std::error_code ignored;
            std::filesystem::create_directories(m_folder, ignored);
            (void)writeFileAtomically(fileFor(m_folder, url), result->body);
            m_textures[url] = texture;
            m_arrived.emit(url);
        },
        m_cancellable.get());
}

} // namespace aurelo
