#pragma once

// Which language a customer writes in, decided from the detected languages of their messages.

#include "models/ChatLanguage.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace aurelo {

// What is known of one conversation's customer language.
struct ConversationLanguageState {
    // The language the customer's messages were last settled on.
    std::optional<ChatLanguage> detected;
    // The agent's choice for this conversation; it wins over `detected` until cleared.
    std::optional<ChatLanguage> manual;
    // The last (at most two) detections of messages long enough to count, oldest first.
    std::vector<ChatLanguage> recent;

    bool empty() const { return !detected && !manual && recent.empty(); }
    friend bool operator==(const ConversationLanguageState&,
                           const ConversationLanguageState&) = default;
};

enum class ConversationLanguageOrigin { Detected, Manual, Fallback };

struct ConversationLanguageChoice {
    ChatLanguage language;
    ConversationLanguageOrigin origin;
    friend bool operator==(const ConversationLanguageChoice&,
                           const ConversationLanguageChoice&) = default;
};

class ConversationLanguageRule {
public:
    // A message with fewer letters than this says too little about its language: "ok", "👍",
    // "12:30" and names are written alike in many languages, and detectors guess on them.
    static constexpr int kMinimumLetters = 20;

    // Whether a message's text may count towards its conversation's language: enough letters,
    // and not only a link.
    static bool isTelling(std::string_view text);

    // The language a detected code names, when it is one a customer can be answered in: never
    // Chinese (the agent's own, and the source of outgoing text) and never an unknown code.
    // Region and script subtags are dropped ("es-419" is Spanish) and old codes mapped ("iw").
    static std::optional<ChatLanguage> customerLanguage(std::string_view detectedCode);

    // The state after one incoming message. A first telling detection settles an unknown
    // conversation; after that, a detection changes it only when it agrees with the one before.
    static ConversationLanguageState observe(ConversationLanguageState state, std::string_view text,
                                             std::string_view detectedCode);

    // What the conversation's outgoing text is translated into, and why.
    static ConversationLanguageChoice choose(const ConversationLanguageState& state,
                                             ChatLanguage fallback);
};

} // namespace aurelo
