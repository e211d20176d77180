#include "platform/HttpSession.hpp"

#include <libsoup/soup.h>

#include <algorithm>
#include <cstdint>
#include <memory>

namespace aurelo {

TransportError TransportError::make(Kind kind) {
    switch (kind) {
    case Kind::TimedOut:
        return {kind, "请求超时。"};
    case Kind::CannotConnect:
        return {kind, "未能连接到服务器。"};
    case Kind::CannotFindHost:
        return {kind, "未能找到使用指定主机名的服务器。"};
    case Kind::NotConnected:
        return {kind, "似乎已断开与互联网的连接。"};
    case Kind::ConnectionLost:
        return {kind, "网络连接已中断。"};
    case Kind::SecureConnectionFailed:
        return {kind, "发生了 SSL 错误，无法建立与该服务器的安全连接。"};
    case Kind::BadURL:
        return {kind, "不支持的URL"};
    case Kind::InvalidHeader:
        return {kind, "无法发送请求：请求头含有换行或控制字符。"};
    case Kind::ResponseTooLarge:
        return {kind, "服务器的回应超出了允许的大小。"};
    case Kind::Cancelled:
        return {kind, "已取消"};
    case Kind::Other:
        break;
    }
    return {Kind::Other, "网络请求失败。"};
}

TransportError TransportError::fromGError(const GError* error) {
    using enum Kind;
    if (!error)
        return make(Other);
    if (error->domain == G_RESOLVER_ERROR)
        return make(CannotFindHost);
    if (error->domain == G_TLS_ERROR)
        return make(SecureConnectionFailed);
    if (error->domain == G_IO_ERROR) {
        switch (error->code) {
        case G_IO_ERROR_TIMED_OUT:
            return make(TimedOut);
        case G_IO_ERROR_CANCELLED:
            return make(Cancelled);
        case G_IO_ERROR_CONNECTION_REFUSED:
            return make(CannotConnect);
        case G_IO_ERROR_HOST_NOT_FOUND:
            return make(CannotFindHost);
        case G_IO_ERROR_NETWORK_UNREACHABLE:
        case G_IO_ERROR_HOST_UNREACHABLE:
            return make(NotConnected);
        case G_IO_ERROR_BROKEN_PIPE:
        case G_IO_ERROR_PARTIAL_INPUT:
            return make(ConnectionLost);
        default:
            break;
        }
    }
    return make(Other);
}

namespace {

// Pieces small enough that the limit is never passed by much before we notice.
constexpr gsize kReadSize = 64 * 1024;

// Everything one request in flight needs; owned by whichever asynchronous step runs for it.
struct PendingRequest {
    GRef<SoupMessage> message;
    GRef<GCancellable> cancellable = adoptGRef(g_cancellable_new());
    GRef<GCancellable> external;
    GRef<GInputStream> body;
    gulong externalHandler = 0;
    guint deadline = 0;
    bool timedOut = false;
    std::size_t maximumBodySize = kDefaultMaximumBodySize;
    HttpResponse response;
    HttpCompletion completion;

    ~PendingRequest() {
        if (deadline)
            g_source_remove(deadline);
        if (externalHandler)
            g_cancellable_disconnect(external.get(), externalHandler);
    }
};

void externalCancelledCallback(GCancellable*, gpointer data) {
    g_cancellable_cancel(static_cast<GCancellable*>(data));
}

gboolean deadlineCallback(gpointer data) {
    auto* pending = static_cast<PendingRequest*>(data);
    pending->deadline = 0;
    pending->timedOut = true;
    g_cancellable_cancel(pending->cancellable.get());
    return G_SOURCE_REMOVE;
}

// Ends the request. An answer left unread is cancelled first: closing libsoup's body stream
// otherwise reads the rest of the answer, blocking, to keep the connection reusable, which
// would stall the main loop on exactly the answer we refused.
void finish(std::unique_ptr<PendingRequest> pending, HttpResult result) {
    HttpCompletion completion = std::move(pending->completion);
    if (!result && pending->body)
        g_cancellable_cancel(pending->cancellable.get());
    pending.reset();
    completion(std::move(result));
}

void fail(std::unique_ptr<PendingRequest> pending, const GError* error) {
    bool cancelledByUs =
        pending->timedOut && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
    auto failure = cancelledByUs ? TransportError::make(TransportError::Kind::TimedOut)
                                 : TransportError::fromGError(error);
    finish(std::move(pending), std::unexpected(std::move(failure)));
}

void failTooLarge(std::unique_ptr<PendingRequest> pending) {
    finish(std::move(pending),
           std::unexpected(TransportError::make(TransportError::Kind::ResponseTooLarge)));
}

void readNext(std::unique_ptr<PendingRequest> pending);

void readFinishedCallback(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<PendingRequest> pending(static_cast<PendingRequest*>(data));
    GErrorHolder error;
    auto bytes =
        adoptGRef(g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, error.out()));
    if (!bytes)
        return fail(std::move(pending), error.get());
    gsize size = 0;
    const auto* raw = static_cast<const char*>(g_bytes_get_data(bytes.get(), &size));
    if (size == 0) {
        HttpResponse response = std::move(pending->response);
        return finish(std::move(pending), std::move(response));
    }
    if (size > pending->maximumBodySize - pending->response.body.size())
        return failTooLarge(std::move(pending));
    pending->response.body.append(raw, size);
    readNext(std::move(pending));
}

void readNext(std::unique_ptr<PendingRequest> pending) {
    GInputStream* body = pending->body.get();
    GCancellable* cancellable = pending->cancellable.get();
    g_input_stream_read_bytes_async(body, kReadSize, G_PRIORITY_DEFAULT, cancellable,
                                    readFinishedCallback, pending.release());
}

void sendFinishedCallback(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<PendingRequest> pending(static_cast<PendingRequest*>(data));
    GErrorHolder error;
    auto body = adoptGRef(soup_session_send_finish(SOUP_SESSION(source), result, error.out()));
    if (!body)
        return fail(std::move(pending), error.get());
    pending->response.status = soup_message_get_status(pending->message.get());
    // An announced length over the limit fails before a byte of the body is read. With a
    // content coding the length counts compressed bytes, so only the bytes read can tell.
    SoupMessageHeaders* headers = soup_message_get_response_headers(pending->message.get());
    const char* coding = soup_message_headers_get_one(headers, "Content-Encoding");
    bool decoded = coding && g_ascii_strcasecmp(coding, "identity") != 0;
    pending->body = std::move(body);
    if (!decoded && soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH &&
        static_cast<std::uint64_t>(soup_message_headers_get_content_length(headers)) >
            pending->maximumBodySize)
        return failTooLarge(std::move(pending));
    readNext(std::move(pending));
}

struct DeferredFailure {
    HttpCompletion completion;
    TransportError error;
};

gboolean deliverFailureCallback(gpointer data) {
    std::unique_ptr<DeferredFailure> failure(static_cast<DeferredFailure*>(data));
    failure->completion(std::unexpected(std::move(failure->error)));
    return G_SOURCE_REMOVE;
}

} // namespace

HttpSession::HttpSession(const HttpSessionConfiguration& configuration)
    : m_configuration(configuration),
      m_session(adoptGRef(soup_session_new_with_options(
          "timeout", static_cast<guint>(configuration.ioTimeout.count()), "idle-timeout",
          static_cast<guint>(configuration.idleTimeout.count()), "max-conns-per-host",
          static_cast<int>(configuration.maxConnectionsPerHost), "max-conns",
          static_cast<int>(
              std::max(configuration.maxConnections, configuration.maxConnectionsPerHost)),
          nullptr))) {}

HttpSession::~HttpSession() = default;

void HttpSession::send(const HttpRequest& request, HttpCompletion completion,
                       GCancellable* cancellable) {
    auto failLater = [&](TransportError::Kind kind) {
        g_idle_add(deliverFailureCallback,
                   new DeferredFailure{std::move(completion), TransportError::make(kind)});
    };
    // A line break in a header value would end the header and let the rest of the value
    // (a stored token, say) write headers of its own; such a request is never sent.
    for (const auto& [name, value] : request.headers)
        if (std::ranges::any_of(name + value,
                                [](char c) { return c == '\r' || c == '\n' || c == '\0'; }))
            return failLater(TransportError::Kind::InvalidHeader);
    GRef<SoupMessage> message;
    if (!request.url.empty())
        message = adoptGRef(soup_message_new(request.method.c_str(), request.url.c_str()));
    if (!message) // soup refuses addresses it cannot parse
        return failLater(TransportError::Kind::BadURL);
    SoupMessageHeaders* headers = soup_message_get_request_headers(message.get());
    for (const auto& [name, value] : request.headers)
        soup_message_headers_replace(headers, name.c_str(), value.c_str());
    if (request.body) {
        auto bytes = adoptGRef(g_bytes_new(request.body->data(), request.body->size()));
        soup_message_set_request_body_from_bytes(message.get(), request.contentType.c_str(),
                                                 bytes.get());
    }

    auto pending = std::make_unique<PendingRequest>();
    pending->message = message;
    pending->maximumBodySize = request.maximumBodySize;
    pending->completion = std::move(completion);
    if (cancellable) {
        pending->external = GRef<GCancellable>(cancellable);
        pending->externalHandler =
            g_cancellable_connect(cancellable, G_CALLBACK(externalCancelledCallback),
                                  pending->cancellable.get(), nullptr);
    }
    auto limit = request.timeout;
    if (m_configuration.resourceTimeout.count() > 0)
        limit = limit.count() > 0 ? std::min(limit, m_configuration.resourceTimeout)
                                  : m_configuration.resourceTimeout;
    if (limit.count() > 0)
        pending->deadline =
            g_timeout_add(static_cast<guint>(limit.count()), deadlineCallback, pending.get());

    GCancellable* ownCancellable = pending->cancellable.get();
    soup_session_send_async(m_session.get(), message.get(), G_PRIORITY_DEFAULT, ownCancellable,
                            sendFinishedCallback, pending.release());
}

HttpSession& sharedHttpSession() {
    static HttpSession session(HttpSessionConfiguration{
        .ioTimeout = std::chrono::seconds(60),
        .idleTimeout = std::chrono::seconds(60),
        .maxConnectionsPerHost = 6,
        .resourceTimeout = std::chrono::milliseconds(0),
    });
    return session;
}

} // namespace aurelo
