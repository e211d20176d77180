// Writing glossary terms into markup and reading the plain text back out of a marked-up answer.
#include "service/GlossaryMarkup.hpp"

#include "platform/Text.hpp"

#include <glib.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

namespace aurelo::service {

namespace {

// The character an entity at the start of `entity` ("&amp;", "&#39;", "&#x27;") stands for, and
// the entity's length; nothing for anything else.
std::optional<std::pair<std::string, std::size_t>> decodeEntity(std::string_view entity) {
    std::size_t end = entity.find(';');
    if (end == std::string_view::npos || end > 10)
        return std::nullopt;
    std::string_view name = entity.substr(1, end - 1);
    static constexpr std::pair<std::string_view, std::string_view> kNamed[] = {
        {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", "\u00a0"}};
    for (auto [known, character] : kNamed)
        if (name == known)
            return std::pair{std::string(character), end + 1};
    if (name.size() < 2 || name[0] != '#')
        return std::nullopt;
    bool hex = name[1] == 'x' || name[1] == 'X';
    std::string_view digits = name.substr(hex ? 2 : 1);
    std::uint32_t code = 0;
    auto [rest, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
    if (error != std::errc() || rest != digits.data() + digits.size() || digits.empty() ||
        !g_unichar_validate(code) || code == 0)
        return std::nullopt;
    char utf8[8];
    int length = g_unichar_to_utf8(code, utf8);
    return std::pair{std::string(utf8, static_cast<std::size_t>(length)), end + 1};
}

// "br", "br/", "BR /": the line breaks markupFromSegments writes, as a provider may give them back.
bool isLineBreak(std::string_view tag) {
    while (!tag.empty() && (tag.back() == '/' || tag.back() == ' '))
        tag.remove_suffix(1);
    return tag.size() == 2 && g_ascii_tolower(tag[0]) == 'b' && g_ascii_tolower(tag[1]) == 'r';
}

} // namespace

std::string plainFromMarkup(const std::string& markup) {
    std::string text;
    text.reserve(markup.size());
    for (std::size_t i = 0; i < markup.size();) {
        char c = markup[i];
        if (c == '<') {
            std::size_t close = markup.find('>', i);
            if (close == std::string::npos) {
                text.append(markup, i);
                break;
            }
            if (isLineBreak(std::string_view(markup).substr(i + 1, close - i - 1)))
                text.push_back('\n');
            i = close + 1;
        } else if (c == '&') {
            if (auto entity = decodeEntity(std::string_view(markup).substr(i))) {
                text += entity->first;
                i += entity->second;
            } else {
                text.push_back(c);
                ++i;
            }
        } else {
            text.push_back(c);
            ++i;
        }
    }
    return text;
}

std::string
markupFromSegments(const std::vector<GlossarySegment>& segments,
                   const std::function<std::string(const GlossarySegment&)>& writeTerm) {
    std::string markup;
    for (const auto& segment : segments) {
        if (segment.term) {
            markup += writeTerm(segment);
            continue;
        }
        // HTML folds a line break into a space: it travels as an element of its own.
        for (char c : text::escapedMarkup(segment.text))
            c == '\n' ? markup += "<br/>" : markup += c;
    }
    return markup;
}

std::vector<const GlossaryTerm*> termsIn(const std::vector<GlossarySegment>& segments) {
    std::vector<const GlossaryTerm*> terms;
    for (const auto& segment : segments)
        if (segment.term && std::ranges::find(terms, segment.term) == terms.end())
            terms.push_back(segment.term);
    return terms;
}

} // namespace aurelo::service
