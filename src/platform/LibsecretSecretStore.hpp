#pragma once

#include "platform/GRef.hpp"
#include "platform/SecretStore.hpp"

#include <chrono>
#include <cstdint>
#include <string>

namespace aurelo {

// Secrets in the desktop's Secret Service (GNOME Keyring, KWallet, KeePassXC) through libsecret.
// Every item carries the string attributes "service" and "account" and nothing else to match
// on, so `secret-tool lookup service <service> account <account>` finds it too.
//
// The operations are synchronous for their callers but never wait longer than `timeout`: each
// runs libsecret's asynchronous calls on a private main context and cancels them at the
// deadline, so a Secret Service that hangs or sits behind an unanswered unlock prompt costs the
// main loop at most that long. A locked keyring is reported as a failure instead of opening a
// prompt in the middle of an operation.
//
// libsecret talks to the D-Bus name in SECRET_SERVICE_BUS_NAME when that is set, otherwise to
// org.freedesktop.secrets; the tests use the variable to put a broken service in its place.
class LibsecretSecretStore final : public SecretStore {
public:
    static constexpr const char* kService = "com.aurelo.translator.google";
    static constexpr std::chrono::milliseconds kDefaultTimeout{5000};
    static constexpr std::chrono::seconds kUnresponsivePause{30};

    struct Options {
        std::string service = kService;
        std::chrono::milliseconds timeout = kDefaultTimeout;
    };

    LibsecretSecretStore();
    explicit LibsecretSecretStore(Options options);
    LibsecretSecretStore(const LibsecretSecretStore&) = delete;
    LibsecretSecretStore& operator=(const LibsecretSecretStore&) = delete;
    ~LibsecretSecretStore() override;

    SecretResult<std::optional<std::string>> lookup(const std::string& account) override;
    SecretResult<void> remove(const std::string& account) override;
    SecretResult<void> add(const std::string& account, const std::string& value) override;
    // Unlocks the default collection, where our items live, through the Secret Service's own
    // prompt (the desktop's unlock dialog). Asynchronous on the main loop and without a deadline:
    // the user takes the time they need. Pending requests end silently with the store.
    void unlock(std::function<void(bool unlocked)> done) override;

private:
    // After a time-out the service is taken as unresponsive for a while and calls fail at once,
    // so that the reads of a whole start-up do not each wait out their own time-out.
    SecretResult<void> checkResponsive() const;
    SecretResult<std::optional<std::string>> lookupItem(const std::string& account);
    SecretResult<void> removeItems(const std::string& account);
    SecretResult<void> addItem(const std::string& account, const std::string& value);
    template <typename T> SecretResult<T> noteOutcome(SecretResult<T> outcome);

    Options m_options;
    GRef<GCancellable> m_unlocks;
    std::int64_t m_unresponsiveUntil = 0; // monotonic microseconds
};

} // namespace aurelo
