#pragma once

#include "platform/HttpSession.hpp"
#include "translation/TranslationService.hpp"
#include "webview/WebsiteDataStores.hpp"

#include <filesystem>
#include <functional>
#include <string>

namespace aurelo {

// What every session's host shares: the website data, the translation and voice services, the
// page script and the desktop hooks. The application creates one and keeps it for the life of
// the window; tests point its parts at fakes.
struct WebEnvironment {
    WebsiteDataStores& dataStores;
    const TranslationService& translationService;
    HttpSession& voiceSession;
    std::string serviceOrigin;
    // The page script with its placeholders, filled per session.
    std::string pageScript;
    // Empty: the user's download folder (or the temporary folder when there is none).
    std::filesystem::path downloadFolder;
    // Shows a finished download; empty: the file manager.
    std::function<void(const std::filesystem::path&)> revealDownload;
    // Do not disturb: pages' own notifications are not shown while it is on.
    bool doNotDisturb = false;
};

} // namespace aurelo
