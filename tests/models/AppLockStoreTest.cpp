#include "StoreTestSupport.hpp"

#include "models/AppLockStore.hpp"

#include <gtest/gtest.h>

namespace aurelo::test {
namespace {

TEST(AppLockStoreLengthTest, CountsCharactersAsTheUserSeesThem) {
    const std::pair<std::string, std::size_t> cases[] = {
        {"", 0},
        {"abcd", 4},
        {"密码好", 3},
        {"    ", 4},
        {"😀😁😂🤣", 4},
        {"👨‍👩‍👧‍👦", 1}, // family joined with zero-width joiners
        {"🇨🇳🇺🇸", 2},                      // two flags from four regional indicators
        {"e\u0301a\u0308", 2},            // letters with combining accents
        {"👍🏽x", 2},                 // skin-tone modifier
        {std::string("ab\xff", 3), 3},
    };
    for (const auto& [text, length] : cases)
        EXPECT_EQ(AppLockStore::userPerceivedLength(text), length) << text;
}

class AppLockStoreTest : public ::testing::Test {
protected:
    StoreEnvironment env;
    AppLockStore store{env.keychain};
};

TEST_F(AppLockStoreTest, PasswordIsCheckedStoredPerUserAndVerifiedExactly) {
    EXPECT_EQ(store.keychainAccount(), "aurelo-translator-app-lock-local-user");
    EXPECT_FALSE(store.verify("anything"));
    EXPECT_EQ(store.message(), "密码不正确");

    store.configure("Alice");
    EXPECT_FALSE(store.setPassword("密码好", "不一样"));
    EXPECT_EQ(store.message(), "密码至少需要 4 个字符");
    EXPECT_FALSE(store.setPassword("abcd", "abce"));
    EXPECT_EQ(store.message(), "两次输入的密码不一致");
    EXPECT_TRUE(env.secrets.items().empty());
    std::vector<AppLockStore::Field> changes;
    store.signalChanged().connect([&](AppLockStore::Field f) { changes.push_back(f); });
    EXPECT_TRUE(store.setPassword("    ", "    "));
    EXPECT_EQ(store.message(), "锁屏密码已设置");
    EXPECT_EQ(env.secrets.items().at("aurelo-translator-app-lock-alice"), "    ");
    EXPECT_EQ(changes, (std::vector<AppLockStore::Field>{AppLockStore::Field::HasPassword,
                                                         AppLockStore::Field::Message}));

    // Spaces are part of the password; a success clears the message.
    EXPECT_FALSE(store.verify(""));
    EXPECT_FALSE(store.verify("   "));
    EXPECT_TRUE(store.verify("    "));
    EXPECT_EQ(store.message(), "");

    // User names differing in case or surrounding space share one password.
    store.configure("  ALICE \n");
    EXPECT_TRUE(store.verify("    "));
    store.configure("bob");
    EXPECT_FALSE(store.hasPassword());
    EXPECT_FALSE(store.verify("    "));
}

TEST_F(AppLockStoreTest, KeychainFailures) {
    store.configure("alice");
    ASSERT_TRUE(store.setPassword("1234", "1234"));

    env.secrets.setFailure(InMemorySecretStore::Operation::Add,
                           SecretStoreError{2, "The collection is locked"});
    EXPECT_FALSE(store.setPassword("5678", "5678"));
    EXPECT_EQ(store.message(), "密码保存失败：The collection is locked");
    EXPECT_TRUE(store.hasPassword());
    env.secrets.setFailure(InMemorySecretStore::Operation::Add, std::nullopt);

    env.secrets.putRaw("aurelo-translator-app-lock-alice", "1234");
    env.secrets.setFailure(InMemorySecretStore::Operation::Lookup, SecretStoreError{24, "down"});
    EXPECT_FALSE(store.verify("1234"));
    EXPECT_EQ(store.message(), "密码不正确");
    // An unreadable keychain while configuring counts as no password, silently.
    store.configure("alice");
    EXPECT_FALSE(store.hasPassword());
    EXPECT_EQ(store.message(), "");
}

} // namespace
} // namespace aurelo::test
