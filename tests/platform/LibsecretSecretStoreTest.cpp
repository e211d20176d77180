// What only the Secret Service adapter can get wrong: the attributes other tools find items by,
// staying responsive when the service is missing or does not answer, and the unlock request. The
// keychain semantics themselves are checked by the contract suite in tests/models.

#include "platform/LibsecretSecretStore.hpp"
#include "platform/GRef.hpp"
#include "support/MainLoopWait.hpp"
#include "support/Programs.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

#include <unistd.h>

namespace aurelo {
namespace {

std::optional<std::string> secretTool(std::vector<std::string> arguments,
                                      const std::string& input = {}) {
    arguments.insert(arguments.begin(), "secret-tool");
    auto run = test::runProgram(arguments, input);
    return run.succeeded ? std::optional(run.output) : std::nullopt;
}

// The looked-up value, or "<error>" so that comparisons show what went wrong.
std::optional<std::string> lookedUp(LibsecretSecretStore& store, const std::string& account) {
    auto result = store.lookup(account);
    if (!result)
        return "<error: " + result.error().message + ">";
    return *result;
}

std::string uniqueAccount(const char* base) {
    return std::string(base) + "-" + std::to_string(::getpid()) + "-" +
           std::to_string(g_get_monotonic_time());
}

TEST(LibsecretSecretStoreTest, ItemsAreFoundByServiceAndAccountFromOutside) {
    LibsecretSecretStore store;
    const std::string ours = uniqueAccount("written-by-us");
    ASSERT_TRUE(store.add(ours, "token-äöü 1"));
    auto looked =
        secretTool({"lookup", "service", LibsecretSecretStore::kService, "account", ours});
    ASSERT_TRUE(looked) << "secret-tool could not find our item";
    EXPECT_EQ(*looked, "token-äöü 1");
    auto listed =
        secretTool({"search", "--all", "service", LibsecretSecretStore::kService, "account", ours});
    ASSERT_TRUE(listed);
    EXPECT_NE(listed->find("label = Aurelo翻译器：" + ours), std::string::npos) << *listed;

    const std::string theirs = uniqueAccount("written-by-secret-tool");
    ASSERT_TRUE(secretTool(
        {"store", "--label=other", "service", LibsecretSecretStore::kService, "account", theirs},
        "from outside"));
    EXPECT_EQ(lookedUp(store, theirs), std::optional<std::string>("from outside"));
    ASSERT_TRUE(store.remove(theirs));
    EXPECT_FALSE(
        secretTool({"lookup", "service", LibsecretSecretStore::kService, "account", theirs}));
    ASSERT_TRUE(store.remove(ours));
}

TEST(LibsecretSecretStoreTest, OtherServicesItemsAreNotTouched) {
    const std::string account = uniqueAccount("shared-account-name");
    LibsecretSecretStore ours;
    LibsecretSecretStore other(
        LibsecretSecretStore::Options{"com.example.other", LibsecretSecretStore::kDefaultTimeout});
    ASSERT_TRUE(other.add(account, "theirs"));
    ASSERT_TRUE(ours.remove(account));
    EXPECT_EQ(lookedUp(other, account), std::optional<std::string>("theirs"));
    EXPECT_EQ(lookedUp(ours, account), std::nullopt);
    ASSERT_TRUE(other.remove(account));
}

// The tests below replace the Secret Service through SECRET_SERVICE_BUS_NAME, which libsecret
// reads once per process; each runs as its own CTest entry that sets it.
bool runningAs(const char* mode) {
    const char* value = std::getenv("AURELO_TEST_SECRET_SERVICE");
    return value && std::string_view(value) == mode;
}

// Also what happens without any session bus (the platform_without_bus test).
TEST(MissingSecretService, IsAFailureWithADescription) {
    if (!runningAs("missing") && !std::getenv("AURELO_TEST_WITHOUT_BUS"))
        GTEST_SKIP() << "runs as the platform_missing_secret_service test";
    LibsecretSecretStore store;
    auto loaded = store.lookup("any");
    ASSERT_FALSE(loaded);
    EXPECT_FALSE(loaded.error().message.empty());
    auto added = store.add("any", "value");
    ASSERT_FALSE(added);
    EXPECT_FALSE(added.error().message.empty());
}

// A service that owns its name on the bus but never answers a call.
class SilentService {
public:
    static constexpr const char* kName = "com.aurelo.test.SilentSecrets";

    // The process's own connection: the calls the store sends come back to it as the name's
    // owner, where the filter drops them.
    SilentService()
        : m_connection(adoptGRef(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr))) {
        if (!m_connection)
            return;
        auto reply = adoptGRef(g_dbus_connection_call_sync(
            m_connection.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
            "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", kName, 4u),
            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
        m_owned = static_cast<bool>(reply);
        m_filter =
            g_dbus_connection_add_filter(m_connection.get(), dropCallsCallback, nullptr, nullptr);
    }
    ~SilentService() {
        if (m_connection)
            g_dbus_connection_remove_filter(m_connection.get(), m_filter);
    }
    bool owned() const { return m_owned; }

private:
    // Runs on GDBus's worker thread, so the service stays silent however busy the test's
    // thread is.
    static GDBusMessage* dropCallsCallback(GDBusConnection*, GDBusMessage* message,
                                           gboolean incoming, gpointer) {
        if (incoming &&
            g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL) {
            g_object_unref(message);
            return nullptr;
        }
        return message;
    }

    GRef<GDBusConnection> m_connection;
    guint m_filter = 0;
    bool m_owned = false;
};

TEST(SilentSecretService, CostsOneTimeoutThenFailsAtOnce) {
    if (!runningAs("silent"))
        GTEST_SKIP() << "runs as the platform_silent_secret_service test";
    SilentService silent;
    ASSERT_TRUE(silent.owned());
    LibsecretSecretStore store(LibsecretSecretStore::Options{LibsecretSecretStore::kService,
                                                             std::chrono::milliseconds(300)});

    auto loaded = store.lookup("aurelo-translator-login-token");
    ASSERT_FALSE(loaded);
    EXPECT_EQ(loaded.error().status, G_IO_ERROR_TIMED_OUT);
    EXPECT_NE(loaded.error().message.find("0.3"), std::string::npos) << loaded.error().message;

    // Later calls do not wait again while the service is known to be unresponsive.
    auto added = store.add("aurelo-translator-login-token", "token");
    ASSERT_FALSE(added);
    EXPECT_EQ(added.error().status, G_IO_ERROR_TIMED_OUT);
    EXPECT_FALSE(store.remove("aurelo-translator-login-token"));
}

// An unlocked keyring answers at once without a prompt; a Secret Service that is not there
// answers "not unlocked" instead of leaving the action that asked waiting.
TEST(SecretServiceUnlock, AnswersForTheKeyringOfThisSessionOnTheMainLoop) {
    if (std::getenv("AURELO_TEST_WITHOUT_BUS"))
        GTEST_SKIP() << "needs the session bus";
    LibsecretSecretStore store;
    std::optional<bool> answer;
    store.unlock([&](bool unlocked) { answer = unlocked; });
    EXPECT_FALSE(answer) << "answers on the main loop, never inside the call";
    test::runMainLoopUntil([&] { return answer.has_value(); }, std::chrono::seconds(10));
    EXPECT_EQ(answer, std::optional<bool>(!runningAs("missing")));
}

TEST(SecretServiceUnlock, StoreGoneBeforeTheAnswerCallsNothing) {
    if (std::getenv("AURELO_TEST_WITHOUT_BUS"))
        GTEST_SKIP() << "needs the session bus";
    bool called = false;
    {
        LibsecretSecretStore store;
        store.unlock([&](bool) { called = true; });
    }
    test::runMainLoopFor(std::chrono::milliseconds(500));
    EXPECT_FALSE(called);
}

} // namespace
} // namespace aurelo
