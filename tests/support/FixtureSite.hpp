#pragma once

// A web site on loopback for pages under test: files of a fixture folder (nothing outside it),
// and pages that a test adds by path.

#include "platform/GRef.hpp"

#include <libsoup/soup.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace aurelo::test {

class FixtureSite {
public:
    // Serves the files below `folder` (none when it is empty) on 127.0.0.1, on a free port.
    explicit FixtureSite(std::filesystem::path folder = {});
    FixtureSite(const FixtureSite&) = delete;
    FixtureSite& operator=(const FixtureSite&) = delete;
    ~FixtureSite();

    // "http://127.0.0.1:<port>", without a trailing slash.
    const std::string& origin() const { return m_origin; }
    std::string url(const std::string& path) const { return m_origin + path; }

    // A page at `path`, taking precedence over the folder's files.
    void route(const std::string& path, std::string contentType, std::string body);
    // A header added to every answer.
    void addHeader(std::string name, std::string value);

    static std::string readFile(const std::filesystem::path& path);
    static std::string contentTypeFor(const std::string& path);

private:
    static void serverCallback(SoupServer*, SoupServerMessage* message, const char* path,
                               GHashTable*, gpointer self);

    std::filesystem::path m_folder;
    GRef<SoupServer> m_server;
    std::string m_origin;
    std::map<std::string, std::pair<std::string, std::string>> m_routes;
    std::vector<std::pair<std::string, std::string>> m_headers;
};

} // namespace aurelo::test
