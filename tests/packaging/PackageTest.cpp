// The Debian packages, made by CPack from this build tree as the README's `scripts/package` makes
// them from a release tree, unpacked into a scratch root: fields and dependencies, where every
// file lands, the installed programs, the unit file, the metadata and the maintainer scripts.

#include "support/TestDirectory.hpp"

#include <arpa/inet.h>
#include <glib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace aurelo {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
    bool succeeded() const { return status == 0; }
    std::string output() const { return out + err; }
};

// Runs a program to its end. `environment` entries replace the inherited ones.
RunResult run(const std::vector<std::string>& command,
              const std::vector<std::pair<std::string, std::string>>& environment = {}) {
    std::vector<char*> argv;
    for (const auto& argument : command)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    gchar** envp = g_get_environ();
    for (const auto& [name, value] : environment)
        envp = g_environ_setenv(envp, name.c_str(), value.c_str(), TRUE);
    gchar* out = nullptr;
    gchar* err = nullptr;
    gint wait = 0;
    GError* error = nullptr;
    RunResult result;
    if (g_spawn_sync(nullptr, argv.data(), envp, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, &err,
                     &wait, &error)) {
        result.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : 128 + WTERMSIG(wait);
        result.out = out ? out : "";
        result.err = err ? err : "";
    } else {
        result.err = error->message;
        g_error_free(error);
    }
    g_free(out);
    g_free(err);
    g_strfreev(envp);
    return result;
}

// A plain HTTP/1.0 GET on loopback; the whole answer, or "" when there is none.
std::string httpGet(int port, const std::string& path) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return "";
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            char buffer[1024];
            for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
                answer.append(buffer, std::size_t(n));
        }
    }
    ::close(fd);
    return answer;
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
        ASSERT_TRUE(s_made.succeeded()) << s_made.output();
        ASSERT_FALSE(s_translator.empty()) << "no aurelo-translator package\n" << s_made.output();
        ASSERT_FALSE(s_service.empty()) << "no aurelo-service package\n" << s_made.output();
    }

    static fs::path root() { return s_temp->path() / "root"; }
    static std::string field(const fs::path& deb, const char* name) {
        auto value = run({"dpkg-deb", "-f", deb.string(), name});
        EXPECT_TRUE(value.succeeded()) << value.output();
        while (!value.out.empty() && value.out.back() == '\n')
            value.out.pop_back();
        return value.out;
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
        // A long description follows the one-line synopsis.
        EXPECT_THAT(field(c.deb, "Description"), HasSubstr("\n "));
        const std::string depends = field(c.deb, "Depends");
        for (const char* dependency : c.depends)
            EXPECT_THAT(depends, HasSubstr(dependency));
    }
    EXPECT_THAT(field(s_service, "Recommends"), HasSubstr("apertium-eng-spa"));
}

TEST_F(PackageTest, FilesLandWhereDebianExpectsThem) {
    const char* expected[] = {
        "usr/bin/aurelo-translator",
        "usr/share/aurelo-translator/icons/hicolor/scalable/apps/com.aurelo.translator.svg",
        "usr/share/icons/hicolor/scalable/apps/com.aurelo.translator.svg",
        "usr/share/applications/com.aurelo.translator.desktop",
        "usr/share/metainfo/com.aurelo.translator.metainfo.xml",
        "usr/share/man/man1/aurelo-translator.1.gz",
        "usr/share/doc/aurelo-translator/copyright",
        "usr/share/doc/aurelo-translator/changelog.gz",
        "usr/bin/aurelo-service",
        "usr/bin/aurelo-release",
        "lib/systemd/system/aurelo-service.service",
        "etc/aurelo-service/aurelo-service.conf",
        "usr/share/man/man1/aurelo-service.1.gz",
        "usr/share/man/man1/aurelo-release.1.gz",
        "usr/share/doc/aurelo-service/copyright",
        "usr/share/doc/aurelo-service/changelog.gz",
        "usr/share/lintian/overrides/aurelo-service",
    };
    for (const char* path : expected)
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
    EXPECT_TRUE(checked.succeeded()) << checked.output();
    EXPECT_THAT(checked.out, Not(HasSubstr("E: "))) << checked.out;
    EXPECT_THAT(checked.out, Not(HasSubstr("W: "))) << checked.out;
}

TEST_F(PackageTest, InstalledApplicationAnswersVersionAndFindsItsResources) {
    for (const char* option : {"--version", "-V"}) {
        auto version = run({(root() / "usr/bin/aurelo-translator").string(), option},
                           {{"AURELO_SERVICE_URL", "not a url"}, {"DISPLAY", ""}});
        ASSERT_TRUE(version.succeeded()) << version.output();
        EXPECT_THAT(version.out, HasSubstr(std::string(AURELO_PACKAGE_VERSION) + "（构建 " +
                                           AURELO_BUILD_NUMBER + "）"));
        // The folder beside the installed program, not the source tree's.
        EXPECT_THAT(
            version.out,
            HasSubstr("资源目录：" + (root() / "usr/share/aurelo-translator").string() + "\n"));
    }
    auto help = run({(root() / "usr/bin/aurelo-translator").string(), "--help"});
    ASSERT_TRUE(help.succeeded()) << help.output();
    EXPECT_THAT(help.out, HasSubstr("AURELO_SERVICE_URL"));
}

TEST_F(PackageTest, InstalledServiceAnswersVersionAndHelpForEveryCommand) {
    const std::string service = (root() / "usr/bin/aurelo-service").string();
    auto version = run({service, "--version"});
    ASSERT_TRUE(version.succeeded()) << version.output();
    EXPECT_EQ(version.out, std::string("aurelo-service ") + AURELO_PACKAGE_VERSION + "\n");

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
        EXPECT_TRUE(help.succeeded()) << help.output();
        EXPECT_THAT(help.out, HasSubstr(c.shows)) << c.arguments[1];
    }
    // Help never touches the data folder it names.
    EXPECT_FALSE(fs::exists("/nonexistent"));
    auto unknown = run({service, "help", "admin", "nothing"});
    EXPECT_EQ(unknown.status, 2) << unknown.output();
}

TEST_F(PackageTest, DefaultConfigurationIsAcceptedByTheServeCommand) {
    // Every setting of the shipped file must be an option the serve command knows: the service
    // starts with it (on a free loopback port and a scratch data folder) and stops on SIGTERM.
    const std::string service = (root() / "usr/bin/aurelo-service").string();
    const std::string config = (root() / "etc/aurelo-service/aurelo-service.conf").string();
    const std::string data = (s_temp->path() / "data").string();
    std::vector<std::string> command{service,    "serve",       "--config", config,
                                     "--listen", "127.0.0.1:0", "--data",   data};
    std::vector<char*> argv;
    for (auto& argument : command)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    GPid pid = 0;
    gint outFd = -1;
    GError* error = nullptr;
    ASSERT_TRUE(g_spawn_async_with_pipes(nullptr, argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD,
                                         nullptr, nullptr, &pid, nullptr, &outFd, nullptr, &error))
        << error->message;
    std::string out;
    char buffer[256];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (out.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd readable{outFd, POLLIN, 0};
        if (::poll(&readable, 1, 1000) == 0)
            continue;
        ssize_t n = ::read(outFd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        out.append(buffer, std::size_t(n));
    }
    // An answer from the running server, which has its signal handlers by then.
    std::smatch port;
    std::string health;
    if (std::regex_search(out, port, std::regex("http://127\\.0\\.0\\.1:([0-9]+)")))
        health = httpGet(std::stoi(port[1]), "/healthz");
    EXPECT_THAT(health, ::testing::StartsWith("HTTP/1.0 200 "));
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(outFd);
    g_spawn_close_pid(pid);
    EXPECT_THAT(out, HasSubstr("正在监听 http://127.0.0.1:"));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    EXPECT_TRUE(fs::is_directory(data));
}

TEST_F(PackageTest, UnitFileVerifies) {
    const fs::path unit = root() / "lib/systemd/system/aurelo-service.service";
    const std::string text = test::readFile(unit);
    // It starts the installed program with the installed configuration file.
    EXPECT_THAT(text, HasSubstr("ExecStart=/usr/bin/aurelo-service serve --config "
                                "/etc/aurelo-service/aurelo-service.conf\n"));
    for (const char* setting :
         {"User=aurelo-service\n", "ProtectSystem=strict\n", "ProtectHome=yes\n",
          "PrivateTmp=yes\n", "NoNewPrivileges=yes\n", "StateDirectory=aurelo-service\n",
          "CapabilityBoundingSet=\n", "RestrictAddressFamilies=", "SystemCallFilter="})
        EXPECT_THAT(text, HasSubstr(setting));
    // systemd checks the unit against the scratch root, where the program it starts is
    // installed; the system's own units are copied beside it for the dependencies every
    // service has (sysinit.target and the like).
    const fs::path systemUnits = fs::exists("/usr/lib/systemd/system/sysinit.target")
                                     ? "/usr/lib/systemd/system"
                                     : "/lib/systemd/system";
    ASSERT_TRUE(fs::exists(systemUnits / "sysinit.target")) << "systemd is not installed";
    fs::create_directories(root() / "usr/lib/systemd");
    auto copied = run({"cp", "-a", systemUnits.string(), (root() / "usr/lib/systemd").string()});
    ASSERT_TRUE(copied.succeeded()) << copied.output();
    auto verified = run({"systemd-analyze", "verify", "--man=no", "--root=" + root().string(),
                         "/lib/systemd/system/aurelo-service.service"});
    EXPECT_TRUE(verified.succeeded()) << verified.output();
    // Warnings (an unknown setting, a misspelt value) do not fail verify; they must not occur.
    EXPECT_EQ(verified.output(), "");
}

TEST_F(PackageTest, MetadataValidatesAndNamesThisVersion) {
    auto desktop =
        run({"desktop-file-validate",
             (root() / "usr/share/applications/com.aurelo.translator.desktop").string()});
    EXPECT_TRUE(desktop.succeeded()) << desktop.output();
    EXPECT_EQ(desktop.output(), "");
    const fs::path metainfo = root() / "usr/share/metainfo/com.aurelo.translator.metainfo.xml";
    auto appstream = run({"appstreamcli", "validate", "--no-net", "--explain", metainfo.string()});
    EXPECT_TRUE(appstream.succeeded()) << appstream.output();
    EXPECT_THAT(appstream.output(), Not(HasSubstr("W:"))) << appstream.output();
    // The newest release in the metadata and in the changelog is the packaged version.
    std::smatch match;
    const std::string xml = test::readFile(metainfo);
    ASSERT_TRUE(std::regex_search(xml, match, std::regex("<release version=\"([^\"]+)\"")));
    EXPECT_EQ(match[1], AURELO_PACKAGE_VERSION);
    auto changelog =
        run({"gzip", "-dc", (root() / "usr/share/doc/aurelo-service/changelog.gz").string()});
    EXPECT_THAT(changelog.out,
                ::testing::StartsWith(std::string("aurelo (") + AURELO_PACKAGE_VERSION + ")"));
}

TEST_F(PackageTest, ServiceMaintainerScriptsMakeTheUserOnce) {
    const fs::path control = s_temp->path() / "control";
    auto extracted = run({"dpkg-deb", "-e", s_service.string(), control.string()});
    ASSERT_TRUE(extracted.succeeded()) << extracted.output();
    EXPECT_EQ(test::readFile(control / "conffiles"), "/etc/aurelo-service/aurelo-service.conf\n");
    for (const char* script : {"postinst", "prerm", "postrm"}) {
        auto checked = run({"sh", "-n", (control / script).string()});
        EXPECT_TRUE(checked.succeeded()) << script << ": " << checked.output();
        EXPECT_TRUE((fs::status(control / script).permissions() & fs::perms::owner_exec) !=
                    fs::perms::none)
            << script;
    }
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
        ASSERT_TRUE(installed.succeeded()) << installed.output();
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
