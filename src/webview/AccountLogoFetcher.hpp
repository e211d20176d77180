#pragma once

// Fetches platform logos the only way that keeps an account's network identity: as a download
// in the WebKit network session of an account of that platform, so it goes through that
// account's proxy (or, without one, the way the account's own pages go). Nothing here opens a
// connection of its own.

#include "models/ChatSession.hpp"
#include "platform/Cancellable.hpp"
#include "platform/GRef.hpp"
#include "webview/WebsiteDataStores.hpp"

#include <webkit/webkit.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace aurelo {

class AccountLogoFetcher {
public:
    // The account whose session may carry the logo at a URL, if any.
    using AccountFor = std::function<std::optional<ChatSession>(const std::string& logoURL)>;
    // An account's proxy password by session id; its pages' login must be the logo's too, or
    // the download would reset the shared network session to a route without it.
    using PasswordFor = std::function<std::string(const std::string& sessionID)>;
    using Done = std::function<void(std::optional<std::string> bytes)>;

    // Downloads land in `scratchFolder` (created when needed) and are removed once read.
    AccountLogoFetcher(WebsiteDataStores& stores, AccountFor accountFor,
                       std::filesystem::path scratchFolder, std::size_t maximumBytes,
                       PasswordFor passwordFor = {});
    AccountLogoFetcher(const AccountLogoFetcher&) = delete;
    AccountLogoFetcher& operator=(const AccountLogoFetcher&) = delete;
    // Downloads still running are cancelled; their completions never run.
    ~AccountLogoFetcher();

    // False at once when no account can carry `url`. Otherwise `done` runs once on the main loop
    // with the body, or nullopt when the download fails, answers other than 2xx, or passes
    // the byte limit (it is cancelled as soon as it does).
    bool fetch(const std::string& url, Done done);

private:
    struct Download;
    static gboolean decideDestinationCallback(WebKitDownload*, gchar*, gpointer);
    static void receivedDataCallback(WebKitDownload*, guint64, gpointer);
    static void failedCallback(WebKitDownload*, GError*, gpointer);
    static void finishedCallback(WebKitDownload*, gpointer);
    void finish(Download* download);

    WebsiteDataStores& m_stores;
    AccountFor m_accountFor;
    PasswordFor m_passwordFor;
    std::filesystem::path m_scratchFolder;
    std::size_t m_maximumBytes;
    std::map<Download*, std::unique_ptr<Download>> m_downloads;
    // A finished download's completion, posted to the main loop, is dropped once the fetcher
    // is gone.
    Cancellable m_cancellable;
};

} // namespace aurelo
