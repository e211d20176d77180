// The updater's rules, each on data alone.

#include "support/TestDirectory.hpp"
#include "update/PackageURL.hpp"
#include "update/UpdateAlertPresenter.hpp"
#include "update/UpdateInstaller.hpp"
#include "update/UpdateManifest.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <glib.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <limits>

namespace aurelo {
namespace {

TEST(BuildNumberTest, ReadsTheRunningBuildLikeADecimalIntegerWithOptionalSign) {
    const struct {
        std::optional<std::string> text;
        std::int64_t expected;
    } cases[] = {
        {"57", 57},
        {"+58", 58},
        {"-3", -3},
        {"0058", 58},
        {std::nullopt, 0},
        {"", 0},
        {"abc", 0},
        {"5.1", 0},
        {" 57", 0},
        {"57 ", 0},
        {"+-5", 0},
        {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
        {"9223372036854775808", 0},
        {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(runningBuildNumber(c.text), c.expected) << c.text.value_or("<none>");
}

TEST(UpdateManifestTest, RefusesMissingNullAndMistypedKeys) {
    const std::string base = R"("version":"1","build":2,"downloadPath":"a.zip","sha256":"x")";
    const struct {
        std::string body;
        std::string description;
    } cases[] = {
        {"{" + base + "}", "未能读取数据，因为缺少“notes”。"},
        {"{" + base + R"(,"notes":null})", "未能读取数据，因为“notes”没有值。"},
        {"{" + base + R"(,"notes":5})", "未能读取数据，因为“notes”的类型不正确。"},
        {R"({"version":"1","build":"2","downloadPath":"a","sha256":"x","notes":""})",
         "未能读取数据，因为“build”的类型不正确。"},
        {R"({"version":"1","build":2.5,"downloadPath":"a","sha256":"x","notes":""})",
         "未能读取数据，因为“build”的类型不正确。"},
        {R"({"version":"1","build":18446744073709551615,"downloadPath":"a","sha256":"x","notes":""})",
         "未能读取数据，因为“build”的类型不正确。"},
        {"{" + base + R"(,"notes":"","packageSize":-1})",
         "未能读取数据，因为“packageSize”的类型不正确。"},
        {"{" + base + R"(,"notes":"","packageSize":1.5})",
         "未能读取数据，因为“packageSize”的类型不正确。"},
        {"{" + base + R"(,"notes":"","packageSize":"12"})",
         "未能读取数据，因为“packageSize”的类型不正确。"},
        {"{" + base + R"(,"notes":"","packageSignature":[]})",
         "未能读取数据，因为“packageSignature”的类型不正确。"},
        {"[1,2]", "未能读取数据，因为它的格式不正确。"},
        {"", "未能读取数据，因为它的格式不正确。"},
    };
    for (const auto& c : cases) {
        auto manifest = decodeUpdateManifest(c.body);
        ASSERT_FALSE(manifest) << c.body;
        EXPECT_EQ(manifest.error().description, c.description) << c.body;
    }
}

TEST(PackageURLTest, ResolvesAgainstTheManifestAndKeepsOnlyHttpsZipsOnItsHost) {
    const std::string manifest = "https://updates.example.com/updates/latest.json";
    const struct {
        std::string downloadPath;
        std::optional<std::string> expected; // nullopt: invalidPackageURL
    } cases[] = {
        {"Aurelo-2.zip", "https://updates.example.com/updates/Aurelo-2.zip"},
        {"/updates/Aurelo-2.zip", "https://updates.example.com/updates/Aurelo-2.zip"},
        {"../files/a.zip", "https://updates.example.com/files/a.zip"},
        {"https://updates.example.com/x/a.zip", "https://updates.example.com/x/a.zip"},
        {"a.zip?v=2", "https://updates.example.com/updates/a.zip?v=2"},
        {"//updates.example.com/a.zip", "https://updates.example.com/a.zip"},
        {"http://updates.example.com/updates/a.zip", std::nullopt},
        {"https://other.example.com/updates/a.zip", std::nullopt},
        {"https://updates.example.com.evil.test/a.zip", std::nullopt},
        {"//evil.test/a.zip", std::nullopt},
        {"file:///tmp/a.zip", std::nullopt},
        {"a.ZIP", std::nullopt},
        {"a.zip/", std::nullopt},
        {"a.tar.gz", std::nullopt},
        {".zip", std::nullopt},
        {"", std::nullopt},
        {"a.zip#x", "https://updates.example.com/updates/a.zip#x"},
        {"https://[::1/a.zip", std::nullopt},
        // An absolute address without a host whose path resolves to "//…": GLib's joiner
        // asserts on it, so it must be refused before it gets there.
        {"https:/..//x.zip", std::nullopt},
        {"https:x.zip", std::nullopt},
    };
    // A GLib critical on hostile input is a fault too.
    const GLogLevelFlags fatal = g_log_set_always_fatal(GLogLevelFlags(G_LOG_FATAL_MASK));
    g_log_set_always_fatal(GLogLevelFlags(fatal | G_LOG_LEVEL_CRITICAL));
    for (const auto& c : cases) {
        auto url = resolvePackageURL(manifest, c.downloadPath);
        if (c.expected) {
            ASSERT_TRUE(url) << c.downloadPath;
            EXPECT_EQ(*url, *c.expected);
        } else {
            ASSERT_FALSE(url) << c.downloadPath << " -> " << *url;
            EXPECT_EQ(url.error(), UpdateError::invalidPackageURL());
        }
    }
    g_log_set_always_fatal(fatal);
}

TEST(ReplacementScriptTest, QuotesEverySingleQuote) {
    EXPECT_EQ(installer::shellQuoted("/home/a/Aurelo翻译器.app"), "'/home/a/Aurelo翻译器.app'");
    EXPECT_EQ(installer::shellQuoted("/home/O'Brien/x.app"), "'/home/O'\\''Brien/x.app'");
    EXPECT_EQ(installer::shellQuoted("''"), "''\\'''\\'''");
    EXPECT_EQ(installer::shellQuoted("$(rm -rf ~)`x`\n"), "'$(rm -rf ~)`x`\n'");
}

// Permissions do not stop root; an immutable folder does.
bool makeImmutable(const std::filesystem::path& folder, bool immutable) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    bool done = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = immutable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        close(fd);
    return done;
}

TEST(ReplacementLocationTest, OnlyABundleOtherThanTheRootInAWritableFolderCanBeReplaced) {
    using Location = std::optional<std::filesystem::path>;
    const auto cannotLocate = UpdateError::installFailed(UpdateError::kCannotLocateApplication);
    for (const Location& location : {Location(), Location("/usr"), Location("/"),
                                     Location("relative/X.app"), Location("/opt/X.apps")}) {
        auto result = installer::locateReplaceableBundle(location);
        ASSERT_FALSE(result);
        EXPECT_EQ(std::get<UpdateError>(result.error()), cannotLocate);
    }
    auto tmp = installer::locateReplaceableBundle(std::filesystem::path("/tmp/./X.app/"));
    ASSERT_TRUE(tmp);
    EXPECT_EQ(*tmp, "/tmp/X.app");

    test::TestDirectory temp;
    if (geteuid() != 0)
        std::filesystem::permissions(temp.path(), std::filesystem::perms(0555));
    else if (!makeImmutable(temp.path(), true))
        GTEST_SKIP() << "running as root where folders cannot be made immutable";
    auto unwritable = installer::locateReplaceableBundle(temp.path() / "X.app");
    if (geteuid() == 0)
        makeImmutable(temp.path(), false);
    ASSERT_FALSE(unwritable);
    EXPECT_EQ(describeUpdateFailure(unwritable.error()),
              "安装失败。当前应用目录不可写，请将应用移到你有写入权限的应用程序文件夹后再更新。");
}

TEST(UpdateAlertPresenterTest, EachChangeOfStateMapsToTheStepThatShowsIt) {
    using Step = UpdateAlertPresenter::Step;
    const std::vector<UpdateAlertButton> ok = {{"知道了", UpdateAlertAction::Dismiss}};
    const UpdateAlert offer{"发现新版本 v2", "新功能", {{"立即升级", UpdateAlertAction::Install}}};
    const UpdateAlert ready{"升级已准备完成", "将自动退出", ok};
    const UpdateAlert failed{"升级失败", "安装失败。", ok};
    const struct {
        bool showing;
        UpdateAlert alert;
        Step expected;
    } sequence[] = {
        {false, ready, Step::None},   {true, offer, Step::Open},     {true, offer, Step::None},
        {true, ready, Step::Rebuild}, {true, failed, Step::Refresh}, {true, failed, Step::None},
        {false, failed, Step::Close}, {false, failed, Step::None},   {true, ready, Step::Open},
    };
    UpdateAlertPresenter presenter;
    int index = 0;
    for (const auto& s : sequence) {
        SCOPED_TRACE(index++);
        EXPECT_EQ(presenter.next(s.showing, s.alert), s.expected);
        if (s.showing)
            EXPECT_EQ(presenter.shown(), s.alert);
        else
            EXPECT_FALSE(presenter.shown());
    }
    presenter.closed();
    EXPECT_EQ(presenter.next(true, ready), Step::Open) << "closed by the person, shown again";
}

} // namespace
} // namespace aurelo
