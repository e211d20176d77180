#pragma once

// One account tab: a login to one chat platform or custom website, with its own languages,
// engine, translation look and proxy. Every field but `id` and `name` is optional; an absent
// field means the session follows the global setting (see effectiveSettings).

#include "models/ChatLanguage.hpp"
#include "platform/UserDefaults.hpp"
#include "translation/TranslationProvider.hpp"

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace aurelo {

inline constexpr std::string_view kWhatsAppWebURL = "https://web.whatsapp.com/";

struct ChatSession {
    // Canonical upper-case UUID text; also names the session's website data.
    std::string id;
    std::string name;
    std::optional<std::string> urlString;
    std::optional<std::string> inputLanguageCode;
    std::optional<std::string> outgoingLanguageCode;
    std::optional<std::string> incomingLanguageCode;
    std::optional<std::string> ownMessageLanguageCode;
    std::optional<std::string> translationProvider;
    std::optional<bool> sendTranslationEnabled;
    std::optional<bool> receiveTranslationEnabled;
    std::optional<double> translationFontSize;
    std::optional<std::string> translationFontColor;
    std::optional<std::string> proxyType;
    std::optional<std::string> proxyHost;
    std::optional<int> proxyPort;
    // The proxy's user name; absent when empty. Its password lives in the keychain, never here
    // (see ProxyPasswords).
    std::optional<std::string> proxyUsername;
    // "自动休眠": minutes not shown after which the page sleeps (5, 15, 30 or 60); absent: never.
    // Read leniently: a value that is not one of these is dropped, never fails the list, so an
    // older or hand-edited file keeps all its accounts.
    std::optional<int> autoHibernateMinutes;
    // "拼写检查": the composer is checked while the account is on show; absent: on.
    std::optional<bool> spellCheckingEnabled;
    // "消息通知": the page's own notifications reach the desktop; absent: on.
    std::optional<bool> notificationsEnabled;
    // "跟随客户语言": outgoing text goes out in the open conversation's customer language, with
    // `outgoingLanguageCode` as the fallback. Absent: off, so that an account saved before the
    // choice existed keeps its fixed language. Read leniently, as the two switches above.
    std::optional<bool> outgoingFollowsCustomer;

    friend bool operator==(const ChatSession&, const ChatSession&) = default;

    // A session with a fresh id and every optional field absent.
    static ChatSession make(std::string name, std::optional<std::string> urlString = std::nullopt);

    // The address the page opens: `urlString`, or WhatsApp Web when it is absent.
    std::string effectiveURL() const;
    // The lower-cased host of `urlString`; nullopt when it is absent, does not parse or has no
    // host. Never fails, whatever was stored.
    std::optional<std::string> host() const;

    bool isWhatsApp() const;
    bool isInstagram() const;
    bool isFacebook() const;
};

// The delays "自动休眠" offers, in minutes.
inline constexpr int kHibernationMinutes[] = {5, 15, 30, 60};
// `minutes` when it is one of them; nullopt otherwise (off).
std::optional<int> validHibernationMinutes(std::optional<int> minutes);

// A fresh random UUID in canonical upper-case form.
std::string newSessionID();
// The canonical upper-case form of a UUID text, or nullopt when it is not a UUID.
std::optional<std::string> canonicalSessionID(std::string_view text);
// The lower-cased host of an address; nullopt when it does not parse or has none.
std::optional<std::string> hostOfAddress(std::string_view address);

// The stored form under "aureloTranslator.sessions": a JSON array, one object per session with
// "id" and "name" always and every other key only when present.
UserDefaults::Json encodeSessions(const std::vector<ChatSession>& sessions);
// Reads the stored form. Any key order; missing optional keys are absent; a missing or
// ill-typed "id" or "name", or any ill-typed member, fails the whole list with a reason.
std::expected<std::vector<ChatSession>, std::string>
decodeSessions(const UserDefaults::Json& value);

// The global settings a session falls back to.
struct SessionDefaults {
    ChatLanguage inputLanguage = ChatLanguage::Automatic;
    ChatLanguage outgoingLanguage = ChatLanguage::English;
    ChatLanguage incomingLanguage = ChatLanguage::Chinese;
    TranslationProvider provider = TranslationProvider::Google;
    bool automaticMessageTranslation = true;
    bool receiveTranslationEnabled = true;
    double translationFontSize = 16;
    std::string translationFontColor = "#D4AF37";
};

// What a session actually uses, each field its own value or the global one.
struct EffectiveSessionSettings {
    std::string url;
    ChatLanguage inputLanguage;
    ChatLanguage outgoingLanguage; // never Automatic or Chinese
    ChatLanguage incomingLanguage;
    ChatLanguage ownMessageLanguage;
    TranslationProvider provider;
    bool sendTranslationEnabled; // always false for sessions that are not WhatsApp
    bool receiveTranslationEnabled;
    double translationFontSize;
    std::string translationFontColor;
    std::string proxyType;
    std::string proxyHost;
    std::optional<int> proxyPort;
    std::string proxyUsername;
    // The outgoing language follows the open conversation; `outgoingLanguage` is its fallback.
    bool outgoingFollowsCustomer = false;

    friend bool operator==(const EffectiveSessionSettings&,
                           const EffectiveSessionSettings&) = default;
};

// The language of a stored code; `fallback` when the code is absent or unknown.
ChatLanguage languageForCode(const std::optional<std::string>& code, ChatLanguage fallback);
// The language a stored outgoing code stands for, never automatic or Chinese (those become
// English): text always leaves in a language the customer can read.
ChatLanguage safeOutgoingLanguage(const std::optional<std::string>& code, ChatLanguage fallback);

EffectiveSessionSettings effectiveSettings(const ChatSession& session,
                                           const SessionDefaults& defaults);

} // namespace aurelo
