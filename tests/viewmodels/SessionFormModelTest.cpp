// The account sheets' rules, driven through the main view's model over real stores.

#include "support/ShellTestFixture.hpp"

#include "viewmodels/PageStackModel.hpp"
#include "viewmodels/SessionFormModel.hpp"

namespace aurelo::test {
namespace {

class SessionFormModelTest : public ShellTestFixture {
protected:
    SessionFormModel& form = model.sessionForm();

    const PlatformEntry& entry(const std::string& id) {
        for (const auto& e : platformEntries())
            if (e.id == id)
                return e;
        throw std::runtime_error("no catalogue entry " + id);
    }
    const ChatSession& selected() {
        for (const auto& s : store.sessions())
            if (s.id == store.selectedID())
                return s;
        throw std::runtime_error("nothing selected");
    }
};

TEST_F(SessionFormModelTest, OutgoingLanguageIsNeverChineseOrAutomatic) {
    for (auto [global, expected] :
         {std::pair{ChatLanguage::Chinese, "en"}, std::pair{ChatLanguage::Automatic, "en"},
          std::pair{ChatLanguage::Spanish, "es"}}) {
        settings.setOutgoingLanguage(global);
        form.prepareNewSession("whatsapp", "");
        EXPECT_EQ(form.sessionOutgoingLanguage(), expected) << code(global);
    }

    // The settings sheet turns a Chinese target into English on save.
    form.beginSessionSettings();
    form.setSessionOutgoingLanguage("zh-CN");
    form.saveSessionSettings();
    EXPECT_EQ(selected().outgoingLanguageCode, "en");
}

TEST_F(SessionFormModelTest, FormStartsFromTheGlobalSettingsWithAFontSizeOfAtLeast16) {
    settings.setInputLanguage(ChatLanguage::Japanese);
    settings.setIncomingLanguage(ChatLanguage::Korean);
    settings.setProvider(TranslationProvider::DeepL);
    settings.setAutomaticMessageTranslation(false);
    preferences.setReceiveTranslationEnabled(false);
    preferences.setTranslationFontColor("#2563EB");

    preferences.setTranslationFontSize(12);
    form.prepareNewSession("telegram", "Telegram");
    EXPECT_EQ(form.newSessionFontSize(), 16);
    preferences.setTranslationFontSize(20);
    form.prepareNewSession("telegram", "Telegram");
    EXPECT_EQ(form.newSessionFontSize(), 20);

    EXPECT_EQ(form.sessionInputLanguage(), "ja");
    EXPECT_EQ(form.sessionIncomingLanguage(), "ko");
    EXPECT_EQ(form.sessionOwnMessageLanguage(), "zh-CN");
    EXPECT_EQ(form.sessionProvider(), "deepl");
    EXPECT_FALSE(form.newSessionSendTranslation());
    EXPECT_FALSE(form.newSessionReceiveTranslation());
    EXPECT_EQ(form.newSessionFontColor(), "#2563EB");
    EXPECT_EQ(form.newSessionSetupSection(), "基础设置");
    EXPECT_TRUE(model.showingAddSession());
}

TEST_F(SessionFormModelTest, ProxyPortMustBeAnIntegerFrom1To65535AsTyped) {
    struct Case {
        const char* port;
        bool valid;
    };
    for (auto [port, valid] :
         {Case{"+8080", true}, Case{"8080", true}, Case{"1", true}, Case{"65535", true},
          Case{" 8080", false}, Case{"8080 ", false}, Case{"0", false}, Case{"65536", false},
          Case{"-1", false}, Case{"", false}, Case{"+", false}, Case{"80a", false},
          Case{"99999999999999999999", false}})
        EXPECT_EQ(SessionFormModel::isValidProxyPort(port), valid) << "'" << port << "'";

    form.prepareNewSession("whatsapp", "");
    EXPECT_FALSE(form.newSessionFormIsValid()) << "no name";
    EXPECT_EQ(form.footerHint(), "请补全名称或代理信息");
    form.setNewSessionName(" \n ");
    EXPECT_FALSE(form.newSessionFormIsValid()) << "a blank name";
    form.setNewSessionName("客服");
    EXPECT_TRUE(form.newSessionFormIsValid());
    EXPECT_EQ(form.footerHint(), "设置已就绪");
    form.setNewSessionProxyEnabled(true);
    form.setSessionProxyPort("8080");
    EXPECT_FALSE(form.newSessionFormIsValid()) << "proxy without host";
    form.setSessionProxyHost(" 127.0.0.1 ");
    EXPECT_TRUE(form.newSessionFormIsValid());
    form.setSessionProxyPort(" 8080");
    EXPECT_FALSE(form.newSessionFormIsValid());

    // The save itself trims what it stores.
    form.saveNewSession();
    EXPECT_EQ(selected().proxyHost, "127.0.0.1");
    EXPECT_EQ(selected().proxyPort, 8080);
}

TEST_F(SessionFormModelTest, SettingsSheetStoresTheTrimmedPortAndRefusesAProxyWithoutOne) {
    const std::string id = selected().id;
    const std::string token = model.reloadToken();
    form.beginSessionSettings();
    form.setSessionProxyType("socks5");
    form.setSessionProxyHost(" 10.0.0.2 ");
    form.setSessionProxyPort(" 7890 ");
    form.saveSessionSettings();
    EXPECT_EQ(selected().proxyType, "socks5");
    EXPECT_EQ(selected().proxyHost, "10.0.0.2");
    EXPECT_EQ(selected().proxyPort, 7890);
    EXPECT_FALSE(model.showingSessionSettings());
    EXPECT_NE(model.reloadToken(), token) << "the pages reload";

    // A host whose port does not read as one would leave the page going out directly: refused,
    // the sheet stays open with a message and nothing is written.
    for (const char* port : {"78o0", "", "0", "70000"}) {
        form.beginSessionSettings();
        form.setSessionProxyHost("10.0.0.3");
        form.setSessionProxyPort(port);
        form.saveSessionSettings();
        EXPECT_TRUE(model.showingSessionSettings()) << port;
        EXPECT_EQ(form.sessionSettingsError(), SessionFormModel::kSessionSettingsPortInvalid);
        EXPECT_EQ(selected().proxyHost, "10.0.0.2") << port;
    }

    // Without a host the connection is direct, and a non-numeric port is stored as absent.
    form.setSessionProxyHost("  ");
    form.setSessionProxyPort("abc");
    form.saveSessionSettings();
    EXPECT_FALSE(model.showingSessionSettings());
    EXPECT_TRUE(form.sessionSettingsError().empty());
    EXPECT_EQ(selected().id, id);
    EXPECT_EQ(selected().proxyHost, "");
    EXPECT_EQ(selected().proxyPort, std::nullopt);
}

TEST_F(SessionFormModelTest, WebsiteAddressesAreNormalisedOrRefused) {
    struct Case {
        const char* typed;
        std::optional<std::string> stored;
    };
    for (const auto& [typed, stored] :
         {Case{"example.com", "https://example.com"},
          Case{"  http://Chat.Example.com:8080/app  ", "http://Chat.Example.com:8080/app"},
          Case{"HTTPS://example.com/", "HTTPS://example.com/"},
          Case{"ftp://example.com", std::nullopt}, Case{"https://", std::nullopt},
          Case{"file:///etc/passwd", std::nullopt}, Case{"", std::nullopt},
          Case{"exa mple.com", std::nullopt}, Case{"https://example.com/a b", std::nullopt}})
        EXPECT_EQ(SessionFormModel::normalizedWebsiteAddress(typed), stored) << typed;

    form.addPlatform(entry("custom"));
    EXPECT_TRUE(model.showingAddWebsite());
    EXPECT_FALSE(model.showingAddSession()) << "the website dialog, not the account form";
    const std::size_t count = store.sessions().size();

    form.setWebsiteAddress("example.com");
    form.saveWebsite();
    EXPECT_EQ(form.websiteError(), "请输入网站名称。");
    form.setWebsiteName(" 客服站 ");
    form.setWebsiteAddress("ftp://example.com");
    form.saveWebsite();
    EXPECT_EQ(form.websiteError(), "请输入正确的网站地址。");
    EXPECT_TRUE(model.showingAddWebsite());
    EXPECT_EQ(store.sessions().size(), count);

    form.setWebsiteAddress("example.com/chat");
    form.saveWebsite();
    EXPECT_FALSE(model.showingAddWebsite());
    EXPECT_EQ(form.websiteError(), "请输入正确的网站地址。") << "kept until the dialog reopens";
    ASSERT_EQ(store.sessions().size(), count + 1);
    EXPECT_EQ(selected().name, "客服站");
    EXPECT_EQ(selected().urlString, "https://example.com/chat");

    form.addPlatform(entry("custom"));
    EXPECT_EQ(form.websiteError(), "");
    EXPECT_EQ(form.websiteName(), "");
    EXPECT_EQ(form.websiteAddress(), "");
}

TEST_F(SessionFormModelTest, TilesAndPlusPrepareTheFormForTheRightPlatform) {
    form.addPlatform(entry("whatsapp"));
    EXPECT_EQ(form.newSessionPlatformID(), "whatsapp");
    EXPECT_EQ(form.newSessionName(), "");
    EXPECT_EQ(form.newSessionTitle(), "新增 WhatsApp");
    form.addPlatform(entry("telegram"));
    EXPECT_EQ(form.newSessionName(), "Telegram");
    EXPECT_EQ(form.newSessionTitle(), "新增 Telegram");

    struct Case {
        std::optional<std::string> url;
        const char* platform;
        const char* name;
    };
    for (const auto& [url, platform, name] :
         {Case{"https://chat.example.org/", "whatsapp", ""},
          Case{"https://www.instagram.com/someone/", "instagram", "Instagram"},
          Case{"https://WEB.telegram.org/k/", "telegram", "Telegram"},
          Case{"https://m.facebook.com/", "facebook", "Facebook"},
          Case{std::nullopt, "whatsapp", ""}}) {
        addSession("tab", url);
        form.setNewSessionName("left over");
        form.beginAddCurrentPlatformSession();
        EXPECT_EQ(form.newSessionPlatformID(), platform) << url.value_or("none");
        EXPECT_EQ(form.newSessionName(), name) << url.value_or("none");
        EXPECT_TRUE(model.showingAddSession());
    }

    // An id that is not in the catalogue still gets a title.
    form.prepareNewSession("nosuch", "x");
    EXPECT_EQ(form.newSessionTitle(), "新增 聊天账号");
}

TEST_F(SessionFormModelTest, NewAccountStoresTheFormAndComesIntoSight) {
    model.setShowAppCenter(true);
    form.addPlatform(entry("whatsapp"));
    form.setNewSessionName("  北美客户 ");
    form.setSessionProxyHost("ignored");
    form.setSessionProxyPort("1080");
    form.setNewSessionFontColor("#A855F7");
    form.saveNewSession();

    const ChatSession& whatsapp = selected();
    EXPECT_EQ(whatsapp.name, "北美客户");
    EXPECT_EQ(whatsapp.urlString, std::nullopt);
    EXPECT_EQ(whatsapp.proxyType, "http") << "stored also without a proxy";
    EXPECT_EQ(whatsapp.proxyHost, "");
    EXPECT_EQ(whatsapp.proxyPort, std::nullopt);
    EXPECT_EQ(whatsapp.translationFontColor, "#A855F7");
    EXPECT_EQ(whatsapp.translationFontSize, 16);
    EXPECT_EQ(whatsapp.outgoingLanguageCode, "en");
    EXPECT_EQ(whatsapp.ownMessageLanguageCode, "zh-CN");
    EXPECT_EQ(whatsapp.translationProvider, "google");
    EXPECT_EQ(whatsapp.sendTranslationEnabled, true);
    EXPECT_EQ(whatsapp.receiveTranslationEnabled, true);
    EXPECT_FALSE(model.showingAddSession());
    EXPECT_TRUE(model.showAllSessionRows());
    EXPECT_FALSE(model.showAppCenter());
    // What was written is what was saved.
    SessionStore reloaded{*defaults, nullptr, nullptr};
    EXPECT_EQ(reloaded.sessions().back(), whatsapp);

    form.addPlatform(entry("telegram"));
    form.setNewSessionProxyEnabled(true);
    form.setSessionProxyType("socks5");
    form.setSessionProxyHost("127.0.0.1");
    form.setSessionProxyPort("+1080");
    form.saveNewSession();
    EXPECT_EQ(selected().urlString, "https://web.telegram.org/");
    EXPECT_EQ(selected().name, "Telegram");
    EXPECT_EQ(selected().proxyType, "socks5");
    EXPECT_EQ(selected().proxyPort, 1080);
}

TEST_F(SessionFormModelTest, NothingIsCreatedOrOverwrittenWithoutAUsableAddress) {
    const ChatSession before = selected();
    const std::size_t count = store.sessions().size();

    form.prepareNewSession("whatsapp", "");
    form.setNewSessionName("   ");
    form.saveNewSession();
    EXPECT_TRUE(model.showingAddSession()) << "an empty name saves nothing";

    // The selection is still the old account afterwards: the form must not land in it.
    form.prepareNewSession("nosuch", "名称");
    form.setNewSessionFontColor("#EF4444");
    form.setSessionProvider("claude");
    form.saveNewSession();
    EXPECT_FALSE(model.showingAddSession()) << "the sheet still closes";
    EXPECT_EQ(store.sessions().size(), count);
    EXPECT_EQ(selected(), before);
}

TEST_F(SessionFormModelTest, SettingsSheetOpensWithTheEffectiveValuesAndSavingKeepsThem) {
    settings.setInputLanguage(ChatLanguage::French);
    settings.setOutgoingLanguage(ChatLanguage::Chinese);
    settings.setIncomingLanguage(ChatLanguage::German);
    settings.setProvider(TranslationProvider::Gemini);
    preferences.setTranslationFontSize(13);

    ChatSession& telegram = addSession("电报", "https://web.telegram.org/k/");
    ChatSession edited = telegram;
    edited.incomingLanguageCode = "ja";
    edited.translationProvider = "no-such-engine";
    edited.proxyType = "socks5";
    edited.proxyHost = "proxy.example";
    edited.proxyPort = 3128;
    edited.translationFontColor = "#FFFFFF";
    store.updateSession(edited);
    const auto effectiveBefore = effectiveSettings(selected(), model.sessionDefaults());

    form.beginSessionSettings();
    EXPECT_TRUE(model.showingSessionSettings());
    EXPECT_EQ(form.sessionInputLanguage(), "fr");
    EXPECT_EQ(form.sessionOutgoingLanguage(), "en");
    EXPECT_EQ(form.sessionIncomingLanguage(), "ja");
    EXPECT_EQ(form.sessionOwnMessageLanguage(), "zh-CN");
    EXPECT_EQ(form.sessionProvider(), "gemini");
    EXPECT_EQ(form.sessionProxyType(), "socks5");
    EXPECT_EQ(form.sessionProxyHost(), "proxy.example");
    EXPECT_EQ(form.sessionProxyPort(), "3128");

    const PageStackModel pages(model);
    const std::string identity = pages.identity(selected());
    form.saveSessionSettings();
    EXPECT_EQ(effectiveSettings(selected(), model.sessionDefaults()), effectiveBefore);
    EXPECT_EQ(pages.identity(selected()), identity) << "the page is not rebuilt";
    EXPECT_EQ(selected().translationFontColor, "#FFFFFF") << "the look is not the sheet's";
}

TEST_F(SessionFormModelTest, SheetLabels) {
    form.prepareNewSession("whatsapp", "");
    form.setNewSessionName("北美客户abc");
    EXPECT_EQ(form.nameCounterText(), "7/30");
    form.setNewSessionName(std::string(40, 'x'));
    EXPECT_EQ(form.nameCounterText(), "40/30") << "the counter does not cut";
    EXPECT_EQ(form.newSessionName().size(), 40u);

    using S = SessionFormModel::SetupSection;
    EXPECT_EQ(form.shownSetupSection(), S::Basic);
    form.setNewSessionSetupSection("网络代理");
    EXPECT_EQ(form.shownSetupSection(), S::Proxy);
    form.setNewSessionSetupSection("anything else");
    EXPECT_EQ(form.shownSetupSection(), S::Appearance);

    form.setNewSessionFontColor("#a855f7");
    EXPECT_EQ(form.selectedSwatch(), 5u);
    form.setNewSessionFontColor("#123456");
    EXPECT_EQ(form.selectedSwatch(), std::nullopt);
}

} // namespace
} // namespace aurelo::test
