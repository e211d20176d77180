#include "support/ScopedEnv.hpp"
#include "support/TestDirectory.hpp"

#include "platform/AtomicFile.hpp"
#include "platform/UserDefaults.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <set>

#include <sys/wait.h>
#include <unistd.h>

namespace aurelo {
namespace {

using test::readFile;
using test::TestDirectory;
using test::writeFile;

class UserDefaultsTest : public ::testing::Test {
protected:
    TestDirectory home;
    std::filesystem::path file = home.path() / "aurelo-translator" / "defaults.json";
};

TEST_F(UserDefaultsTest, StandardLocationFollowsXdgConfigHome) {
    test::ScopedEnv environment({{"XDG_CONFIG_HOME", home.path().string()}});
    EXPECT_EQ(UserDefaults::standardLocation(), file);
    // A relative value is invalid by the XDG rules and falls back to ~/.config.
    environment.set("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(UserDefaults::standardLocation().parent_path().parent_path().filename(), ".config");
}

TEST_F(UserDefaultsTest, NothingIsWrittenBeforeAChangeAndValuesSurviveARestartWithTheirTypes) {
    {
        UserDefaults defaults(file);
        EXPECT_FALSE(defaults.contains("b"));
        EXPECT_FALSE(std::filesystem::exists(file));
        ASSERT_TRUE(defaults.set("b", "text"));
        EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        ASSERT_TRUE(defaults.set("a", false));
        ASSERT_TRUE(defaults.set("c", 16.5));
        ASSERT_TRUE(defaults.set("list", UserDefaults::Json::array({1, 2})));
        ASSERT_TRUE(defaults.remove("c"));
    }
    UserDefaults defaults(file);
    EXPECT_EQ(defaults.string("b"), "text");
    EXPECT_EQ(defaults.boolean("a"), false);
    EXPECT_FALSE(defaults.contains("c"));
    EXPECT_EQ(defaults.value("list"), UserDefaults::Json::array({1, 2}));
    // Keys keep the order they were first written in.
    EXPECT_EQ(readFile(file), "{\n  \"b\": \"text\",\n  \"a\": false,\n  \"list\": [\n    1,\n"
                              "    2\n  ]\n}\n");
    // Reading a value as another type gives nothing rather than a converted value.
    EXPECT_EQ(defaults.string("a"), std::nullopt);
    EXPECT_EQ(defaults.boolean("b"), std::nullopt);
    EXPECT_EQ(defaults.number("b"), std::nullopt);
}

TEST_F(UserDefaultsTest, UnreadableFileIsMovedAsideWithItsBytesAndNeverOverwritten) {
    // The last: valid JSON nested so deep that writing it again would overflow the stack.
    const std::string cases[] = {"{\"translationProvider\": \"deepl\"",
                                 "[1, 2, 3]",
                                 "\"text\"",
                                 "",
                                 std::string("\xff\xfe\0garbage", 10),
                                 "{\"translationProvider\": \"deepl\", \"x\": " +
                                     std::string(200000, '[') + std::string(200000, ']') + "}"};
    for (const auto& contents : cases) {
        SCOPED_TRACE(testing::PrintToString(contents));
        std::filesystem::remove_all(file.parent_path());
        writeFile(file, contents);

        UserDefaults defaults(file);
        EXPECT_FALSE(defaults.contains("translationProvider"));
        ASSERT_TRUE(defaults.setAsideFile().has_value());
        EXPECT_TRUE(
            defaults.setAsideFile()->filename().string().starts_with("defaults.json.unreadable-"));
        EXPECT_EQ(readFile(*defaults.setAsideFile()), contents);

        ASSERT_TRUE(defaults.set("translationProvider", "google"));
        EXPECT_EQ(readFile(*defaults.setAsideFile()), contents);
        EXPECT_EQ(UserDefaults(file).string("translationProvider"), "google");
    }
    // A second damaged file within the same second gets a name of its own.
    writeFile(file, "first broken");
    UserDefaults first(file);
    writeFile(file, "second broken");
    UserDefaults second(file);
    EXPECT_EQ(readFile(first.setAsideFile().value()), "first broken");
    EXPECT_EQ(readFile(second.setAsideFile().value()), "second broken");
}

TEST_F(UserDefaultsTest, AFileThatCannotBeReadOrWrittenKeepsChangesInMemoryAndIsLeftAlone) {
    // A folder where the file should be: opening works, reading fails (also for root, who
    // would read a file without permissions).
    std::filesystem::create_directories(file);
    UserDefaults unreadable(file);
    EXPECT_TRUE(unreadable.readOnlyReason().has_value());
    EXPECT_FALSE(unreadable.setAsideFile().has_value());
    EXPECT_FALSE(unreadable.set("translationProvider", "deepl"));
    EXPECT_EQ(unreadable.string("translationProvider"), "deepl");
    EXPECT_TRUE(std::filesystem::is_directory(file));

    // The configuration folder is a plain file, so nothing can be written under it.
    writeFile(home.path() / "blocked", "x");
    UserDefaults unwritable(home.path() / "blocked" / "defaults.json");
    auto written = unwritable.set("key", 1);
    ASSERT_FALSE(written);
    EXPECT_FALSE(written.error().empty());
    EXPECT_EQ(unwritable.number("key"), 1);
}

// A process killed at any moment of a write leaves the old file or the new one, whole.
TEST_F(UserDefaultsTest, KillingTheWriterMidWriteNeverLeavesATornFile) {
    // Large contents make each write take long enough for kills to land inside it.
    const std::string first = "{\"k\": \"" + std::string(1 << 20, 'a') + "\"}";
    const std::string second = "{\"k\": \"" + std::string(1 << 20, 'b') + "\"}";
    ASSERT_TRUE(writeFileAtomically(file, first));
    writeFile(file.parent_path() / "notes.txt", "the user's own file");

    for (int round = 0; round < 12; ++round) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (unsigned i = 0;; ++i)
                if (!writeFileAtomically(file, i % 2 ? first : second))
                    ::_exit(2);
        }
        // Meanwhile a reader, like the next start of the program, never sees half a file.
        std::optional<std::size_t> tornRead;
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(5 + round * 7);
        while (!tornRead && std::chrono::steady_clock::now() < until) {
            std::string seen = readFile(file);
            if (seen != first && seen != second)
                tornRead = seen.size();
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own: " << status;
        EXPECT_FALSE(tornRead) << "round " << round << ": a reader saw " << *tornRead << " bytes";

        std::string contents = readFile(file);
        EXPECT_TRUE(contents == first || contents == second)
            << "round " << round << ": torn file of " << contents.size() << " bytes";
    }
    // The next start clears what the killed writers left behind, and nothing else.
    UserDefaults defaults(file);
    EXPECT_TRUE(defaults.string("k").has_value());
    std::set<std::filesystem::path> left;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path()))
        left.insert(entry.path().filename());
    EXPECT_EQ(left, (std::set<std::filesystem::path>{"defaults.json", "notes.txt"}));
}

} // namespace
} // namespace aurelo
