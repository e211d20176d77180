#include "StoreTestSupport.hpp"

#include "models/AccountStore.hpp"
#include "support/FakeManagedService.hpp"
#include "support/LoopbackProxy.hpp"
#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

namespace aurelo::test {
namespace {

using Json = nlohmann::json;

const Json kEngines = {{"engines",
                        {{{"provider", "openai"}, {"label", "OpenAI"}, {"model", "gpt"}},
                         {{"provider", "deepl"}, {"label", "DeepL"}, {"model", nullptr}}}}};

class AccountStoreTest : public ::testing::Test {
protected:
    StoreEnvironment env;
    FakeManagedService fake;
    HttpSession session{HttpSessionConfiguration{}};

    std::unique_ptr<AccountStore> makeStore(std::string origin = {}) {
        return std::make_unique<AccountStore>(*env.defaults, env.keychain,
                                              origin.empty() ? fake.origin() : origin, session);
    }
    void login(AccountStore& store, const std::string& user = "alice",
               const std::string& password = "pw") {
        bool done = false;
        store.login(user, password, [&] { done = true; });
        ASSERT_TRUE(runMainLoopUntil([&] { return done; }));
        EXPECT_FALSE(store.isWorking());
    }
    void refresh(AccountStore& store) {
        bool done = false;
        store.refreshEngines([&] { done = true; });
        ASSERT_TRUE(runMainLoopUntil([&] { return done; }));
    }
    std::optional<std::string> storedToken() const {
        auto it = env.secrets.items().find("aurelo-translator-login-token");
        return it == env.secrets.items().end() ? std::nullopt
                                               : std::optional<std::string>(it->second);
    }
};

TEST_F(AccountStoreTest, RejectedLoginsShowTheServicesTextOrTheDefault) {
    struct Case {
        ScriptedAnswer answer;
        std::string message;
    };
    const Case cases[] = {
        {ScriptedAnswer::json(401, {{"error", "账号或密码错误"}}), "账号或密码错误"},
        {ScriptedAnswer::json(401, Json::object()), "登录失败"},
        {ScriptedAnswer::json(200, Json::object()), "登录失败"},
        {ScriptedAnswer::json(200, {{"error", "账号已停用"}}), "账号已停用"},
        {ScriptedAnswer::json(500, {{"token", "t"}, {"error", "内部错误"}}), "内部错误"},
    };
    for (const auto& c : cases) {
        fake.enqueue("/api/auth/login", c.answer);
        auto store = makeStore();
        login(*store);
        EXPECT_EQ(store->errorMessage(), c.message);
        EXPECT_FALSE(store->isLoggedIn());
        EXPECT_EQ(storedToken(), std::nullopt);
        EXPECT_FALSE(env.defaults->contains("aureloTranslator.username"));
    }
}

TEST_F(AccountStoreTest, UndecodableAnswersAndTransportFailuresShowTheirDescriptions) {
    fake.enqueue("/api/auth/login",
                 ScriptedAnswer::text(502, "<html>Bad gateway</html>", "text/html"));
    auto store = makeStore();
    login(*store);
    EXPECT_EQ(store->errorMessage(), DecodingError::dataCorrupted().description);

    fake.enqueue("/api/auth/login", ScriptedAnswer::json(200, {{"token", 42}}));
    login(*store);
    EXPECT_EQ(store->errorMessage(), DecodingError::typeMismatch("token").description);

    auto offline = makeStore("http://127.0.0.1:" + std::to_string(closedLoopbackPort()));
    login(*offline);
    EXPECT_EQ(offline->errorMessage(),
              TransportError::make(TransportError::Kind::CannotConnect).description);
    EXPECT_FALSE(offline->isLoggedIn());
}

TEST_F(AccountStoreTest, SuccessfulLoginStoresTokenAndNameAndFetchesEngines) {
    fake.enqueue("/api/auth/login",
                 ScriptedAnswer::json(200, {{"token", "tok-1"}, {"error", "ignored"}}));
    fake.enqueue("/api/engines", ScriptedAnswer::json(200, kEngines));
    auto store = makeStore();
    std::vector<AccountStore::Field> changes;
    store->signalChanged().connect([&](AccountStore::Field f) { changes.push_back(f); });
    login(*store, "alice", " p\"w ");

    EXPECT_TRUE(store->isLoggedIn());
    EXPECT_EQ(store->username(), "alice");
    EXPECT_EQ(store->errorMessage(), "");
    EXPECT_EQ(storedToken(), "tok-1");
    EXPECT_EQ(env.storedDefaults().at("aureloTranslator.username"), "alice");
    EXPECT_EQ(store->availableEngines(),
              (std::vector<RemoteEngine>{{"openai", "OpenAI", "gpt"}, {"deepl", "DeepL", {}}}));
    EXPECT_EQ(changes.front(), AccountStore::Field::IsWorking);
    EXPECT_EQ(changes.back(), AccountStore::Field::IsWorking);

    ASSERT_EQ(fake.requests().size(), 2u);
    const auto& request = fake.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.header("content-type"), "application/json");
    EXPECT_EQ(*request.json, (Json{{"username", "alice"}, {"password", " p\"w "}}));
    EXPECT_EQ(fake.requests()[1].method, "GET");
    EXPECT_EQ(fake.requests()[1].path, "/api/engines");
    EXPECT_EQ(fake.requests()[1].header("authorization"), "Bearer tok-1");
}

TEST_F(AccountStoreTest, AfterARestartTheUserIsLoggedInAtOnceAndEnginesAreRequested) {
    env.secrets.putRaw("aurelo-translator-login-token", "tok-1");
    ASSERT_TRUE(env.defaults->set("aureloTranslator.username", "alice"));
    fake.enqueue("/api/engines", ScriptedAnswer::json(200, kEngines));
    auto store = makeStore();
    EXPECT_TRUE(store->isLoggedIn());
    EXPECT_EQ(store->username(), "alice");
    EXPECT_TRUE(store->availableEngines().empty());
    ASSERT_TRUE(runMainLoopUntil([&] { return store->availableEngines().size() == 2; }));
}

TEST_F(AccountStoreTest, ARejectedTokenLogsOutWithoutAMessage) {
    env.secrets.putRaw("aurelo-translator-login-token", "expired");
    ASSERT_TRUE(env.defaults->set("aureloTranslator.username", "alice"));
    fake.enqueue("/api/engines", ScriptedAnswer::json(401, {{"error", "expired"}}));
    auto store = makeStore();
    ASSERT_TRUE(runMainLoopUntil([&] { return !store->isLoggedIn(); }));
    EXPECT_EQ(store->username(), "");
    EXPECT_EQ(store->errorMessage(), "");
    EXPECT_EQ(storedToken(), std::nullopt);
    EXPECT_FALSE(env.storedDefaults().contains("aureloTranslator.username"));
}

TEST_F(AccountStoreTest, AnUndecodableEngineListKeepsTheOldOne) {
    env.secrets.putRaw("aurelo-translator-login-token", "tok");
    fake.enqueue("/api/engines", ScriptedAnswer::json(200, kEngines));
    auto store = makeStore();
    ASSERT_TRUE(runMainLoopUntil([&] { return store->availableEngines().size() == 2; }));

    const std::pair<Json, std::string> bad[] = {
        {Json::object(), DecodingError::keyNotFound("engines").description},
        {{{"engines", {{{"provider", "openai"}}}}},
         DecodingError::keyNotFound("label").description},
        {{{"engines", {{{"provider", 1}, {"label", "x"}}}}},
         DecodingError::typeMismatch("provider").description},
    };
    for (const auto& [body, description] : bad) {
        fake.enqueue("/api/engines", ScriptedAnswer::json(200, body));
        refresh(*store);
        EXPECT_EQ(store->errorMessage(), "无法读取可用翻译引擎：" + description);
        EXPECT_EQ(store->availableEngines().size(), 2u);
        EXPECT_TRUE(store->isLoggedIn());
    }
    // An empty list replaces the old one; the last message stays.
    fake.enqueue("/api/engines", ScriptedAnswer::json(200, {{"engines", Json::array()}}));
    refresh(*store);
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

TEST_F(AccountStoreTest, LogoutClearsEverythingButTheLastError) {
    fake.enqueue("/api/auth/login", ScriptedAnswer::json(200, {{"token", "tok"}}));
    fake.enqueue("/api/engines", ScriptedAnswer::json(200, {{"oops", 1}}));
    auto store = makeStore();
    login(*store);
    ASSERT_FALSE(store->errorMessage().empty());
    store->logout();
    EXPECT_FALSE(store->isLoggedIn());
    EXPECT_EQ(store->token(), "");
    EXPECT_EQ(storedToken(), std::nullopt);
    EXPECT_FALSE(env.storedDefaults().contains("aureloTranslator.username"));
    EXPECT_FALSE(store->errorMessage().empty());
}

// The token ends on the service too; the local logout neither waits for that nor cares how it
// went. A token the service has already refused is not sent back to it.
TEST_F(AccountStoreTest, LogoutRevokesTheTokenOnTheServiceWithoutWaitingForIt) {
    fake.enqueue("/api/auth/login", ScriptedAnswer::json(200, {{"token", "tok"}}));
    fake.enqueue("/api/engines", ScriptedAnswer::json(200, kEngines));
    auto store = makeStore();
    login(*store);
    ASSERT_TRUE(store->isLoggedIn());
    fake.enqueue("/api/auth/logout", ScriptedAnswer::silence());
    store->logout();
    EXPECT_FALSE(store->isLoggedIn()) << "logged out at once, whatever the service does";
    ASSERT_TRUE(runMainLoopUntil([&] { return fake.requestCount("/api/auth/logout") == 1; }));
    auto revoke = std::ranges::find_if(fake.requests(),
                                       [](const auto& r) { return r.path == "/api/auth/logout"; });
    EXPECT_EQ(revoke->method, "POST");
    EXPECT_EQ(revoke->headers.at("authorization"), "Bearer tok");

    fake.enqueue("/api/auth/login", ScriptedAnswer::json(200, {{"token", "tok2"}}));
    fake.enqueue("/api/engines", ScriptedAnswer::json(401, Json::object()));
    login(*store);
    ASSERT_TRUE(runMainLoopUntil([&] { return !store->isLoggedIn(); }));
    runMainLoopFor(std::chrono::milliseconds(100));
    EXPECT_EQ(fake.requestCount("/api/auth/logout"), 1u) << "a refused token is not revoked";
    store->logout();
    EXPECT_EQ(fake.requestCount("/api/auth/logout"), 1u) << "nothing to revoke when logged out";
}

// An engine-list answer about a token that is no longer in use is dropped: a 401 for the
// previous login must not log out the login that replaced it.
TEST_F(AccountStoreTest, AStaleEngineAnswerDoesNotAffectANewerLogin) {
    env.secrets.putRaw("aurelo-translator-login-token", "old-token");
    auto late = ScriptedAnswer::json(401, Json::object());
    late.delay = std::chrono::milliseconds(300);
    fake.enqueue("/api/engines", late);
    auto store = makeStore();
    runMainLoopFor(std::chrono::milliseconds(50)); // the start-up refresh is under way

    fake.enqueue("/api/auth/login", ScriptedAnswer::json(200, {{"token", "new-token"}}));
    fake.enqueue("/api/engines", ScriptedAnswer::json(200, kEngines));
    store->logout();
    login(*store, "bob");
    ASSERT_TRUE(store->isLoggedIn());
    runMainLoopFor(std::chrono::milliseconds(400));
    EXPECT_TRUE(store->isLoggedIn());
    EXPECT_EQ(store->username(), "bob");
    EXPECT_EQ(store->availableEngines().size(), 2u);
    EXPECT_EQ(storedToken(), "new-token");
}

TEST_F(AccountStoreTest, AStoreDestroyedMidRequestIgnoresTheAnswer) {
    auto slow = ScriptedAnswer::json(200, {{"token", "tok"}});
    slow.delay = std::chrono::milliseconds(100);
    fake.enqueue("/api/auth/login", slow);
    auto store = makeStore();
    store->login("alice", "pw", [] { FAIL() << "completion of a destroyed store ran"; });
    store.reset();
    runMainLoopFor(std::chrono::milliseconds(300));
    EXPECT_EQ(storedToken(), std::nullopt);
}

TEST(LoginButton, EnabledOnlyWithBothFieldsAndNoLoginRunning) {
    EXPECT_FALSE(AccountStore::loginButtonEnabled("", "pw", false));
    EXPECT_FALSE(AccountStore::loginButtonEnabled("user", "", false));
    EXPECT_TRUE(AccountStore::loginButtonEnabled(" ", " ", false)) << "spaces count as filled";
    EXPECT_FALSE(AccountStore::loginButtonEnabled("user", "pw", true));
}

} // namespace
} // namespace aurelo::test
