#include "platform/ForeignLaunch.hpp"
#include "support/ScopedEnv.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

TEST(ForeignLaunchTest, TheAudioTagIsLeftBehind) {
    const test::ScopedEnv tagged(
        {{kOwnAudioTagVariable, "4242"}, {"AURELO_FOREIGN_LAUNCH_TEST", "kept"}});
    char** environment = foreignEnvironment();
    EXPECT_EQ(g_environ_getenv(environment, kOwnAudioTagVariable), nullptr);
    EXPECT_STREQ(g_environ_getenv(environment, "AURELO_FOREIGN_LAUNCH_TEST"), "kept");
    g_strfreev(environment);

    auto context = foreignLaunchContext();
    char** launched = g_app_launch_context_get_environment(context.get());
    EXPECT_EQ(g_environ_getenv(launched, kOwnAudioTagVariable), nullptr);
    EXPECT_STREQ(g_environ_getenv(launched, "AURELO_FOREIGN_LAUNCH_TEST"), "kept");
    g_strfreev(launched);
}

} // namespace
} // namespace aurelo
