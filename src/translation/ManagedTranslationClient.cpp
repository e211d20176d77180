#include "translation/ManagedTranslationClient.hpp"

#include "translation/AureloServiceURL.hpp"
#include "translation/JsonCoding.hpp"
#include "translation/TranslationNetwork.hpp"

namespace aurelo {

namespace {

enum class RequestKind { Single, Batch, Glossary };

// A non-2xx answer: 401 is always the expired login; otherwise the service's own "error" text
// when it sent one, or our message with the status code.
TranslationError failureForStatus(const HttpResponse& response, RequestKind kind) {
    if (response.status == 401)
        return TranslationError::server("登录已失效，请重新登录。");
    if (auto message = json::errorMessage(response.body))
        return TranslationError::server(*message);
    const std::string code = std::to_string(response.status);
    return TranslationError::server(
        kind == RequestKind::Single  ? "后台翻译服务请求失败（" + code + "）"
        : kind == RequestKind::Batch ? "后台批量翻译请求失败（" + code + "）"
                                     : "读取术语表失败（" + code + "）");
}

bool isSuccess(unsigned status) {
    return status >= 200 && status <= 299;
}

// libsoup reports a status below 100 only when no HTTP answer was read at all.
bool isHttpAnswer(unsigned status) {
    return status >= 100;
}

// Decodes one ManagedTranslationResponse object.
std::expected<TranslationResult, DecodingError> decodeResult(const json::Json& object) {
    if (!object.is_object())
        return std::unexpected(DecodingError::dataCorrupted());
    auto text = json::requiredString(object, "text");
    if (!text)
        return std::unexpected(text.error());
    auto detected = json::optionalString(object, "detectedLanguage");
    if (!detected)
        return std::unexpected(detected.error());
    return TranslationResult{std::move(*text), std::move(*detected)};
}

} // namespace

ManagedTranslationClient::ManagedTranslationClient(std::string origin, HttpSession& session)
    : m_endpoint(serviceEndpoint(origin, "/api/translate")),
      m_glossaryEndpoint(serviceEndpoint(origin, "/api/glossary")), m_session(session) {}

template <typename T>
void ManagedTranslationClient::send(const nlohmann::json& body,
                                    const TranslationConfiguration& configuration,
                                    ServiceOutcome<T> (*read)(const HttpResponse&),
                                    ServiceCompletion<T> completion) const {
    HttpRequest request;
    request.method = "POST";
    request.url = m_endpoint;
    // The token is sent exactly as stored; it is trimmed only to decide whether there is one.
    request.headers = {{"Content-Type", "application/json"},
                       {"Authorization", "Bearer " + configuration.apiKey}};
    request.body = json::serialize(body);
    request.contentType = "application/json";
    request.timeout = TranslationNetwork::kRequestTimeout;
    m_session.send(request, [read, completion = std::move(completion)](HttpResult result) {
        if (!result)
            return completion(std::unexpected(std::move(result.error())));
        completion(read(*result));
    });
}

void ManagedTranslationClient::translate(const std::string& text, const std::string& target,
                                         const TranslationConfiguration& configuration,
                                         ServiceCompletion<TranslationResult> completion) const {
    send<TranslationResult>({{"text", text},
                             {"target", target},
                             {"provider", std::string(rawValue(configuration.provider))}},
                            configuration, &readSingleAnswer, std::move(completion));
}

void ManagedTranslationClient::translateBatch(
    const std::vector<std::string>& texts, const std::string& target,
    const TranslationConfiguration& configuration,
    ServiceCompletion<std::vector<TranslationResult>> completion) const {
    send<std::vector<TranslationResult>>(
        {{"texts", texts},
         {"target", target},
         {"provider", std::string(rawValue(configuration.provider))}},
        configuration, &readBatchAnswer, std::move(completion));
}

ServiceOutcome<TranslationResult>
ManagedTranslationClient::readSingleAnswer(const HttpResponse& response) {
    if (!isHttpAnswer(response.status))
        return std::unexpected(TranslationError::invalidResponse());
    if (!isSuccess(response.status))
        return std::unexpected(failureForStatus(response, RequestKind::Single));
    auto object = json::parseObject(response.body);
    if (!object)
        return std::unexpected(object.error());
    auto result = decodeResult(*object);
    if (!result)
        return std::unexpected(result.error());
    if (result->text.empty())
        return std::unexpected(TranslationError::invalidResponse());
    return std::move(*result);
}

ServiceOutcome<std::vector<TranslationResult>>
ManagedTranslationClient::readBatchAnswer(const HttpResponse& response) {
    if (!isHttpAnswer(response.status))
        return std::unexpected(TranslationError::invalidResponse());
    if (!isSuccess(response.status))
        return std::unexpected(failureForStatus(response, RequestKind::Batch));
    auto object = json::parseObject(response.body);
    if (!object)
        return std::unexpected(object.error());
    auto it = object->find("results");
    if (it == object->end())
        return std::unexpected(DecodingError::keyNotFound("results"));
    if (it->is_null())
        return std::unexpected(DecodingError::valueNotFound("results"));
    if (!it->is_array())
        return std::unexpected(DecodingError::typeMismatch("results"));
    std::vector<TranslationResult> results;
    results.reserve(it->size());
    for (const auto& element : *it) {
        auto result = decodeResult(element);
        if (!result)
            return std::unexpected(result.error());
        results.push_back(std::move(*result));
    }
    return results;
}

void ManagedTranslationClient::fetchGlossary(
    const std::string& token, ServiceCompletion<std::vector<GlossaryEntry>> completion) const {
    HttpRequest request;
    request.method = "GET";
    request.url = m_glossaryEndpoint;
    request.headers = {{"Authorization", "Bearer " + token}};
    request.timeout = TranslationNetwork::kRequestTimeout;
    m_session.send(request, [completion = std::move(completion)](HttpResult result) {
        if (!result)
            return completion(std::unexpected(std::move(result.error())));
        completion(readGlossaryAnswer(*result));
    });
}

ServiceOutcome<std::vector<GlossaryEntry>>
ManagedTranslationClient::readGlossaryAnswer(const HttpResponse& response) {
    if (!isHttpAnswer(response.status))
        return std::unexpected(TranslationError::invalidResponse());
    if (!isSuccess(response.status))
        return std::unexpected(failureForStatus(response, RequestKind::Glossary));
    auto object = json::parseObject(response.body);
    if (!object)
        return std::unexpected(object.error());
    auto it = object->find("terms");
    if (it == object->end())
        return std::unexpected(DecodingError::keyNotFound("terms"));
    if (!it->is_array())
        return std::unexpected(DecodingError::typeMismatch("terms"));
    std::vector<GlossaryEntry> entries;
    for (const auto& item : *it) {
        if (!item.is_object())
            return std::unexpected(DecodingError::dataCorrupted());
        GlossaryEntry entry;
        for (auto [key, field] : {std::pair{"source", &entry.source},
                                  {"target", &entry.target},
                                  {"sourceLanguage", &entry.sourceLanguage},
                                  {"targetLanguage", &entry.targetLanguage}}) {
            auto value = json::optionalString(item, key);
            if (!value)
                return std::unexpected(value.error());
            *field = value->value_or("");
        }
        if (entry.source.empty())
            return std::unexpected(DecodingError::valueNotFound("source"));
        auto flag = item.find("ignoreCase");
        entry.ignoreCase = flag != item.end() && flag->is_boolean() && flag->get<bool>();
        auto scope = item.find("scope");
        entry.accountOwn = scope != item.end() && scope->is_string() && *scope == "account";
        entries.push_back(std::move(entry));
    }
    return entries;
}

} // namespace aurelo
