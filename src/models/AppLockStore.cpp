#include "models/AppLockStore.hpp"

#include "platform/GRef.hpp"

#include <pango/pango.h>

#include <vector>

namespace aurelo {

AppLockStore::AppLockStore(KeychainStore& keychain)
    : m_keychain(keychain), m_keychainAccount(KeychainStore::appLockAccount("")) {}

std::size_t AppLockStore::userPerceivedLength(std::string_view text) {
    if (text.empty())
        return 0;
    // Pango's cursor positions are the boundaries of extended grapheme clusters (UAX #29),
    // including emoji sequences and regional-indicator pairs. Broken UTF-8 is repaired first so
    // that every byte sequence has a length.
    const GCharPtr valid(g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
    const glong characters = g_utf8_strlen(valid.get(), -1);
    std::vector<PangoLogAttr> attributes(static_cast<std::size_t>(characters) + 1);
    pango_get_log_attrs(valid.get(), -1, -1, pango_language_from_string("en"), attributes.data(),
                        static_cast<int>(attributes.size()));
    std::size_t clusters = 0;
    for (std::size_t i = 1; i < attributes.size(); ++i)
        if (attributes[i].is_cursor_position)
            ++clusters;
    return clusters;
}

void AppLockStore::configure(std::string_view username) {
    m_keychainAccount = KeychainStore::appLockAccount(username);
    // A keychain that cannot be read counts as holding no password; it is not reported.
    auto stored = m_keychain.load(m_keychainAccount);
    setHasPassword(stored && *stored && !(*stored)->empty());
    setMessage("");
}

bool AppLockStore::acceptable(const std::string& password, const std::string& confirmation) {
    if (userPerceivedLength(password) < kMinimumPasswordLength) {
        setMessage("密码至少需要 4 个字符");
        return false;
    }
    if (password != confirmation) {
        setMessage("两次输入的密码不一致");
        return false;
    }
    return true;
}

bool AppLockStore::finishSave(const std::expected<void, KeychainStore::KeychainError>& saved) {
    if (!saved) {
        setMessage("密码保存失败：" + saved.error().description());
        return false;
    }
    setHasPassword(true);
    setMessage("锁屏密码已设置", false);
    return true;
}

bool AppLockStore::setPassword(const std::string& password, const std::string& confirmation) {
    return acceptable(password, confirmation) &&
           finishSave(m_keychain.save(password, m_keychainAccount));
}

void AppLockStore::setPasswordUnlocking(const std::string& password,
                                        const std::string& confirmation,
                                        std::function<void(bool saved)> done) {
    if (!acceptable(password, confirmation))
        return done(false);
    auto saved = m_keychain.save(password, m_keychainAccount);
    if (saved || !saved.error().locked)
        return done(finishSave(saved));
    setMessage("");
    m_keychain.unlock([this, cancellation = m_cancellable.token(), password, done = std::move(done),
                       error = saved.error()](bool unlocked) {
        if (cancellation.isCancelled())
            return;
        done(finishSave(unlocked ? m_keychain.save(password, m_keychainAccount)
                                 : std::unexpected(error)));
    });
}

bool AppLockStore::verify(const std::string& password) {
    auto stored = m_keychain.load(m_keychainAccount);
    if (stored && *stored && **stored == password) {
        setMessage("");
        return true;
    }
    setMessage("密码不正确");
    return false;
}

void AppLockStore::verifyUnlocking(const std::string& password,
                                   std::function<void(bool correct)> done) {
    auto stored = m_keychain.load(m_keychainAccount);
    if (stored || !stored.error().locked)
        return done(verify(password));
    setMessage("");
    m_keychain.unlock([this, cancellation = m_cancellable.token(), password, done = std::move(done),
                       error = stored.error()](bool unlocked) {
        if (cancellation.isCancelled())
            return;
        if (!unlocked) {
            setMessage(error.description());
            return done(false);
        }
        done(verify(password));
    });
}

void AppLockStore::setHasPassword(bool value) {
    if (m_hasPassword == value)
        return;
    m_hasPassword = value;
    m_changed.emit(Field::HasPassword);
}

void AppLockStore::setMessage(std::string value, bool isError) {
    if (m_message == value && m_messageIsError == isError)
        return;
    m_message = std::move(value);
    m_messageIsError = isError;
    m_changed.emit(Field::Message);
}

} // namespace aurelo
