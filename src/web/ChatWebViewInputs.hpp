#pragma once

#include "models/ChatLanguage.hpp"
#include "translation/TranslationTypes.hpp"
#include "models/WebPageCommand.hpp"
#include "web/PageHealth.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace aurelo {

// What the window hands the host of one session, field for field. Fields marked "creation" are
// read only when the view is built; the window replaces the host when one of them changes.
struct ChatWebViewInputs {
    std::string sessionID;                                   // creation
    std::string pageURL;                                     // creation
    TranslationConfiguration translationConfiguration;       // every update
    bool automaticMessageTranslation = false;                // creation
    // False on platforms where outgoing text is translated with the translation box instead of
    // before sending; the page then says so rather than asking for a switch that cannot help.
    bool sendTranslationAvailable = true;                    // creation
    bool receiveTranslationEnabled = true;                   // creation
    double translationFontSize = 16.0;                       // creation
    std::string translationFontColor = "#D4AF37";            // creation
    bool isActive = false;                                   // every update
    ChatLanguage inputLanguage = ChatLanguage::Chinese;      // creation
    ChatLanguage outgoingLanguage = ChatLanguage::English;   // creation
    // "跟随客户语言": the page reports the open conversation and sends in its customer's
    // language, which `conversationLanguage` gives; `outgoingLanguage` is the fallback.
    bool followsConversation = false; // creation
    // The open conversation (as the page reported it) and its outgoing language, while the
    // account follows the customer; the page and the spelling checker are told of each change.
    std::optional<std::pair<std::optional<std::string>, ChatLanguage>>
        conversationLanguage;                                // every update
    ChatLanguage incomingLanguage = ChatLanguage::Chinese;   // creation
    ChatLanguage ownMessageLanguage = ChatLanguage::Chinese; // creation
    std::string proxyType = "http";                          // creation
    std::string proxyHost;                                   // creation
    std::optional<long long> proxyPort;                      // creation
    std::string proxyUsername;                               // creation
    std::string proxyPassword;                               // creation
    std::string reloadToken;                                 // every update
    double pageZoom = 1.0;                                   // every update
    // "拼写检查": the composer is checked in the outgoing language and English while shown.
    bool spellChecking = true;                               // every update
    // "消息通知": the page's own notifications reach the desktop.
    bool notificationsEnabled = true;                        // every update
    std::function<void(int)> onUnreadCountChanged;            // creation
    std::function<void(bool)> onMessagesRecognised;           // creation
    // The page's conversation reports and the detected languages of customers' messages.
    std::function<void(std::optional<std::string>)> onConversationReported; // creation
    std::function<void(const std::string& conversation, const std::string& text,
                       const std::string& code)>
        onIncomingLanguage;                                   // creation
    std::function<void(const PageHealth&)> onHealthChanged;   // creation
    // The proportional set size (KiB) of the page's web process, measured every so often.
    std::function<void(std::uint64_t)> onMemoryMeasured;      // creation
};

} // namespace aurelo
