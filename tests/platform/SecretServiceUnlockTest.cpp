// The unlock request against the test session's Secret Service: an unlocked keyring answers at
// once without a prompt; a Secret Service that is not there answers "not unlocked" instead of
// leaving the action that asked waiting.

#include "platform/LibsecretSecretStore.hpp"
#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace aurelo {
namespace {

using namespace std::chrono_literals;

std::optional<bool> unlockAnswer(LibsecretSecretStore& store) {
    std::optional<bool> answer;
    store.unlock([&](bool unlocked) { answer = unlocked; });
    EXPECT_FALSE(answer) << "answers on the main loop, never inside the call";
    test::runMainLoopUntil([&] { return answer.has_value(); }, 10s);
    return answer;
}

TEST(SecretServiceUnlock, AnswersForTheKeyringOfThisSession) {
    if (std::getenv("AURELO_TEST_WITHOUT_BUS"))
        GTEST_SKIP() << "needs the session bus";
    LibsecretSecretStore store;
    // The test session's keyring is unlocked; without a Secret Service nothing can be unlocked.
    const bool serviceMissing = std::getenv("AURELO_TEST_SECRET_SERVICE") != nullptr;
    EXPECT_EQ(unlockAnswer(store), std::optional<bool>(!serviceMissing));
}

TEST(SecretServiceUnlock, StoreGoneBeforeTheAnswerCallsNothing) {
    if (std::getenv("AURELO_TEST_WITHOUT_BUS"))
        GTEST_SKIP() << "needs the session bus";
    bool called = false;
    {
        LibsecretSecretStore store;
        store.unlock([&](bool) { called = true; });
    }
    test::runMainLoopFor(500ms);
    EXPECT_FALSE(called);
}

} // namespace
} // namespace aurelo
