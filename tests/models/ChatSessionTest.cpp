#include "models/ChatSession.hpp"
#include "models/PlatformCatalogue.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

using Json = UserDefaults::Json;

constexpr const char* kChatId = "0A1B2C3D-4E5F-4061-8273-849506A7B8C9";

ChatSession sessionAt(std::optional<std::string> url, std::string name = "My Chat") {
    return ChatSession::make(std::move(name), std::move(url));
}

// A stored account with its id and name followed by `members`.
std::string storedAccount(const std::string& members) {
    return R"({"id": ")" + std::string(kChatId) + R"(", "name": "x")" + members + "}";
}

TEST(ChatSessionCodingTest, StoredFormRoundTripsWithOnlyPresentKeysCanonicalIdsAndIntegers) {
    const std::string stored =
        R"([{"id":"0A1B2C3D-4E5F-4061-8273-849506A7B8C9","name":"WhatsApp 1"},)"
        R"({"id":"0A1B2C3D-4E5F-4061-8273-849506A7B8C9","name":"Shop",)"
        R"("urlString":"https://web.telegram.org/","inputLanguageCode":"auto",)"
        R"("outgoingLanguageCode":"es","incomingLanguageCode":"zh-CN",)"
        R"("ownMessageLanguageCode":"en","translationProvider":"deepl",)"
        R"("sendTranslationEnabled":true,"receiveTranslationEnabled":false,)"
        R"("translationFontSize":16,"translationFontColor":"#D4AF37","proxyType":"socks5",)"
        R"("proxyHost":"127.0.0.1","proxyPort":1080,"proxyUsername":"user@isp:1",)"
        R"("autoHibernateMinutes":15},)"
        R"({"id":"0A1B2C3D-4E5F-4061-8273-849506A7B8C9","name":"WhatsApp 1",)"
        R"("translationFontSize":13.5}])";
    auto decoded = decodeSessions(Json::parse(stored));
    ASSERT_TRUE(decoded) << decoded.error();
    EXPECT_EQ(encodeSessions(*decoded).dump(), stored);
    EXPECT_EQ((*decoded)[1].proxyPort, 1080);
    EXPECT_EQ((*decoded)[1].proxyUsername, "user@isp:1");
    EXPECT_EQ((*decoded)[2].translationFontSize, 13.5);

    // Any key order, lower-case ids, integral doubles, nulls, empty user names and unknown keys.
    decoded = decodeSessions(Json::parse(
        R"([{"proxyPort": 8080.0, "name": "A", "id": "0a1b2c3d-4e5f-4061-8273-849506a7b8c9",
             "proxyHost": null, "proxyUsername": "", "futureField": [1]}])"));
    ASSERT_TRUE(decoded) << decoded.error();
    EXPECT_EQ((*decoded)[0].id, kChatId);
    EXPECT_EQ((*decoded)[0].proxyPort, 8080);
    EXPECT_EQ((*decoded)[0].proxyHost, std::nullopt);
    EXPECT_EQ((*decoded)[0].proxyUsername, std::nullopt);

    // Nothing is written for an empty user name or a delay that is not offered.
    ChatSession unusable = sessionAt(std::nullopt, "x");
    unusable.proxyUsername = "";
    unusable.autoHibernateMinutes = 42;
    EXPECT_EQ(encodeSessions({unusable})[0], (Json{{"id", unusable.id}, {"name", "x"}}));
}

// An ill-typed member fails the list, so that it is kept aside instead of an account silently
// losing a setting such as its proxy login.
TEST(ChatSessionCodingTest, AnyIllTypedMemberMakesTheWholeListUnreadable) {
    const std::vector<std::string> bad = {
        R"({"name": "no id"})",
        R"({"id": "0A1B2C3D-4E5F-4061-8273-849506A7B8C9"})",
        R"({"id": 5, "name": "numeric id"})",
        R"({"id": "not-a-uuid", "name": "x"})",
        R"({"id": "0A1B2C3D-4E5F-4061-8273-849506A7B8C9", "name": 3})",
        storedAccount(R"(, "proxyPort": "80")"),
        storedAccount(R"(, "proxyPort": 80.5)"),
        storedAccount(R"(, "proxyPort": 1e12)"),
        storedAccount(R"(, "proxyUsername": 7)"),
        storedAccount(R"(, "sendTranslationEnabled": 1)"),
        storedAccount(R"(, "translationFontSize": "16")"),
        storedAccount(R"(, "urlString": {})"),
        R"("just a string")",
    };
    for (const auto& element : bad)
        EXPECT_FALSE(decodeSessions(Json::parse("[" + storedAccount("") + "," + element + "]")))
            << element;
    EXPECT_FALSE(decodeSessions(Json::parse(storedAccount(""))));
    EXPECT_FALSE(decodeSessions(Json("[]")));
}

TEST(ChatSessionCodingTest, ADamagedHibernationDelayMeansOffAndCostsNothingElse) {
    const auto decodeWith = [](const std::string& delay) {
        return decodeSessions(Json::parse(
            "[" + storedAccount(R"(, "proxyPort": 80, "autoHibernateMinutes": )" + delay) + "]"));
    };
    EXPECT_EQ(decodeWith("60.0").value()[0].autoHibernateMinutes, 60);
    for (std::string delay : {"7", "0", "-5", "5.5", "\"15\"", "true", "1e40", "null", "{}"}) {
        auto decoded = decodeWith(delay);
        ASSERT_TRUE(decoded) << delay << ": " << decoded.error();
        EXPECT_EQ((*decoded)[0].autoHibernateMinutes, std::nullopt) << delay;
        EXPECT_EQ((*decoded)[0].proxyPort, 80) << delay;
    }
}

TEST(ChatSessionTest, NewIdsAreCanonicalAndDistinct) {
    std::string a = newSessionID();
    EXPECT_EQ(canonicalSessionID(a), a);
    EXPECT_EQ(a.size(), 36u);
    EXPECT_EQ(a.find_first_of("abcdef"), std::string::npos);
    EXPECT_NE(a, newSessionID());
}

TEST(ChatSessionTest, EffectiveValuesFallBackToTheGlobalSettings) {
    SessionDefaults defaults;
    defaults.inputLanguage = ChatLanguage::Japanese;
    defaults.outgoingLanguage = ChatLanguage::Chinese; // never used for outgoing text
    defaults.incomingLanguage = ChatLanguage::Korean;
    defaults.provider = TranslationProvider::Claude;
    defaults.automaticMessageTranslation = true;

    ChatSession whatsapp = sessionAt(std::nullopt);
    whatsapp.proxyUsername = "u";
    using L = ChatLanguage;
    EXPECT_EQ(effectiveSettings(whatsapp, defaults),
              (EffectiveSessionSettings{"https://web.whatsapp.com/", L::Japanese, L::English,
                                        L::Korean, L::Chinese, TranslationProvider::Claude, true,
                                        true, 16, "#D4AF37", "http", "", std::nullopt, "u"}));

    // Unknown codes fall back; a stored automatic outgoing language becomes English too.
    whatsapp.inputLanguageCode = "xx";
    whatsapp.outgoingLanguageCode = "auto";
    whatsapp.translationProvider = "babelfish";
    whatsapp.ownMessageLanguageCode = "fr";
    auto effective = effectiveSettings(whatsapp, defaults);
    EXPECT_EQ(effective.inputLanguage, ChatLanguage::Japanese);
    EXPECT_EQ(effective.outgoingLanguage, ChatLanguage::English);
    EXPECT_EQ(effective.provider, TranslationProvider::Claude);
    EXPECT_EQ(effective.ownMessageLanguage, ChatLanguage::French);

    // Send translation exists only for WhatsApp, whatever the session says.
    ChatSession telegram = sessionAt("https://web.telegram.org/");
    telegram.sendTranslationEnabled = true;
    EXPECT_FALSE(effectiveSettings(telegram, defaults).sendTranslationEnabled);
}

struct PlatformCase {
    std::optional<std::string> url;
    std::string name;
    std::string key;
    std::string platformName;
    std::optional<std::string> logo;
};

// Every catalogue entry is checked below; here the rules around them.
TEST(PlatformCatalogueTest, KeyNameAndLogoComeFromTheStoredAddress) {
    const std::string whatsappLogo = "https://www.whatsapp.com/favicon.ico";
    const PlatformCase cases[] = {
        {std::nullopt, "Sales", "whatsapp", "WhatsApp", whatsappLogo},
        {"https://web.whatsapp.com/", "Sales", "whatsapp", "WhatsApp", whatsappLogo},
        {"https://www.instagram.com/direct/inbox/", "Insta", "instagram", "Instagram",
         "https://www.instagram.com/favicon.ico"},
        {"https://www.facebook.com/messages/", "FB", "facebook", "Facebook",
         "https://www.facebook.com/favicon.ico"},
        {"https://WEB.Telegram.org/", "TG", "web.telegram.org", "Telegram",
         "https://telegram.org/favicon.ico"},
        // LINE has a logo but shows the session's own name.
        {"https://line.me/", "My LINE", "line.me", "My LINE", "https://line.me/favicon.ico"},
        {"https://shop.example.com:8443/chat?x=1", "Shop", "shop.example.com", "Shop",
         std::nullopt},
        // Addresses that do not parse or have no host never fail: the name stands in.
        {"not a url at all", "Broken ÄB", "broken äb", "Broken ÄB", std::nullopt},
        {"https://", "Empty", "empty", "Empty", std::nullopt},
        {"mailto:someone@example.com", "Mail", "mail", "Mail", std::nullopt},
        {"", "Blank", "blank", "Blank", std::nullopt},
        {std::string("http://\xff\xfe/"), "Bytes", "bytes", "Bytes", std::nullopt},
    };
    for (const auto& c : cases) {
        ChatSession session = sessionAt(c.url, c.name);
        SCOPED_TRACE(c.url.value_or("<none>"));
        EXPECT_EQ(platformKey(session), c.key);
        EXPECT_EQ(platformName(session), c.platformName);
        EXPECT_EQ(platformLogoURL(session), c.logo);
    }
    EXPECT_FALSE(sessionAt("not a url").isWhatsApp());
}

TEST(PlatformCatalogueTest, ASessionMadeFromAnEntryIsRecognisedAsItsPlatform) {
    for (const auto& entry : platformEntries()) {
        if (!entry.url || *entry.url == "custom" || entry.id == "line")
            continue;
        EXPECT_EQ(platformName(sessionAt(entry.url, "x")), entry.name) << entry.id;
        EXPECT_EQ(platformLogoURL(sessionAt(entry.url, "x")), entry.logoURL) << entry.id;
    }
}

TEST(PlatformCatalogueTest, EnabledPlatformsGroupSessionsByKeyInFirstAppearanceOrder) {
    std::vector<ChatSession> sessions = {
        sessionAt("https://web.telegram.org/", "TG 1"),
        sessionAt(std::nullopt, "WhatsApp 1"),
        sessionAt("https://shop.example.com/", "Shop"),
        sessionAt("https://web.telegram.org/", "TG 2"),
        sessionAt("https://www.instagram.com/direct/inbox/", "IG"),
        sessionAt("https://line.me/", "My LINE"),
        sessionAt("https://help.example.org/", "Help desk"),
    };
    auto platforms = enabledPlatforms(sessions);
    ASSERT_EQ(platforms.size(), 6u);
    EXPECT_EQ(platforms[0], (EnabledPlatform{"web.telegram.org", "Telegram", "globe",
                                             "https://telegram.org/favicon.ico", sessions[0].id}));
    EXPECT_EQ(platforms[1].icon, "phone.bubble.fill");
    EXPECT_EQ(platforms[2].id, "shop.example.com");
    EXPECT_EQ(platforms[2].logoURL, std::nullopt);
    EXPECT_EQ(platforms[3].icon, "camera.fill");
    // An entry stands for every account of its platform: it never takes the first account's
    // name. A custom website's entry is its site.
    const std::pair<std::size_t, std::string> entries[] = {
        {0, "Telegram"},  {1, "WhatsApp"}, {2, "shop.example.com"},
        {3, "Instagram"}, {4, "LINE"},     {5, "help.example.org"},
    };
    for (const auto& [index, name] : entries)
        EXPECT_EQ(platforms[index].name, name) << index;
    EXPECT_EQ(enabledPlatforms({sessionAt("not a url", "Broken")}).front().name, "自定义网站")
        << "a custom website without a host";

    auto current = currentPlatformID(sessions, sessions[3].id);
    EXPECT_EQ(current, "web.telegram.org");
    auto visible = visibleSessions(sessions, current);
    ASSERT_EQ(visible.size(), 2u);
    EXPECT_EQ(visible[1].name, "TG 2");
    EXPECT_EQ(currentPlatformID(sessions, std::string("UNKNOWN")), std::nullopt);
    EXPECT_EQ(visibleSessions(sessions, std::nullopt).size(), sessions.size());
}

} // namespace
} // namespace aurelo
