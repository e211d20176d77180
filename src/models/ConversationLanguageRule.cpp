// The rule that settles a conversation's customer language from detections.
#include "models/ConversationLanguageRule.hpp"

#include "platform/Text.hpp"

#include <glib.h>

namespace aurelo {

namespace {

bool isOnlyLink(std::string_view text) {
    const std::string trimmed = text::trimmed(std::string(text));
    if (trimmed.find_first_of(" \t\r\n") != std::string::npos)
        return false;
    const std::string lower = text::asciiLowercased(trimmed);
    return lower.starts_with("http://") || lower.starts_with("https://") ||
           lower.starts_with("www.");
}

} // namespace

bool ConversationLanguageRule::isTelling(std::string_view text) {
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr) ||
        isOnlyLink(text))
        return false;
    int letters = 0;
    for (const char* p = text.data(); p < text.data() + text.size(); p = g_utf8_next_char(p))
        if (g_unichar_isalpha(g_utf8_get_char(p)) && ++letters >= kMinimumLetters)
            return true;
    return false;
}

std::optional<ChatLanguage>
ConversationLanguageRule::customerLanguage(std::string_view detectedCode) {
    std::string primary = text::asciiLowercased(std::string(
        detectedCode.substr(0, std::min(detectedCode.find_first_of("-_"), detectedCode.size()))));
    if (primary == "iw")
        primary = "he";
    else if (primary == "in")
        primary = "id";
    else if (primary == "fil")
        primary = "tl";
    else if (primary == "nb" || primary == "nn")
        primary = "no";
    const auto language = chatLanguageFromCode(primary);
    if (!language || *language == ChatLanguage::Automatic || primary == "zh")
        return std::nullopt;
    return language;
}

ConversationLanguageState ConversationLanguageRule::observe(ConversationLanguageState state,
                                                            std::string_view text,
                                                            std::string_view detectedCode) {
    const auto language = customerLanguage(detectedCode);
    if (!language || !isTelling(text))
        return state;
    state.recent.push_back(*language);
    if (state.recent.size() > 2)
        state.recent.erase(state.recent.begin());
    const bool agrees = state.recent.size() == 2 && state.recent[0] == state.recent[1];
    if (!state.detected || agrees)
        state.detected = *language;
    return state;
}

ConversationLanguageChoice ConversationLanguageRule::choose(const ConversationLanguageState& state,
                                                            ChatLanguage fallback) {
    if (state.manual)
        return {*state.manual, ConversationLanguageOrigin::Manual};
    if (state.detected)
        return {*state.detected, ConversationLanguageOrigin::Detected};
    return {fallback, ConversationLanguageOrigin::Fallback};
}

} // namespace aurelo
