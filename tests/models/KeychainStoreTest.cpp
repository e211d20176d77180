#include "KeychainContract.hpp"

#include "platform/InMemorySecretStore.hpp"

namespace aurelo::test {
namespace {

struct InMemoryBackend {
    InMemorySecretStore store;
    SecretStore& backend() { return store; }
};

INSTANTIATE_TYPED_TEST_SUITE_P(InMemory, KeychainContract, InMemoryBackend);

TEST(KeychainStoreTest, AppLockAccountFoldsCaseAndSurroundingSpace) {
    struct Case {
        const char* username;
        const char* account;
    };
    const Case cases[] = {
        {"", "aurelo-translator-app-lock-local-user"},
        {" \t\n ", "aurelo-translator-app-lock-local-user"},
        {"Alice", "aurelo-translator-app-lock-alice"},
        {"  ALICE \n", "aurelo-translator-app-lock-alice"},
        {"Ärger Ölf", "aurelo-translator-app-lock-ärger ölf"},
        {"客服 01", "aurelo-translator-app-lock-客服 01"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KeychainStore::appLockAccount(c.username), c.account) << c.username;
}

TEST(KeychainStoreTest, ErrorDescriptionIsThePlatformTextOrTheStatus) {
    EXPECT_EQ((KeychainStore::KeychainError{2, "The collection is locked"}).description(),
              "The collection is locked");
    EXPECT_EQ((KeychainStore::KeychainError{-25293, ""}).description(), "Keychain error -25293");
}

TEST(KeychainStoreTest, AFailedAddLeavesNoItemAndIsAnnouncedAsEmpty) {
    InMemorySecretStore secrets;
    KeychainStore keychain(secrets);
    ASSERT_TRUE(keychain.save("old", "account"));
    std::vector<std::string> announced;
    keychain.signalStored().connect(
        [&](const std::string&, const std::string& value) { announced.push_back(value); });

    secrets.setFailure(InMemorySecretStore::Operation::Add, SecretStoreError{7, "refused"});
    auto saved = keychain.save("new", "account");
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().description(), "refused");
    secrets.setFailure(InMemorySecretStore::Operation::Add, std::nullopt);
    EXPECT_EQ(*keychain.load("account"), std::nullopt);
    EXPECT_EQ(announced, std::vector<std::string>{""});
}

// When the old item cannot be removed, adding the new one would leave two items and a later
// load could return either; the save stops and reports instead.
TEST(KeychainStoreTest, AFailedRemovalStopsTheSave) {
    InMemorySecretStore secrets;
    KeychainStore keychain(secrets);
    ASSERT_TRUE(keychain.save("old", "account"));
    secrets.setFailure(InMemorySecretStore::Operation::Remove, SecretStoreError{2, "locked"});
    auto saved = keychain.save("new", "account");
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().status, 2);
    EXPECT_EQ(secrets.items().at("account"), "old");
}

TEST(KeychainStoreTest, AFailedLookupIsAnErrorNotNone) {
    InMemorySecretStore secrets;
    KeychainStore keychain(secrets);
    secrets.setFailure(InMemorySecretStore::Operation::Lookup, SecretStoreError{24, "timed out"});
    auto loaded = keychain.load("account");
    ASSERT_FALSE(loaded);
    EXPECT_EQ(loaded.error().description(), "timed out");
}

} // namespace
} // namespace aurelo::test
