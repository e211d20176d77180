#pragma once

#include "platform/HiddenPagePolicy.hpp"
#include "platform/HttpSession.hpp"
#include "translation/TranslationService.hpp"
#include "webview/PageNotifications.hpp"
#include "webview/WebsiteDataStores.hpp"

#include <chrono>
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
    // Shows pages' own notifications under their account; none: WebKit shows them itself.
    PageNotifications* pageNotifications = nullptr;
    // Whether "定时勿扰" silences pages now; none: never.
    std::function<bool()> quietHoursNow = {};
    // Pages draw in software (no accelerated compositing): decided once at start from the GL
    // renderer, the session and the "渲染方式" setting.
    bool softwareRendering = false;
    // How the pages of accounts not on show are hidden (HiddenPagePolicy).
    HiddenPages hiddenPages = HiddenPages::Transparent;
    // The web inspector and the console's memory of logged values; off except for support.
    bool developerExtras = false;
    // How often each page's web process memory is read for the "页面内存上限" watchdog.
    std::chrono::milliseconds memoryCheckInterval = std::chrono::seconds(10);
};

} // namespace aurelo
