#pragma once

// The local lock password of the logged-in software account, kept in the keychain under an
// account derived from the user name.

#include "models/KeychainStore.hpp"

#include <sigc++/sigc++.h>

#include <cstddef>
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
    const std::string& keychainAccount() const { return m_keychainAccount; }

    void configure(std::string_view username);
    bool setPassword(const std::string& password, const std::string& confirmation);
    bool verify(const std::string& password);

    // Characters as the user sees them (extended grapheme clusters): a flag, an emoji family
    // joined with zero-width joiners or a letter with combining marks each count once.
    static std::size_t userPerceivedLength(std::string_view text);

    sigc::signal<void(Field)>& signalChanged() { return m_changed; }

private:
    void setHasPassword(bool value);
    void setMessage(std::string value);

    KeychainStore& m_keychain;
    bool m_hasPassword = false;
    std::string m_message;
    std::string m_keychainAccount;
    sigc::signal<void(Field)> m_changed;
};

} // namespace aurelo
