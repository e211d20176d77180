// The account sheets' forms, driven through the main view's model over real stores.

#include "support/ShellTestFixture.hpp"

#include "viewmodels/PageStackModel.hpp"

namespace aurelo::test {
namespace {

class AccountFormsTest : public ShellTestFixture {
protected:
    NewSessionForm& form = model.newSessionForm();
    WebsiteForm& website = model.websiteForm();
    SessionSettingsForm& sheet = model.sessionSettingsForm();

    const PlatformEntry& entry(const std::string& id) {
        for (const auto& e : platformEntries())
            if (e.id == id)
                return e;
        throw std::runtime_error("no catalogue entry " + id);
    }
    // The account fields in the order input, outgoing, incoming, own, engine, proxy type,
    // host, port.
    using Fields = std::vector<std::string>;
    static Fields fields(const AccountFieldsForm& f) {
        return {f.inputLanguage(),      f.outgoingLanguage(), f.incomingLanguage(),
                f.ownMessageLanguage(), f.provider(),         f.proxyType(),
                f.proxyHost(),          f.proxyPort()};
    }
    const ChatSession& selected() {
        for (const auto& s : store.sessions())
            if (s.id == store.selectedID())
                return s;
        throw std::runtime_error("nothing selected");
    }
};

TEST_F(AccountFormsTest, NewAccountStartsFromTheGlobalSettings) {
    settings.setInputLanguage(ChatLanguage::Japanese);
    settings.setIncomingLanguage(ChatLanguage::Korean);
    settings.setProvider(TranslationProvider::DeepL);
    settings.setAutomaticMessageTranslation(false);
    preferences.setReceiveTranslationEnabled(false);
    preferences.setTranslationFontColor("#2563EB");

    // The size is at least 16; the outgoing language is never Chinese or automatic.
    struct Case {
        double globalSize;
        double formSize;
        ChatLanguage globalOutgoing;
        const char* formOutgoing;
    };
    for (const auto& c :
         {Case{12, 16, ChatLanguage::Chinese, "en"}, Case{20, 20, ChatLanguage::Automatic, "en"},
          Case{16, 16, ChatLanguage::Spanish, "es"}}) {
        preferences.setTranslationFontSize(c.globalSize);
        settings.setOutgoingLanguage(c.globalOutgoing);
        form.prepare("telegram", "Telegram");
        EXPECT_EQ(form.fontSize(), c.formSize) << c.globalSize;
        EXPECT_EQ(form.outgoingLanguage(), c.formOutgoing) << code(c.globalOutgoing);
    }
    EXPECT_EQ(fields(form), (Fields{"ja", "es", "ko", "zh-CN", "deepl", "http", "", ""}));
    EXPECT_FALSE(form.sendTranslation());
    EXPECT_FALSE(form.receiveTranslation());
    EXPECT_EQ(form.fontColor(), "#2563EB");
    EXPECT_EQ(form.setupSection(), "基础设置");
    EXPECT_TRUE(model.showingAddSession());
}

TEST_F(AccountFormsTest, NewAccountNeedsANameAndAWholeProxy) {
    // Both account sheets read a port as typed: an integer in 1…65535, no blanks.
    for (const char* port : {"+8080", "8080", "1", "65535"})
        EXPECT_TRUE(AccountFieldsForm::isValidProxyPort(port)) << port;
    for (const char* port :
         {" 8080", "8080 ", "0", "65536", "-1", "", "+", "80a", "99999999999999999999"})
        EXPECT_FALSE(AccountFieldsForm::isValidProxyPort(port)) << "'" << port << "'";

    struct Case {
        const char* name;
        bool proxy;
        const char* host;
        const char* port;
        bool valid;
    };
    for (const auto& c : {Case{"", false, "", "", false}, Case{" \n ", false, "", "", false},
                          Case{"客服", false, "", "x", true}, Case{"客服", true, "", "8080", false},
                          Case{"客服", true, " 127.0.0.1 ", "8080", true},
                          Case{"客服", true, "127.0.0.1", " 8080", false},
                          Case{"客服", true, "127.0.0.1", "0", false}}) {
        form.prepare("whatsapp", "");
        form.setName(c.name);
        form.setProxyEnabled(c.proxy);
        form.setProxyHost(c.host);
        form.setProxyPort(c.port);
        const std::string row = std::string(c.name) + "|" + c.host + "|" + c.port;
        EXPECT_EQ(form.isValid(), c.valid) << row;
        EXPECT_EQ(form.footerHint(), c.valid ? "设置已就绪" : "请补全名称或代理信息") << row;
    }
}

TEST_F(AccountFormsTest, TilesAndPlusPrepareTheFormForTheRightPlatform) {
    model.addPlatform(entry("whatsapp"));
    EXPECT_EQ(form.platformID(), "whatsapp");
    EXPECT_EQ(form.name(), "");
    EXPECT_EQ(form.title(), "新增 WhatsApp");
    model.addPlatform(entry("telegram"));
    EXPECT_EQ(form.name(), "Telegram");
    EXPECT_EQ(form.title(), "新增 Telegram");

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
        form.setName("left over");
        form.beginForCurrentPlatform();
        EXPECT_EQ(form.platformID(), platform) << url.value_or("none");
        EXPECT_EQ(form.name(), name) << url.value_or("none");
        EXPECT_TRUE(model.showingAddSession());
    }

    // An id that is not in the catalogue still gets a title.
    form.prepare("nosuch", "x");
    EXPECT_EQ(form.title(), "新增 聊天账号");
}

TEST_F(AccountFormsTest, NewAccountStoresTheFormAndComesIntoSight) {
    model.setShowAppCenter(true);
    model.addPlatform(entry("whatsapp"));
    form.setName("  北美客户 ");
    form.setProxyHost("ignored");
    form.setProxyPort("1080");
    form.setFontColor("#A855F7");
    form.save();

    // The proxy type is stored also without a proxy; the host and port the proxy is off for
    // are not.
    const ChatSession& whatsapp = selected();
    ChatSession expected = ChatSession::make("北美客户");
    expected.id = whatsapp.id;
    expected.inputLanguageCode = "auto";
    expected.outgoingLanguageCode = "en";
    expected.incomingLanguageCode = expected.ownMessageLanguageCode = "zh-CN";
    expected.translationProvider = "google";
    expected.sendTranslationEnabled = expected.receiveTranslationEnabled = true;
    expected.translationFontSize = 16;
    expected.translationFontColor = "#A855F7";
    expected.proxyType = "http";
    expected.proxyHost = "";
    EXPECT_EQ(whatsapp, expected);
    EXPECT_FALSE(model.showingAddSession());
    EXPECT_TRUE(model.showAllSessionRows());
    EXPECT_FALSE(model.showAppCenter());
    // What was written is what was saved.
    SessionStore reloaded{*defaults, nullptr, nullptr};
    EXPECT_EQ(reloaded.sessions().back(), whatsapp);
}

// Every change of the session list builds pages; a session that appears without its proxy
// would get a page that loads its platform from the user's own address.
TEST_F(AccountFormsTest, NewAccountAppearsWithItsProxyInOneChange) {
    const PageStackModel pages(model);
    std::vector<ChatWebViewInputs> firstInputs;
    std::size_t listChanges = 0;
    sigc::connection watch = store.signalChanged().connect([&](SessionStore::Field field) {
        if (field != SessionStore::Field::Sessions)
            return;
        ++listChanges;
        if (firstInputs.empty() && store.sessions().back().name == "Telegram")
            firstInputs.push_back(pages.inputs(store.sessions().back()));
    });
    model.addPlatform(entry("telegram"));
    form.setProxyEnabled(true);
    form.setProxyType("socks5");
    form.setProxyHost(" 127.0.0.1 ");
    form.setProxyPort("+1080");
    form.save();
    watch.disconnect();

    EXPECT_EQ(listChanges, 1u);
    ASSERT_EQ(firstInputs.size(), 1u);
    EXPECT_EQ(firstInputs[0].proxyType, "socks5");
    EXPECT_EQ(firstInputs[0].proxyHost, "127.0.0.1");
    EXPECT_EQ(firstInputs[0].proxyPort, 1080);
    EXPECT_EQ(selected().urlString, "https://web.telegram.org/");
    EXPECT_EQ(selected().name, "Telegram");
}

TEST_F(AccountFormsTest, NothingIsCreatedOrOverwrittenWithoutAUsableAddress) {
    const ChatSession before = selected();
    const std::size_t count = store.sessions().size();

    form.prepare("whatsapp", "");
    form.setName("   ");
    form.save();
    EXPECT_TRUE(model.showingAddSession()) << "an empty name saves nothing";

    // The selection is still the old account afterwards: the form must not land in it.
    form.prepare("nosuch", "名称");
    form.setFontColor("#EF4444");
    form.setProvider("claude");
    form.save();
    EXPECT_FALSE(model.showingAddSession()) << "the sheet still closes";
    EXPECT_EQ(store.sessions().size(), count);
    EXPECT_EQ(selected(), before);
}

TEST_F(AccountFormsTest, NewAccountSheetLabels) {
    form.prepare("whatsapp", "");
    form.setName("北美客户abc");
    EXPECT_EQ(form.nameCounterText(), "7/30");
    form.setName(std::string(40, 'x'));
    EXPECT_EQ(form.nameCounterText(), "40/30") << "the counter does not cut";
    EXPECT_EQ(form.name().size(), 40u);

    using S = NewSessionForm::SetupSection;
    EXPECT_EQ(form.shownSetupSection(), S::Basic);
    form.setSetupSection("网络代理");
    EXPECT_EQ(form.shownSetupSection(), S::Proxy);
    form.setSetupSection("anything else");
    EXPECT_EQ(form.shownSetupSection(), S::Appearance);

    form.setFontColor("#a855f7");
    EXPECT_EQ(form.selectedSwatch(), 5u);
    form.setFontColor("#123456");
    EXPECT_EQ(form.selectedSwatch(), std::nullopt);
    form.setFontSize(18);
    EXPECT_EQ(form.selectedFontSize(), 3u);
    form.setFontSize(17);
    EXPECT_EQ(form.selectedFontSize(), std::nullopt);
}

TEST_F(AccountFormsTest, WebsiteAddressesAreNormalisedOrRefused) {
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
        EXPECT_EQ(WebsiteForm::normalizedAddress(typed), stored) << typed;

    model.addPlatform(entry("custom"));
    EXPECT_TRUE(model.showingAddWebsite());
    EXPECT_FALSE(model.showingAddSession()) << "the website dialog, not the account form";
    const std::size_t count = store.sessions().size();

    website.setAddress("example.com");
    website.save();
    EXPECT_EQ(website.error(), "请输入网站名称。");
    website.setName(" 客服站 ");
    website.setAddress("ftp://example.com");
    website.save();
    EXPECT_EQ(website.error(), "请输入正确的网站地址。");
    EXPECT_TRUE(model.showingAddWebsite());
    EXPECT_EQ(store.sessions().size(), count);

    website.setAddress("example.com/chat");
    website.save();
    EXPECT_FALSE(model.showingAddWebsite());
    EXPECT_EQ(website.error(), "请输入正确的网站地址。") << "kept until the dialog reopens";
    ASSERT_EQ(store.sessions().size(), count + 1);
    EXPECT_EQ(selected().name, "客服站");
    EXPECT_EQ(selected().urlString, "https://example.com/chat");

    model.addPlatform(entry("custom"));
    EXPECT_EQ(website.error(), "");
    EXPECT_EQ(website.name(), "");
    EXPECT_EQ(website.address(), "");
}

TEST_F(AccountFormsTest, SettingsSheetStoresTheTrimmedPortAndRefusesAProxyWithoutOne) {
    const std::string id = selected().id;
    const std::string token = model.reloadToken();
    sheet.begin();
    sheet.setProxyType("socks5");
    sheet.setProxyHost(" 10.0.0.2 ");
    sheet.setProxyPort(" 7890 ");
    sheet.setOutgoingLanguage("zh-CN");
    sheet.save();
    EXPECT_EQ(selected().proxyType, "socks5");
    EXPECT_EQ(selected().proxyHost, "10.0.0.2");
    EXPECT_EQ(selected().proxyPort, 7890);
    EXPECT_EQ(selected().outgoingLanguageCode, "en") << "a Chinese target becomes English";
    EXPECT_FALSE(model.showingSessionSettings());
    EXPECT_NE(model.reloadToken(), token) << "the pages reload";

    // A host whose port does not read as one would leave the page going out directly: refused,
    // the sheet stays open with a message and nothing is written.
    for (const char* port : {"78o0", "", "0", "70000"}) {
        sheet.begin();
        sheet.setProxyHost("10.0.0.3");
        sheet.setProxyPort(port);
        sheet.save();
        EXPECT_TRUE(model.showingSessionSettings()) << port;
        EXPECT_EQ(sheet.error(), SessionSettingsForm::kPortInvalid);
        EXPECT_EQ(selected().proxyHost, "10.0.0.2") << port;
    }

    // Without a host the connection is direct, and a non-numeric port is stored as absent.
    sheet.setProxyHost("  ");
    sheet.setProxyPort("abc");
    sheet.save();
    EXPECT_FALSE(model.showingSessionSettings());
    EXPECT_TRUE(sheet.error().empty());
    EXPECT_EQ(selected().id, id);
    EXPECT_EQ(selected().proxyHost, "");
    EXPECT_EQ(selected().proxyPort, std::nullopt);
}

TEST_F(AccountFormsTest, SettingsSheetOpensWithTheEffectiveValuesAndSavingKeepsThem) {
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

    sheet.begin();
    EXPECT_TRUE(model.showingSessionSettings());
    EXPECT_EQ(fields(sheet),
              (Fields{"fr", "en", "ja", "zh-CN", "gemini", "socks5", "proxy.example", "3128"}));

    const PageStackModel pages(model);
    const std::string identity = pages.identity(selected());
    sheet.save();
    EXPECT_EQ(effectiveSettings(selected(), model.sessionDefaults()), effectiveBefore);
    EXPECT_EQ(pages.identity(selected()), identity) << "the page is not rebuilt";
    EXPECT_EQ(selected().translationFontColor, "#FFFFFF") << "the look is not the sheet's";
}

TEST_F(AccountFormsTest, SettingsSheetShowsStoresAndClearsTheHibernationDelay) {
    sheet.begin();
    EXPECT_EQ(sheet.hibernateMinutes(), std::nullopt) << "off by default";
    sheet.setHibernateMinutes(30);
    sheet.save();
    EXPECT_EQ(selected().autoHibernateMinutes, 30);
    sheet.begin();
    EXPECT_EQ(sheet.hibernateMinutes(), 30);
    // A delay the picker does not offer is off, never stored.
    sheet.setHibernateMinutes(42);
    EXPECT_EQ(sheet.hibernateMinutes(), std::nullopt);
    sheet.save();
    EXPECT_EQ(selected().autoHibernateMinutes, std::nullopt);
    EXPECT_FALSE(encodeSessions(store.sessions())[0].contains("autoHibernateMinutes"));
}

} // namespace
} // namespace aurelo::test
