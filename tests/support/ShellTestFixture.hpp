#pragma once

#include "platform/InMemorySecretStore.hpp"
#include "support/TestDirectory.hpp"
#include "support/FakeManagedService.hpp"
#include "support/MainLoopWait.hpp"
#include "translation/TranslationNetwork.hpp"
#include "viewmodels/ContentViewModel.hpp"

#include <gtest/gtest.h>

#include <memory>

namespace aurelo::test {

// Every store of the window over a temporary defaults file, an in-memory keychain and a fake
// managed service, and the main view's model on top.
class ShellTestFixture : public ::testing::Test {
protected:
    TestDirectory directory;
    std::filesystem::path defaultsFile = directory.path() / "aurelo-translator" / "defaults.json";
    std::unique_ptr<UserDefaults> defaults = std::make_unique<UserDefaults>(defaultsFile);
    InMemorySecretStore secrets;
    KeychainStore keychain{secrets};
    FakeManagedService fake;
    HttpSession session{TranslationNetwork::sessionConfiguration()};
    TranslationRequestCache cache;
    TranslationService translator{fake.origin(), session, cache};
    SessionStore store{*defaults, nullptr, nullptr};
    SettingsStore settings{*defaults, keychain, translator};
    AccountStore account{*defaults, keychain, fake.origin(), session};
    AppLockStore appLock{keychain};
    MainWindowPreferences preferences{*defaults};
    ContentViewModel model{store, settings, account, appLock, preferences, translator, "1.0.0"};

    ChatSession& addSession(const std::string& name, std::optional<std::string> url = std::nullopt) {
        if (url)
            store.addWebsite(name, *url);
        else
            store.add(name);
        return const_cast<ChatSession&>(store.sessions().back());
    }

    // Logs in as "alice" against the fake service, which then offers `engines`, and waits for
    // the login to end either way (with the engine list read when it succeeds).
    void logIn(const nlohmann::json& engines = nlohmann::json::array()) {
        fake.enqueue("/api/auth/login", ScriptedAnswer::json(200, {{"token", "tok-1"}}));
        fake.setFallback("/api/engines", ScriptedAnswer::json(200, {{"engines", engines}}));
        bool done = false;
        account.login("alice", "secret", [&] { done = true; });
        ASSERT_TRUE(runMainLoopUntil([&] { return done; }, std::chrono::seconds(5)));
    }

    // A fresh keyring, locked, whose unlock prompt the user answers with `userUnlocks`.
    void lockKeyring(bool userUnlocks) {
        secrets = InMemorySecretStore();
        secrets.setLocked(true);
        secrets.setUnlockAnswer(userUnlocks);
    }

    // Waits for the keyring's `count`th unlock prompt, then for what its answer sets off.
    void awaitPrompt(std::size_t count = 1) {
        ASSERT_TRUE(runMainLoopUntil([&] { return secrets.unlockRequests() == count; },
                                     std::chrono::seconds(5)));
        runMainLoopFor(std::chrono::milliseconds(50));
    }
};

} // namespace aurelo::test
