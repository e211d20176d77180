#include "KeychainContract.hpp"

#include "platform/InMemorySecretStore.hpp"

namespace aurelo::test {
namespace {

struct InMemoryBackend {
    InMemorySecretStore store;
    SecretStore& backend() { return store; }
};

INSTANTIATE_TYPED_TEST_SUITE_P(InMemory, KeychainContract, InMemoryBackend);

// ASCII names are checked through AppLockStore.
TEST(KeychainStoreTest, AppLockAccountFoldsCaseAndSurroundingSpace) {
    const std::pair<const char*, const char*> cases[] = {
        {" \t\n ", "aurelo-translator-app-lock-local-user"},
        {" Ärger Ölf\n", "aurelo-translator-app-lock-ärger ölf"},
        {"客服 01", "aurelo-translator-app-lock-客服 01"},
    };
    for (const auto& [username, account] : cases)
        EXPECT_EQ(KeychainStore::appLockAccount(username), account) << username;
}

// A failed removal stops the save: adding the new item would leave two, and a later load could
// return either.
TEST(KeychainStoreTest, FailuresAreReportedAndLeaveNoStaleOrDoubleItem) {
    EXPECT_EQ((KeychainStore::KeychainError{-25293, ""}).description(), "Keychain error -25293");
    InMemorySecretStore secrets;
    KeychainStore keychain(secrets);
    ASSERT_TRUE(keychain.save("old", "account"));
    secrets.setFailure(InMemorySecretStore::Operation::Remove, SecretStoreError{2, "locked"});
    auto saved = keychain.save("new", "account");
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().status, 2);
    EXPECT_EQ(secrets.items().at("account"), "old");
    secrets.setFailure(InMemorySecretStore::Operation::Remove, std::nullopt);

    std::vector<std::string> announced;
    keychain.signalStored().connect(
        [&](const std::string&, const std::string& value) { announced.push_back(value); });
    secrets.setFailure(InMemorySecretStore::Operation::Add, SecretStoreError{7, "refused"});
    saved = keychain.save("new", "account");
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().description(), "refused");
    EXPECT_FALSE(secrets.items().contains("account"));
    EXPECT_EQ(announced, std::vector<std::string>{""}) << "announced as what is now stored";

    secrets.setFailure(InMemorySecretStore::Operation::Lookup, SecretStoreError{24, "timed out"});
    auto loaded = keychain.load("account");
    ASSERT_FALSE(loaded) << "an error, not none";
    EXPECT_EQ(loaded.error().description(), "timed out");
}

} // namespace
} // namespace aurelo::test
