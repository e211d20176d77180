#include "service/ProviderDialect.hpp"

#include "platform/Text.hpp"

#include "service/ChatModelPrompt.hpp"
#include "service/DeeplGlossaries.hpp"
#include "service/GlossaryMarkup.hpp"
#include "service/LanguageCodes.hpp"
#include "service/ProviderHttp.hpp"
#include "translation/JsonCoding.hpp"

#include <glib.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace aurelo::service {

namespace {

using Json = nlohmann::json;

HttpRequest post(std::string url, std::vector<std::pair<std::string, std::string>> headers,
                 const Json& body) {
    HttpRequest request;
    request.method = "POST";
    request.url = std::move(url);
    request.headers = std::move(headers);
    request.body = json::serialize(body);
    return request;
}

// The member `key` of `value` when it is a string.
const std::string* stringAt(const Json& value, const char* key) {
    if (!value.is_object())
        return nullptr;
    auto it = value.find(key);
    return it != value.end() && it->is_string() ? it->template get_ptr<const std::string*>()
                                                : nullptr;
}

// Reads a list of per-text items with one reader for the text and one for the detected language;
// any item without its text makes the whole answer unrecognised.
template <typename TextOf, typename LanguageOf>
EngineOutcome decodeItems(const Json* items, const std::string& name, TextOf textOf,
                          LanguageOf languageOf) {
    if (!items || !items->is_array())
        return std::unexpected(unrecognisedAnswer(name));
    std::vector<TranslationResult> results;
    for (const auto& item : *items) {
        const std::string* text = textOf(item);
        if (!text)
            return std::unexpected(unrecognisedAnswer(name));
        TranslationResult result{*text, std::nullopt};
        if (const std::string* language = languageOf(item))
            result.detectedLanguage = clientLanguageCode(*language);
        results.push_back(std::move(result));
    }
    return results;
}

const Json* memberAt(const Json& value, const char* key) {
    if (!value.is_object())
        return nullptr;
    auto it = value.find(key);
    return it != value.end() ? &*it : nullptr;
}

// The text blocks of a language model's reply joined, or nullopt when `parts` is not a list.
std::optional<std::string> joinedText(const Json* parts, bool typedBlocks) {
    if (!parts || !parts->is_array())
        return std::nullopt;
    std::string reply;
    for (const auto& part : *parts)
        if (const std::string* text = stringAt(part, "text");
            text && (!typedBlocks || (stringAt(part, "type") && *stringAt(part, "type") == "text")))
            reply += *text;
    return reply;
}

// The part's texts, as markup written by `writeTerm` when the part is markup.
Json textsOf(const ProviderPart& part,
             const std::function<std::string(const GlossarySegment&)>& writeTerm) {
    if (!part.markup)
        return part.texts;
    Json texts = Json::array();
    for (const auto& segments : part.segments)
        texts.push_back(markupFromSegments(segments, writeTerm));
    return texts;
}

bool anyTerm(const std::vector<GlossarySegment>& segments) {
    return containsTerms(segments);
}

bool anyKeptTerm(const std::vector<GlossarySegment>& segments) {
    return std::ranges::any_of(
        segments, [](const GlossarySegment& s) { return s.term && s.term->keptAsWritten(); });
}

// Cloud Translation, basic edition (v2):
// https://cloud.google.com/translate/docs/reference/rest/v2/translate
//   POST …/language/translate/v2?key=KEY  {"q": [...], "target": "de", "format": "text"}
//   -> {"data": {"translations": [{"translatedText": "…", "detectedSourceLanguage": "en"}]}}
// With glossary terms the texts go as HTML ("format": "html") and each term as its replacement
// in a span marked translate="no", which Google leaves as it is:
// https://cloud.google.com/translate/troubleshooting ("Preventing translation of content")
HttpRequest googleRequest(const EngineSettings& settings, const ProviderPart& part) {
    std::unique_ptr<char, decltype(&g_free)> key(
        g_uri_escape_string(settings.apiKey.c_str(), nullptr, FALSE), g_free);
    Json texts = textsOf(part, [](const GlossarySegment& s) {
        return "<span translate=\"no\">" + text::escapedMarkup(s.term->replacement()) + "</span>";
    });
    return post(
        baseURL(settings.endpoint, "https://translation.googleapis.com/language/translate/v2") +
            "?key=" + key.get(),
        {}, {{"q", texts}, {"target", part.target}, {"format", part.markup ? "html" : "text"}});
}

EngineOutcome googleAnswer(const Json& answer, std::size_t, const std::string& name) {
    const Json* data = memberAt(answer, "data");
    return decodeItems(
        data ? memberAt(*data, "translations") : nullptr, name,
        [](const Json& item) { return stringAt(item, "translatedText"); },
        [](const Json& item) { return stringAt(item, "detectedSourceLanguage"); });
}

// DeepL API: https://developers.deepl.com/docs/api-reference/translate
//   POST /v2/translate, "Authorization: DeepL-Auth-Key KEY"
//   {"text": [...], "target_lang": "DE"} -> {"translations": [{"detected_source_language": "EN",
//   "text": "…"}]}
// Fixed translations: "glossary_id" of the glossary for the pair, which needs "source_lang".
// Terms kept as written: XML tag handling, each in an element DeepL is told to ignore
// ("tag_handling": "xml", "ignore_tags": ["keep"]).
HttpRequest deeplRequest(const EngineSettings& settings, const ProviderPart& part) {
    Json texts = textsOf(part, [](const GlossarySegment& s) {
        return s.term->keptAsWritten() ? "<keep>" + text::escapedMarkup(s.term->replacement()) + "</keep>"
                                       : text::escapedMarkup(s.text);
    });
    Json body = {{"text", texts}, {"target_lang", deeplTargetLanguage(part.target)}};
    if (part.markup) {
        body["tag_handling"] = "xml";
        body["ignore_tags"] = {"keep"};
    }
    if (!part.glossaryId.empty()) {
        std::string source = part.glossarySource.substr(0, part.glossarySource.find('-'));
        std::ranges::transform(source, source.begin(),
                               [](unsigned char c) { return g_ascii_toupper(c); });
        body["glossary_id"] = part.glossaryId;
        body["source_lang"] = source;
    }
    return post(deeplBaseURL(settings) + "/v2/translate",
                {{"Authorization", "DeepL-Auth-Key " + settings.apiKey}}, body);
}

EngineOutcome deeplAnswer(const Json& answer, std::size_t, const std::string& name) {
    return decodeItems(
        memberAt(answer, "translations"), name,
        [](const Json& item) { return stringAt(item, "text"); },
        [](const Json& item) { return stringAt(item, "detected_source_language"); });
}

// Translator v3: https://learn.microsoft.com/azure/ai-services/translator/reference/v3-0-translate
//   POST /translate?api-version=3.0&to=de, "Ocp-Apim-Subscription-Key" (and "-Region" for
//   regional resources), body [{"Text": "…"}, …]
//   -> [{"detectedLanguage": {"language": "en", "score": 1.0}, "translations": [{"text": "…",
//   "to": "de"}]}, …]
// With glossary terms the texts go as HTML ("textType=html"): a term kept as written in a span of
// class "notranslate", a fixed translation in the dynamic dictionary's element
// (https://learn.microsoft.com/azure/ai-services/translator/prevent-translation,
// …/dynamic-dictionary).
HttpRequest microsoftRequest(const EngineSettings& settings, const ProviderPart& part) {
    Json body = Json::array();
    for (const auto& text : textsOf(part, [](const GlossarySegment& s) {
             if (s.term->keptAsWritten())
                 return "<span class=\"notranslate\">" + text::escapedMarkup(s.term->replacement()) +
                        "</span>";
             return "<mstrans:dictionary translation=\"" + text::escapedMarkup(s.term->target) + "\">" +
                    text::escapedMarkup(s.text) + "</mstrans:dictionary>";
         }))
        body.push_back({{"Text", text}});
    std::vector<std::pair<std::string, std::string>> headers = {
        {"Ocp-Apim-Subscription-Key", settings.apiKey}};
    if (!settings.region.empty())
        headers.emplace_back("Ocp-Apim-Subscription-Region", settings.region);
    return post(baseURL(settings.endpoint, "https://api.cognitive.microsofttranslator.com") +
                    "/translate?api-version=3.0&to=" + microsoftLanguage(part.target) +
                    (part.markup ? "&textType=html" : ""),
                std::move(headers), body);
}

EngineOutcome microsoftAnswer(const Json& answer, std::size_t, const std::string& name) {
    return decodeItems(
        answer.is_array() ? &answer : nullptr, name,
        [](const Json& item) -> const std::string* {
            const Json* translations = memberAt(item, "translations");
            if (!translations || !translations->is_array() || translations->empty())
                return nullptr;
            return stringAt((*translations)[0], "text");
        },
        [](const Json& item) -> const std::string* {
            const Json* detected = memberAt(item, "detectedLanguage");
            return detected ? stringAt(*detected, "language") : nullptr;
        });
}

// The prompt for a part, with the glossary terms that occur in its texts.
ChatModelPrompt chatPrompt(const ProviderPart& part) {
    std::vector<const GlossaryTerm*> terms;
    for (const auto& segments : part.segments)
        for (const GlossaryTerm* term : termsIn(segments))
            if (std::ranges::find(terms, term) == terms.end())
                terms.push_back(term);
    return buildChatModelPrompt(part.texts, part.target, terms);
}

// Chat Completions: https://platform.openai.com/docs/api-reference/chat/create
//   POST /chat/completions, "Authorization: Bearer KEY",
//   {"model": …, "messages": [{"role": "system", …}, {"role": "user", …}],
//    "response_format": {"type": "json_object"}}
//   -> {"choices": [{"message": {"content": "…"}, "finish_reason": "stop"}]}
HttpRequest openaiRequest(const EngineSettings& settings, const ProviderPart& part) {
    auto prompt = chatPrompt(part);
    return post(baseURL(settings.endpoint, "https://api.openai.com/v1") + "/chat/completions",
                {{"Authorization", "Bearer " + settings.apiKey}},
                {{"model", settings.model},
                 {"messages",
                  {{{"role", "system"}, {"content", prompt.system}},
                   {{"role", "user"}, {"content", prompt.user}}}},
                 {"response_format", {{"type", "json_object"}}}});
}

EngineOutcome openaiAnswer(const Json& answer, std::size_t count, const std::string& name) {
    const Json* choices = memberAt(answer, "choices");
    if (!choices || !choices->is_array() || choices->empty())
        return std::unexpected(unrecognisedAnswer(name));
    const Json* message = memberAt((*choices)[0], "message");
    const std::string* content = message ? stringAt(*message, "content") : nullptr;
    if (!content)
        return std::unexpected(unrecognisedAnswer(name));
    return parseChatModelReply(*content, count, name);
}

// Gemini API: https://ai.google.dev/api/generate-content
//   POST /v1beta/models/{model}:generateContent, "x-goog-api-key: KEY",
//   {"systemInstruction": {"parts": [{"text": …}]}, "contents": [{"role": "user", "parts":
//    [{"text": …}]}], "generationConfig": {"responseMimeType": "application/json"}}
//   -> {"candidates": [{"content": {"parts": [{"text": "…"}]}}]}
HttpRequest geminiRequest(const EngineSettings& settings, const ProviderPart& part) {
    auto prompt = chatPrompt(part);
    return post(baseURL(settings.endpoint, "https://generativelanguage.googleapis.com/v1beta") +
                    "/models/" + settings.model + ":generateContent",
                {{"x-goog-api-key", settings.apiKey}},
                {{"systemInstruction", {{"parts", {{{"text", prompt.system}}}}}},
                 {"contents", {{{"role", "user"}, {"parts", {{{"text", prompt.user}}}}}}},
                 {"generationConfig", {{"responseMimeType", "application/json"}}}});
}

EngineOutcome geminiAnswer(const Json& answer, std::size_t count, const std::string& name) {
    const Json* candidates = memberAt(answer, "candidates");
    if (!candidates || !candidates->is_array() || candidates->empty())
        return std::unexpected(unrecognisedAnswer(name));
    const Json* content = memberAt((*candidates)[0], "content");
    auto reply = joinedText(content ? memberAt(*content, "parts") : nullptr, false);
    if (!reply)
        return std::unexpected(unrecognisedAnswer(name));
    return parseChatModelReply(*reply, count, name);
}

// Messages API: https://docs.anthropic.com/en/api/messages
//   POST /v1/messages, "x-api-key: KEY", "anthropic-version: 2023-06-01",
//   {"model": …, "max_tokens": n, "system": …, "messages": [{"role": "user", "content": …}]}
//   -> {"content": [{"type": "text", "text": "…"}], "stop_reason": "end_turn"}
HttpRequest claudeRequest(const EngineSettings& settings, const ProviderPart& part) {
    auto prompt = chatPrompt(part);
    return post(baseURL(settings.endpoint, "https://api.anthropic.com") + "/v1/messages",
                {{"x-api-key", settings.apiKey}, {"anthropic-version", "2023-06-01"}},
                {{"model", settings.model},
                 {"max_tokens", 8192},
                 {"system", prompt.system},
                 {"messages", {{{"role", "user"}, {"content", prompt.user}}}}});
}

EngineOutcome claudeAnswer(const Json& answer, std::size_t count, const std::string& name) {
    auto reply = joinedText(memberAt(answer, "content"), true);
    if (!reply)
        return std::unexpected(unrecognisedAnswer(name));
    return parseChatModelReply(*reply, count, name);
}

constexpr BatchLimits kChatModelLimits{kChatModelMaxTexts, kChatModelMaxCharacters};

// Google: 128 text segments per request; the size bound keeps the body well under the documented
// request size limit. DeepL: at most 50 texts per request, and a request body of at most 128 KiB.
// Microsoft: the array may hold at most 1,000 elements and 50,000 characters in all.
constexpr ProviderDialect kGoogle{"Google Translate", "google",     false,   {128, 30000},
                                  googleRequest,      googleAnswer, anyTerm, false};
constexpr ProviderDialect kDeepL{"DeepL",      "deepl",     false,       {50, 30000},
                                 deeplRequest, deeplAnswer, anyKeptTerm, true};
constexpr ProviderDialect kMicrosoft{
    "Microsoft Translator", "microsoft",     false,   {1000, 50000},
    microsoftRequest,       microsoftAnswer, anyTerm, false};
constexpr ProviderDialect kOpenAI{"OpenAI",      "openai",     true,    kChatModelLimits,
                                  openaiRequest, openaiAnswer, nullptr, false};
constexpr ProviderDialect kGemini{"Google Gemini", "gemini",     true,    kChatModelLimits,
                                  geminiRequest,   geminiAnswer, nullptr, false};
constexpr ProviderDialect kClaude{"Claude",      "claude",     true,    kChatModelLimits,
                                  claudeRequest, claudeAnswer, nullptr, false};

} // namespace

const ProviderDialect& dialectFor(TranslationProvider provider) {
    switch (provider) {
    case TranslationProvider::Google:
        return kGoogle;
    case TranslationProvider::DeepL:
        return kDeepL;
    case TranslationProvider::Microsoft:
        return kMicrosoft;
    case TranslationProvider::OpenAI:
        return kOpenAI;
    case TranslationProvider::Gemini:
        return kGemini;
    case TranslationProvider::Claude:
        return kClaude;
    }
    return kGoogle;
}

} // namespace aurelo::service
