#include "models/PlatformCatalogue.hpp"

#include "platform/Text.hpp"

#include <algorithm>
#include <set>

namespace aurelo {

namespace {

struct HostedPlatform {
    const char* host; // host of the catalogue home page
    const char* name;
    const char* logoURL;
    const char* catalogueName; // the platform's entry in the sidebar
};

constexpr const char* kWhatsAppLogo = "https://www.whatsapp.com/favicon.ico";
constexpr const char* kInstagramLogo = "https://www.instagram.com/favicon.ico";
constexpr const char* kFacebookLogo = "https://www.facebook.com/favicon.ico";

// The catalogue platforms recognised by exact host. LINE has a logo but no name of its own, so
// LINE sessions show the name the user gave them.
constexpr HostedPlatform kHostedPlatforms[] = {
    {"web.telegram.org", "Telegram", "https://telegram.org/favicon.ico", "Telegram"},
    {"www.messenger.com", "Messenger", "https://www.messenger.com/favicon.ico", "Messenger"},
    {"chat.google.com", "Google Chat", "https://chat.google.com/favicon.ico", "Google Chat"},
    {"line.me", nullptr, "https://line.me/favicon.ico", "LINE"},
    {"x.com", "X / Twitter", "https://x.com/favicon.ico", "X / Twitter"},
    {"www.tiktok.com", "TikTok", "https://www.tiktok.com/favicon.ico", "TikTok"},
};

const HostedPlatform* hostedPlatform(const std::optional<std::string>& host) {
    if (!host)
        return nullptr;
    for (const auto& platform : kHostedPlatforms)
        if (*host == platform.host)
            return &platform;
    return nullptr;
}

bool isWhatsAppKeyed(const ChatSession& session) {
    return !session.urlString ||
           session.host().value_or("").find("whatsapp.com") != std::string::npos;
}

} // namespace

bool isCustomWebsite(const ChatSession& session) {
    return !isWhatsAppKeyed(session) && !session.isInstagram() && !session.isFacebook() &&
           !hostedPlatform(session.host());
}

const std::vector<PlatformEntry>& platformEntries() {
    using enum PlatformColor;
    static const std::vector<PlatformEntry> entries{
        {"whatsapp", "WhatsApp", "phone.bubble.fill", Green, kWhatsAppLogo, std::nullopt, true},
        {"telegram", "Telegram", "paperplane.fill", Cyan, "https://telegram.org/favicon.ico",
         "https://web.telegram.org/", true},
        {"instagram", "Instagram", "camera.fill", Pink, kInstagramLogo,
         "https://www.instagram.com/direct/inbox/", true},
        {"messenger", "Messenger", "bolt.bubble.fill", Purple,
         "https://www.messenger.com/favicon.ico", "https://www.messenger.com/", true},
        {"facebook", "Facebook", "person.2.fill", Blue, kFacebookLogo,
         "https://www.facebook.com/messages/", true},
        {"googlechat", "Google Chat", "bubble.left.and.bubble.right.fill", Mint,
         "https://chat.google.com/favicon.ico", "https://chat.google.com/", true},
        {"line", "LINE", "ellipsis.bubble.fill", Green, "https://line.me/favicon.ico",
         "https://line.me/", false},
        {"x", "X / Twitter", "at", White, "https://x.com/favicon.ico", "https://x.com/messages",
         true},
        {"tiktok", "TikTok", "music.note", Pink, "https://www.tiktok.com/favicon.ico",
         "https://www.tiktok.com/messages", true},
        {"custom", "自定义网站", "globe", Orange, std::nullopt, std::string(kCustomPlatformURL),
         true},
    };
    return entries;
}

std::string platformKey(const ChatSession& session) {
    if (isWhatsAppKeyed(session))
        return "whatsapp";
    if (session.isInstagram())
        return "instagram";
    if (session.isFacebook())
        return "facebook";
    if (auto host = session.host())
        return *host;
    return text::lowercased(session.name);
}

std::string platformName(const ChatSession& session) {
    if (isWhatsAppKeyed(session))
        return "WhatsApp";
    if (session.isInstagram())
        return "Instagram";
    if (session.isFacebook())
        return "Facebook";
    if (const auto* platform = hostedPlatform(session.host()); platform && platform->name)
        return platform->name;
    return session.name;
}

std::string platformEntryName(const ChatSession& session) {
    if (isCustomWebsite(session)) {
        if (auto host = session.host())
            return *host;
        for (const auto& entry : platformEntries())
            if (entry.url == kCustomPlatformURL)
                return entry.name;
    }
    if (const auto* platform = hostedPlatform(session.host()))
        return platform->catalogueName;
    return platformName(session);
}

std::optional<std::string> platformLogoURL(const ChatSession& session) {
    if (isWhatsAppKeyed(session))
        return kWhatsAppLogo;
    if (session.isInstagram())
        return kInstagramLogo;
    if (session.isFacebook())
        return kFacebookLogo;
    if (const auto* platform = hostedPlatform(session.host()))
        return platform->logoURL;
    return std::nullopt;
}

std::optional<ChatSession> accountForLogo(const std::vector<ChatSession>& sessions,
                                          std::string_view logoURL) {
    for (const auto& session : sessions)
        if (platformLogoURL(session) == logoURL)
            return session;
    return std::nullopt;
}

std::vector<EnabledPlatform> enabledPlatforms(const std::vector<ChatSession>& sessions) {
    std::vector<EnabledPlatform> result;
    std::set<std::string> seen;
    for (const auto& session : sessions) {
        std::string key = platformKey(session);
        if (!seen.insert(key).second)
            continue;
        std::string icon = key == "whatsapp"    ? "phone.bubble.fill"
                           : key == "instagram" ? "camera.fill"
                           : key == "facebook"  ? "person.2.fill"
                                                : "globe";
        result.push_back({key, platformEntryName(session), std::move(icon),
                          platformLogoURL(session), session.id});
    }
    return result;
}

std::optional<std::string> currentPlatformID(const std::vector<ChatSession>& sessions,
                                             const std::optional<std::string>& selectedID) {
    if (!selectedID)
        return std::nullopt;
    auto it = std::ranges::find(sessions, *selectedID, &ChatSession::id);
    if (it == sessions.end())
        return std::nullopt;
    return platformKey(*it);
}

std::vector<ChatSession> visibleSessions(const std::vector<ChatSession>& sessions,
                                         const std::optional<std::string>& currentPlatformID) {
    if (!currentPlatformID)
        return sessions;
    std::vector<ChatSession> result;
    for (const auto& session : sessions)
        if (platformKey(session) == *currentPlatformID)
            result.push_back(session);
    return result;
}

} // namespace aurelo
