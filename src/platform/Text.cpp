#include "platform/Text.hpp"

#include "platform/GRef.hpp"

namespace aurelo::text {

namespace {

bool isAsciiSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

} // namespace

bool isTrimmedSpace(gunichar c) {
    // g_unichar_isspace() knows the separators and \t \n \f \r, but not \v.
    return g_unichar_isspace(c) || c == 0x0B || c == 0x85 || c == 0x1680 || c == 0x180E ||
           c == 0x200B;
}

std::string trimmed(std::string_view text) {
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
        while (!text.empty() && isAsciiSpace(text.front()))
            text.remove_prefix(1);
        while (!text.empty() && isAsciiSpace(text.back()))
            text.remove_suffix(1);
        return std::string(text);
    }
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    while (begin < end && isTrimmedSpace(g_utf8_get_char(begin)))
        begin = g_utf8_next_char(begin);
    while (end > begin) {
        const char* previous = g_utf8_find_prev_char(begin, end);
        if (!previous || !isTrimmedSpace(g_utf8_get_char(previous)))
            break;
        end = previous;
    }
    return std::string(begin, end);
}

std::string asciiLowercased(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = g_ascii_tolower(c);
    return result;
}

std::string asciiUppercased(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = g_ascii_toupper(c);
    return result;
}

std::string lowercased(std::string_view text) {
    const GCharPtr valid(g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
    return adoptString(g_utf8_strdown(valid.get(), -1));
}

std::string escapedMarkup(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        default:
            escaped.push_back(c);
        }
    }
    return escaped;
}

} // namespace aurelo::text
