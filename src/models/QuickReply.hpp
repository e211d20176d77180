#pragma once

// "常用语": the phrases an agent answers with all day, each put into a chat with one pick.

#include "platform/UserDefaults.hpp"

#include <expected>
#include <string>
#include <vector>

namespace aurelo {

struct QuickReply {
    // Canonical upper-case UUID text.
    std::string id;
    std::string title;
    std::string text;

    friend bool operator==(const QuickReply&, const QuickReply&) = default;
};

// The stored form under "aureloTranslator.quickReplies": a JSON array of
// {"id": UUID, "title": string, "text": string}, in the user's order.
UserDefaults::Json encodeQuickReplies(const std::vector<QuickReply>& replies);
// Reads the stored form. A member that is missing or of another type, an id that is not a UUID
// or one that appears twice fails the whole list with a reason: the list is then kept aside,
// never half-read.
std::expected<std::vector<QuickReply>, std::string>
decodeQuickReplies(const UserDefaults::Json& value);

} // namespace aurelo
