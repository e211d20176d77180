#pragma once

// The account's "发送翻译" choice as its pickers offer it: a fixed language or 跟随客户语言.

#include "models/ChatSession.hpp"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace aurelo {

struct OutgoingLanguageChoice {
    // The picker value that stands for following the customer; no language has this code.
    static constexpr std::string_view kFollowCustomer = "follow";
    static constexpr std::string_view kFollowCustomerTitle = "跟随客户语言";

    // (value, title) of every choice: 跟随客户语言 first, then the outgoing languages.
    static std::vector<std::pair<std::string, std::string>> choices();
    // What the account's picker shows.
    static std::string valueOf(const ChatSession& session, ChatLanguage fallback);
    // Writes a picker value to the account. 跟随客户语言 keeps the account's language as the
    // fallback (`fallback` when it has none); a fixed language ends following (a flag never
    // stored stays unstored) and Chinese is stored as English, as everywhere.
    static void apply(ChatSession& session, const std::string& value, ChatLanguage fallback);
};

} // namespace aurelo
