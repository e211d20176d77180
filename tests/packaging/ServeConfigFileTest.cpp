// The serve command's configuration file and how it combines with the command line.

#include "service/ServeConfigFile.hpp"

#include "support/TestDirectory.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace aurelo::service {
namespace {

using Settings = std::vector<std::pair<std::string, std::string>>;
using ::testing::HasSubstr;

TEST(ServeConfigFile, AcceptedFilesYieldTheSettingsInFileOrder) {
    const struct {
        const char* name;
        std::string text;
        Settings settings;
    } cases[] = {{"Empty", "", {}},
                 {"CommentsAndBlankLines", "# listen = 1.2.3.4:5\n\n   \n\t# x\n", {}},
                 {"Plain",
                  "listen = 0.0.0.0:8443\ndata=/var/lib/aurelo-service\n",
                  {{"listen", "0.0.0.0:8443"}, {"data", "/var/lib/aurelo-service"}}},
                 {"SpacesAroundNameAndValueAreDropped",
                  "  rate-limit \t=   600  \n",
                  {{"rate-limit", "600"}}},
                 {"EmptyValueLeavesTheOptionUnset", "tls-cert =\ntls-key=   \n", {}},
                 {"HashInsideAValueIsKept", "data = /srv/a#b\n", {{"data", "/srv/a#b"}}},
                 {"EqualsInsideAValueIsKept", "apertium = /opt/x=y\n", {{"apertium", "/opt/x=y"}}},
                 {"WindowsLineEndingsAndByteOrderMark",
                  "\xEF\xBB\xBFlisten = 127.0.0.1:1\r\ndata = /d\r\n",
                  {{"listen", "127.0.0.1:1"}, {"data", "/d"}}},
                 {"LastLineWithoutNewline", "data = /d", {{"data", "/d"}}},
                 {"OptionSpellingWithDashesIsAccepted", "--data = /d\n", {{"data", "/d"}}},
                 {"NamesUnknownTodayArePassedOn", "future-option = 3\n", {{"future-option", "3"}}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto file = ServeConfigFile::parse(c.text, "test.conf");
        ASSERT_TRUE(file) << file.error();
        EXPECT_EQ(file->settings(), c.settings);
    }
}

TEST(ServeConfigFile, RefusedFilesNameTheFileLineAndProblem) {
    const struct {
        const char* name;
        std::string text;
        const char* message;
    } cases[] = {{"LineWithoutEquals", "listen 127.0.0.1:1\n", "第 1 行"},
                 {"EmptyName", "data = /d\n = 3\n", "第 2 行"},
                 {"UpperCaseName", "Listen = 127.0.0.1:1\n", "无效的名称“Listen”"},
                 {"NameWithSpace", "rate limit = 3\n", "无效的名称"},
                 {"NameThatWouldBeAShortOption", "-x = 3\n", "无效的名称"},
                 {"NameEndingInDash", "data- = 3\n", "无效的名称"},
                 {"ConfigInsideConfig", "config = /etc/other.conf\n", "“config”不能写在配置文件里"},
                 {"HelpInsideConfig", "help = 1\n", "“help”不能写在配置文件里"},
                 {"DuplicateSetting", "data = /a\n# c\ndata = /b\n", "第 3 行：重复的设置“data”"},
                 {"DuplicateEvenWhenTheFirstIsEmpty", "data =\ndata = /b\n", "重复的设置"},
                 {"BinaryContent", std::string("data = /a\0b\n", 12), "不是文本文件"},
                 {"TooLarge", std::string(ServeConfigFile::kMaximumSize + 1, '#'), "太大"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto file = ServeConfigFile::parse(c.text, "/etc/x.conf");
        ASSERT_FALSE(file);
        EXPECT_THAT(file.error(), HasSubstr("/etc/x.conf"));
        EXPECT_THAT(file.error(), HasSubstr(c.message));
    }
}

class ServeConfigExpansion : public ::testing::Test {
protected:
    test::TestDirectory m_temp;
    std::string m_file = (m_temp.path() / "serve.conf").string();
};

TEST_F(ServeConfigExpansion, TheFilesSettingsFillInWhatTheCommandLineLeavesOut) {
    test::writeFile(m_file, "listen = 127.0.0.1:8787\ndata = /srv/a\n");
    const std::vector<std::string> withoutConfig{"--listen", "127.0.0.1:1", "--data", "/d"};
    const struct {
        std::vector<std::string> arguments;
        std::vector<std::string> expanded;
    } cases[] = {
        {{"--config", m_file, "--data", "/srv/b"},
         {"--listen", "127.0.0.1:8787", "--data", "/srv/b"}},
        {{"--data=/srv/b", "--config=" + m_file}, {"--listen", "127.0.0.1:8787", "--data=/srv/b"}},
        {withoutConfig, withoutConfig},
    };
    for (const auto& c : cases) {
        auto expanded = ServeConfigFile::expandArguments(c.arguments);
        ASSERT_TRUE(expanded) << expanded.error();
        EXPECT_EQ(*expanded, c.expanded);
    }
}

TEST_F(ServeConfigExpansion, RefusesWhatItCannotUse) {
    test::writeFile(m_file, "data = /d\n");
    std::filesystem::create_directory(m_temp.path() / "folder.conf");
    const std::string missing = (m_temp.path() / "missing.conf").string();
    const std::string folder = (m_temp.path() / "folder.conf").string();
    const std::string broken = (m_temp.path() / "broken.conf").string();
    test::writeFile(broken, "data = /d\nlisten\n");
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{"--config"}, "需要一个文件路径"},
        {{"--config="}, "需要一个文件路径"},
        {{"--config", m_file, "--config", m_file}, "只能给出一个"},
        {{"--config", missing}, "无法读取配置文件 " + missing},
        {{"--config", folder}, "不是普通文件"},
        {{"--config", broken}, broken + " 第 2 行"},
    };
    for (const auto& c : cases) {
        auto expanded = ServeConfigFile::expandArguments(c.arguments);
        ASSERT_FALSE(expanded) << c.message;
        EXPECT_THAT(expanded.error(), HasSubstr(c.message));
    }
}

} // namespace
} // namespace aurelo::service
