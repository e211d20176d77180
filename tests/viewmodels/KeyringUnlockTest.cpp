// A locked keyring met by an action the user started — logging in, setting a lock password,
// unlocking the lock screen:
// the desktop is asked to unlock it once for that action, the action goes on when the user
// unlocks, and the keyring's error is shown only when they cancel.

#include "support/FakeNotificationCenter.hpp"
#include "support/ShellTestFixture.hpp"
#include "viewmodels/SettingsViewModel.hpp"

namespace aurelo::test {
namespace {

constexpr const char* kLocked = "密钥环已锁定。"; // what the in-memory keyring says when locked

using KeyringUnlockTest = ShellTestFixture;

TEST_F(KeyringUnlockTest, LoginAsksOnceAndShowsTheErrorOnlyWhenTheUserCancels) {
    struct Case {
        const char* what;
        bool locked;
        bool userUnlocks;
        bool staysLocked;  // the keyring refuses the write even after the prompt
        const char* error; // "" when logged in
    };
    const Case cases[] = {
        {"unlocked keyring: no prompt", false, false, false, ""},
        {"user unlocks", true, true, false, ""},
        {"user cancels", true, false, false, kLocked},
        {"unlocked, yet the write is refused", true, true, true, kLocked},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        account.logout();
        lockKeyring(c.userUnlocks);
        secrets.setLocked(c.locked);
        if (c.staysLocked)
            secrets.setFailure(InMemorySecretStore::Operation::Add,
                               SecretStoreError{2, kLocked, true});
        std::vector<std::string> errorsSeen;
        auto watch = account.signalChanged().connect([&](AccountStore::Field field) {
            if (field == AccountStore::Field::ErrorMessage && !account.errorMessage().empty())
                errorsSeen.push_back(account.errorMessage());
        });
        logIn();
        watch.disconnect();
        const bool loggedIn = *c.error == '\0';
        EXPECT_EQ(secrets.unlockRequests(), c.locked ? 1u : 0u) << "asked once for the one login";
        EXPECT_EQ(account.isLoggedIn(), loggedIn);
        EXPECT_EQ(account.errorMessage(), c.error);
        EXPECT_EQ(errorsSeen.size(), loggedIn ? 0u : 1u)
            << "no error flashes up while the prompt is open";
        EXPECT_FALSE(account.isWorking());
        if (loggedIn) {
            EXPECT_EQ(secrets.items().at(std::string(KeychainStore::kLoginTokenAccount)), "tok-1");
        }
    }
}

TEST_F(KeyringUnlockTest, LockScreenAsksToUnlockTheKeyringInsteadOfCallingThePasswordWrong) {
    ASSERT_TRUE(model.saveLockSetup("2468", "2468"));
    ASSERT_TRUE(model.appLocked());

    // Locked keyring, the user cancels: the window stays locked and says why.
    secrets.setLocked(true);
    secrets.setUnlockAnswer(false);
    EXPECT_FALSE(model.unlockApplication("2468"));
    EXPECT_EQ(appLock.message(), "") << "nothing is said while the prompt is open";
    awaitPrompt();
    EXPECT_EQ(appLock.message(), kLocked);
    EXPECT_TRUE(model.appLocked());

    // Next attempt, the user unlocks the keyring: the right password opens the window.
    secrets.setUnlockAnswer(true);
    EXPECT_FALSE(model.unlockApplication("2468")) << "the answer waits for the prompt";
    awaitPrompt(2); // one prompt per attempt
    EXPECT_FALSE(model.appLocked());

    // Keyring open: a wrong password is wrong at once, with no prompt.
    ASSERT_TRUE(model.saveLockSetup("2468", "2468"));
    EXPECT_FALSE(model.unlockApplication("1357"));
    EXPECT_EQ(appLock.message(), "密码不正确");
    EXPECT_TRUE(model.unlockApplication("2468"));
    EXPECT_EQ(secrets.unlockRequests(), 2u);
}

TEST_F(KeyringUnlockTest, SettingALockPasswordAsksOnceAndKeepsTheFieldsWhenTheUserCancels) {
    FakeNotificationCenter notifications;
    SettingsViewModel page(settings, account, appLock, notifications);
    for (const bool userUnlocks : {false, true}) {
        SCOPED_TRACE(userUnlocks ? "user unlocks" : "user cancels");
        lockKeyring(userUnlocks);

        // The lock button's sheet: the window locks once the password is stored.
        EXPECT_FALSE(model.saveLockSetup("2468", "2468")) << "the answer waits for the prompt";
        EXPECT_EQ(appLock.message(), "") << "nothing is said while the prompt is open";
        awaitPrompt();
        EXPECT_EQ(model.appLocked(), userUnlocks);
        EXPECT_EQ(appLock.message(),
                  userUnlocks ? "锁屏密码已设置" : "密码保存失败：密钥环已锁定。");

        // The settings page: its fields are cleared only once the password is stored.
        lockKeyring(userUnlocks);
        appLock.configure("alice");
        page.setNewLockPassword("1357");
        page.setConfirmLockPassword("1357");
        page.saveLockPassword();
        awaitPrompt();
        EXPECT_EQ(page.newLockPassword(), userUnlocks ? "" : "1357");
        EXPECT_EQ(secrets.items().contains(appLock.keychainAccount()), userUnlocks);
        model.cancelLockSetup();
    }
}

} // namespace
} // namespace aurelo::test
