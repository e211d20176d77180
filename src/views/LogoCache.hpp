#pragma once

// Platform logos: each logo address is fetched once, in the background, and kept on disk under
// $XDG_CACHE_HOME/aurelo-translator/logos, so that the next start shows it at once and an
// offline start shows what it had. Until a logo is there, the platform's symbol shows.

#include "platform/Cancellable.hpp"
#include "platform/HttpSession.hpp"

#include <gdkmm/texture.h>

#include <sigc++/sigc++.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace aurelo {

class LogoCache {
public:
    LogoCache(std::filesystem::path folder, HttpSession& session);
    ~LogoCache();

    static std::filesystem::path standardFolder();
    // The file a logo address is kept in: a hash of the address, never a name from outside.
    static std::filesystem::path fileFor(const std::filesystem::path& folder, const std::string& url);

    // The logo when it is known; otherwise nothing now, a fetch starts, and signalLogoArrived
    // tells when it is there. A fetch that fails is not tried again in this run.
    Glib::RefPtr<Gdk::Texture> logo(const std::string& url);

    sigc::signal<void(const std::string&)>& signalLogoArrived() { return m_arrived; }

private:
    void fetch(const std::string& url);

    std::filesystem::path m_folder;
    HttpSession& m_session;
    std::map<std::string, Glib::RefPtr<Gdk::Texture>> m_textures;
    std::set<std::string> m_pending;
    std::set<std::string> m_failed;
    Cancellable m_cancellable;
    sigc::signal<void(const std::string&)> m_arrived;
};

} // namespace aurelo
