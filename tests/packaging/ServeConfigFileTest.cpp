// The configuration file of the serve command: what it accepts, what it refuses with a clear
// message, and how it combines with the command line.

#include "service/ServeConfigFile.hpp"

#include "support/TestDirectory.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace aurelo::service {
namespace {

using Settings = std::vector<std::pair<std::string, std::string>>;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct AcceptedCase {
    const char* name;
    std::string text;
    Settings settings;
};

class AcceptedConfig : public ::testing::TestWithParam<AcceptedCase> {};

TEST_P(AcceptedConfig, YieldsTheSettingsInFileOrder) {
    auto file = ServeConfigFile::parse(GetParam().text, "test.conf");
    ASSERT_TRUE(file) << file.error();
    EXPECT_EQ(file->settings(), GetParam().settings);
}

INSTANTIATE_TEST_SUITE_P(
    Files, AcceptedConfig,
    ::testing::Values(
        AcceptedCase{"Empty", "", {}},
        AcceptedCase{"CommentsAndBlankLines", "# listen = 1.2.3.4:5\n\n   \n\t# x\n", {}},
        AcceptedCase{"Plain",
                     "listen = 0.0.0.0:8443\ndata=/var/lib/aurelo-service\n",
                     {{"listen", "0.0.0.0:8443"}, {"data", "/var/lib/aurelo-service"}}},
        AcceptedCase{"SpacesAroundNameAndValueAreDropped",
                     "  rate-limit \t=   600  \n",
                     {{"rate-limit", "600"}}},
        AcceptedCase{"EmptyValueLeavesTheOptionUnset", "tls-cert =\ntls-key=   \n", {}},
        AcceptedCase{"HashInsideAValueIsKept", "data = /srv/a#b\n", {{"data", "/srv/a#b"}}},
        AcceptedCase{
            "EqualsInsideAValueIsKept", "apertium = /opt/x=y\n", {{"apertium", "/opt/x=y"}}},
        AcceptedCase{"WindowsLineEndingsAndByteOrderMark",
                     "\xEF\xBB\xBFlisten = 127.0.0.1:1\r\ndata = /d\r\n",
                     {{"listen", "127.0.0.1:1"}, {"data", "/d"}}},
        AcceptedCase{"LastLineWithoutNewline", "data = /d", {{"data", "/d"}}},
        AcceptedCase{"OptionSpellingWithDashesIsAccepted", "--data = /d\n", {{"data", "/d"}}},
        AcceptedCase{
            "NamesUnknownTodayArePassedOn", "future-option = 3\n", {{"future-option", "3"}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusedCase {
    const char* name;
    std::string text;
    const char* message;
};

class RefusedConfig : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedConfig, NamesTheFileLineAndProblem) {
    auto file = ServeConfigFile::parse(GetParam().text, "/etc/x.conf");
    ASSERT_FALSE(file);
    EXPECT_THAT(file.error(), HasSubstr("/etc/x.conf"));
    EXPECT_THAT(file.error(), HasSubstr(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusedConfig,
    ::testing::Values(
        RefusedCase{"LineWithoutEquals", "listen 127.0.0.1:1\n", "第 1 行"},
        RefusedCase{"EmptyName", "data = /d\n = 3\n", "第 2 行"},
        RefusedCase{"UpperCaseName", "Listen = 127.0.0.1:1\n", "无效的名称“Listen”"},
        RefusedCase{"NameWithSpace", "rate limit = 3\n", "无效的名称"},
        RefusedCase{"NameThatWouldBeAShortOption", "-x = 3\n", "无效的名称"},
        RefusedCase{"NameEndingInDash", "data- = 3\n", "无效的名称"},
        RefusedCase{"ConfigInsideConfig", "config = /etc/other.conf\n",
                    "“config”不能写在配置文件里"},
        RefusedCase{"HelpInsideConfig", "help = 1\n", "“help”不能写在配置文件里"},
        RefusedCase{"DuplicateSetting", "data = /a\n# c\ndata = /b\n", "第 3 行：重复的设置“data”"},
        RefusedCase{"DuplicateEvenWhenTheFirstIsEmpty", "data =\ndata = /b\n", "重复的设置"},
        RefusedCase{"BinaryContent", std::string("data = /a\0b\n", 12), "不是文本文件"},
        RefusedCase{"TooLarge", std::string(ServeConfigFile::kMaximumSize + 1, '#'), "太大"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ServeConfigArguments, CommandLineOptionsWinOverTheFile) {
    auto file =
        ServeConfigFile::parse("listen = 0.0.0.0:8443\ndata = /var/lib/a\nrate-limit = 5\n", "f");
    ASSERT_TRUE(file);
    EXPECT_THAT(file->argumentsWith({"--listen", "127.0.0.1:0", "--rate-limit=7"}),
                ElementsAre("--data", "/var/lib/a", "--listen", "127.0.0.1:0", "--rate-limit=7"));
}

class ServeConfigExpansion : public ::testing::Test {
protected:
    test::TestDirectory m_temp;
    std::string m_file = (m_temp.path() / "serve.conf").string();
};

TEST_F(ServeConfigExpansion, ReplacesTheConfigOptionByTheFilesSettings) {
    test::writeFile(m_file, "listen = 127.0.0.1:8787\ndata = /srv/a\n");
    for (const auto& arguments :
         {std::vector<std::string>{"--config", m_file, "--data", "/srv/b"},
          std::vector<std::string>{"--data", "/srv/b", "--config=" + m_file}}) {
        auto expanded = ServeConfigFile::expandArguments(arguments);
        ASSERT_TRUE(expanded) << expanded.error();
        EXPECT_THAT(*expanded, ElementsAre("--listen", "127.0.0.1:8787", "--data", "/srv/b"));
    }
}

TEST_F(ServeConfigExpansion, LeavesArgumentsWithoutConfigAlone) {
    std::vector<std::string> arguments{"--listen", "127.0.0.1:1", "--data", "/d"};
    auto expanded = ServeConfigFile::expandArguments(arguments);
    ASSERT_TRUE(expanded);
    EXPECT_EQ(*expanded, arguments);
}

TEST_F(ServeConfigExpansion, RefusesWhatItCannotUse) {
    test::writeFile(m_file, "data = /d\n");
    std::filesystem::create_directory(m_temp.path() / "folder.conf");
    const std::string missing = (m_temp.path() / "missing.conf").string();
    const std::string folder = (m_temp.path() / "folder.conf").string();
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{"--config"}, "需要一个文件路径"},
        {{"--config="}, "需要一个文件路径"},
        {{"--config", m_file, "--config", m_file}, "只能给出一个"},
        {{"--config", missing}, "无法读取配置文件 " + missing},
        {{"--config", folder}, "不是普通文件"},
    };
    for (const auto& c : cases) {
        auto expanded = ServeConfigFile::expandArguments(c.arguments);
        ASSERT_FALSE(expanded) << c.message;
        EXPECT_THAT(expanded.error(), HasSubstr(c.message));
    }
}

TEST_F(ServeConfigExpansion, ReportsTheLineOfABrokenFile) {
    test::writeFile(m_file, "data = /d\nlisten\n");
    auto expanded = ServeConfigFile::expandArguments({"--config", m_file});
    ASSERT_FALSE(expanded);
    EXPECT_THAT(expanded.error(), HasSubstr(m_file + " 第 2 行"));
}

} // namespace
} // namespace aurelo::service
