#include "support/LoopbackServer.hpp"

#include "platform/HttpSession.hpp"
#include "platform/Text.hpp"
#include "support/Programs.hpp"

#include <libsoup/soup.h>

#include <algorithm>
#include <stdexcept>

namespace aurelo::test {

namespace {

std::string contentTypeFor(const std::filesystem::path& file) {
    static const std::map<std::string, std::string> types = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json"},
        {".wav", "audio/wav"}};
    const auto it = types.find(file.extension());
    return it == types.end() ? "application/octet-stream" : it->second;
}

} // namespace

std::string RecordedRequest::header(const std::string& name) const {
    auto it = headers.find(text::asciiLowercased(name));
    return it == headers.end() ? std::string() : it->second;
}

ScriptedAnswer ScriptedAnswer::json(unsigned status, const nlohmann::json& body) {
    return {status, body.dump()};
}

ScriptedAnswer ScriptedAnswer::text(unsigned status, std::string body, std::string contentType) {
    return {status, std::move(body), std::move(contentType)};
}

ScriptedAnswer ScriptedAnswer::silence() {
    return {.body = {}, .neverAnswer = true};
}

ScriptedAnswer ScriptedAnswer::drip(std::size_t pieceSize, std::chrono::milliseconds interval,
                                    std::size_t pieces) {
    return {.body = std::string(pieceSize, ' '), .delay = interval, .pieces = pieces};
}

// An answer not sent at once: a held one, a delayed one, or the pieces of a dripping one.
struct LoopbackServer::Pending {
    LoopbackServer* server;
    GRef<SoupServerMessage> message;
    ScriptedAnswer answer;
    RecordedRequest request;
    guint timer = 0;
    std::size_t sent = 0;

    ~Pending() {
        if (timer)
            g_source_remove(timer);
        g_signal_handlers_disconnect_by_data(message.get(), this);
    }

    static void finished(SoupServerMessage*, gpointer data) {
        auto& pending = *static_cast<Pending*>(data);
        if (!pending.timer)
            return;
        g_source_remove(std::exchange(pending.timer, 0));
        ++pending.server->m_answersEnded;
    }

    static gboolean tick(gpointer data) {
        auto& pending = *static_cast<Pending*>(data);
        const auto& answer = pending.answer;
        if (answer.pieces == 0) {
            pending.server->send(pending.message.get(), answer);
        } else {
            auto* body = soup_server_message_get_response_body(pending.message.get());
            soup_message_body_append(body, SOUP_MEMORY_COPY, answer.body.data(),
                                     answer.body.size());
            ++pending.server->m_piecesSent;
            if (++pending.sent == answer.pieces)
                soup_message_body_complete(body);
        }
        soup_server_message_unpause(pending.message.get());
        if (pending.sent < answer.pieces)
            return G_SOURCE_CONTINUE;
        // Done: let go of the message, and with it of its connection.
        pending.timer = 0;
        std::erase_if(pending.server->m_pending,
                      [&](const auto& p) { return p.get() == &pending; });
        return G_SOURCE_REMOVE;
    }
};

LoopbackServer::LoopbackServer() : LoopbackServer(Options{}) {}

LoopbackServer::LoopbackServer(Options options) : m_options(std::move(options)) {
    GErrorHolder error;
    if (m_options.https) {
        const auto files = writeTestCertificate(m_certificateDirectory.emplace().path());
        m_certificateFile = files.certificate;
        auto tls = adoptGRef(g_tls_certificate_new_from_files(
            files.certificate.c_str(), files.privateKey.c_str(), error.out()));
        if (!tls)
            throw std::runtime_error(std::string("cannot load the test certificate: ") +
                                     error->message);
        m_server = adoptGRef(soup_server_new("tls-certificate", tls.get(), nullptr));
    } else {
        m_server = adoptGRef(soup_server_new(nullptr, nullptr));
    }
    soup_server_add_handler(
        m_server.get(), nullptr,
        [](SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer self) {
            static_cast<LoopbackServer*>(self)->handle(message, path);
        },
        this, nullptr);
    const auto listenOptions = static_cast<SoupServerListenOptions>(
        SOUP_SERVER_LISTEN_IPV4_ONLY | (m_options.https ? SOUP_SERVER_LISTEN_HTTPS : 0));
    if (!soup_server_listen_local(m_server.get(), 0, listenOptions, error.out()))
        throw std::runtime_error(std::string("test server cannot listen on loopback: ") +
                                 error->message);
    GSList* uris = soup_server_get_uris(m_server.get());
    m_port = static_cast<std::uint16_t>(g_uri_get_port(static_cast<GUri*>(uris->data)));
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    m_origin = url("");
    m_origin.pop_back();
}

LoopbackServer::~LoopbackServer() {
    m_pending.clear();
    soup_server_disconnect(m_server.get());
}

std::string LoopbackServer::url(const std::string& path, const std::string& host) const {
    return std::string(m_options.https ? "https://" : "http://") + host + ":" +
           std::to_string(m_port) + (path.starts_with('/') ? "" : "/") + path;
}

void LoopbackServer::enqueue(const std::string& path, ScriptedAnswer answer) {
    m_queued[path].push_back(std::move(answer));
}

void LoopbackServer::addHeader(std::string name, std::string value) {
    m_headers.emplace_back(std::move(name), std::move(value));
}

std::size_t LoopbackServer::requestCount(const std::string& path) const {
    return static_cast<std::size_t>(std::ranges::count(m_requests, path, &RecordedRequest::path));
}

std::vector<std::string> LoopbackServer::hostsRequesting(const std::string& path) const {
    std::vector<std::string> hosts;
    for (const auto& request : m_requests)
        if (request.path == path)
            hosts.push_back(request.header("host"));
    return hosts;
}

void LoopbackServer::trust(HttpSession& session) const {
    if (m_certificateFile.empty())
        throw std::logic_error("only an HTTPS test server has a certificate to trust");
    trustAuthorities(session, m_certificateFile);
}

ScriptedAnswer LoopbackServer::answerFor(const RecordedRequest& request) {
    if (auto it = m_queued.find(request.path); it != m_queued.end() && !it->second.empty()) {
        ScriptedAnswer answer = std::move(it->second.front());
        it->second.pop_front();
        return answer;
    }
    if (auto it = m_routes.find(request.path); it != m_routes.end())
        return it->second;
    if (m_responder)
        if (auto answer = m_responder(request))
            return *answer;
    if (!m_options.folder.empty() && request.path.find("..") == std::string::npos) {
        const auto file = m_options.folder / request.path.substr(1);
        if (std::filesystem::is_regular_file(file))
            return ScriptedAnswer::text(200, readFile(file), contentTypeFor(file));
    }
    return ScriptedAnswer::json(404, {{"error", "no scripted answer"}});
}

void LoopbackServer::send(SoupServerMessage* message, const ScriptedAnswer& answer) const {
    auto* headers = soup_server_message_get_response_headers(message);
    for (const auto& list : {m_headers, answer.headers})
        for (const auto& [name, value] : list)
            soup_message_headers_append(headers, name.c_str(), value.c_str());
    soup_server_message_set_status(message, answer.status, nullptr);
    if (answer.pieces > 0) {
        soup_message_headers_set_encoding(headers, SOUP_ENCODING_CHUNKED);
        soup_message_headers_set_content_type(headers, answer.contentType.c_str(), nullptr);
    } else if (answer.status != 204 && answer.status != 304) {
        soup_server_message_set_response(message, answer.contentType.c_str(), SOUP_MEMORY_COPY,
                                         answer.body.data(), answer.body.size());
    }
}

void LoopbackServer::handle(SoupServerMessage* message, const char* path) {
    RecordedRequest request;
    request.method = soup_server_message_get_method(message);
    request.path = path;
    if (const char* query = g_uri_get_query(soup_server_message_get_uri(message)))
        request.query = query;
    SoupMessageHeadersIter iter;
    soup_message_headers_iter_init(&iter, soup_server_message_get_request_headers(message));
    const char *name = nullptr, *value = nullptr;
    while (soup_message_headers_iter_next(&iter, &name, &value))
        request.headers[text::asciiLowercased(name)] = value;
    auto bytes =
        adoptGRef(soup_message_body_flatten(soup_server_message_get_request_body(message)));
    gsize size = 0;
    if (const auto* data = static_cast<const char*>(g_bytes_get_data(bytes.get(), &size)))
        request.body.assign(data, size);
    if (auto parsed = nlohmann::json::parse(request.body, nullptr, false); !parsed.is_discarded())
        request.json = std::move(parsed);

    ScriptedAnswer answer = answerFor(request);
    m_requests.push_back(request);
    const bool now = answer.delay.count() == 0 && !answer.neverAnswer;
    if (now || answer.pieces > 0)
        send(message, answer); // a dripping answer's head goes now, its pieces on the timer
    if (now && answer.pieces == 0)
        return;
    soup_server_message_pause(message);
    auto& pending = *m_pending.emplace_back(
        new Pending{this, GRef<SoupServerMessage>(message), std::move(answer), std::move(request)});
    g_signal_connect(message, "finished", G_CALLBACK(Pending::finished), &pending);
    if (!pending.answer.neverAnswer)
        pending.timer = g_timeout_add(static_cast<guint>(pending.answer.delay.count()),
                                      Pending::tick, &pending);
}

std::size_t LoopbackServer::heldCount() const {
    return static_cast<std::size_t>(
        std::ranges::count_if(m_pending, [](const auto& p) { return p->answer.neverAnswer; }));
}

std::size_t LoopbackServer::answerHeld(const Responder& answer) {
    std::size_t answered = 0;
    for (const auto& pending : m_pending) {
        if (!pending->answer.neverAnswer)
            continue;
        auto scripted = answer(pending->request);
        if (!scripted || scripted->neverAnswer)
            continue;
        pending->answer = std::move(*scripted);
        send(pending->message.get(), pending->answer);
        soup_server_message_unpause(pending->message.get());
        ++answered;
    }
    std::erase_if(m_pending, [](const auto& p) { return !p->answer.neverAnswer && !p->timer; });
    return answered;
}

TestCertificateFiles writeTestCertificate(const std::filesystem::path& directory) {
    TestCertificateFiles files{directory / "service-certificate.pem",
                               directory / "service-key.pem"};
    std::filesystem::create_directories(directory);
    // Its own authority, so that a session can trust exactly this certificate.
    const auto made = runProgram({"openssl",
                                  "req",
                                  "-x509",
                                  "-newkey",
                                  "ec",
                                  "-pkeyopt",
                                  "ec_paramgen_curve:P-256",
                                  "-nodes",
                                  "-days",
                                  "1",
                                  "-subj",
                                  "/CN=127.0.0.1",
                                  "-addext",
                                  "subjectAltName=IP:127.0.0.1,DNS:localhost",
                                  "-addext",
                                  "basicConstraints=critical,CA:TRUE",
                                  "-addext",
                                  "keyUsage=critical,digitalSignature,keyCertSign",
                                  "-keyout",
                                  files.privateKey,
                                  "-out",
                                  files.certificate});
    if (!made.succeeded)
        throw std::runtime_error("openssl cannot make a test certificate: " + made.errors);
    return files;
}

void trustAuthorities(HttpSession& session, const std::filesystem::path& authorityFile) {
    GErrorHolder error;
    auto database = adoptGRef(g_tls_file_database_new(authorityFile.c_str(), error.out()));
    if (!database)
        throw std::runtime_error(std::string("cannot load the trust file: ") + error->message);
    soup_session_set_tls_database(session.soupSession(), G_TLS_DATABASE(database.get()));
}

} // namespace aurelo::test
