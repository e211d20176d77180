#pragma once

// The local lock password of the logged-in software account, kept in the keychain under an
// account derived from the user name.

#include "models/KeychainStore.hpp"
#include "platform/Cancellable.hpp"

#include <sigc++/sigc++.h>

#include <cstddef>
#include <expected>
#include <functional>
#include <string>
#include <string_view>

namespace aurelo {

class AppLockStore {
public:
    enum class Field { HasPassword, Message };
    static constexpr std::size_t kMinimumPasswordLength = 4;

    explicit AppLockStore(KeychainStore& keychain);
    AppLockStore(const AppLockStore&) = delete;
    AppLockStore& operator=(const AppLockStore&) = delete;

    bool hasPassword() const { return m_hasPassword; }
    const std::string& message() const { return m_message; }
    // Whether the message reports something that went wrong; "锁屏密码已设置" does not.
    bool messageIsError() const { return m_messageIsError; }
    const std::string& keychainAccount() const { return m_keychainAccount; }

    void configure(std::string_view username);
    bool setPassword(const std::string& password, const std::string& confirmation);
    // setPassword() for a password the user is setting now. A locked keyring is offered for
    // unlocking (once for this attempt) and the password saved after; the message names the
    // locked keyring only when the user cancels. `done` runs once with whether it was saved:
    // inside the call when no prompt was needed, on the main loop otherwise, and not at all
    // once the store is gone.
    void setPasswordUnlocking(const std::string& password, const std::string& confirmation,
                              std::function<void(bool saved)> done);
    bool verify(const std::string& password);
    // verify() for a password typed on the lock screen. A locked keyring would make every
    // password wrong; the desktop is asked to unlock it instead (once for this attempt) and the
    // password checked after. The message names the locked keyring only when the user cancels.
    // `done` runs once: inside the call when no prompt was needed, on the main loop otherwise,
    // and not at all once the store is gone.
    void verifyUnlocking(const std::string& password, std::function<void(bool correct)> done);

    // Characters as the user sees them (extended grapheme clusters): a flag, an emoji family
    // joined with zero-width joiners or a letter with combining marks each count once.
    static std::size_t userPerceivedLength(std::string_view text);

    sigc::signal<void(Field)>& signalChanged() { return m_changed; }

private:
    // The length and confirmation rules; false with the message set when one is broken.
    bool acceptable(const std::string& password, const std::string& confirmation);
    bool finishSave(const std::expected<void, KeychainStore::KeychainError>& saved);
    void setHasPassword(bool value);
    void setMessage(std::string value, bool isError = true);

    KeychainStore& m_keychain;
    Cancellable m_cancellable;
    bool m_hasPassword = false;
    std::string m_message;
    bool m_messageIsError = true;
    std::string m_keychainAccount;
    sigc::signal<void(Field)> m_changed;
};

} // namespace aurelo
