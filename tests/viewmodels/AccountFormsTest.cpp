// The account sheets' forms over real stores and an in-memory keychain.

#include "support/ShellTestFixture.hpp"

#include "viewmodels/PageStackModel.hpp"
#include "viewmodels/TranslationLook.hpp"

namespace aurelo::test {
namespace {

class AccountFormsTest : public ShellTestFixture {
protected:
    ProxyPasswords passwords{keychain, store};
    // The window's model as the application builds it: with the proxy passwords kept.
    ContentViewModel view{store,       settings,   account, appLock,
                          preferences, translator, "1.0.0", &passwords};
    PageStackModel pages{view};
    NewSessionForm& form = view.newSessionForm();
    WebsiteForm& website = view.websiteForm();
    SessionSettingsForm& sheet = view.sessionSettingsForm();

    static const PlatformEntry& entry(const std::string& id) {
        return *std::ranges::find(platformEntries(), id, &PlatformEntry::id);
    }
    // Input, outgoing, incoming, own, engine, proxy type, host, port.
    using Fields = std::vector<std::string>;
    static Fields fields(const AccountFieldsForm& f) {
        return {f.inputLanguage(),      f.outgoingLanguage(), f.incomingLanguage(),
                f.ownMessageLanguage(), f.provider(),         f.proxyType(),
                f.proxyHost(),          f.proxyPort()};
    }
    const ChatSession& selected() {
        return *std::ranges::find(store.sessions(), *store.selectedID(), &ChatSession::id);
    }
    // Types a proxy into either sheet: host, port, login and password, in that order.
    static void fillProxy(AccountFieldsForm& f, const Fields& typed) {
        f.setProxyHost(typed.at(0));
        f.setProxyPort(typed.at(1));
        f.setProxyUsername(typed.at(2));
        f.setProxyPassword(typed.at(3));
    }
    std::optional<std::string> keychainPassword(const std::string& id) {
        return secrets.lookup(KeychainStore::proxyPasswordAccount(id)).value();
    }
};

TEST_F(AccountFormsTest, NewAccountStartsFromTheGlobalSettings) {
    settings.setInputLanguage(ChatLanguage::Japanese);
    settings.setIncomingLanguage(ChatLanguage::Korean);
    settings.setProvider(TranslationProvider::DeepL);
    settings.setAutomaticMessageTranslation(false);
    preferences.setReceiveTranslationEnabled(false);
    preferences.setTranslationFontColor("#2563EB");

    preferences.setTranslationFontSize(12);
    settings.setOutgoingLanguage(ChatLanguage::Chinese);
    form.prepare("telegram", "Telegram");
    EXPECT_EQ(form.fontSize(), 16) << "at least 16";
    EXPECT_EQ(form.outgoingLanguage(), "follow") << "new accounts follow their customers";
    preferences.setTranslationFontSize(20);
    settings.setOutgoingLanguage(ChatLanguage::Spanish);
    form.prepare("telegram", "Telegram");
    EXPECT_EQ(form.fontSize(), 20);
    EXPECT_EQ(fields(form), (Fields{"ja", "follow", "ko", "zh-CN", "deepl", "http", "", ""}));
    EXPECT_FALSE(form.sendTranslation());
    EXPECT_FALSE(form.receiveTranslation());
    EXPECT_EQ(form.fontColor(), "#2563EB");
    EXPECT_EQ(form.setupSection(), "基础设置");
    EXPECT_TRUE(view.showingAddSession());
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
    const std::string thirty(30, 'x'), thirtyOne(31, 'x');
    for (const auto& c :
         {Case{"", false, "", "", false}, Case{" \n ", false, "", "", false},
          Case{thirty.c_str(), false, "", "", true}, Case{thirtyOne.c_str(), false, "", "", false},
          Case{"客服", false, "", "x", true}, Case{"客服", true, "", "8080", false},
          Case{"客服", true, " 127.0.0.1 ", "8080", true},
          Case{"客服", true, "127.0.0.1", " 8080", false},
          Case{"客服", true, "127.0.0.1", "0", false}}) {
        SCOPED_TRACE(std::string(c.name) + "|" + c.host + "|" + c.port);
        form.prepare("whatsapp", "");
        form.setName(c.name);
        form.setProxyEnabled(c.proxy);
        form.setProxyHost(c.host);
        form.setProxyPort(c.port);
        EXPECT_EQ(form.isValid(), c.valid);
        EXPECT_EQ(form.footerHint(), c.valid ? "设置已就绪" : "请补全名称或代理信息");
    }
    // The line under the name says why a typed name cannot be saved.
    const std::pair<std::string, std::string_view> lines[] = {
        {"", ""}, {"  ", AccountName::kBlank}, {thirty, ""}, {thirtyOne, AccountName::kTooLong}};
    for (const auto& [name, line] : lines) {
        form.setName(name);
        EXPECT_EQ(form.nameError(), line) << name;
    }
}

TEST_F(AccountFormsTest, TilesAndPlusPrepareTheFormForTheRightPlatform) {
    view.addPlatform(entry("whatsapp"));
    EXPECT_EQ(form.platformID(), "whatsapp");
    EXPECT_EQ(form.name(), "");
    EXPECT_EQ(form.title(), "新增 WhatsApp");
    view.addPlatform(entry("telegram"));
    EXPECT_EQ(form.name(), "Telegram");
    EXPECT_EQ(form.title(), "新增 Telegram");
    form.prepare("nosuch", "x");
    EXPECT_EQ(form.title(), "新增 聊天账号") << "an id outside the catalogue still gets a title";

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
        SCOPED_TRACE(url.value_or("none"));
        addSession("tab", url);
        form.setName("left over");
        form.beginForCurrentPlatform();
        EXPECT_EQ(form.platformID(), platform);
        EXPECT_EQ(form.name(), name);
        EXPECT_TRUE(view.showingAddSession());
    }
}

// Every change of the session list builds pages; a session that appears without its proxy
// would get a page that loads its platform from the user's own address.
TEST_F(AccountFormsTest, ANewAccountIsStoredWholeAndItsFirstPageHasItsProxy) {
    std::vector<ChatWebViewInputs> firstInputs;
    sigc::connection watch = store.signalChanged().connect([&](SessionStore::Field field) {
        if (field == SessionStore::Field::Sessions)
            firstInputs.push_back(pages.inputs(store.sessions().back()));
    });
    view.addPlatform(entry("telegram"));
    form.setProxyEnabled(true);
    form.setProxyType("socks5");
    fillProxy(form, {" 127.0.0.1 ", "+1080", " agent ", " secret with blanks "});
    form.save();
    watch.disconnect();

    ASSERT_EQ(firstInputs.size(), 1u) << "one change of the list";
    EXPECT_EQ(firstInputs[0].proxyType, "socks5");
    EXPECT_EQ(firstInputs[0].proxyHost, "127.0.0.1");
    EXPECT_EQ(firstInputs[0].proxyPort, 1080);
    EXPECT_EQ(firstInputs[0].proxyUsername, "agent");
    EXPECT_EQ(firstInputs[0].proxyPassword, " secret with blanks ") << "kept exactly as typed";
    EXPECT_EQ(selected().urlString, "https://web.telegram.org/");
    EXPECT_EQ(selected().name, "Telegram");
    EXPECT_EQ(selected().proxyUsername, "agent");
    EXPECT_EQ(keychainPassword(selected().id), " secret with blanks ");
    EXPECT_EQ(readFile(defaultsFile).find("secret"), std::string::npos);
    EXPECT_EQ(pages.identity(selected()).find("secret"), std::string::npos);

    // With the proxy off its type is stored, but not the host, port or login typed for it.
    view.setShowAppCenter(true);
    view.addPlatform(entry("whatsapp"));
    form.setName("  北美客户 ");
    fillProxy(form, {"ignored", "1080", "leftover", "leftover"});
    form.setFontColor("#A855F7");
    form.save();
    ChatSession expected = ChatSession::make("北美客户");
    expected.id = selected().id;
    expected.inputLanguageCode = "auto";
    expected.outgoingLanguageCode = "en";
    expected.outgoingFollowsCustomer = true;
    expected.incomingLanguageCode = expected.ownMessageLanguageCode = "zh-CN";
    expected.translationProvider = "google";
    expected.sendTranslationEnabled = expected.receiveTranslationEnabled = true;
    expected.translationFontSize = 16;
    expected.translationFontColor = "#A855F7";
    expected.proxyType = "http";
    expected.proxyHost = "";
    EXPECT_EQ(selected(), expected);
    EXPECT_EQ(keychainPassword(selected().id), std::nullopt);
    EXPECT_FALSE(view.showingAddSession());
    EXPECT_TRUE(view.showAllSessionRows()) << "the new tab is in sight";
    EXPECT_FALSE(view.showAppCenter());
}

// Adding the account anyway would build its page without the proxy login and throw away the
// password the user typed: the sheet stays open with the keychain's reason instead.
TEST_F(AccountFormsTest, ANewAccountWhosePasswordTheKeychainRefusesIsNotAdded) {
    view.addPlatform(entry("telegram"));
    form.setProxyEnabled(true);
    fillProxy(form, {"10.0.0.2", "3128", "agent", "typed"});
    const std::size_t before = store.sessions().size();
    secrets.setFailure(InMemorySecretStore::Operation::Add, SecretStoreError{5, "full", false});
    form.save();
    EXPECT_EQ(form.error(), "无法保存代理密码：full");
    EXPECT_TRUE(view.showingAddSession());
    EXPECT_EQ(store.sessions().size(), before);
    EXPECT_EQ(form.proxyPassword(), "typed");

    secrets.setFailure(InMemorySecretStore::Operation::Add, std::nullopt);
    form.save();
    EXPECT_FALSE(view.showingAddSession());
    ASSERT_EQ(store.sessions().size(), before + 1);
    EXPECT_EQ(keychainPassword(selected().id), "typed");
    view.addPlatform(entry("whatsapp"));
    EXPECT_EQ(form.error(), "") << "a sheet opened again starts without the last error";

    // A locked keyring is offered for unlocking once; the account waits for the answer.
    for (const bool userUnlocks : {false, true}) {
        SCOPED_TRACE(userUnlocks ? "user unlocks" : "user cancels");
        lockKeyring(userUnlocks);
        const std::size_t count = store.sessions().size();
        view.addPlatform(entry("telegram"));
        form.setProxyEnabled(true);
        fillProxy(form, {"10.0.0.2", "3128", "agent", "after-prompt"});
        form.save();
        awaitPrompt();
        EXPECT_EQ(store.sessions().size(), count + (userUnlocks ? 1 : 0));
        EXPECT_EQ(view.showingAddSession(), !userUnlocks);
        EXPECT_EQ(form.error(), userUnlocks ? "" : "无法保存代理密码：密钥环已锁定。");
        if (userUnlocks) {
            EXPECT_EQ(keychainPassword(selected().id), "after-prompt");
        }
    }
}

TEST_F(AccountFormsTest, NothingIsCreatedOrOverwrittenWithoutAUsableAddress) {
    const ChatSession before = selected();
    const std::size_t count = store.sessions().size();
    form.prepare("whatsapp", "");
    form.setName("   ");
    form.save();
    EXPECT_TRUE(view.showingAddSession()) << "an empty name saves nothing";

    // The selection is still the old account afterwards: the form must not land in it.
    form.prepare("nosuch", "名称");
    form.setFontColor("#EF4444");
    form.setProvider("claude");
    form.save();
    EXPECT_FALSE(view.showingAddSession()) << "the sheet still closes";
    EXPECT_EQ(store.sessions().size(), count);
    EXPECT_EQ(selected(), before);
}

TEST_F(AccountFormsTest, NewAccountSheetLabels) {
    form.setName("北美客户abc");
    EXPECT_EQ(form.nameCounterText(), "7/30");
    form.setName(std::string(40, 'x'));
    EXPECT_EQ(form.nameCounterText(), "40/30") << "the counter does not cut";

    using S = NewSessionForm::SetupSection;
    EXPECT_EQ(form.shownSetupSection(), S::Basic);
    form.setSetupSection("网络代理");
    EXPECT_EQ(form.shownSetupSection(), S::Proxy);
    form.setSetupSection("anything else");
    EXPECT_EQ(form.shownSetupSection(), S::Appearance);

    // A colour typed in lower case still marks its swatch; a custom one marks none.
    form.setFontColor("#a855f7");
    ASSERT_TRUE(form.selectedSwatch());
    EXPECT_EQ(kTranslationColorSwatches.at(*form.selectedSwatch()), "#A855F7");
    form.setFontColor("#123456");
    EXPECT_EQ(form.selectedSwatch(), std::nullopt);
    form.setFontSize(18);
    ASSERT_TRUE(form.selectedFontSize());
    EXPECT_EQ(kTranslationFontSizes.at(*form.selectedFontSize()), 18);
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
          Case{"127.0.0.1:8099/wa.html", "http://127.0.0.1:8099/wa.html"},
          Case{"192.168.1.20/chat", "http://192.168.1.20/chat"},
          Case{"localhost:3000", "http://localhost:3000"}, Case{"[::1]:8080", "http://[::1]:8080"},
          Case{"8.8.8.8", "https://8.8.8.8"},
          Case{"  http://Chat.Example.com:8080/app  ", "http://Chat.Example.com:8080/app"},
          Case{"HTTPS://example.com/", "HTTPS://example.com/"},
          Case{"ftp://example.com", std::nullopt}, Case{"https://", std::nullopt},
          Case{"file:///etc/passwd", std::nullopt}, Case{"", std::nullopt},
          Case{"exa mple.com", std::nullopt}, Case{"https://example.com/a b", std::nullopt}})
        EXPECT_EQ(WebsiteForm::normalizedAddress(typed), stored) << typed;

    view.addPlatform(entry("custom"));
    EXPECT_TRUE(view.showingAddWebsite());
    EXPECT_FALSE(view.showingAddSession()) << "the website dialog, not the account form";
    const std::size_t count = store.sessions().size();
    website.setAddress("example.com");
    website.save();
    EXPECT_EQ(website.error(), "请输入网站名称。");
    EXPECT_TRUE(view.showingAddWebsite());
    EXPECT_EQ(store.sessions().size(), count);

    view.setShowAppCenter(true);
    website.setName(" 客服站 ");
    EXPECT_EQ(website.error(), "") << "the name is there now";
    website.setAddress("example.com/chat");
    website.save();
    EXPECT_FALSE(view.showingAddWebsite());
    EXPECT_FALSE(view.showAppCenter()) << "the new account's page is shown";
    EXPECT_EQ(store.sessions().size(), count + 1);
    EXPECT_EQ(selected().name, "客服站");
    EXPECT_EQ(selected().urlString, "https://example.com/chat");
    view.addPlatform(entry("custom"));
    EXPECT_EQ(website.error(), "");
    EXPECT_EQ(website.name(), "");
    EXPECT_EQ(website.address(), "");
}

TEST_F(AccountFormsTest, ACustomWebsiteSaysItsSchemeAndItsAddressCanBeChangedLater) {
    EXPECT_EQ(WebsiteForm::schemeNote("127.0.0.1:8099/wa.html"),
              "将以 http://127.0.0.1:8099/wa.html 打开");
    for (const char* typed : {"https://example.com", "exa mple.com", ""})
        EXPECT_EQ(WebsiteForm::schemeNote(typed), "") << typed;

    store.add("客服一");
    sheet.begin();
    EXPECT_FALSE(sheet.hasAddress()) << "a platform opens its own address";
    store.addWebsite("官网", "https://shop.example/chat");
    sheet.begin();
    ASSERT_TRUE(sheet.hasAddress());
    EXPECT_EQ(sheet.address(), "https://shop.example/chat");
    sheet.setAddress("exa mple.com");
    sheet.save();
    EXPECT_EQ(sheet.error(), WebsiteForm::kAddressInvalid);
    EXPECT_EQ(selected().urlString, "https://shop.example/chat");
    const std::string before = pages.identity(selected());
    sheet.setAddress("10.0.0.5:8080/chat");
    EXPECT_EQ(sheet.addressNote(), "将以 http://10.0.0.5:8080/chat 打开");
    sheet.save();
    EXPECT_EQ(selected().urlString, "http://10.0.0.5:8080/chat");
    EXPECT_NE(pages.identity(selected()), before) << "the page opens the new address";
}

TEST_F(AccountFormsTest, SettingsSheetStoresTheProxyWithItsLoginAndRefusesAProxyWithoutAPort) {
    const std::string id = selected().id;
    const std::string token = view.reloadToken();
    sheet.begin();
    sheet.setProxyType("socks5");
    fillProxy(sheet, {" 10.0.0.2 ", " 7890 ", "agent", "first"});
    sheet.setOutgoingLanguage("zh-CN");
    sheet.save();
    EXPECT_EQ(selected().proxyType, "socks5");
    EXPECT_EQ(selected().proxyHost, "10.0.0.2");
    EXPECT_EQ(selected().proxyPort, 7890);
    EXPECT_EQ(selected().outgoingLanguageCode, "en") << "a Chinese target becomes English";
    EXPECT_FALSE(view.showingSessionSettings());
    EXPECT_NE(view.reloadToken(), token) << "the pages reload";
    const std::string firstIdentity = pages.identity(selected());

    // It opens again on what was stored; a new password alone is a new page.
    sheet.begin();
    EXPECT_EQ(sheet.proxyUsername(), "agent");
    EXPECT_EQ(sheet.proxyPassword(), "first");
    sheet.setProxyPassword("second");
    sheet.save();
    EXPECT_EQ(keychainPassword(id), "second");
    EXPECT_NE(pages.identity(selected()), firstIdentity);
    EXPECT_EQ(pages.identity(selected()).find("second"), std::string::npos);
    sheet.begin();
    sheet.setProxyPassword("");
    sheet.save();
    EXPECT_EQ(keychainPassword(id), std::nullopt) << "a cleared password is removed";

    // A host whose port does not read as one would leave the page going out directly: refused,
    // the sheet stays open with a message and nothing is written.
    for (const char* port : {"78o0", "", "0", "70000"}) {
        sheet.begin();
        sheet.setProxyHost("10.0.0.3");
        sheet.setProxyPort(port);
        sheet.save();
        EXPECT_TRUE(view.showingSessionSettings()) << port;
        EXPECT_EQ(sheet.error(), SessionSettingsForm::kPortInvalid);
        EXPECT_EQ(selected().proxyHost, "10.0.0.2") << port;
    }

    // Without a host the connection is direct, with no login, and a non-numeric port is
    // stored as absent.
    sheet.setProxyPassword("third");
    sheet.setProxyHost("  ");
    sheet.setProxyPort("abc");
    sheet.save();
    EXPECT_FALSE(view.showingSessionSettings());
    EXPECT_TRUE(sheet.error().empty());
    EXPECT_EQ(selected().id, id);
    EXPECT_EQ(selected().proxyHost, "");
    EXPECT_EQ(selected().proxyPort, std::nullopt);
    EXPECT_EQ(selected().proxyUsername, std::nullopt);
    EXPECT_EQ(keychainPassword(id), std::nullopt);

    // A keychain that refuses the password stops the save and says why.
    sheet.begin();
    fillProxy(sheet, {"10.0.0.2", "3128", "agent", "fourth"});
    secrets.setFailure(InMemorySecretStore::Operation::Add, SecretStoreError{5, "full", false});
    sheet.save();
    EXPECT_EQ(sheet.error(), "无法保存代理密码：full");
    EXPECT_TRUE(sheet.showing());
    EXPECT_EQ(selected().proxyHost.value_or(""), "");
}

// Sellers hand out "host:port:user:password" and URLs; both sheets take them pasted whole.
TEST_F(AccountFormsTest, APastedProxyLineFillsTheFieldsItNamesInBothSheets) {
    form.prepare("whatsapp", "");
    sheet.begin();
    for (AccountFieldsForm* f : std::initializer_list<AccountFieldsForm*>{&form, &sheet}) {
        const auto proxy = [f] {
            return Fields{f->proxyType(), f->proxyHost(), f->proxyPort(), f->proxyUsername(),
                          f->proxyPassword()};
        };
        f->setProxyHost("203.0.113.7:1080:alice:s3cret");
        EXPECT_EQ(proxy(), (Fields{"http", "203.0.113.7", "1080", "alice", "s3cret"}));
        // Pasted over the host, a URL without a login keeps the one typed beside it.
        f->setProxyHost("socks5://[2001:db8::1]:1081");
        EXPECT_EQ(proxy(), (Fields{"socks5", "2001:db8::1", "1081", "alice", "s3cret"}));
        EXPECT_EQ(f->proxyHostError(), "");
        // Key by key, a line is never split under the caret; the line under the field says why
        // it cannot be saved so.
        f->setProxyHost("");
        std::string typed;
        for (char c : std::string_view("127.0.0.1:8080"))
            f->setProxyHost(typed += c);
        EXPECT_EQ(f->proxyHost(), "127.0.0.1:8080");
        EXPECT_EQ(f->proxyHostError(), kInvalidProxyHost);
    }
}

// A host that is none makes no route: neither sheet stores it, and "测试代理" says why instead
// of testing something else.
TEST_F(AccountFormsTest, AHostThatIsNoneIsNeitherSavedNorChecked) {
    ChatSession edited = selected();
    edited.proxyHost = "10.0.0.9:3128"; // stored before hosts were checked
    edited.proxyPort = std::nullopt;
    store.updateSession(edited);
    sheet.begin();
    EXPECT_EQ(sheet.proxyHost(), "10.0.0.9:3128") << "shown as stored, not split";
    EXPECT_EQ(sheet.proxyHostError(), kInvalidProxyHost);

    const std::size_t count = store.sessions().size();
    for (const auto& [host, line] :
         {std::pair<std::string, std::string_view>{"exa mple.com", kInvalidProxyHost},
          {"https://proxy.example:443", kHTTPSProxyUnsupported}}) {
        SCOPED_TRACE(host);
        form.prepare("telegram", "Telegram");
        form.setProxyEnabled(true);
        form.setProxyHost(host);
        form.setProxyPort("1080");
        EXPECT_EQ(form.proxyHostError(), line);
        EXPECT_FALSE(form.isValid());
        EXPECT_EQ(form.footerHint(), "请补全名称或代理信息");
        form.save();
        EXPECT_TRUE(form.showing());
        EXPECT_EQ(store.sessions().size(), count);
        form.checkProxy();
        EXPECT_EQ(form.proxyCheckLine(), line);

        sheet.begin();
        sheet.setProxyHost(host);
        sheet.checkProxy();
        EXPECT_EQ(sheet.proxyCheckLine(), line) << "before the missing port";
        sheet.setProxyPort("1080");
        sheet.save();
        EXPECT_EQ(sheet.error(), line);
        EXPECT_TRUE(sheet.showing());
        EXPECT_EQ(selected().proxyHost, "10.0.0.9:3128");
    }
}

TEST_F(AccountFormsTest, SettingsSheetOpensWithTheEffectiveValuesAndSavingKeepsThem) {
    settings.setInputLanguage(ChatLanguage::French);
    settings.setOutgoingLanguage(ChatLanguage::Chinese);
    settings.setIncomingLanguage(ChatLanguage::German);
    settings.setProvider(TranslationProvider::Gemini);
    preferences.setTranslationFontSize(13);
    ChatSession edited = addSession("电报", "https://web.telegram.org/k/");
    edited.incomingLanguageCode = "ja";
    edited.translationProvider = "no-such-engine";
    edited.proxyType = "socks5";
    edited.proxyHost = "proxy.example";
    edited.proxyPort = 3128;
    edited.translationFontColor = "#FFFFFF";
    store.updateSession(edited);
    const auto effectiveBefore = effectiveSettings(selected(), view.sessionDefaults());

    sheet.begin();
    EXPECT_TRUE(view.showingSessionSettings());
    EXPECT_EQ(fields(sheet),
              (Fields{"fr", "en", "ja", "zh-CN", "gemini", "socks5", "proxy.example", "3128"}));
    const std::string identity = pages.identity(selected());
    sheet.save();
    EXPECT_EQ(effectiveSettings(selected(), view.sessionDefaults()), effectiveBefore);
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
}

// "拼写检查" and "消息通知" of 账号独立设置: each is on unless turned off; only "off" is stored, it
// survives the stored form, and it reaches the account's page.
TEST_F(AccountFormsTest, SwitchesOfOneAccountAreTurnedOffForItAlone) {
    // Lambdas, not member-function pointers: GCC's undefined-behaviour sanitizer reports a call
    // through one of those from a table like this as a misaligned access of the fixture.
    const struct {
        const char* name;
        std::function<bool()> get;
        std::function<void(bool)> set;
        std::optional<bool> ChatSession::*stored;
        bool ChatWebViewInputs::*page;
    } switches[] = {
        {"拼写检查", [&] { return sheet.spellChecking(); },
         [&](bool on) { sheet.setSpellChecking(on); }, &ChatSession::spellCheckingEnabled,
         &ChatWebViewInputs::spellChecking},
        {"消息通知", [&] { return sheet.notifications(); },
         [&](bool on) { sheet.setNotifications(on); }, &ChatSession::notificationsEnabled,
         &ChatWebViewInputs::notificationsEnabled},
    };
    for (const auto& s : switches) {
        SCOPED_TRACE(s.name);
        sheet.begin();
        EXPECT_TRUE(s.get());
        EXPECT_TRUE(pages.inputs(selected()).*s.page);
        s.set(false);
        sheet.save();
        EXPECT_EQ(selected().*s.stored, false);
        EXPECT_FALSE(pages.inputs(selected()).*s.page);
        const auto stored = decodeSessions(encodeSessions(store.sessions()));
        ASSERT_TRUE(stored);
        EXPECT_EQ(*stored, store.sessions());
        sheet.begin();
        EXPECT_FALSE(s.get());
        s.set(true);
        sheet.save();
        EXPECT_EQ(selected().*s.stored, std::nullopt);
    }
}

// Saving "账号独立设置" writes the account's proxy and its keychain password, and each write is a
// change the stack plans on; the page is rebuilt once, with both, as WebViewStack would build it.
TEST_F(AccountFormsTest, ASaveOfProxyAndPasswordRebuildsThePageOnce) {
    std::map<std::string, std::string> shown{{selected().id, pages.identity(selected())}};
    std::vector<std::string> rebuiltWith;
    auto watch = pages.signalChanged().connect([&] {
        for (const auto& page : pages.plan(shown).pages) {
            if (page.step == PageStackModel::Step::Rebuild)
                rebuiltWith.push_back(page.identity);
            shown[page.sessionID] = page.identity;
        }
    });
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"proxy and password", "3128", "first"},
        {"password alone", "3128", "second"},
        {"port and password", "8080", "third"}};
    for (const auto& [name, port, password] : cases) {
        SCOPED_TRACE(name);
        rebuiltWith.clear();
        sheet.begin();
        fillProxy(sheet, {"127.0.0.1", port, "agent", password});
        sheet.save();
        ASSERT_FALSE(sheet.showing()) << sheet.error();
        EXPECT_EQ(rebuiltWith, std::vector<std::string>{pages.identity(selected())});
    }
    watch.disconnect();
}

} // namespace
} // namespace aurelo::test
