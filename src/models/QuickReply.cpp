#include "models/QuickReply.hpp"

#include "models/ChatSession.hpp"

#include <set>

namespace aurelo {

UserDefaults::Json encodeQuickReplies(const std::vector<QuickReply>& replies) {
    auto array = UserDefaults::Json::array();
    for (const auto& reply : replies)
        array.push_back({{"id", reply.id}, {"title", reply.title}, {"text", reply.text}});
    return array;
}

std::expected<std::vector<QuickReply>, std::string>
decodeQuickReplies(const UserDefaults::Json& value) {
    if (!value.is_array())
        return std::unexpected("the phrase list is not an array");
    std::vector<QuickReply> replies;
    std::set<std::string> ids;
    for (std::size_t index = 0; index < value.size(); ++index) {
        const auto& item = value[index];
        const std::string where = "phrase " + std::to_string(index + 1);
        if (!item.is_object())
            return std::unexpected(where + " is not an object");
        for (const char* key : {"id", "title", "text"}) {
            if (!item.contains(key) || !item[key].is_string())
                return std::unexpected(where + " has no text \"" + key + "\"");
        }
        auto id = canonicalSessionID(item["id"].get<std::string>());
        if (!id)
            return std::unexpected(where + " has an id that is not a UUID");
        if (!ids.insert(*id).second)
            return std::unexpected(where + " repeats the id " + *id);
        replies.push_back({*id, item["title"].get<std::string>(), item["text"].get<std::string>()});
    }
    return replies;
}

} // namespace aurelo
