#include "support/FixtureSite.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace aurelo::test {

FixtureSite::FixtureSite(std::filesystem::path folder) : m_folder(std::move(folder)) {
    m_server = adoptGRef(SOUP_SERVER(g_object_new(SOUP_TYPE_SERVER, nullptr)));
    soup_server_add_handler(m_server.get(), nullptr, serverCallback, this, nullptr);
    GErrorHolder error;
    if (!soup_server_listen_local(m_server.get(), 0, SOUP_SERVER_LISTEN_IPV4_ONLY, error.out()))
        throw std::runtime_error("cannot listen on loopback");
    GSList* uris = soup_server_get_uris(m_server.get());
    char* origin = g_uri_to_string(static_cast<GUri*>(uris->data));
    m_origin = origin;
    if (m_origin.ends_with('/'))
        m_origin.pop_back();
    g_free(origin);
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
}

void FixtureSite::route(const std::string& path, std::string contentType, std::string body) {
    m_routes[path] = {std::move(contentType), std::move(body)};
}

FixtureSite::~FixtureSite() { soup_server_disconnect(m_server.get()); }

void FixtureSite::addHeader(std::string name, std::string value) {
    m_headers.emplace_back(std::move(name), std::move(value));
}

std::string FixtureSite::readFile(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        return {};
    std::ostringstream buffer;
    buffer << stream.rdbuf();
    return buffer.str();
}

std::string FixtureSite::contentTypeFor(const std::string& path) {
    if (path.ends_with(".html"))
        return "text/html; charset=utf-8";
    if (path.ends_with(".js"))
        return "text/javascript; charset=utf-8";
    if (path.ends_with(".css"))
        return "text/css; charset=utf-8";
    return "application/octet-stream";
}

void FixtureSite::serverCallback(SoupServer*, SoupServerMessage* message, const char* path,
                                 GHashTable*, gpointer self) {
    auto* site = static_cast<FixtureSite*>(self);
    std::string body;
    std::string type;
    if (auto route = site->m_routes.find(path); route != site->m_routes.end()) {
        type = route->second.first;
        body = route->second.second;
    } else {
        const std::string relative = path;
        if (!site->m_folder.empty() && relative.find("..") == std::string::npos)
            body = readFile(site->m_folder.string() + relative);
        type = contentTypeFor(relative);
        if (body.empty()) {
            soup_server_message_set_status(message, SOUP_STATUS_NOT_FOUND, nullptr);
            return;
        }
    }
    soup_server_message_set_status(message, SOUP_STATUS_OK, nullptr);
    for (const auto& [name, value] : site->m_headers)
        soup_message_headers_append(soup_server_message_get_response_headers(message),
                                    name.c_str(), value.c_str());
    soup_server_message_set_response(message, type.c_str(), SOUP_MEMORY_COPY, body.data(),
                                     body.size());
}

} // namespace aurelo::test
