#pragma once

#include "platform/HttpSession.hpp"
#include "translation/TranslationError.hpp"
#include "translation/TranslationTypes.hpp"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace aurelo {

// The two translation requests to the managed service ("/api/translate", single and batch) and
// the reading of their answers. Texts arrive already trimmed; nothing is cached or retried here.
class ManagedTranslationClient {
public:
    ManagedTranslationClient(std::string origin, HttpSession& session);

    void translate(const std::string& text, const std::string& target,
                   const TranslationConfiguration& configuration,
                   ServiceCompletion<TranslationResult> completion) const;

    void translateBatch(const std::vector<std::string>& texts, const std::string& target,
                        const TranslationConfiguration& configuration,
                        ServiceCompletion<std::vector<TranslationResult>> completion) const;

    // Answer handling, exposed so that it can be checked against every kind of body.
    static ServiceOutcome<TranslationResult> readSingleAnswer(const HttpResponse& response);
    static ServiceOutcome<std::vector<TranslationResult>>
    readBatchAnswer(const HttpResponse& response);

private:
    template <typename T>
    void send(const nlohmann::json& body, const TranslationConfiguration& configuration,
              ServiceOutcome<T> (*read)(const HttpResponse&), ServiceCompletion<T> completion) const;

    std::string m_endpoint;
    HttpSession& m_session;
};

} // namespace aurelo
