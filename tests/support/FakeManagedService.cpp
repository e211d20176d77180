#include "support/FakeManagedService.hpp"

#include <libsoup/soup.h>

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace aurelo::test {

std::string RecordedRequest::header(const std::string& name) const {
    std::string lower = name;
    std::ranges::transform(lower, lower.begin(), [](unsigned char c) { return std::tolower(c); });
    auto it = headers.find(lower);
    return it == headers.end() ? std::string() : it->second;
}

ScriptedAnswer ScriptedAnswer::json(unsigned status, const nlohmann::json& body) {
    return ScriptedAnswer{status, body.dump(), "application/json", {}, false};
}

ScriptedAnswer ScriptedAnswer::text(unsigned status, std::string body, std::string contentType) {
    return ScriptedAnswer{status, std::move(body), std::move(contentType), {}, false};
}

ScriptedAnswer ScriptedAnswer::silence() {
    ScriptedAnswer answer;
    answer.neverAnswer = true;
    return answer;
}

FakeManagedService::FakeManagedService()
    : m_server(adoptGRef(soup_server_new(nullptr, nullptr))) {
    soup_server_add_handler(m_server.get(), nullptr, handleCallback, this, nullptr);
    GErrorHolder error;
    if (!soup_server_listen_local(m_server.get(), 0, SOUP_SERVER_LISTEN_IPV4_ONLY, error.out()))
        throw std::runtime_error(std::string("fake service cannot listen: ") + error->message);
    GSList* uris = soup_server_get_uris(m_server.get());
    m_origin = "http://127.0.0.1:" + std::to_string(g_uri_get_port(static_cast<GUri*>(uris->data)));
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
}

FakeManagedService::~FakeManagedService() {
    for (guint timer : m_timers)
        g_source_remove(timer);
    soup_server_disconnect(m_server.get());
    m_held.clear();
}

void FakeManagedService::enqueue(const std::string& path, ScriptedAnswer answer) {
    m_queued[path].push_back(std::move(answer));
}

void FakeManagedService::setFallback(const std::string& path, ScriptedAnswer answer) {
    m_fallbacks[path] = std::move(answer);
}

void FakeManagedService::setResponder(std::function<ScriptedAnswer(const RecordedRequest&)> responder) {
    m_responder = std::move(responder);
}

std::size_t FakeManagedService::requestCount(const std::string& path) const {
    return static_cast<std::size_t>(std::ranges::count_if(
        m_requests, [&](const RecordedRequest& r) { return r.path == path; }));
}

void FakeManagedService::handleCallback(SoupServer*, SoupServerMessage* message, const char* path,
                                        GHashTable*, gpointer self) {
    static_cast<FakeManagedService*>(self)->handle(message, path);
}

ScriptedAnswer FakeManagedService::answerFor(const RecordedRequest& request) {
    if (auto it = m_queued.find(request.path); it != m_queued.end() && !it->second.empty()) {
        ScriptedAnswer answer = std::move(it->second.front());
        it->second.pop_front();
        return answer;
    }
    if (auto it = m_fallbacks.find(request.path); it != m_fallbacks.end())
        return it->second;
    if (m_responder)
        return m_responder(request);
    return ScriptedAnswer::json(404, {{"error", "no scripted answer"}});
}

namespace {

void applyAnswer(SoupServerMessage* message, const ScriptedAnswer& answer) {
    soup_server_message_set_status(message, answer.status, nullptr);
    soup_server_message_set_response(message, answer.contentType.c_str(), SOUP_MEMORY_COPY,
                                     answer.body.data(), answer.body.size());
}

struct DelayedAnswer {
    FakeManagedService* service;
    GRef<SoupServerMessage> message;
    ScriptedAnswer answer;
    std::vector<guint>* timers;
    guint id = 0;
};

gboolean sendDelayedCallback(gpointer data) {
    std::unique_ptr<DelayedAnswer> delayed(static_cast<DelayedAnswer*>(data));
    std::erase(*delayed->timers, delayed->id);
    applyAnswer(delayed->message.get(), delayed->answer);
    soup_server_message_unpause(delayed->message.get());
    return G_SOURCE_REMOVE;
}

} // namespace

void FakeManagedService::handle(SoupServerMessage* message, const char* path) {
    RecordedRequest request;
    request.method = soup_server_message_get_method(message);
    request.path = path;
    SoupMessageHeadersIter iter;
    soup_message_headers_iter_init(&iter, soup_server_message_get_request_headers(message));
    const char *name = nullptr, *value = nullptr;
    while (soup_message_headers_iter_next(&iter, &name, &value)) {
        std::string lower = name;
        std::ranges::transform(lower, lower.begin(),
                               [](unsigned char c) { return std::tolower(c); });
        request.headers[lower] = value;
    }
    SoupMessageBody* body = soup_server_message_get_request_body(message);
    if (body) {
        GBytes* bytes = soup_message_body_flatten(body);
        gsize size = 0;
        const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
        if (data)
            request.body.assign(data, size);
        g_bytes_unref(bytes);
    }
    auto parsed = nlohmann::json::parse(request.body, nullptr, false);
    if (!parsed.is_discarded())
        request.json = std::move(parsed);

    ScriptedAnswer answer = answerFor(request);
    if (answer.neverAnswer) {
        m_held.push_back({GRef<SoupServerMessage>(message), request});
        m_requests.push_back(std::move(request));
        soup_server_message_pause(message);
        return;
    }
    m_requests.push_back(std::move(request));

    if (answer.delay.count() > 0) {
        soup_server_message_pause(message);
        auto* delayed = new DelayedAnswer{this, GRef<SoupServerMessage>(message), answer, &m_timers};
        delayed->id = g_timeout_add(static_cast<guint>(answer.delay.count()), sendDelayedCallback,
                                    delayed);
        m_timers.push_back(delayed->id);
        return;
    }
    applyAnswer(message, answer);
}

std::size_t FakeManagedService::answerHeld(
    const std::function<std::optional<ScriptedAnswer>(const RecordedRequest&)>& answer) {
    std::size_t answered = 0;
    std::vector<HeldRequest> stillHeld;
    for (auto& held : std::exchange(m_held, {})) {
        auto scripted = answer(held.request);
        if (!scripted || scripted->neverAnswer) {
            stillHeld.push_back(std::move(held));
            continue;
        }
        applyAnswer(held.message.get(), *scripted);
        soup_server_message_unpause(held.message.get());
        ++answered;
    }
    m_held = std::move(stillHeld);
    return answered;
}

ScriptedAnswer echoTranslation(const RecordedRequest& request, const std::string& prefix) {
    if (!request.json || !request.json->is_object())
        return ScriptedAnswer::json(400, {{"error", "请求格式不正确"}});
    const auto& body = *request.json;
    if (body.contains("texts")) {
        nlohmann::json results = nlohmann::json::array();
        for (const auto& text : body["texts"])
            results.push_back({{"text", prefix + text.get<std::string>()}, {"detectedLanguage", "en"}});
        return ScriptedAnswer::json(200, {{"results", results}});
    }
    return ScriptedAnswer::json(
        200, {{"text", prefix + body.value("text", std::string())}, {"detectedLanguage", "en"}});
}

} // namespace aurelo::test
