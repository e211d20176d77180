// ServiceServer's update route: the manifest and packages, served from the updates folder.
#include "service/ServiceServer.hpp"

#include "service/ServiceExchange.hpp"
#include "service/UpdateFiles.hpp"

#include <libsoup/soup.h>

namespace aurelo::service {

void ServiceServer::handleUpdateFile(const ExchangePtr& exchange, const std::string& name) {
    auto file = openUpdateFile(m_configuration.updatesDirectory, name);
    if (!file)
        return respondError(exchange, 404,
                            name == "latest.json" ? "暂无可用的更新。" : "更新文件不存在。");
    SoupServerMessage* message = exchange->message.get();
    exchange->answered = true;
    soup_server_message_set_status(message, 200, nullptr);
    soup_message_headers_replace(soup_server_message_get_response_headers(message), "Cache-Control",
                                 name.ends_with(".json") ? "no-store" : "no-cache");
    soup_message_headers_set_content_type(soup_server_message_get_response_headers(message),
                                          file->contentType.c_str(), nullptr);
    soup_message_body_append_bytes(soup_server_message_get_response_body(message),
                                   file->contents.get());
    exchange->log.status = 200;
    finish(exchange);
}

} // namespace aurelo::service
