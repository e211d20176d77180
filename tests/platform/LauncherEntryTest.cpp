#include "platform/LauncherEntry.hpp"
#include "support/BadgeListener.hpp"
#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace aurelo {
namespace {

TEST(LauncherEntryTest, SendsCountAndVisibilityForOurDesktopFile) {
    test::BadgeListener dock;
    ASSERT_TRUE(dock.connected());
    LauncherEntry entry;
    // Set before the bus connection is ready: it must still arrive.
    entry.show("1000", 1000);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return dock.updates.size() == 1; }));
    entry.show(std::nullopt, 0);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return dock.updates.size() == 2; }));
    EXPECT_EQ(dock.updates, (std::vector<std::string>{
                                "('application://com.aurelo.translator.desktop', "
                                "{'count': <int64 1000>, 'count-visible': <true>})",
                                "('application://com.aurelo.translator.desktop', "
                                "{'count': <int64 0>, 'count-visible': <false>})",
                            }));
}

TEST(LauncherEntryTest, DestroyedBeforeTheBusAnswersIsHarmless) {
    {
        LauncherEntry entry;
        entry.show("2", 2);
    }
    test::runMainLoopFor(std::chrono::milliseconds(100));
}

TEST(WithoutSessionBus, TheBadgeIsSilentlyAbsent) {
    if (!std::getenv("AURELO_TEST_WITHOUT_BUS"))
        GTEST_SKIP() << "runs as the platform_without_bus test";
    LauncherEntry entry;
    entry.show("5", 5);
    test::runMainLoopFor(std::chrono::milliseconds(200));
}

} // namespace
} // namespace aurelo
