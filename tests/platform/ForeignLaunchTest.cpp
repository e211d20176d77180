#include "platform/ForeignLaunch.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

TEST(ForeignLaunchTest, TheAudioTagIsLeftBehind) {
    g_setenv(kOwnAudioTagVariable, "4242", TRUE);
    g_setenv("AURELO_FOREIGN_LAUNCH_TEST", "kept", TRUE);
    char** environment = foreignEnvironment();
    EXPECT_EQ(g_environ_getenv(environment, kOwnAudioTagVariable), nullptr);
    EXPECT_STREQ(g_environ_getenv(environment, "AURELO_FOREIGN_LAUNCH_TEST"), "kept");
    g_strfreev(environment);

    auto context = foreignLaunchContext();
    char** launched = g_app_launch_context_get_environment(context.get());
    EXPECT_EQ(g_environ_getenv(launched, kOwnAudioTagVariable), nullptr);
    EXPECT_STREQ(g_environ_getenv(launched, "AURELO_FOREIGN_LAUNCH_TEST"), "kept");
    g_strfreev(launched);
    g_unsetenv(kOwnAudioTagVariable);
}

} // namespace
} // namespace aurelo
