// Making, reusing and replacing the service's glossaries at DeepL.
#include "service/DeeplGlossaries.hpp"

#include "platform/MainLoop.hpp"
#include "translation/JsonCoding.hpp"

#include <glib.h>

#include <cctype>

namespace aurelo::service {

namespace {

constexpr const char* kDeepl = "DeepL";

std::string glossaryLanguage(const std::string& code) {
    std::string primary = code.substr(0, code.find('-'));
    for (char& c : primary)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return primary;
}

HttpRequest deeplCall(const EngineSettings& settings, std::string method, const std::string& path) {
    HttpRequest request;
    request.method = std::move(method);
    request.url = deeplBaseURL(settings) + path;
    request.headers = {{"Authorization", "DeepL-Auth-Key " + settings.apiKey}};
    return request;
}

} // namespace

std::string deeplBaseURL(const EngineSettings& settings) {
    return baseURL(settings.endpoint, settings.apiKey.ends_with(":fx")
                                          ? "https://api-free.deepl.com"
                                          : "https://api.deepl.com");
}

std::string deeplGlossaryEntries(const Glossary& glossary, const std::string& source,
                                 const std::string& target) {
    std::string entries;
    for (const auto& term : glossary.terms())
        if (!term.keptAsWritten() && glossaryLanguageMatches(term.sourceLanguage, source) &&
            glossaryLanguageMatches(term.targetLanguage, target))
            entries += term.source + "\t" + term.target + "\n";
    return entries;
}

void DeeplGlossaries::glossaryFor(const UpstreamContext& context, const EngineSettings& settings,
                                  const Glossary& glossary, const std::string& source,
                                  const std::string& target, Ready ready) {
    std::string entries = deeplGlossaryEntries(glossary, source, target);
    std::unique_ptr<gchar, decltype(&g_free)> digest(
        g_compute_checksum_for_string(G_CHECKSUM_SHA256, entries.c_str(),
                                      static_cast<gssize>(entries.size())),
        g_free);
    std::string key = settings.apiKey + '\n' + deeplBaseURL(settings) + '\n' +
                      glossaryLanguage(source) + '\n' + glossaryLanguage(target) + '\n' +
                      digest.get();
    auto [it, inserted] = m_entries.try_emplace(key);
    if (!inserted && !it->second.id.empty()) {
        postToMainLoop([ready = std::move(ready), id = it->second.id] { ready(id); });
        return;
    }
    it->second.waiting.push_back(std::move(ready));
    if (!inserted)
        return;
    it->second.made = ++m_made;
    it->second.settings = settings;
    HttpRequest request = deeplCall(settings, "POST", "/v2/glossaries");
    request.body = json::serialize({{"name", std::string("aurelo ") + digest.get()},
                                    {"source_lang", glossaryLanguage(source)},
                                    {"target_lang", glossaryLanguage(target)},
                                    {"entries", entries},
                                    {"entries_format", "tsv"}});
    auto self = shared_from_this();
    sendUpstream(context, kDeepl, std::move(request), [self, key, context](JsonOutcome answer) {
        std::expected<std::string, EngineFailure> id = std::unexpected(unrecognisedAnswer(kDeepl));
        if (!answer)
            id = std::unexpected(answer.error());
        else if (answer->is_object() && answer->contains("glossary_id") &&
                 (*answer)["glossary_id"].is_string() &&
                 !(*answer)["glossary_id"].get<std::string>().empty())
            id = (*answer)["glossary_id"].get<std::string>();
        self->created(key, std::move(id), context);
    });
}

void DeeplGlossaries::created(const std::string& key,
                              std::expected<std::string, EngineFailure> outcome,
                              const UpstreamContext& context) {
    auto it = m_entries.find(key);
    std::vector<Ready> waiting = std::move(it->second.waiting);
    if (!outcome) {
        m_entries.erase(it); // not kept: the next request tries again
    } else {
        it->second.id = *outcome;
        while (m_entries.size() > kMaxGlossaries) {
            auto oldest = m_entries.end();
            for (auto e = m_entries.begin(); e != m_entries.end(); ++e)
                if (!e->second.id.empty() && e->second.waiting.empty() && e != it &&
                    (oldest == m_entries.end() || e->second.made < oldest->second.made))
                    oldest = e;
            if (oldest == m_entries.end())
                break;
            // Not waited for: a deletion that fails only leaves an unused glossary at DeepL.
            sendUpstream(
                context, kDeepl,
                deeplCall(oldest->second.settings, "DELETE", "/v2/glossaries/" + oldest->second.id),
                [](JsonOutcome) {});
            m_entries.erase(oldest);
        }
    }
    for (auto& ready : waiting)
        ready(outcome);
}

} // namespace aurelo::service
