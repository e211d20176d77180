// The administrator's command: what it changes, what it prints and its exit codes.

#include "service/AdminCommand.hpp"
#include "service/PasswordHasher.hpp"
#include "service/ServiceDatabase.hpp"
#include "support/TestDirectory.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace aurelo::service::test {
namespace {

struct AdminRun {
    int code;
    std::string out;
    std::string err;
};

class AdminCommandTest : public ::testing::Test {
protected:
    AdminRun admin(std::vector<std::string> arguments, const std::string& input = {}) {
        arguments.insert(arguments.begin(), {"--data", m_data.string()});
        std::istringstream in(input);
        std::ostringstream out, err;
        int code = runAdminCommand(arguments, in, out, err);
        return {code, out.str(), err.str()};
    }
    std::unique_ptr<ServiceDatabase> open() {
        return std::move(ServiceDatabase::open(m_data / ServiceDatabase::kFileName).value());
    }

    aurelo::test::TestDirectory m_temp;
    std::filesystem::path m_data = m_temp.path() / "data";
};

TEST_F(AdminCommandTest, ManagesUsersWithReadableOutputAndExitCodes) {
    AdminRun added = admin({"users", "add", "alice", "--password", "s3cret"});
    EXPECT_EQ(added.code, 0);
    EXPECT_EQ(added.out, "已添加用户 alice。\n");
    EXPECT_EQ(std::filesystem::status(m_data).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all)
        << "the data directory is private";

    AdminRun duplicate = admin({"users", "add", "alice", "--password", "x"});
    EXPECT_EQ(duplicate.code, 1);
    EXPECT_EQ(duplicate.err, "用户 alice 已存在。\n");

    AdminRun generated = admin({"users", "add", "bob"});
    ASSERT_EQ(generated.code, 0);
    ASSERT_TRUE(generated.out.contains("密码："));
    std::string password = generated.out.substr(generated.out.find("密码：") + 9);
    password.pop_back();
    EXPECT_EQ(password.size(), 16u);
    EXPECT_TRUE(PasswordHasher::verify(password, open()->findUser("bob").value()->passwordHash));

    EXPECT_EQ(admin({"users", "set-password", "alice", "--password-stdin"}, "from-stdin\n").code,
              0);
    EXPECT_TRUE(
        PasswordHasher::verify("from-stdin", open()->findUser("alice").value()->passwordHash));

    AdminRun list = admin({"users", "list"});
    EXPECT_EQ(list.code, 0);
    EXPECT_TRUE(list.out.contains("alice\t") && list.out.contains("bob\t")) << list.out;

    EXPECT_EQ(admin({"users", "remove", "bob"}).code, 0);
    AdminRun missing = admin({"users", "remove", "bob"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, "用户 bob 不存在。\n");
}

TEST_F(AdminCommandTest, ManagesEnginesProvidersAndTokens) {
    ASSERT_EQ(admin({"users", "add", "demo", "--password", "pw"}).code, 0);
    AdminRun demo = admin({"engines", "enable", "demo", "google", "--backend", "apertium",
                           "--label", "离线演示引擎 (Apertium)"});
    EXPECT_EQ(demo.code, 0) << demo.err;
    EXPECT_EQ(admin({"engines", "enable", "demo", "openai", "--model", "gpt-x"}).code, 0);
    auto db = open();
    auto engines = db->engines(db->findUser("demo").value()->id).value();
    ASSERT_EQ(engines.size(), 2u);
    EXPECT_EQ(engines[0],
              (EngineRecord{"google", "离线演示引擎 (Apertium)", std::nullopt, "apertium"}));
    EXPECT_EQ(engines[1], (EngineRecord{"openai", "OpenAI", "gpt-x", "openai"}));
    EXPECT_NE(admin({"engines", "list", "demo"}).out.find("gpt-x"), std::string::npos);
    EXPECT_EQ(admin({"engines", "disable", "demo", "openai"}).code, 0);
    EXPECT_EQ(admin({"engines", "disable", "demo", "openai"}).code, 1);

    AdminRun key =
        admin({"providers", "set", "deepl", "--key-stdin", "--endpoint", "https://deepl.example"},
              "abcdefghijkl:fx\n");
    EXPECT_EQ(key.code, 0);
    EXPECT_EQ(admin({"providers", "set", "deepl", "--region", "eu"}).code, 0)
        << "a partial update keeps the key";
    auto stored = db->providerSettings("deepl").value();
    EXPECT_EQ(stored.apiKey, "abcdefghijkl:fx");
    EXPECT_EQ(stored.endpoint, "https://deepl.example");
    EXPECT_EQ(stored.region, "eu");
    AdminRun providers = admin({"providers", "list"});
    EXPECT_EQ(providers.out.find("abcdefghijkl"), std::string::npos)
        << "keys are masked: " << providers.out;
    EXPECT_NE(providers.out.find(":fx"), std::string::npos);

    ASSERT_TRUE(
        db->storeToken(db->findUser("demo").value()->id, "hash", 1, 4'000'000'000).has_value());
    AdminRun revoke = admin({"tokens", "revoke", "demo"});
    EXPECT_EQ(revoke.code, 0);
    EXPECT_EQ(revoke.out, "已吊销 demo 的 1 个登录令牌。\n");
}

TEST_F(AdminCommandTest, RefusesBadInvocationsWithUsageExitCode) {
    ASSERT_EQ(admin({"users", "add", "demo", "--password", "pw"}).code, 0);
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"users"},
        {"users", "add"},
        {"users", "add", " padded", "--password", "x"},
        {"users", "add", "x", "--password", ""},
        {"users", "add", "x", "--password"},
        {"engines", "enable", "demo", "babel"},
        {"engines", "enable", "demo", "google", "--backend", "babel"},
        {"providers", "set", "babel", "--key", "k"},
        {"providers", "set", "google", "--endpoint", "ftp://x"},
        {"tokens", "forget", "demo"},
        {"frobnicate"},
    };
    for (const auto& arguments : bad) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        AdminRun run = admin(arguments);
        EXPECT_EQ(run.code, 2);
        EXPECT_FALSE(run.err.empty());
    }
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(runAdminCommand({"users", "list"}, in, out, err), 2) << "--data is required";
    EXPECT_FALSE(err.str().empty());
}

} // namespace
} // namespace aurelo::service::test
