#pragma once

// The behaviour every secret store must give the keychain, checked against each backend.
// A backend fixture provides `SecretStore& backend()`.

#include "models/KeychainStore.hpp"

#include <glib.h>
#include <gtest/gtest.h>

namespace aurelo::test {

template <typename Backend> class KeychainContract : public ::testing::Test {
protected:
    Backend backendHolder;
    KeychainStore keychain{backendHolder.backend()};

    // Accounts unique to this run, so that a real keyring shared with other tests is safe.
    std::string account(const char* name) {
        std::string result =
            std::string("contract-") + name + "-" + std::to_string(g_get_monotonic_time());
        m_used.push_back(result);
        return result;
    }
    void TearDown() override {
        for (const auto& used : m_used)
            (void)keychain.save("", used);
    }
    std::optional<std::string> load(const std::string& name) {
        auto loaded = keychain.load(name);
        EXPECT_TRUE(loaded) << (loaded ? "" : loaded.error().description());
        return loaded ? *loaded : std::optional<std::string>("<error>");
    }

private:
    std::vector<std::string> m_used;
};

TYPED_TEST_SUITE_P(KeychainContract);

TYPED_TEST_P(KeychainContract, SavesUnchangedReplacesAndDeletesPerAccount) {
    EXPECT_EQ(this->load(this->account("never")), std::nullopt) << "none, not an error";
    for (std::string value : {"token", "  padded with spaces  ", "密码🔒 ünïcode", "line\nbreak"}) {
        auto name = this->account("unchanged");
        ASSERT_TRUE(this->keychain.save(value, name));
        EXPECT_EQ(this->load(name), value);
    }
    auto a = this->account("a");
    auto b = this->account("b");
    ASSERT_TRUE(this->keychain.save("first", a));
    ASSERT_TRUE(this->keychain.save("second", a));
    ASSERT_TRUE(this->keychain.save("value-b", b));
    EXPECT_EQ(this->load(a), "second");
    ASSERT_TRUE(this->keychain.save("", a));
    EXPECT_EQ(this->load(a), std::nullopt);
    EXPECT_EQ(this->load(b), "value-b");
    EXPECT_TRUE(this->keychain.save("", a)) << "deleting what is not there is fine";
}

TYPED_TEST_P(KeychainContract, BytesThatAreNotUtf8ReadAsNone) {
    auto name = this->account("binary");
    ASSERT_TRUE(this->backendHolder.backend().add(name, std::string("\xff\xfe\x80", 3)));
    EXPECT_EQ(this->load(name), std::nullopt);
}

REGISTER_TYPED_TEST_SUITE_P(KeychainContract, SavesUnchangedReplacesAndDeletesPerAccount,
                            BytesThatAreNotUtf8ReadAsNone);

} // namespace aurelo::test
