#pragma once

#include "translation/ManagedTranslationClient.hpp"
#include "translation/TranslationError.hpp"
#include "translation/TranslationRequestCache.hpp"
#include "translation/TranslationTypes.hpp"

#include <string>
#include <vector>

namespace aurelo {

// The one entry point through which the application translates: the bridge, the background
// queue, the translation box and the settings check. It consults the request cache first and
// sends only what is not cached to the managed service. Completions run on the main loop,
// never inside the call; calls may overlap freely.
class TranslationService {
public:
    // The managed service at aureloServiceURL(), the shared translation session and cache.
    TranslationService();
    TranslationService(std::string origin, HttpSession& session, TranslationRequestCache& cache);

    void translate(const std::string& text, const std::string& target,
                   const TranslationConfiguration& configuration,
                   ServiceCompletion<TranslationResult> completion) const;

    // Results come back in the order of `texts`. A batch fails as a whole.
    void translateBatch(const std::vector<std::string>& texts, const std::string& target,
                        const TranslationConfiguration& configuration,
                        ServiceCompletion<std::vector<TranslationResult>> completion) const;

    // Empties the cache of answers, so that every text is asked of the service again.
    void forgetResults() const;


private:
    ManagedTranslationClient m_client;
    TranslationRequestCache& m_cache;
};

} // namespace aurelo
