// "代理用户名" and "代理密码" in both account sheets, over real stores and an in-memory keychain:
// where each half of the login is kept, that a new account's first page already has it, and
// that a changed password rebuilds the page without the password entering the page identity.

#include "support/FakeManagedService.hpp"
#include "support/TestDirectory.hpp"

#include "platform/InMemorySecretStore.hpp"
#include "translation/TranslationNetwork.hpp"
#include "viewmodels/ContentViewModel.hpp"
#include "viewmodels/PageStackModel.hpp"

#include <gtest/gtest.h>

namespace aurelo::test {
namespace {

class ProxyLoginFormsTest : public ::testing::Test {
protected:
    TestDirectory directory;
    std::filesystem::path defaultsFile = directory.path() / "aurelo-translator" / "defaults.json";
    UserDefaults defaults{defaultsFile};
    InMemorySecretStore secrets;
    KeychainStore keychain{secrets};
    FakeManagedService fake;
    HttpSession session{TranslationNetwork::sessionConfiguration()};
    TranslationRequestCache cache;
    TranslationService translator{fake.origin(), session, cache};
    SessionStore store{defaults, nullptr, nullptr};
    ProxyPasswords passwords{keychain, store};
    SettingsStore settings{defaults, keychain, translator};
    AccountStore account{defaults, keychain, fake.origin(), session};
    AppLockStore appLock{keychain};
    MainWindowPreferences preferences{defaults};
    ContentViewModel model{store,       settings,   account, appLock,
                           preferences, translator, "1.0.0", &passwords};
    PageStackModel pages{model};

    const ChatSession& selected() {
        for (const auto& s : store.sessions())
            if (s.id == store.selectedID())
                return s;
        throw std::runtime_error("nothing selected");
    }
    std::optional<std::string> keychainPassword(const std::string& id) {
        return secrets.lookup(KeychainStore::proxyPasswordAccount(id)).value();
    }
    std::string definitions() const { return readFile(defaultsFile); }
};

TEST_F(ProxyLoginFormsTest, ANewAccountsFirstPageAlreadyHasTheWholeLogin) {
    std::vector<ChatWebViewInputs> firstInputs;
    sigc::connection watch = store.signalChanged().connect([&](SessionStore::Field field) {
        if (field == SessionStore::Field::Sessions && firstInputs.empty())
            firstInputs.push_back(pages.inputs(store.sessions().back()));
    });
    NewSessionForm& form = model.newSessionForm();
    form.prepare("whatsapp", "");
    form.setName("Proxied");
    form.setProxyEnabled(true);
    form.setProxyType("socks5");
    form.setProxyHost("127.0.0.1");
    form.setProxyPort("1080");
    form.setProxyUsername(" agent ");
    form.setProxyPassword(" secret with blanks ");
    form.save();
    watch.disconnect();

    ASSERT_EQ(firstInputs.size(), 1u);
    EXPECT_EQ(firstInputs[0].proxyUsername, "agent");
    EXPECT_EQ(firstInputs[0].proxyPassword, " secret with blanks ") << "kept exactly as typed";
    EXPECT_EQ(selected().proxyUsername, "agent");
    EXPECT_EQ(keychainPassword(selected().id), " secret with blanks ");
    EXPECT_EQ(definitions().find("secret"), std::string::npos);
    EXPECT_EQ(pages.identity(selected()).find("secret"), std::string::npos);

    // A proxy switched off again keeps no login at all.
    form.prepare("whatsapp", "");
    form.setName("Direct");
    form.setProxyUsername("leftover");
    form.setProxyPassword("leftover");
    form.save();
    EXPECT_EQ(selected().proxyUsername, std::nullopt);
    EXPECT_EQ(keychainPassword(selected().id), std::nullopt);
}

TEST_F(ProxyLoginFormsTest, TheSettingsSheetShowsChangesAndClearsTheLogin) {
    SessionSettingsForm& sheet = model.sessionSettingsForm();
    const std::string id = selected().id;
    sheet.begin();
    sheet.setProxyHost("10.0.0.2");
    sheet.setProxyPort("3128");
    sheet.setProxyUsername("agent");
    sheet.setProxyPassword("first");
    sheet.save();
    ASSERT_EQ(sheet.error(), "");
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

    // A cleared password is removed; so is the whole login when the proxy goes.
    sheet.begin();
    sheet.setProxyPassword("");
    sheet.save();
    EXPECT_EQ(keychainPassword(id), std::nullopt);
    sheet.begin();
    sheet.setProxyPassword("third");
    sheet.setProxyHost("");
    sheet.save();
    EXPECT_EQ(selected().proxyUsername, std::nullopt);
    EXPECT_EQ(keychainPassword(id), std::nullopt);

    // A keychain that refuses the password stops the save and says why.
    sheet.begin();
    sheet.setProxyHost("10.0.0.2");
    sheet.setProxyPort("3128");
    sheet.setProxyUsername("agent");
    sheet.setProxyPassword("fourth");
    secrets.setFailure(InMemorySecretStore::Operation::Add, SecretStoreError{5, "full", false});
    sheet.save();
    EXPECT_EQ(sheet.error(), "无法保存代理密码：full");
    EXPECT_TRUE(sheet.showing());
    EXPECT_EQ(selected().proxyHost.value_or(""), "");
}

} // namespace
} // namespace aurelo::test
