#include "StoreTestSupport.hpp"

#include "models/AccountStore.hpp"
#include "support/FakeManagedService.hpp"
#include "support/LoopbackProxy.hpp"
#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

namespace aurelo::test {
namespace {

using Json = nlohmann::json;
using namespace std::chrono_literals;

const Json kEngines = {{"engines",
                        {{{"provider", "openai"}, {"label", "OpenAI"}, {"model", "gpt"}},
                         {{"provider", "deepl"}, {"label", "DeepL"}, {"model", nullptr}}}}};
constexpr const char* kTokenAccount = "aurelo-translator-login-token";

class AccountStoreTest : public ::testing::Test {
protected:
    StoreEnvironment env;
    FakeManagedService fake;
    HttpSession session{HttpSessionConfiguration{}};

    std::unique_ptr<AccountStore> makeStore(std::string origin = {}) {
        return std::make_unique<AccountStore>(*env.defaults, env.keychain,
                                              origin.empty() ? fake.origin() : origin, session);
    }
    void login(AccountStore& store, const std::string& user = "alice") {
        bool done = false;
        store.login(user, " p\"w ", [&] { done = true; });
        ASSERT_TRUE(runMainLoopUntil([&] { return done; }));
        EXPECT_FALSE(store.isWorking());
    }
    std::optional<std::string> storedToken() { return env.secrets.lookup(kTokenAccount).value(); }
    void expectLoggedOut(const AccountStore& store) {
        EXPECT_FALSE(store.isLoggedIn());
        EXPECT_EQ(store.username(), "");
        EXPECT_EQ(storedToken(), std::nullopt);
        EXPECT_FALSE(env.defaults->contains("aureloTranslator.username"));
    }
};

TEST_F(AccountStoreTest, FailedLoginsShowTheServicesTextTheDefaultOrTheFailure) {
    struct Case {
        ScriptedAnswer answer;
        std::string message;
        bool offline = false;
    };
    const Case cases[] = {
        {ScriptedAnswer::json(401, {{"error", "账号或密码错误"}}), "账号或密码错误"},
        {ScriptedAnswer::json(401, Json::object()), "登录失败"},
        {ScriptedAnswer::json(200, Json::object()), "登录失败"},
        {ScriptedAnswer::json(200, {{"error", "账号已停用"}}), "账号已停用"},
        {ScriptedAnswer::json(500, {{"token", "t"}, {"error", "内部错误"}}), "内部错误"},
        {ScriptedAnswer::text(502, "<html>Bad gateway</html>", "text/html"),
         DecodingError::dataCorrupted().description},
        {ScriptedAnswer::json(200, {{"token", 42}}),
         DecodingError::typeMismatch("token").description},
        {{}, TransportError::make(TransportError::Kind::CannotConnect).description, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        fake.enqueue("/api/auth/login", c.answer);
        auto store =
            makeStore(c.offline ? "http://127.0.0.1:" + std::to_string(closedLoopbackPort()) : "");
        login(*store);
        EXPECT_EQ(store->errorMessage(), c.message);
        expectLoggedOut(*store);
    }
}

TEST_F(AccountStoreTest, SuccessfulLoginStoresTokenAndNameAndFetchesEngines) {
    fake.enqueue("/api/auth/login",
                 ScriptedAnswer::json(200, {{"token", "tok-1"}, {"error", "ignored"}}));
    fake.enqueue("/api/engines", ScriptedAnswer::json(200, kEngines));
    auto store = makeStore();
    login(*store);
    EXPECT_TRUE(store->isLoggedIn());
    EXPECT_EQ(store->username(), "alice");
    EXPECT_EQ(store->errorMessage(), "");
    EXPECT_EQ(storedToken(), "tok-1");
    EXPECT_EQ(env.storedDefaults().at("aureloTranslator.username"), "alice");
    EXPECT_EQ(store->availableEngines(),
              (std::vector<RemoteEngine>{{"openai", "OpenAI", "gpt"}, {"deepl", "DeepL", {}}}));

    ASSERT_EQ(fake.requests().size(), 2u);
    EXPECT_EQ(fake.requests()[0].method, "POST");
    EXPECT_EQ(fake.requests()[0].header("content-type"), "application/json");
    EXPECT_EQ(*fake.requests()[0].json, (Json{{"username", "alice"}, {"password", " p\"w "}}));
    EXPECT_EQ(fake.requests()[1].path, "/api/engines");
    EXPECT_EQ(fake.requests()[1].header("authorization"), "Bearer tok-1");

    // After a restart the user is logged in at once and the engines are asked for again; the
    // service refusing the stored token logs out without a message.
    env.restart();
    fake.enqueue("/api/engines", ScriptedAnswer::json(401, {{"error", "expired"}}));
    auto restarted = makeStore();
    EXPECT_TRUE(restarted->isLoggedIn());
    EXPECT_EQ(restarted->username(), "alice");
    ASSERT_TRUE(runMainLoopUntil([&] { return !restarted->isLoggedIn(); }));
    EXPECT_EQ(restarted->errorMessage(), "");
    expectLoggedOut(*restarted);
}

TEST_F(AccountStoreTest, AnUndecodableEngineListKeepsTheOldOne) {
    env.secrets.putRaw(kTokenAccount, "tok");
    fake.enqueue("/api/engines", ScriptedAnswer::json(200, kEngines));
    auto store = makeStore();
    ASSERT_TRUE(runMainLoopUntil([&] { return store->availableEngines().size() == 2; }));

    const std::pair<Json, std::string> bad[] = {
        {{{"engines", {{{"provider", "openai"}}}}},
         DecodingError::keyNotFound("label").description},
        {{{"engines", {{{"provider", 1}, {"label", "x"}}}}},
         DecodingError::typeMismatch("provider").description},
    };
    const auto refresh = [&](const Json& body) {
        fake.enqueue("/api/engines", ScriptedAnswer::json(200, body));
        bool done = false;
        store->refreshEngines([&] { done = true; });
        ASSERT_TRUE(runMainLoopUntil([&] { return done; }));
    };
    for (const auto& [body, description] : bad) {
        refresh(body);
        EXPECT_EQ(store->errorMessage(), "无法读取可用翻译引擎：" + description);
        EXPECT_EQ(store->availableEngines().size(), 2u);
        EXPECT_TRUE(store->isLoggedIn());
    }
    // An empty list replaces the old one; the last message stays.
    refresh({{"engines", Json::array()}});
    EXPECT_TRUE(store->availableEngines().empty());
    EXPECT_FALSE(store->errorMessage().empty());
}

TEST_F(AccountStoreTest, AKeychainThatRefusesTheTokenKeepsTheUserLoggedOut) {
    fake.enqueue("/api/auth/login", ScriptedAnswer::json(200, {{"token", "tok"}}));
    env.secrets.setFailure(InMemorySecretStore::Operation::Add,
                           SecretStoreError{2, "The collection is locked"});
    auto store = makeStore();
    login(*store);
    EXPECT_EQ(store->errorMessage(), "The collection is locked");
    EXPECT_FALSE(store->isLoggedIn());
    EXPECT_FALSE(std::filesystem::exists(env.defaultsFile));
    EXPECT_EQ(fake.requestCount("/api/engines"), 0u);
}

// The token ends on the service too; the local logout neither waits for that nor cares how it
// went. A token the service has already refused is not sent back to it.
TEST_F(AccountStoreTest, LogoutClearsAllButTheLastErrorAndRevokesTheTokenWithoutWaiting) {
    fake.enqueue("/api/auth/login", ScriptedAnswer::json(200, {{"token", "tok"}}));
    fake.enqueue("/api/engines", ScriptedAnswer::json(200, {{"oops", 1}}));
    auto store = makeStore();
    login(*store);
    ASSERT_FALSE(store->errorMessage().empty());
    fake.enqueue("/api/auth/logout", ScriptedAnswer::silence());
    store->logout();
    expectLoggedOut(*store);
    EXPECT_EQ(store->token(), "");
    EXPECT_FALSE(store->errorMessage().empty());
    ASSERT_TRUE(runMainLoopUntil([&] { return fake.requestCount("/api/auth/logout") == 1; }));
    EXPECT_EQ(fake.requests().back().method, "POST");
    EXPECT_EQ(fake.requests().back().header("authorization"), "Bearer tok");

    fake.enqueue("/api/auth/login", ScriptedAnswer::json(200, {{"token", "tok2"}}));
    fake.enqueue("/api/engines", ScriptedAnswer::json(401, Json::object()));
    login(*store);
    ASSERT_TRUE(runMainLoopUntil([&] { return !store->isLoggedIn(); }));
    runMainLoopFor(100ms);
    store->logout();
    EXPECT_EQ(fake.requestCount("/api/auth/logout"), 1u) << "a refused token was revoked";
}

// A 401 for the previous login must not log out the login that replaced it.
TEST_F(AccountStoreTest, AStaleEngineAnswerDoesNotAffectANewerLogin) {
    env.secrets.putRaw(kTokenAccount, "old-token");
    auto late = ScriptedAnswer::json(401, Json::object());
    late.delay = 300ms;
    fake.enqueue("/api/engines", late);
    auto store = makeStore();
    runMainLoopFor(50ms);

    fake.enqueue("/api/auth/login", ScriptedAnswer::json(200, {{"token", "new-token"}}));
    fake.enqueue("/api/engines", ScriptedAnswer::json(200, kEngines));
    store->logout();
    login(*store, "bob");
    runMainLoopFor(400ms);
    EXPECT_TRUE(store->isLoggedIn());
    EXPECT_EQ(store->username(), "bob");
    EXPECT_EQ(store->availableEngines().size(), 2u);
    EXPECT_EQ(storedToken(), "new-token");
}

TEST_F(AccountStoreTest, AStoreDestroyedMidRequestIgnoresTheAnswer) {
    auto slow = ScriptedAnswer::json(200, {{"token", "tok"}});
    slow.delay = 100ms;
    fake.enqueue("/api/auth/login", slow);
    auto store = makeStore();
    store->login("alice", "pw", [] { FAIL() << "completion of a destroyed store ran"; });
    store.reset();
    runMainLoopFor(300ms);
    EXPECT_EQ(storedToken(), std::nullopt);
}

} // namespace
} // namespace aurelo::test
