#include "StoreTestSupport.hpp"

#include "models/ProxyPasswords.hpp"
#include "models/SessionStore.hpp"

#include <gtest/gtest.h>

namespace aurelo::test {
namespace {

class ProxyPasswordsTest : public ::testing::Test {
protected:
    StoreEnvironment env;
    RecordingCleaner cleaner;
    SessionStore store{*env.defaults, nullptr, &cleaner};
    ProxyPasswords passwords{env.keychain, store};

    std::optional<std::string> inKeychain(const ChatSession& session) {
        return env.secrets.lookup("aurelo-translator-proxy-" + session.id).value();
    }
};

TEST_F(ProxyPasswordsTest, APasswordLivesUnderTheUpperCaseSessionIdAndIsReadAfterARestart) {
    EXPECT_EQ(KeychainStore::proxyPasswordAccount("abcdef01-1111-4111-8111-111111111111"),
              "aurelo-translator-proxy-ABCDEF01-1111-4111-8111-111111111111");
    ChatSession session = ChatSession::make("Proxied");
    std::vector<std::string> changed;
    passwords.signalChanged().connect([&](const std::string& id) { changed.push_back(id); });
    // Stored before the account is added, as the new-account sheet does.
    ASSERT_TRUE(passwords.setPassword(session.id, "s3cret:@/%"));
    ASSERT_TRUE(passwords.setPassword(session.id, "s3cret:@/%"));
    EXPECT_EQ(changed, std::vector<std::string>{session.id}) << "the same password is no change";
    store.addSession(session);
    EXPECT_EQ(inKeychain(session), "s3cret:@/%");

    SessionStore restarted{*env.defaults, nullptr, nullptr};
    ProxyPasswords again{env.keychain, restarted};
    EXPECT_EQ(again.password(session.id), "s3cret:@/%");
}

TEST_F(ProxyPasswordsTest, ASessionThatLeavesTheListTakesItsPasswordAlong) {
    const ChatSession kept = ChatSession::make("Kept");
    const ChatSession deleted = ChatSession::make("Deleted");
    const ChatSession replaced = ChatSession::make("Replaced");
    for (const auto* session : {&kept, &deleted, &replaced}) {
        ASSERT_TRUE(passwords.setPassword(session->id, "pw-" + session->name));
        store.addSession(*session);
    }
    store.remove(deleted);
    EXPECT_EQ(inKeychain(deleted), std::nullopt);
    EXPECT_EQ(cleaner.cleared, std::vector<std::string>{deleted.id});

    // A list replaced as a whole drops the passwords of the sessions it no longer has.
    store.setSessions({store.sessions()[0], kept});
    EXPECT_EQ(inKeychain(replaced), std::nullopt);
    EXPECT_EQ(passwords.password(replaced.id), "");
    EXPECT_EQ(passwords.password(kept.id), "pw-Kept");
}

TEST_F(ProxyPasswordsTest, AnUnreadableKeychainGivesNoPasswordAndIsAskedAgainLater) {
    const ChatSession session = ChatSession::make("A");
    env.secrets.putRaw("aurelo-translator-proxy-" + session.id, "later");
    env.secrets.setFailure(InMemorySecretStore::Operation::Lookup,
                           SecretStoreError{1, "locked", true});
    EXPECT_EQ(passwords.password(session.id), "");
    env.secrets.setFailure(InMemorySecretStore::Operation::Lookup, std::nullopt);
    EXPECT_EQ(passwords.password(session.id), "later");

    // A failed save leaves no stale copy behind.
    env.secrets.setFailure(InMemorySecretStore::Operation::Add, SecretStoreError{2, "full"});
    EXPECT_FALSE(passwords.setPassword(session.id, "new"));
    env.secrets.setFailure(InMemorySecretStore::Operation::Add, std::nullopt);
    EXPECT_EQ(passwords.password(session.id), "");
}

} // namespace
} // namespace aurelo::test
