#pragma once

// The rule every account name follows wherever it is typed (a new account, a custom website, a
// rename): trimmed, not blank, at most 30 characters.

#include <cstddef>
#include <string>
#include <string_view>

namespace aurelo {

class AccountName {
public:
    static constexpr std::size_t kMaximumLength = 30;
    static constexpr std::string_view kBlank = "名称不能为空";
    static constexpr std::string_view kTooLong = "名称最多 30 个字符";

    // Characters (Unicode scalar values, as the field's counter counts them) of the trimmed
    // name; bytes for text that is not UTF-8.
    static std::size_t length(std::string_view typed);
    // Why `typed` cannot be an account's name; empty when it can.
    static std::string problem(std::string_view typed);
    // The same while the user is still typing: an empty field is where typing starts, which the
    // sheet's own hint covers, so only blanks and an overlong name are said.
    static std::string problemWhileTyping(std::string_view typed);
};

} // namespace aurelo
