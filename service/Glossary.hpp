#pragma once

// The operator's glossary as the engines see it: the terms in force for one account (the
// service-wide list plus the account's own), a version that changes whenever any of them does,
// and the search that splits a text into plain runs and the terms that occur in it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace aurelo::service {

struct GlossaryTerm {
    std::int64_t id = 0;
    // The user whose own list holds the term; nullopt for the service-wide list.
    std::optional<std::string> account;
    std::string source;
    // Empty: the term is never translated and stays as the operator wrote it. Otherwise its fixed
    // translation from `sourceLanguage` into `targetLanguage` (client codes, "en", "zh-CN").
    std::string target;
    std::string sourceLanguage;
    std::string targetLanguage;
    bool ignoreCase = false;

    bool keptAsWritten() const { return target.empty(); }
    // What the term becomes in a translation.
    const std::string& replacement() const { return keptAsWritten() ? source : target; }

    friend bool operator==(const GlossaryTerm&, const GlossaryTerm&) = default;
};

// How many terms one list (service-wide, or one account's) may hold, and how long a term or a
// translation may be: the matcher compares every term with every text, and a provider's glossary
// has to be uploaded whole.
inline constexpr std::size_t kMaxGlossaryTerms = 1000;
inline constexpr std::size_t kMaxGlossaryTermCharacters = 100;

// Why `term` cannot be stored, in the operator's words; nullopt when it can.
std::optional<std::string> glossaryTermProblem(const GlossaryTerm& term);

// True when a term written for `termLanguage` applies to a request for `requested`: the same code,
// or one is the other's language without its region ("es" and "es-ES", never "zh-CN" and "zh-TW").
bool glossaryLanguageMatches(const std::string& termLanguage, const std::string& requested);

// A run of a text: plain text, or an occurrence of `term` (`text` is what the text itself holds).
struct GlossarySegment {
    std::string text;
    const GlossaryTerm* term = nullptr;
};

class Glossary {
public:
    Glossary() = default;
    explicit Glossary(std::vector<GlossaryTerm> terms);

    const std::vector<GlossaryTerm>& terms() const { return m_terms; }
    bool empty() const { return m_terms.empty(); }
    // Changes with any term; empty for an empty glossary, so that results cached without one stay
    // valid.
    const std::string& version() const { return m_version; }

    // `text` as runs, with the terms that apply to a translation into `target` (and, when known,
    // from `source`) found where they stand as whole words: "Pro" never matches inside "Product".
    // Where terms overlap, the one starting first wins, then the longer one. No term found: one
    // plain run.
    std::vector<GlossarySegment> split(const std::string& text, const std::string& target,
                                       const std::string& source = {}) const;

private:
    std::vector<GlossaryTerm> m_terms;
    std::string m_version;
};

// True when `segments` holds at least one term.
bool containsTerms(const std::vector<GlossarySegment>& segments);

} // namespace aurelo::service
