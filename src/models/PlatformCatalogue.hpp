#pragma once

// The chat platforms a session can be created for, and how a session's platform (key, name,
// logo, sidebar entry) is derived from its stored address.

#include "models/ChatSession.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace aurelo {

// The standard colours of the catalogue; the views map them to the theme's palette.
enum class PlatformColor { Green, Cyan, Pink, Purple, Blue, Mint, White, Orange };

struct PlatformEntry {
    std::string id;
    std::string name;
    std::string icon; // symbolic image name
    PlatformColor color;
    std::optional<std::string> logoURL;
    // The chat home page, or "custom" for the custom-website form; absent for WhatsApp.
    std::optional<std::string> url;
    bool available;

    friend bool operator==(const PlatformEntry&, const PlatformEntry&) = default;
};

struct EnabledPlatform {
    std::string id;
    std::string name;
    std::string icon;
    std::optional<std::string> logoURL;
    std::string sessionID; // the first session of the platform, in list order

    friend bool operator==(const EnabledPlatform&, const EnabledPlatform&) = default;
};

inline constexpr std::string_view kCustomPlatformURL = "custom";

const std::vector<PlatformEntry>& platformEntries();

std::string platformKey(const ChatSession& session);
// A site the catalogue does not know: an account added through "添加自定义网站".
bool isCustomWebsite(const ChatSession& session);
// The name the translation box and the rename dialog use for the account's platform: the
// platform's name, or for a custom website (and LINE) the account's own name.
std::string platformName(const ChatSession& session);
// The name of the platform's entry in the sidebar, which stands for all of its accounts: the
// platform's name, and a custom website's site (its host), never the name of the account that
// happens to come first. The site rather than "自定义网站": two custom websites are two entries,
// and "自定义网站" is the app centre's tile that adds one.
std::string platformEntryName(const ChatSession& session);
std::optional<std::string> platformLogoURL(const ChatSession& session);

// The account whose network session (and so whose proxy) may fetch the logo at `logoURL`: the
// first session in list order whose platform has that logo. None when no account of that
// platform exists; the logo is then never fetched.
std::optional<ChatSession> accountForLogo(const std::vector<ChatSession>& sessions,
                                          std::string_view logoURL);

// One entry per platform key, in order of first appearance.
std::vector<EnabledPlatform> enabledPlatforms(const std::vector<ChatSession>& sessions);
// The key of the selected session; nullopt when nothing is selected or the id is unknown.
std::optional<std::string> currentPlatformID(const std::vector<ChatSession>& sessions,
                                             const std::optional<std::string>& selectedID);
// The sessions of the current platform, or all of them when there is none.
std::vector<ChatSession> visibleSessions(const std::vector<ChatSession>& sessions,
                                         const std::optional<std::string>& currentPlatformID);

} // namespace aurelo
