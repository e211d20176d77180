// Rules of the web layer that need no page: script filling, page calls, message conversion,
// proxy routes, session paths, navigation, download names and zoom.

#include "web/BridgeMessage.hpp"
#include "web/DownloadNaming.hpp"
#include "web/NavigationPolicy.hpp"
#include "web/PageScript.hpp"
#include "web/ProxyRoute.hpp"
#include "web/WebPageCommand.hpp"
#include "web/WebSessionPaths.hpp"

#include <glib.h>
#include <gtest/gtest.h>

#include <climits>
#include <set>

namespace aurelo {
namespace {

using nlohmann::json;

TEST(PageScriptTest, FillsEveryPlaceholderEveryTime) {
    ChatWebViewInputs inputs;
    inputs.automaticMessageTranslation = true;
    inputs.isActive = false;
    inputs.receiveTranslationEnabled = true;
    inputs.translationFontSize = 15.9;
    inputs.translationFontColor = R"(#fff" + alert(1) + ")";
    inputs.inputLanguage = ChatLanguage::Chinese;
    inputs.outgoingLanguage = ChatLanguage::English;
    inputs.incomingLanguage = ChatLanguage::Automatic;
    inputs.ownMessageLanguage = ChatLanguage::Japanese;
    const std::string script = fillPageScript(
        "a=__SEND_TRANSLATE__;b=__TRANSLATION_ACTIVE__;c=__RECEIVE_TRANSLATE__;"
        "d=__TRANSLATION_FONT_SIZE__;e=__TRANSLATION_FONT_COLOR__;f=__INPUT_LANGUAGE__;"
        "g=__OUTGOING_LANGUAGE__;h=__INCOMING_LANGUAGE__;i=__OWN_MESSAGE_LANGUAGE__;"
        "again=__SEND_TRANSLATE__",
        inputs);
    EXPECT_EQ(script, R"(a=true;b=false;c=true;d=15;e=["#fff\" + alert(1) + \""][0];)"
                      R"(f=["zh-CN"][0];g=["en"][0];h=["auto"][0];i=["ja"][0];again=true)");
    // A colour naming a placeholder stays the colour.
    inputs.translationFontColor = "__INPUT_LANGUAGE__";
    EXPECT_EQ(fillPageScript("c=__TRANSLATION_FONT_COLOR__;l=__INPUT_LANGUAGE__", inputs),
              R"(c=["__INPUT_LANGUAGE__"][0];l=["zh-CN"][0])");
}

TEST(PageScriptTest, FontSizeLiteral) {
    const std::pair<double, std::string> cases[] = {
        {15.9, "15"},
        {16.0, "16"},
        {-3.7, "-3"},
        {0.4, "0"},
        {std::numeric_limits<double>::quiet_NaN(), "16"},
        {std::numeric_limits<double>::infinity(), "16"},
        {1e300, "16"},
    };
    for (const auto& [size, expected] : cases)
        EXPECT_EQ(fontSizeLiteral(size), expected) << size;
}

TEST(PageScriptTest, TextThatIsNotUtf8NeverReachesThePageAsScript) {
    EXPECT_EQ(stringExpression("a\"\\\n</script>"), R"(["a\"\\\n</script>"][0])");
    EXPECT_EQ(stringExpression("\xff\xfe"), R"([""][0])");
    EXPECT_FALSE(pageCallScript("aureloSetTranslation", json::array({"id", "\xc3", false})));
}

TEST(BridgeMessageTest, ConvertsEveryForm) {
    const std::pair<const char*, BridgeMessage> cases[] = {
        {R"([1,2])", IgnoredMessage{}},
        {R"("hello")", IgnoredMessage{}},
        {"null", IgnoredMessage{}},
        {"undefined", IgnoredMessage{}},
        {R"({"id":"at-1","text":"hi","target":"zh-CN"})",
         TranslationRequest{"at-1", "hi", "zh-CN", "message"}},
        {R"({"id":"a","text":"hi","target":"en","kind":7})",
         TranslationRequest{"a", "hi", "en", "message"}},
        {R"({"id":"u","text":"x","target":"en","kind":"mystery"})",
         TranslationRequest{"u", "x", "en", "mystery"}},
        {R"({"id":"s","text":" ","target":"en","kind":"composer"})",
         TranslationRequest{"s", " ", "en", "composer"}},
        {R"({"id":"t","text":"x","target":""})", TranslationRequest{"t", "x", "", "message"}},
        {R"({"id":"e","text":"","target":"en"})", MalformedMessage{}},
        {R"({"id":5,"text":"x","target":"en"})", MalformedMessage{}},
        {R"({"id":"a","text":"x"})", MalformedMessage{}},
        {R"({"id":"a","text":null,"target":"en"})", MalformedMessage{}},
        {R"({"kind":"unread","count":3})", UnreadReport{3}},
        {R"({"kind":"unread","count":12.9})", UnreadReport{12}},
        {R"({"kind":"unread","count":-1.5})", UnreadReport{-1}},
        {R"({"kind":"unread","count":1e300})", UnreadReport{INT_MAX}},
        {R"({"kind":"unread","count":18446744073709551615})", UnreadReport{INT_MAX}},
        {R"({"kind":"unread","count":"3"})", MalformedMessage{}},
        {R"({"kind":"unread"})", MalformedMessage{}},
        {R"({"kind":"login","loggedOut":true})", LoginReport{true}},
        {R"({"kind":"login","loggedOut":false})", LoginReport{false}},
        {R"({"kind":"login"})", MalformedMessage{}},
        {R"({"kind":"login","loggedOut":"yes"})", MalformedMessage{}},
        {R"({"kind":"login","loggedOut":1})", MalformedMessage{}},
        {R"({"kind":"messages","recognised":false})", MessageRecognitionReport{false}},
        {R"({"kind":"messages","recognised":"no"})", MalformedMessage{}},
        {R"({"kind":"voice","id":"v","data":"QUJD","mime":"audio/ogg","source":"en","target":"ja"})",
         VoiceRequest{"v", "QUJD", "audio/ogg", "en", "ja"}},
        {R"({"kind":"voice","id":"v","data":"QUJD","mime":"audio/ogg","source":1})",
         VoiceRequest{"v", "QUJD", "audio/ogg", "auto", "zh-CN"}},
        {R"({"kind":"voice","id":"v","data":"QUJD"})", MalformedMessage{}},
        // A voice message with text falls through to a translation of kind "voice".
        {R"({"kind":"voice","id":"v","text":"x","target":"en"})",
         TranslationRequest{"v", "x", "en", "voice"}},
        {R"({"kind":"conversation","id":"path:1029384756"})",
         ConversationReport{"path:1029384756"}},
        {R"({"kind":"conversation","id":null})", ConversationReport{}},
        {R"({"kind":"conversation"})", MalformedMessage{}},
        {R"({"kind":"conversation","id":""})", MalformedMessage{}},
        {R"({"kind":"conversation","id":42})", MalformedMessage{}},
        {R"({"id":"m","text":"hola","target":"zh-CN","conversation":"chat:34@c.us"})",
         TranslationRequest{"m", "hola", "zh-CN", "message", "chat:34@c.us"}},
        // A conversation that is not a short string is dropped; the message is still translated.
        {R"({"id":"m","text":"hola","target":"zh-CN","conversation":{"a":1}})",
         TranslationRequest{"m", "hola", "zh-CN", "message"}},
    };
    for (const auto& [body, expected] : cases)
        EXPECT_EQ(bridgeMessageFromJsonText(body), expected) << body;
    const std::string overlong(ConversationReport::kMaximumConversationBytes + 1, 'c');
    EXPECT_EQ(bridgeMessageFromJson({{"kind", "conversation"}, {"id", overlong}}),
              BridgeMessage{MalformedMessage{}});
    EXPECT_EQ(bridgeMessageFromJson(
                  {{"id", "m"}, {"text", "x"}, {"target", "en"}, {"conversation", overlong}}),
              (BridgeMessage{TranslationRequest{"m", "x", "en", "message"}}));
}

TEST(ProxyRouteTest, DerivesRouteFromSessionFields) {
    // A host that is no host makes no route at all, never a direct connection nor another host.
    constexpr auto kRefused = "refused";
    const std::tuple<const char*, const char*, std::optional<long long>, std::optional<std::string>>
        cases[] = {
            {"socks5", "127.0.0.1", 70000, "socks5://127.0.0.1:65535"},
            {"socks5", "127.0.0.1", -5, "socks5://127.0.0.1:0"},
            {"http", "proxy.example", 8080, "http://proxy.example:8080"},
            {"http", "proxy.example.", 8080, "http://proxy.example:8080"},
            {"", "proxy.example", 3128, "http://proxy.example:3128"},
            {"SOCKS5", "p", 1080, "http://p:1080"},
            {"socks5", "::1", 1080, "socks5://[::1]:1080"},
            {"socks5", "[2001:db8::7]", 1080, "socks5://[2001:db8::7]:1080"},
            {"http", "代理.例子.测试", 8080, "http://xn--mnq481g.xn--fsqu00a.xn--0zwm56d:8080"},
            {"http", "ｐｒｏｘｙ．example", 8080, "http://proxy.example:8080"},
            {"http", "my_node-1.example", 8080, "http://my_node-1.example:8080"},
            // What sellers' lines and careless pastes put into the host field.
            {"http", "203.0.113.7:1080", 1080, kRefused},
            {"http", "203.0.113.7：1080", 1080, kRefused},
            {"http", "203.0.113.7\u3000", 1080, kRefused},
            {"http", "proxy.example\u3000", 1080, kRefused},
            {"http", " proxy.example", 1080, kRefused},
            {"socks5", "user:pass@203.0.113.7", 1080, kRefused},
            {"socks5", "socks5://203.0.113.7", 1080, kRefused},
            {"socks5", "evil@host/x", 1080, kRefused},
            {"http", "host name", 8080, kRefused},
            {"http", "[203.0.113.7]", 8080, kRefused},
            {"http", "[::1", 8080, kRefused},
            {"http", "fe80::1%eth0", 8080, kRefused},
            {"http", "2001:db8::1:1080:extra:zz", 8080, kRefused},
            {"http", "203.0.113", 8080, kRefused},
            {"http", "a..b", 8080, kRefused},
            {"http", "-.example\n", 8080, kRefused},
            {"http", "\xff\xfe", 8080, kRefused},
            {"socks5", "", 1080, std::nullopt},
            {"socks5", "127.0.0.1", std::nullopt, std::nullopt},
        };
    for (const auto& [type, host, port, uri] : cases) {
        const auto route = proxyRoute(type, host, port);
        const std::optional<std::string> made = !route   ? std::optional<std::string>(kRefused)
                                                : *route ? std::optional((*route)->uri())
                                                         : std::nullopt;
        EXPECT_EQ(made, uri) << type << " " << host;
        if (!route) {
            EXPECT_EQ(route.error(), kInvalidProxyHost);
        }
    }
}

TEST(WebSessionPathsTest, DirectoriesAreKeyedByCanonicalId) {
    EXPECT_EQ(websiteDataDirectory("/d", "0f8fad5b-d9cb-469f-a165-70867728950e"),
              std::filesystem::path(
                  "/d/aurelo-translator/websites/0F8FAD5B-D9CB-469F-A165-70867728950E"));
    EXPECT_EQ(websiteCacheDirectory("/c", "0F8FAD5B-D9CB-469F-A165-70867728950E"),
              std::filesystem::path(
                  "/c/aurelo-translator/websites/0F8FAD5B-D9CB-469F-A165-70867728950E"));
    for (const char* bad :
         {"", "..", "../../etc/passwd/aaaaaaaaaaaaaaaaaaaaaa",
          "0f8fad5b-d9cb-469f-a165-70867728950", "0f8fad5b/d9cb-469f-a165-70867728950e"})
        EXPECT_FALSE(websiteDataDirectory("/d", bad)) << bad;
    // What follows a NUL would otherwise ride along into the directory's name.
    EXPECT_FALSE(websiteDataDirectory(
        "/d", std::string_view("0f8fad5b-d9cb-469f-a165-70867728950e\0/../x", 41)));
}

TEST(NavigationPolicyTest, AllowsOnlyWebSchemes) {
    for (const char* uri : {"https://web.example/", "HTTPS://web.example/", "http://x/",
                            "blob:https://x/1", "data:text/plain,hi", "Data:,x"})
        EXPECT_TRUE(isNavigableURI(uri)) << uri;
    for (const char* uri : {"mailto:a@b.c", "tel:123", "file:///etc/passwd", "javascript:alert(1)",
                            "about:blank", "", "no-scheme", "//host/path", "zoommtg://x"})
        EXPECT_FALSE(isNavigableURI(uri)) << uri;
}

TEST(DownloadNamingTest, CleansSuggestedNames) {
    const std::pair<std::string, std::string> cases[] = {
        {"report.pdf", "report.pdf"},
        {"a/b.txt", "a-b.txt"},
        {"", "WhatsApp 下载"},
        {"..", "WhatsApp 下载"},
        {".", "WhatsApp 下载"},
        {"/", "-"},
        {"../../.bashrc", "-..-.bashrc"},
        {".hidden", "hidden"},
        {" .x", "x"},
        {std::string("a\nb\x01\x7f.txt"), "a-b--.txt"},
        {std::string("nul\0byte", 8), "nul-byte"},
        {"bad\xffutf8", "bad\xef\xbf\xbdutf8"},
        {"照片.jpg", "照片.jpg"},
    };
    for (const auto& [suggested, expected] : cases)
        EXPECT_EQ(downloadFileName(suggested), expected) << suggested;
}

TEST(DownloadNamingTest, OverlongNamesKeepTheirExtensionAndFit) {
    const std::string name = downloadFileName(std::string(400, 'x') + ".pdf");
    EXPECT_LE(name.size(), 247u);
    EXPECT_TRUE(name.ends_with(".pdf"));
    const std::string wide =
        downloadFileName(std::string(300, 'a') + "图图图图图图图图图图图图图图");
    EXPECT_TRUE(g_utf8_validate(wide.data(), static_cast<gssize>(wide.size()), nullptr));
}

TEST(DownloadNamingTest, PicksTheFirstFreeName) {
    const std::tuple<const char*, std::set<std::string>, const char*> cases[] = {
        {"report.pdf", {}, "report.pdf"},
        {"report.pdf", {"report.pdf"}, "report 2.pdf"},
        {"report.pdf", {"report.pdf", "report 2.pdf"}, "report 3.pdf"},
        {"a/b.txt", {"a-b.txt", "a-b 2.txt"}, "a-b 3.txt"},
        {"README", {"README"}, "README 2"},
        {"", {"WhatsApp 下载"}, "WhatsApp 下载 2"},
        {"archive.tar.gz", {"archive.tar.gz"}, "archive.tar 2.gz"},
    };
    for (const auto& [suggested, existing, expected] : cases) {
        const auto path = freeDownloadPath("/downloads", suggested, [&](const auto& candidate) {
            EXPECT_EQ(candidate.parent_path(), std::filesystem::path("/downloads"));
            return existing.contains(candidate.filename().string());
        });
        EXPECT_EQ(path, std::filesystem::path("/downloads") / expected) << suggested;
    }
}

} // namespace
} // namespace aurelo
