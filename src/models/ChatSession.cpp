#include "models/ChatSession.hpp"

#include "platform/GRef.hpp"
#include "platform/Text.hpp"
#include "platform/UriRef.hpp"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace aurelo {

namespace {

constexpr std::string_view kWhatsAppDomain = "whatsapp.com";
constexpr std::string_view kInstagramDomain = "instagram.com";
constexpr std::string_view kFacebookDomain = "facebook.com";

bool hostContains(const std::optional<std::string>& host, std::string_view domain) {
    return host && host->find(domain) != std::string::npos;
}

using Json = UserDefaults::Json;

// Each reader returns false for an ill-typed member; an absent or null member leaves the field
// absent (null reads as absent, as it would have been written by a tool that writes nulls).
bool readString(const Json& object, const char* key, std::optional<std::string>& field) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return true;
    if (!it->is_string())
        return false;
    field = it->get<std::string>();
    return true;
}

bool readBool(const Json& object, const char* key, std::optional<bool>& field) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return true;
    if (!it->is_boolean())
        return false;
    field = it->get<bool>();
    return true;
}

bool readDouble(const Json& object, const char* key, std::optional<double>& field) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return true;
    if (!it->is_number())
        return false;
    field = it->get<double>();
    return true;
}

// An integer; a number with a fractional part or out of range is ill-typed. A float that holds
// a whole number (8080.0) is accepted, as other JSON writers produce them.
bool readInt(const Json& object, const char* key, std::optional<int>& field) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return true;
    if (it->is_number_integer()) {
        if (it->is_number_unsigned()) {
            auto value = it->get<std::uint64_t>();
            if (value > static_cast<std::uint64_t>(std::numeric_limits<int>::max()))
                return false;
            field = static_cast<int>(value);
            return true;
        }
        auto value = it->get<std::int64_t>();
        if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
            return false;
        field = static_cast<int>(value);
        return true;
    }
    if (it->is_number_float()) {
        double value = it->get<double>();
        if (std::trunc(value) != value || value < std::numeric_limits<int>::min() ||
            value > std::numeric_limits<int>::max())
            return false;
        field = static_cast<int>(value);
        return true;
    }
    return false;
}

std::expected<ChatSession, std::string> decodeSession(const Json& object, std::size_t index) {
    auto fail = [index](const std::string& what) {
        return std::unexpected("session " + std::to_string(index) + ": " + what);
    };
    if (!object.is_object())
        return fail("not an object");
    ChatSession session;
    auto id = object.find("id");
    if (id == object.end() || !id->is_string())
        return fail("missing or ill-typed \"id\"");
    auto canonical = canonicalSessionID(id->get<std::string>());
    if (!canonical)
        return fail("\"id\" is not a UUID");
    session.id = *canonical;
    auto name = object.find("name");
    if (name == object.end() || !name->is_string())
        return fail("missing or ill-typed \"name\"");
    session.name = name->get<std::string>();

    const bool ok =
        readString(object, "urlString", session.urlString) &&
        readString(object, "inputLanguageCode", session.inputLanguageCode) &&
        readString(object, "outgoingLanguageCode", session.outgoingLanguageCode) &&
        readString(object, "incomingLanguageCode", session.incomingLanguageCode) &&
        readString(object, "ownMessageLanguageCode", session.ownMessageLanguageCode) &&
        readString(object, "translationProvider", session.translationProvider) &&
        readBool(object, "sendTranslationEnabled", session.sendTranslationEnabled) &&
        readBool(object, "receiveTranslationEnabled", session.receiveTranslationEnabled) &&
        readDouble(object, "translationFontSize", session.translationFontSize) &&
        readString(object, "translationFontColor", session.translationFontColor) &&
        readString(object, "proxyType", session.proxyType) &&
        readString(object, "proxyHost", session.proxyHost) &&
        readInt(object, "proxyPort", session.proxyPort) &&
        readString(object, "proxyUsername", session.proxyUsername);
    if (!ok)
        return fail("ill-typed member");
    if (session.proxyUsername && session.proxyUsername->empty())
        session.proxyUsername.reset();
    // Optional behaviour, not data: anything we cannot use means "off" and costs no account.
    std::optional<int> minutes;
    if (readInt(object, "autoHibernateMinutes", minutes))
        session.autoHibernateMinutes = validHibernationMinutes(minutes);
    for (auto [key, field] :
         {std::pair{"spellCheckingEnabled", &session.spellCheckingEnabled},
          std::pair{"notificationsEnabled", &session.notificationsEnabled},
          std::pair{"outgoingFollowsCustomer", &session.outgoingFollowsCustomer}})
        if (auto value = object.find(key); value != object.end() && value->is_boolean())
            *field = value->get<bool>();
    return session;
}

template <typename T>
void writeIfPresent(Json& object, const char* key, const std::optional<T>& field) {
    if (field)
        object[key] = *field;
}

} // namespace

ChatSession ChatSession::make(std::string name, std::optional<std::string> urlString) {
    ChatSession session;
    session.id = newSessionID();
    session.name = std::move(name);
    session.urlString = std::move(urlString);
    return session;
}

std::string ChatSession::effectiveURL() const {
    return urlString ? *urlString : std::string(kWhatsAppWebURL);
}

std::optional<std::string> ChatSession::host() const {
    if (!urlString)
        return std::nullopt;
    return hostOfAddress(*urlString);
}

bool ChatSession::isWhatsApp() const {
    if (!urlString)
        return true;
    return hostContains(host(), kWhatsAppDomain);
}

bool ChatSession::isInstagram() const {
    return hostContains(hostOfAddress(effectiveURL()), kInstagramDomain);
}

bool ChatSession::isFacebook() const {
    return hostContains(hostOfAddress(effectiveURL()), kFacebookDomain);
}

std::optional<int> validHibernationMinutes(std::optional<int> minutes) {
    if (minutes &&
        std::ranges::find(kHibernationMinutes, *minutes) != std::end(kHibernationMinutes))
        return minutes;
    return std::nullopt;
}

std::string newSessionID() {
    return *canonicalSessionID(adoptString(g_uuid_string_random()));
}

std::optional<std::string> canonicalSessionID(std::string_view text) {
    // The length first: GLib reads up to the first NUL, and what follows it would otherwise be
    // kept in an id that also names a directory.
    std::string copy(text);
    if (copy.size() != 36 || !g_uuid_string_is_valid(copy.c_str()))
        return std::nullopt;
    return text::asciiUppercased(copy);
}

std::optional<std::string> hostOfAddress(std::string_view address) {
    const UriRef uri = parseUri(address);
    if (!uri)
        return std::nullopt;
    const char* host = g_uri_get_host(uri.get());
    if (!host || !*host)
        return std::nullopt;
    return text::asciiLowercased(host);
}

UserDefaults::Json encodeSessions(const std::vector<ChatSession>& sessions) {
    Json array = Json::array();
    for (const auto& session : sessions) {
        Json object = Json::object();
        object["id"] = session.id;
        object["name"] = session.name;
        writeIfPresent(object, "urlString", session.urlString);
        writeIfPresent(object, "inputLanguageCode", session.inputLanguageCode);
        writeIfPresent(object, "outgoingLanguageCode", session.outgoingLanguageCode);
        writeIfPresent(object, "incomingLanguageCode", session.incomingLanguageCode);
        writeIfPresent(object, "ownMessageLanguageCode", session.ownMessageLanguageCode);
        writeIfPresent(object, "translationProvider", session.translationProvider);
        writeIfPresent(object, "sendTranslationEnabled", session.sendTranslationEnabled);
        writeIfPresent(object, "receiveTranslationEnabled", session.receiveTranslationEnabled);
        if (session.translationFontSize) {
            // Whole sizes are written as integers (16, not 16.0), as other JSON writers do.
            double size = *session.translationFontSize;
            if (std::isfinite(size) && std::trunc(size) == size && std::fabs(size) < 1e15)
                object["translationFontSize"] = static_cast<std::int64_t>(size);
            else if (std::isfinite(size))
                object["translationFontSize"] = size;
        }
        writeIfPresent(object, "translationFontColor", session.translationFontColor);
        writeIfPresent(object, "proxyType", session.proxyType);
        writeIfPresent(object, "proxyHost", session.proxyHost);
        writeIfPresent(object, "proxyPort", session.proxyPort);
        if (session.proxyUsername && !session.proxyUsername->empty())
            object["proxyUsername"] = *session.proxyUsername;
        writeIfPresent(object, "autoHibernateMinutes",
                       validHibernationMinutes(session.autoHibernateMinutes));
        writeIfPresent(object, "spellCheckingEnabled", session.spellCheckingEnabled);
        writeIfPresent(object, "notificationsEnabled", session.notificationsEnabled);
        writeIfPresent(object, "outgoingFollowsCustomer", session.outgoingFollowsCustomer);
        array.push_back(std::move(object));
    }
    return array;
}

std::expected<std::vector<ChatSession>, std::string>
decodeSessions(const UserDefaults::Json& value) {
    if (!value.is_array())
        return std::unexpected("the session list is not a JSON array");
    std::vector<ChatSession> sessions;
    sessions.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        auto session = decodeSession(value[i], i);
        if (!session)
            return std::unexpected(session.error());
        sessions.push_back(std::move(*session));
    }
    return sessions;
}

ChatLanguage languageForCode(const std::optional<std::string>& code, ChatLanguage fallback) {
    if (code)
        if (auto known = chatLanguageFromCode(*code))
            return *known;
    return fallback;
}

ChatLanguage safeOutgoingLanguage(const std::optional<std::string>& code, ChatLanguage fallback) {
    const ChatLanguage language = languageForCode(code, fallback);
    if (language == ChatLanguage::Automatic || language == ChatLanguage::Chinese)
        return ChatLanguage::English;
    return language;
}

EffectiveSessionSettings effectiveSettings(const ChatSession& session,
                                           const SessionDefaults& defaults) {
    const auto language = languageForCode;
    EffectiveSessionSettings result;
    result.url = session.effectiveURL();
    result.inputLanguage = language(session.inputLanguageCode, defaults.inputLanguage);
    result.outgoingLanguage =
        safeOutgoingLanguage(session.outgoingLanguageCode, defaults.outgoingLanguage);
    result.outgoingFollowsCustomer = session.outgoingFollowsCustomer.value_or(false);
    result.incomingLanguage = language(session.incomingLanguageCode, defaults.incomingLanguage);
    result.ownMessageLanguage = language(session.ownMessageLanguageCode, ChatLanguage::Chinese);
    result.provider = defaults.provider;
    if (session.translationProvider)
        if (auto known = translationProviderFromRawValue(*session.translationProvider))
            result.provider = *known;
    result.sendTranslationEnabled =
        session.isWhatsApp() &&
        session.sendTranslationEnabled.value_or(defaults.automaticMessageTranslation);
    result.receiveTranslationEnabled =
        session.receiveTranslationEnabled.value_or(defaults.receiveTranslationEnabled);
    result.translationFontSize = session.translationFontSize.value_or(defaults.translationFontSize);
    result.translationFontColor =
        session.translationFontColor.value_or(defaults.translationFontColor);
    result.proxyType = session.proxyType.value_or("http");
    result.proxyHost = session.proxyHost.value_or("");
    result.proxyPort = session.proxyPort;
    result.proxyUsername = session.proxyUsername.value_or("");
    return result;
}

} // namespace aurelo
