#pragma once

// Platform logos, kept on disk under $XDG_CACHE_HOME/aurelo-translator/logos so that the next
// start shows them at once and an offline start shows what it had. Until a logo is there, the
// platform's built-in symbol shows.
//
// The program never fetches a logo itself. A logo lives on the platform's own domain, and
// reaching that domain from the user's own address is what an account's proxy exists to
// prevent; so a logo is fetched only through the network session of an account of that
// platform (see AccountLogoFetcher), and not at all while there is none. A failed fetch is tried
// again at most once a day, across restarts.

#include "platform/Cancellable.hpp"

#include <gdkmm/texture.h>

#include <sigc++/sigc++.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace aurelo {

class LogoCache {
public:
    // Logos are small pictures; anything bigger is not one.
    static constexpr std::size_t kMaximumLogoBytes = 512 * 1024;
    static constexpr std::chrono::hours kRetryAfterFailure{24};

    using FetchDone = std::function<void(std::optional<std::string> bytes)>;
    // Starts fetching `url` through an account of its platform and returns true, or returns
    // false at once when there is no such account (then nothing is fetched and nothing is
    // recorded). `done` runs once, on the main loop, with the body or nullopt on any failure.
    using Fetch = std::function<bool(const std::string& url, FetchDone done)>;
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    LogoCache(
        std::filesystem::path folder, Fetch fetch,
        Clock now = [] { return std::chrono::system_clock::now(); });

    static std::filesystem::path standardFolder();
    // The file a logo address is kept in: a hash of the address, never a name from outside.
    static std::filesystem::path fileFor(const std::filesystem::path& folder,
                                         const std::string& url);
    // Beside it, the time of the last failed fetch.
    static std::filesystem::path failureFileFor(const std::filesystem::path& folder,
                                                const std::string& url);

    // The logo when it is known; otherwise nothing now, and a fetch starts when an account can
    // carry it and no failure is less than a day old; signalLogoArrived tells when it is there.
    Glib::RefPtr<Gdk::Texture> logo(const std::string& url);

    sigc::signal<void(const std::string&)>& signalLogoArrived() { return m_arrived; }

private:
    bool failedRecently(const std::string& url);
    void fetched(const std::string& url, std::optional<std::string> bytes);

    std::filesystem::path m_folder;
    Fetch m_fetch;
    Clock m_now;
    std::map<std::string, Glib::RefPtr<Gdk::Texture>> m_textures;
    std::set<std::string> m_pending;
    // A fetch's completion that arrives after the cache is gone is dropped.
    Cancellable m_cancellable;
    sigc::signal<void(const std::string&)> m_arrived;
};

} // namespace aurelo
