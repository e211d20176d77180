#include "webview/AccountLogoFetcher.hpp"

#include "platform/MainLoop.hpp"
#include "web/ProxyRoute.hpp"

#include <glib.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <vector>

namespace aurelo {

struct AccountLogoFetcher::Download {
    AccountLogoFetcher* owner = nullptr;
    GRef<WebKitDownload> download;
    std::filesystem::path file;
    Done done;
    bool failed = false;
    std::vector<gulong> handlers;

    void disconnect() {
        for (gulong handler : handlers)
            g_signal_handler_disconnect(download.get(), handler);
        handlers.clear();
    }
};

AccountLogoFetcher::AccountLogoFetcher(WebsiteDataStores& stores, AccountFor accountFor,
                                       std::filesystem::path scratchFolder,
                                       std::size_t maximumBytes, PasswordFor passwordFor)
    : m_stores(stores), m_accountFor(std::move(accountFor)), m_passwordFor(std::move(passwordFor)),
      m_scratchFolder(std::move(scratchFolder)), m_maximumBytes(maximumBytes) {}

AccountLogoFetcher::~AccountLogoFetcher() {
    m_cancellable.cancel();
    for (auto& [key, download] : m_downloads) {
        download->disconnect();
        webkit_download_cancel(download->download.get());
        std::error_code ignored;
        std::filesystem::remove(download->file, ignored);
    }
}

bool AccountLogoFetcher::fetch(const std::string& url, Done done) {
    const auto account = m_accountFor ? m_accountFor(url) : std::nullopt;
    if (!account)
        return false;
    // The very route the account's pages take: its network session with its proxy applied.
    const std::string username = account->proxyUsername.value_or("");
    const auto route = proxyRoute(
        account->proxyType.value_or("http"), account->proxyHost.value_or(""), account->proxyPort,
        username, !username.empty() && m_passwordFor ? m_passwordFor(account->id) : "");
    // An account whose proxy makes no route loads nothing at all, its logo included.
    if (!route)
        return false;
    auto session = m_stores.networkSession(account->id, *route);
    if (!session)
        return false;
    std::error_code error;
    std::filesystem::create_directories(m_scratchFolder, error);
    chmod(m_scratchFolder.c_str(), 0700);

    auto download = std::make_unique<Download>();
    download->owner = this;
    download->done = std::move(done);
    download->file = m_scratchFolder / (adoptString(g_uuid_string_random()) + ".part");
    download->download = adoptGRef(webkit_network_session_download_uri(session.get(), url.c_str()));
    WebKitDownload* raw = download->download.get();
    Download* key = download.get();
    download->handlers = {
        g_signal_connect(raw, "decide-destination", G_CALLBACK(decideDestinationCallback), key),
        g_signal_connect(raw, "received-data", G_CALLBACK(receivedDataCallback), key),
        g_signal_connect(raw, "failed", G_CALLBACK(failedCallback), key),
        g_signal_connect(raw, "finished", G_CALLBACK(finishedCallback), key),
    };
    m_downloads.emplace(key, std::move(download));
    return true;
}

gboolean AccountLogoFetcher::decideDestinationCallback(WebKitDownload* download, gchar*,
                                                       gpointer data) {
    auto* self = static_cast<Download*>(data);
    webkit_download_set_allow_overwrite(download, TRUE);
    webkit_download_set_destination(download, self->file.c_str());
    return TRUE;
}

void AccountLogoFetcher::receivedDataCallback(WebKitDownload* download, guint64, gpointer data) {
    auto* self = static_cast<Download*>(data);
    if (!self->failed && webkit_download_get_received_data_length(download) >
                             static_cast<guint64>(self->owner->m_maximumBytes)) {
        self->failed = true;
        webkit_download_cancel(download);
    }
}

void AccountLogoFetcher::failedCallback(WebKitDownload*, GError*, gpointer data) {
    static_cast<Download*>(data)->failed = true;
}

void AccountLogoFetcher::finishedCallback(WebKitDownload*, gpointer data) {
    auto* self = static_cast<Download*>(data);
    self->owner->finish(self);
}

void AccountLogoFetcher::finish(Download* key) {
    auto node = m_downloads.extract(key);
    if (node.empty())
        return;
    std::unique_ptr<Download> download = std::move(node.mapped());
    download->disconnect();
    std::optional<std::string> bytes;
    WebKitURIResponse* response = webkit_download_get_response(download->download.get());
    const guint status = response ? webkit_uri_response_get_status_code(response) : 0;
    std::error_code error;
    const auto size = std::filesystem::file_size(download->file, error);
    if (!download->failed && status >= 200 && status <= 299 && !error && size <= m_maximumBytes) {
        std::ifstream in(download->file, std::ios::binary);
        std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.good() || in.eof())
            bytes = std::move(body);
    }
    std::filesystem::remove(download->file, error);
    // The download object is released here, inside its own signal: the emission holds a
    // reference of its own until it returns.
    postToMainLoop([cancellation = m_cancellable.token(), done = std::move(download->done),
                    bytes = std::move(bytes)]() mutable {
        if (!cancellation.isCancelled())
            done(std::move(bytes));
    });
}

} // namespace aurelo
