// The glossary's validation, version and term search.
#include "service/Glossary.hpp"

#include "service/LanguageCodes.hpp"

#include <glib.h>

#include <algorithm>
#include <memory>

namespace aurelo::service {

namespace {

struct CodePoints {
    std::vector<gunichar> points;
    std::vector<std::size_t> offsets; // byte offset of each point, and the text's size at the end
};

CodePoints decode(const std::string& text, bool lower) {
    CodePoints decoded;
    const char* begin = text.c_str();
    const char* end = begin + text.size();
    for (const char* p = begin; p < end; p = g_utf8_next_char(p)) {
        gunichar c = g_utf8_get_char_validated(p, end - p);
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2))
            c = 0xFFFD; // the text was checked as UTF-8 on arrival; never match across junk
        decoded.points.push_back(lower ? g_unichar_tolower(c) : c);
        decoded.offsets.push_back(static_cast<std::size_t>(p - begin));
    }
    decoded.offsets.push_back(text.size());
    return decoded;
}

// A letter or digit of a script that separates words with spaces. Chinese, Japanese and Thai do
// not: a term in them matches wherever it stands.
bool joinsWord(gunichar c) {
    if (!g_unichar_isalnum(c))
        return false;
    switch (g_unichar_get_script(c)) {
    case G_UNICODE_SCRIPT_HAN:
    case G_UNICODE_SCRIPT_HIRAGANA:
    case G_UNICODE_SCRIPT_KATAKANA:
    case G_UNICODE_SCRIPT_THAI:
    case G_UNICODE_SCRIPT_LAO:
    case G_UNICODE_SCRIPT_KHMER:
    case G_UNICODE_SCRIPT_MYANMAR:
        return false;
    default:
        return true;
    }
}

struct Match {
    std::size_t begin, end; // in code points
    const GlossaryTerm* term;
};

std::string primaryLanguage(const std::string& code) {
    return code.substr(0, code.find('-'));
}

} // namespace

std::optional<std::string> glossaryTermProblem(const GlossaryTerm& term) {
    auto textProblem = [](const std::string& text, const char* what) -> std::optional<std::string> {
        if (text.empty())
            return std::string(what) + "不能为空。";
        if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
            return std::string(what) + "不是有效的 UTF-8 文本。";
        if (std::ranges::any_of(text, [](unsigned char c) { return c < 0x20 || c == 0x7f; }))
            return std::string(what) + "不能包含换行、制表符或其他控制字符。";
        if (text.front() == ' ' || text.back() == ' ')
            return std::string(what) + "首尾不能有空格。";
        if (g_utf8_strlen(text.data(), static_cast<gssize>(text.size())) >
            static_cast<glong>(kMaxGlossaryTermCharacters))
            return std::string(what) + "过长（最多 " + std::to_string(kMaxGlossaryTermCharacters) +
                   " 字）。";
        return std::nullopt;
    };
    if (auto problem = textProblem(term.source, "原文"))
        return problem;
    if (term.keptAsWritten()) {
        if (!term.sourceLanguage.empty() || !term.targetLanguage.empty())
            return "不翻译的术语不带语言；固定译文须同时给出译文和两种语言。";
        return std::nullopt;
    }
    if (auto problem = textProblem(term.target, "译文"))
        return problem;
    for (const auto* language : {&term.sourceLanguage, &term.targetLanguage})
        if (language->empty() || *language == "auto" || !isPlausibleLanguageCode(*language))
            return "语言代码无效：" + (language->empty() ? std::string("（空）") : *language) +
                   "（例如 en、es、zh-CN）。";
    if (glossaryLanguageMatches(term.sourceLanguage, term.targetLanguage))
        return "源语言与目标语言相同。";
    return std::nullopt;
}

bool glossaryLanguageMatches(const std::string& termLanguage, const std::string& requested) {
    std::string a = termLanguage, b = requested;
    auto lower = [](std::string& s) {
        std::ranges::transform(s, s.begin(), [](unsigned char c) { return g_ascii_tolower(c); });
    };
    lower(a);
    lower(b);
    return a == b || a == primaryLanguage(b) || primaryLanguage(a) == b;
}

Glossary::Glossary(std::vector<GlossaryTerm> terms) : m_terms(std::move(terms)) {
    if (m_terms.empty())
        return;
    // Every field that changes a translation, in a form where no two lists look alike: each
    // field with its length.
    std::string canonical;
    for (const auto& term : m_terms)
        for (const std::string* field :
             {&term.source, &term.target, &term.sourceLanguage, &term.targetLanguage}) {
            canonical += std::to_string(field->size()) + ":" + *field;
            canonical += term.ignoreCase ? "i;" : "e;";
        }
    std::unique_ptr<gchar, decltype(&g_free)> digest(
        g_compute_checksum_for_data(
            G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(canonical.data()), canonical.size()),
        g_free);
    m_version = std::string(digest.get()).substr(0, 16);
}

std::vector<GlossarySegment> Glossary::split(const std::string& text, const std::string& target,
                                             const std::string& source) const {
    std::vector<Match> matches;
    std::optional<CodePoints> exact, folded;
    for (const auto& term : m_terms) {
        if (!term.keptAsWritten() &&
            (!glossaryLanguageMatches(term.targetLanguage, target) ||
             (!source.empty() && !glossaryLanguageMatches(term.sourceLanguage, source))))
            continue;
        auto& haystack = term.ignoreCase ? folded : exact;
        if (!haystack)
            haystack = decode(text, term.ignoreCase);
        CodePoints needle = decode(term.source, term.ignoreCase);
        const auto& points = haystack->points;
        for (auto at = points.begin(); (at = std::search(at, points.end(), needle.points.begin(),
                                                         needle.points.end())) != points.end();
             ++at) {
            std::size_t begin = static_cast<std::size_t>(at - points.begin());
            std::size_t end = begin + needle.points.size();
            bool cutsWord =
                (begin > 0 && joinsWord(needle.points.front()) && joinsWord(points[begin - 1])) ||
                (end < points.size() && joinsWord(needle.points.back()) && joinsWord(points[end]));
            if (!cutsWord)
                matches.push_back({begin, end, &term});
        }
    }
    std::ranges::sort(matches, [](const Match& a, const Match& b) {
        return a.begin != b.begin ? a.begin < b.begin : a.end > b.end;
    });
    const std::vector<std::size_t>& offsets = exact    ? exact->offsets
                                              : folded ? folded->offsets
                                                       : decode(text, false).offsets;
    std::vector<GlossarySegment> segments;
    std::size_t done = 0; // code points
    for (const auto& match : matches) {
        if (match.begin < done)
            continue;
        if (match.begin > done)
            segments.push_back({text.substr(offsets[done], offsets[match.begin] - offsets[done])});
        segments.push_back(
            {text.substr(offsets[match.begin], offsets[match.end] - offsets[match.begin]),
             match.term});
        done = match.end;
    }
    std::size_t total = offsets.size() - 1;
    if (done < total || segments.empty())
        segments.push_back({text.substr(offsets[done])});
    return segments;
}

bool containsTerms(const std::vector<GlossarySegment>& segments) {
    return std::ranges::any_of(segments, [](const GlossarySegment& s) { return s.term; });
}

} // namespace aurelo::service
