// What the memory watchdog reads from /proc, malformed text included, and the ceiling it applies.

#include "web/PageMemory.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include <unistd.h>

namespace aurelo::test {
namespace {

using namespace std::string_literals;
constexpr std::uint64_t kMiB = 1024;
constexpr std::uint64_t kGiB = 1024 * kMiB;

TEST(PageMemory, KiBFieldsOfProcFiles) {
    const struct {
        const char* text;
        std::optional<std::uint64_t> pss;
    } cases[] = {
        {"55d0a0000000-7ffc3a5ff000 ---p 00000000 00:00 0 [rollup]\nRss:  412340 kB\n"
         "Pss:  398012 kB\nPss_Anon: 380000 kB\n",
         398012},
        {"Pss_Anon: 380000 kB\nPss: 12 kB", 12}, // the prefix of another field is not the field
        {"Rss: 412340 kB\n", std::nullopt},
        {"Pss: kB\n", std::nullopt},
        {"Pss: -5 kB\n", std::nullopt},
        {"Pss: 12 MB\n", std::nullopt},
        {"Pss: 99999999999999999999999 kB\n", std::nullopt},
        {"Pss: 4", std::nullopt}, // cut short
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pssKiBFromSmapsRollup(c.text), c.pss) << c.text;
    EXPECT_EQ(memTotalKiBFromMeminfo("MemTotal:       16318480 kB\nMemFree: 1 kB\n"), 16318480u);
    EXPECT_EQ(memTotalKiBFromMeminfo("MemFree: 1 kB\n"), std::nullopt);
}

TEST(PageMemory, WhichProcessIsAPagesWebProcess) {
    const auto line = [](std::initializer_list<const char*> arguments) {
        std::string text;
        for (const char* argument : arguments)
            text += argument + "\0"s;
        return text;
    };
    const std::string webProcess =
        line({"/usr/lib/x86_64-linux-gnu/webkitgtk-6.0/WebKitWebProcess", "7", "23", "25"});
    EXPECT_TRUE(isWebProcessCommandLine(webProcess, "7"));
    EXPECT_FALSE(isWebProcessCommandLine(webProcess, "23")) << "the socket is not the identity";
    EXPECT_FALSE(isWebProcessCommandLine(webProcess, "")) << "an empty identity names nothing";
    EXPECT_FALSE(isWebProcessCommandLine(
        line({"/usr/bin/bwrap", "--args", "29", "--", "/usr/lib/WebKitWebProcess", "7"}), "7"))
        << "the sandbox launcher in front of it";
    EXPECT_FALSE(isWebProcessCommandLine(line({"/usr/lib/WebKitNetworkProcess", "7"}), "7"));
    EXPECT_FALSE(isWebProcessCommandLine("", "7"));
    EXPECT_FALSE(isWebProcessIdentifier("7 23"));
    EXPECT_FALSE(isWebProcessIdentifier("../../1"));

    EXPECT_EQ(parentPidFromStat("4242 (WebKitWebProcess) S 4241 4240 0"), 4241);
    EXPECT_EQ(parentPidFromStat("4242 (a) b) (c) S 17 4240"), 17) << "a name with parentheses";
    EXPECT_EQ(parentPidFromStat("4242 (WebKitWebProcess) S"), std::nullopt);
    EXPECT_EQ(parentPidFromStat("4242 WebKitWebProcess S 1"), std::nullopt);

    // Our own process, as the watchdog reads it.
    std::ifstream self("/proc/self/stat");
    const std::string stat{std::istreambuf_iterator<char>(self), {}};
    EXPECT_EQ(parentPidFromStat(stat), getppid());
}

TEST(PageMemory, TheCeilingOfEachAccountsPage) {
    const struct {
        PageMemoryLimit limit;
        std::optional<std::uint64_t> machine;
        std::size_t open;
        std::optional<std::uint64_t> ceiling;
    } cases[] = {
        {PageMemoryLimit::MB512, 16 * kGiB, 3, 512 * kMiB},
        {PageMemoryLimit::GB1, 16 * kGiB, 3, kGiB},
        {PageMemoryLimit::GB2, 2 * kGiB, 9, 2 * kGiB},
        {PageMemoryLimit::Unlimited, 16 * kGiB, 3, std::nullopt},
        {PageMemoryLimit::Automatic, 16 * kGiB, 4, 2 * kGiB},
        {PageMemoryLimit::Automatic, 16 * kGiB, 1, 8 * kGiB},
        {PageMemoryLimit::Automatic, 16 * kGiB, 0, 8 * kGiB},
        {PageMemoryLimit::Automatic, 8 * kGiB, 12, 512 * kMiB}, // never below 512 MB
        {PageMemoryLimit::Automatic, std::nullopt, 2, kGiB},    // unknown: as 4 GB
    };
    for (const auto& c : cases)
        EXPECT_EQ(pageMemoryCeilingKiB(c.limit, c.machine, c.open), c.ceiling)
            << pageMemoryLimitRawValue(c.limit) << " on " << c.machine.value_or(0) << " KiB, "
            << c.open << " open";
}

TEST(PageMemory, SizesAsTheBarWritesThem) {
    EXPECT_EQ(memorySizeText(300 * kMiB), "300 MB");
    EXPECT_EQ(memorySizeText(312377), "305 MB");
    EXPECT_EQ(memorySizeText(kGiB), "1 GB");
    EXPECT_EQ(memorySizeText(kGiB + 400 * kMiB), "1.4 GB");
}

} // namespace
} // namespace aurelo::test
