// The keychain contract against the desktop's Secret Service (gnome-keyring in the test session).

#include "KeychainContract.hpp"

#include "platform/LibsecretSecretStore.hpp"

namespace aurelo::test {
namespace {

struct LibsecretBackend {
    LibsecretSecretStore store;
    SecretStore& backend() { return store; }
};

INSTANTIATE_TYPED_TEST_SUITE_P(SecretService, KeychainContract, LibsecretBackend);

} // namespace
} // namespace aurelo::test
