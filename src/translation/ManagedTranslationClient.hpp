#pragma once

#include "platform/HttpSession.hpp"
#include "translation/TranslationError.hpp"
#include "translation/TranslationTypes.hpp"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace aurelo {

// One term of the account's glossary, as GET /api/glossary lists it. `target` is empty for a
// term that is never translated; the languages are empty then too.
struct GlossaryEntry {
    std::string source;
    std::string target;
    std::string sourceLanguage;
    std::string targetLanguage;
    bool ignoreCase = false;
    bool accountOwn = false; // the account's own list rather than the service-wide one
    friend bool operator==(const GlossaryEntry&, const GlossaryEntry&) = default;
};

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

    // The account's glossary (GET /api/glossary) with the bearer `token`.
    void fetchGlossary(const std::string& token,
                       ServiceCompletion<std::vector<GlossaryEntry>> completion) const;

    // Answer handling, exposed so that it can be checked against every kind of body.
    static ServiceOutcome<TranslationResult> readSingleAnswer(const HttpResponse& response);
    static ServiceOutcome<std::vector<TranslationResult>>
    readBatchAnswer(const HttpResponse& response);
    static ServiceOutcome<std::vector<GlossaryEntry>>
    readGlossaryAnswer(const HttpResponse& response);

private:
    template <typename T>
    void send(const nlohmann::json& body, const TranslationConfiguration& configuration,
              ServiceOutcome<T> (*read)(const HttpResponse&), ServiceCompletion<T> completion) const;

    std::string m_endpoint;
    std::string m_glossaryEndpoint;
    HttpSession& m_session;
};

} // namespace aurelo
