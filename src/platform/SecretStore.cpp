#include "platform/SecretStore.hpp"

#include "platform/MainLoop.hpp"

namespace aurelo {

void SecretStore::unlock(std::function<void(bool unlocked)> done) {
    postToMainLoop([done = std::move(done)] { done(false); });
}

} // namespace aurelo
