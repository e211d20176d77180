// The Debian packages, made by CPack from this build tree as `scripts/package` makes them from a
// release tree, unpacked into a scratch root. Lintian stands guard over what it checks (copyright
// and changelog files, manual pages, maintainer scripts' syntax and modes, conffiles).

#include "ServiceProcess.hpp"
#include "support/Programs.hpp"
#include "support/TestDirectory.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace aurelo {
namespace {

namespace fs = std::filesystem;
using RunResult = test::ProgramRun;
using ::testing::HasSubstr;
using ::testing::Not;

RunResult run(const std::vector<std::string>& command,
              const std::vector<std::pair<std::string, std::string>>& environment = {}) {
    return test::runProgram(command, {}, environment);
}
std::string both(const RunResult& run) {
    return run.output + run.errors;
}

// The two packages, made once for the whole suite: CPack takes a while.
class PackageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_temp = std::make_unique<test::TestDirectory>();
        const fs::path out = s_temp->path() / "out";
        s_made = run({AURELO_CPACK_COMMAND, "--config", AURELO_CPACK_CONFIG, "-B", out.string()});
        for (const auto& entry : fs::directory_iterator(out)) {
            const std::string name = entry.path().filename().string();
            if (!name.ends_with(".deb"))
                continue;
            if (name.starts_with("aurelo-translator_"))
                s_translator = entry.path();
            else if (name.starts_with("aurelo-service_"))
                s_service = entry.path();
        }
        for (const auto& deb : {s_translator, s_service})
            if (!deb.empty())
                run({"dpkg-deb", "-x", deb.string(), root().string()});
    }
    static void TearDownTestSuite() { s_temp.reset(); }

    void SetUp() override {
        ASSERT_TRUE(s_made.succeeded) << both(s_made);
        ASSERT_FALSE(s_translator.empty()) << "no aurelo-translator package\n" << both(s_made);
        ASSERT_FALSE(s_service.empty()) << "no aurelo-service package\n" << both(s_made);
    }

    static fs::path root() { return s_temp->path() / "root"; }
    static std::string field(const fs::path& deb, const char* name) {
        auto value = run({"dpkg-deb", "-f", deb.string(), name});
        EXPECT_TRUE(value.succeeded) << both(value);
        while (!value.output.empty() && value.output.back() == '\n')
            value.output.pop_back();
        return value.output;
    }

    static inline std::unique_ptr<test::TestDirectory> s_temp;
    static inline RunResult s_made;
    static inline fs::path s_translator;
    static inline fs::path s_service;
};

TEST_F(PackageTest, FieldsAndDependencies) {
    struct Case {
        fs::path deb;
        const char* package;
        std::vector<const char*> depends; // computed from the binaries, and declared
    } cases[] = {
        {s_translator,
         "aurelo-translator",
         {"libgtkmm-4.0-", "libwebkitgtk-6.0-4", "libsecret-1-0", "fonts-noto-cjk",
          "pocketsphinx-en-us", "ca-certificates", "gnome-keyring | keepassxc"}},
        {s_service, "aurelo-service", {"libsoup-3.0-0", "libsqlite3-0", "libssl3", "adduser"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.package);
        EXPECT_EQ(field(c.deb, "Package"), c.package);
        EXPECT_EQ(field(c.deb, "Version"), AURELO_PACKAGE_VERSION);
        EXPECT_THAT(field(c.deb, "Description"), HasSubstr("\n "));
        const std::string depends = field(c.deb, "Depends");
        for (const char* dependency : c.depends)
            EXPECT_THAT(depends, HasSubstr(dependency));
    }
    EXPECT_THAT(field(s_service, "Recommends"), HasSubstr("apertium-eng-spa"));
}

// The other files are read by the tests below or checked by lintian.
TEST_F(PackageTest, FilesLandWhereDebianExpectsThem) {
    for (const char* path :
         {"usr/share/aurelo-translator/icons/hicolor/scalable/apps/com.aurelo.translator.svg",
          "usr/share/icons/hicolor/scalable/apps/com.aurelo.translator.svg",
          "usr/bin/aurelo-release", "usr/share/lintian/overrides/aurelo-service"})
        EXPECT_TRUE(fs::is_regular_file(root() / path)) << path;
    // Nothing of the bundle or of the build: a program under /usr that found a bundle.json
    // beside it would try to replace itself instead of leaving that to the package manager.
    for (const auto& entry : fs::recursive_directory_iterator(root())) {
        const std::string name = entry.path().filename().string();
        EXPECT_NE(name, "bundle.json") << entry.path();
        EXPECT_FALSE(name.ends_with(".app")) << entry.path();
        EXPECT_THAT(entry.path().string(), Not(HasSubstr("/tests/"))) << entry.path();
    }
}

TEST_F(PackageTest, PassesLintian) {
    // Errors and warnings fail; the informational tags of a debug build (no bindnow, no
    // fortified functions) do not.
    auto checked =
        run({"lintian", "--fail-on", "error,warning", s_translator.string(), s_service.string()});
    EXPECT_TRUE(checked.succeeded) << both(checked);
}

TEST_F(PackageTest, InstalledApplicationAnswersVersionAndFindsItsResources) {
    for (const char* option : {"--version", "-V"}) {
        auto version = run({(root() / "usr/bin/aurelo-translator").string(), option},
                           {{"AURELO_SERVICE_URL", "not a url"}, {"DISPLAY", ""}});
        ASSERT_TRUE(version.succeeded) << both(version);
        EXPECT_THAT(version.output, HasSubstr(std::string(AURELO_PROJECT_VERSION) + "（构建 " +
                                              AURELO_BUILD_NUMBER + "）"));
        // The folder beside the installed program, not the source tree's.
        EXPECT_THAT(
            version.output,
            HasSubstr("资源目录：" + (root() / "usr/share/aurelo-translator").string() + "\n"));
    }
    auto help = run({(root() / "usr/bin/aurelo-translator").string(), "--help"});
    ASSERT_TRUE(help.succeeded) << both(help);
    EXPECT_THAT(help.output, HasSubstr("AURELO_SERVICE_URL"));
}

TEST_F(PackageTest, InstalledServiceAnswersVersionAndHelpForEveryCommand) {
    const std::string service = (root() / "usr/bin/aurelo-service").string();
    auto version = run({service, "--version"});
    ASSERT_TRUE(version.succeeded) << both(version);
    EXPECT_EQ(version.output, std::string("aurelo-service ") + AURELO_PROJECT_VERSION + "\n");

    struct Case {
        std::vector<std::string> arguments;
        const char* shows;
    } cases[] = {
        {{"--help"}, "admin"},
        {{"help"}, "serve"},
        {{"serve", "--help"}, "--config"},
        {{"help", "serve"}, "--listen"},
        {{"admin", "--help"}, "users add"},
        {{"admin", "users", "--help"}, "set-password"},
        {{"admin", "--data", "/nonexistent", "engines", "-h"}, "--backend apertium"},
        {{"help", "admin", "providers"}, "transcription"},
        {{"admin", "tokens", "--help"}, "tokens revoke"},
        {{"admin", "apertium", "--help"}, "apertium pairs"},
    };
    for (auto& c : cases) {
        c.arguments.insert(c.arguments.begin(), service);
        auto help = run(c.arguments);
        EXPECT_TRUE(help.succeeded) << both(help);
        EXPECT_THAT(help.output, HasSubstr(c.shows)) << c.arguments[1];
    }
    // Help never touches the data folder it names.
    EXPECT_FALSE(fs::exists("/nonexistent"));
    auto unknown = run({service, "help", "admin", "nothing"});
    EXPECT_EQ(unknown.status, 2) << both(unknown);
}

TEST_F(PackageTest, DefaultConfigurationIsAcceptedByTheServeCommand) {
    // Every setting of the shipped file must be an option that the serve command knows.
    service::test::ServiceProcess service((root() / "usr/bin/aurelo-service").string());
    ASSERT_TRUE(
        service.start({"--config", (root() / "etc/aurelo-service/aurelo-service.conf").string()}));
    EXPECT_EQ(service.call("GET", "/healthz", std::nullopt).status, 200u);
    EXPECT_EQ(service.stop(), 0);
}

TEST_F(PackageTest, UnitFileVerifies) {
    const fs::path unit = root() / "lib/systemd/system/aurelo-service.service";
    const std::string text = test::readFile(unit);
    EXPECT_THAT(text, HasSubstr("ExecStart=/usr/bin/aurelo-service serve --config "
                                "/etc/aurelo-service/aurelo-service.conf\n"));
    for (const char* setting :
         {"User=aurelo-service\n", "ProtectSystem=strict\n", "ProtectHome=yes\n",
          "PrivateTmp=yes\n", "NoNewPrivileges=yes\n", "StateDirectory=aurelo-service\n",
          "CapabilityBoundingSet=\n", "RestrictAddressFamilies=", "SystemCallFilter="})
        EXPECT_THAT(text, HasSubstr(setting));
    // Checked against the scratch root, with the system's units for sysinit.target and the like.
    const fs::path systemUnits = fs::exists("/usr/lib/systemd/system/sysinit.target")
                                     ? "/usr/lib/systemd/system"
                                     : "/lib/systemd/system";
    ASSERT_TRUE(fs::exists(systemUnits / "sysinit.target")) << "systemd is not installed";
    fs::create_directories(root() / "usr/lib/systemd");
    auto copied = run({"cp", "-a", systemUnits.string(), (root() / "usr/lib/systemd").string()});
    ASSERT_TRUE(copied.succeeded) << both(copied);
    auto verified = run({"systemd-analyze", "verify", "--man=no", "--root=" + root().string(),
                         "/lib/systemd/system/aurelo-service.service"});
    EXPECT_TRUE(verified.succeeded) << both(verified);
    // Warnings (an unknown setting, a misspelt value) do not fail verify; they must not occur.
    EXPECT_EQ(both(verified), "");
}

TEST_F(PackageTest, MetadataValidatesAndNamesThisVersion) {
    auto desktop =
        run({"desktop-file-validate",
             (root() / "usr/share/applications/com.aurelo.translator.desktop").string()});
    EXPECT_TRUE(desktop.succeeded) << both(desktop);
    EXPECT_EQ(both(desktop), "");
    const fs::path metainfo = root() / "usr/share/metainfo/com.aurelo.translator.metainfo.xml";
    auto appstream = run({"appstreamcli", "validate", "--no-net", "--explain", metainfo.string()});
    EXPECT_TRUE(appstream.succeeded) << both(appstream);
    EXPECT_THAT(both(appstream), Not(HasSubstr("W:"))) << both(appstream);
    std::smatch match;
    const std::string xml = test::readFile(metainfo);
    ASSERT_TRUE(std::regex_search(xml, match, std::regex("<release version=\"([^\"]+)\"")));
    EXPECT_EQ(match[1], AURELO_PROJECT_VERSION);
    auto changelog = run(
        {"gzip", "-dc", (root() / "usr/share/doc/aurelo-service/changelog.Debian.gz").string()});
    EXPECT_THAT(changelog.output,
                ::testing::StartsWith(std::string("aurelo (") + AURELO_PACKAGE_VERSION + ")"));
}

TEST_F(PackageTest, ServiceMaintainerScriptsMakeTheUserOnce) {
    const fs::path control = s_temp->path() / "control";
    auto extracted = run({"dpkg-deb", "-e", s_service.string(), control.string()});
    ASSERT_TRUE(extracted.succeeded) << both(extracted);
    EXPECT_EQ(test::readFile(control / "conffiles"), "/etc/aurelo-service/aurelo-service.conf\n");
    // postinst under stand-ins that record their calls, once without the user and once with it.
    for (bool userExists : {false, true}) {
        SCOPED_TRACE(userExists ? "user exists" : "new user");
        const fs::path bin = s_temp->path() / (userExists ? "stubs-existing" : "stubs-new");
        const fs::path log = bin / "calls.log";
        for (const char* tool : {"getent", "adduser", "install", "deb-systemd-helper",
                                 "deb-systemd-invoke", "systemctl"}) {
            const int status = std::string(tool) == "getent" && !userExists ? 2 : 0;
            test::writeFile(bin / tool, "#!/bin/sh\necho \"" + std::string(tool) + " $*\" >> '" +
                                            log.string() + "'\nexit " + std::to_string(status) +
                                            "\n");
            fs::permissions(bin / tool, fs::perms::owner_all);
        }
        auto installed = run({"/bin/sh", (control / "postinst").string(), "configure", ""},
                             {{"PATH", bin.string()}});
        ASSERT_TRUE(installed.succeeded) << both(installed);
        const std::string calls = test::readFile(log);
        EXPECT_THAT(calls, HasSubstr("getent passwd aurelo-service"));
        if (userExists)
            EXPECT_THAT(calls, Not(HasSubstr("adduser")));
        else
            EXPECT_THAT(calls, HasSubstr("adduser --quiet --system --group --no-create-home "
                                         "--home /var/lib/aurelo-service"));
        EXPECT_THAT(calls, HasSubstr("deb-systemd-helper unmask aurelo-service.service"));
    }
}

} // namespace
} // namespace aurelo
