// The account-name rule: what is measured and what is said.
#include "models/AccountName.hpp"

#include "platform/Text.hpp"

#include <glib.h>

namespace aurelo {

std::size_t AccountName::length(std::string_view typed) {
    const std::string name = text::trimmed(typed);
    if (!g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr))
        return name.size();
    return static_cast<std::size_t>(g_utf8_strlen(name.data(), static_cast<gssize>(name.size())));
}

std::string AccountName::problem(std::string_view typed) {
    if (text::trimmed(typed).empty())
        return std::string(kBlank);
    if (length(typed) > kMaximumLength)
        return std::string(kTooLong);
    return {};
}

std::string AccountName::problemWhileTyping(std::string_view typed) {
    return typed.empty() ? std::string() : problem(typed);
}

} // namespace aurelo
