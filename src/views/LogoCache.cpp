#include "views/LogoCache.hpp"

#include "platform/AtomicFile.hpp"
#include "platform/GRef.hpp"

#include <glib.h>
#include <glibmm/bytes.h>

#include <algorithm>
#include <charconv>

namespace aurelo {

namespace {

Glib::RefPtr<Gdk::Texture> textureFrom(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > LogoCache::kMaximumLogoBytes)
        return {};
    try {
        auto data = Glib::Bytes::create(bytes.data(), bytes.size());
        return Gdk::Texture::create_from_bytes(data);
    } catch (const Glib::Error&) {
        return {}; // not a picture GDK can read
    }
}

std::string hashOf(const std::string& url) {
    return adoptString(g_compute_checksum_for_string(G_CHECKSUM_SHA256, url.c_str(), -1));
}

} // namespace

LogoCache::LogoCache(std::filesystem::path folder, Fetch fetch, Clock now)
    : m_folder(std::move(folder)), m_fetch(std::move(fetch)), m_now(std::move(now)) {}

std::filesystem::path LogoCache::standardFolder() {
    return std::filesystem::path(g_get_user_cache_dir()) / "aurelo-translator" / "logos";
}

std::filesystem::path LogoCache::fileFor(const std::filesystem::path& folder,
                                         const std::string& url) {
    return folder / (hashOf(url) + ".logo");
}

std::filesystem::path LogoCache::failureFileFor(const std::filesystem::path& folder,
                                                const std::string& url) {
    return folder / (hashOf(url) + ".failed");
}

bool LogoCache::failedRecently(const std::string& url) {
    auto stored = readWholeFile(failureFileFor(m_folder, url));
    if (!stored || !*stored)
        return false;
    // Seconds since the epoch. A time in the future (a clock set back) counts as now, so that
    // a wrong clock cannot stop retries for longer than a day from today.
    const std::string& text = **stored;
    long long seconds = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size())
        return false;
    const auto now = m_now();
    const auto failedAt =
        std::min(std::chrono::system_clock::time_point(std::chrono::seconds(seconds)), now);
    return now - failedAt < kRetryAfterFailure;
}

Glib::RefPtr<Gdk::Texture> LogoCache::logo(const std::string& url) {
    if (auto it = m_textures.find(url); it != m_textures.end())
        return it->second;
    if (m_pending.contains(url))
        return {};
    if (auto stored = readWholeFile(fileFor(m_folder, url)); stored && *stored) {
        if (auto texture = textureFrom(**stored)) {
            m_textures[url] = texture;
            return texture;
        }
    }
    if (failedRecently(url))
        return {};
    m_pending.insert(url);
    const bool started = m_fetch && m_fetch(url, [this, cancellation = m_cancellable.token(),
                                                  url](std::optional<std::string> bytes) {
                             if (cancellation.isCancelled())
                                 return;
                             fetched(url, std::move(bytes));
                         });
    if (!started)
        m_pending.erase(url); // no account of the platform yet: ask again next time
    return {};
}

void LogoCache::fetched(const std::string& url, std::optional<std::string> bytes) {
    m_pending.erase(url);
    Glib::RefPtr<Gdk::Texture> texture;
    if (bytes)
        texture = textureFrom(*bytes);
    std::error_code ignored;
    std::filesystem::create_directories(m_folder, ignored);
    if (!texture) {
        const auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>(m_now().time_since_epoch());
        (void)writeFileAtomically(failureFileFor(m_folder, url), std::to_string(seconds.count()));
        return;
    }
    (void)writeFileAtomically(fileFor(m_folder, url), *bytes);
    std::filesystem::remove(failureFileFor(m_folder, url), ignored);
    m_textures[url] = texture;
    m_arrived.emit(url);
}

} // namespace aurelo
