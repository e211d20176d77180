#include "StoreTestSupport.hpp"

#include "models/ProxyPasswords.hpp"
#include "models/SessionStore.hpp"

#include <gtest/gtest.h>

namespace aurelo::test {
namespace {

using Json = UserDefaults::Json;

constexpr const char* kID = "11111111-1111-4111-8111-111111111111";

TEST(ProxyUsernameCodingTest, StoredOnlyWhenNonEmptyAndReadStrictlyLikeTheOtherProxyFields) {
    ChatSession session;
    session.id = kID;
    session.name = "A";
    for (const std::optional<std::string>& absent :
         {std::optional<std::string>(), std::optional<std::string>("")}) {
        session.proxyUsername = absent;
        EXPECT_FALSE(encodeSessions({session})[0].contains("proxyUsername"));
    }
    session.proxyUsername = "user@isp:1";
    const Json stored = encodeSessions({session});
    EXPECT_EQ(stored[0]["proxyUsername"], "user@isp:1");
    EXPECT_EQ(decodeSessions(stored).value(), std::vector<ChatSession>{session});

    // A hand-written empty name reads as none; a name of the wrong type fails the list, so the
    // list is kept aside instead of an account silently losing its proxy login.
    auto empty = decodeSessions(Json::parse(R"([{"id": ")" + std::string(kID) +
                                            R"(", "name": "A", "proxyUsername": ""}])"));
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ((*empty)[0].proxyUsername, std::nullopt);
    EXPECT_FALSE(decodeSessions(Json::parse(R"([{"id": ")" + std::string(kID) +
                                            R"(", "name": "A", "proxyUsername": 7}])"))
                     .has_value());
    session.proxyUsername = "u";
    EXPECT_EQ(effectiveSettings(session, {}).proxyUsername, "u");
}

class ProxyPasswordsTest : public ::testing::Test {
protected:
    StoreEnvironment env;
    RecordingCleaner cleaner;
    SessionStore store{*env.defaults, nullptr, &cleaner};
    ProxyPasswords passwords{env.keychain, store};

    static std::string account(const std::string& id) { return "aurelo-translator-proxy-" + id; }
};

TEST_F(ProxyPasswordsTest, APasswordLivesInTheKeychainUnderTheUpperCaseSessionIdAndNowhereElse) {
    ChatSession session = ChatSession::make("Proxied");
    session.proxyUsername = "agent";
    std::vector<std::string> changed;
    passwords.signalChanged().connect([&](const std::string& id) { changed.push_back(id); });
    // Stored before the account is added, as the new-account sheet does.
    ASSERT_TRUE(passwords.setPassword(session.id, "s3cret:@/%").has_value());
    store.addSession(session);

    EXPECT_EQ(env.secrets.lookup(account(session.id)).value(), "s3cret:@/%");
    EXPECT_EQ(KeychainStore::proxyPasswordAccount("abcdef01-1111-4111-8111-111111111111"),
              "aurelo-translator-proxy-ABCDEF01-1111-4111-8111-111111111111");
    EXPECT_EQ(env.storedDefaults().dump().find("s3cret"), std::string::npos);
    EXPECT_EQ(changed, std::vector<std::string>{session.id});

    // A later start reads it back from the keychain.
    SessionStore restarted{*env.defaults, nullptr, nullptr};
    ProxyPasswords again{env.keychain, restarted};
    EXPECT_EQ(again.password(session.id), "s3cret:@/%");

    // Saving the same password again is no change; clearing it removes the item.
    ASSERT_TRUE(passwords.setPassword(session.id, "s3cret:@/%").has_value());
    EXPECT_EQ(changed.size(), 1u);
    ASSERT_TRUE(passwords.setPassword(session.id, "").has_value());
    EXPECT_EQ(env.secrets.lookup(account(session.id)).value(), std::nullopt);
    EXPECT_EQ(passwords.password(session.id), "");
}

TEST_F(ProxyPasswordsTest, ASessionThatLeavesTheListTakesItsPasswordAlong) {
    ChatSession kept = ChatSession::make("Kept");
    ChatSession deleted = ChatSession::make("Deleted");
    ChatSession replaced = ChatSession::make("Replaced");
    for (const auto* session : {&kept, &deleted, &replaced}) {
        ASSERT_TRUE(passwords.setPassword(session->id, "pw-" + session->name).has_value());
        store.addSession(*session);
    }
    store.remove(deleted);
    EXPECT_EQ(env.secrets.lookup(account(deleted.id)).value(), std::nullopt);
    EXPECT_EQ(cleaner.cleared, std::vector<std::string>{deleted.id});

    // A list replaced as a whole drops the passwords of the sessions it no longer has.
    std::vector<ChatSession> remaining;
    for (const auto& session : store.sessions())
        if (session.id != replaced.id)
            remaining.push_back(session);
    store.setSessions(remaining);
    EXPECT_EQ(env.secrets.lookup(account(replaced.id)).value(), std::nullopt);
    EXPECT_EQ(passwords.password(replaced.id), "");
    EXPECT_EQ(passwords.password(kept.id), "pw-Kept");
}

TEST_F(ProxyPasswordsTest, AnUnreadableKeychainGivesNoPasswordAndIsAskedAgainLater) {
    ChatSession session = ChatSession::make("A");
    env.secrets.putRaw(account(session.id), "later");
    env.secrets.setFailure(InMemorySecretStore::Operation::Lookup,
                           SecretStoreError{1, "locked", true});
    EXPECT_EQ(passwords.password(session.id), "");
    env.secrets.setFailure(InMemorySecretStore::Operation::Lookup, std::nullopt);
    EXPECT_EQ(passwords.password(session.id), "later");

    // A failed save reports the error and leaves no stale copy behind.
    env.secrets.setFailure(InMemorySecretStore::Operation::Add, SecretStoreError{2, "full", false});
    EXPECT_FALSE(passwords.setPassword(session.id, "new").has_value());
    env.secrets.setFailure(InMemorySecretStore::Operation::Add, std::nullopt);
    EXPECT_EQ(passwords.password(session.id), "");
}

} // namespace
} // namespace aurelo::test
