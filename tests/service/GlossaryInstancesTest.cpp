// Two built aurelo-service processes on one database, SQLite file or PostgreSQL: a term the
// operator adds while both run is applied by each at its next request, past its result cache.

#include "PostgresCluster.hpp"
#include "ServiceHarness.hpp"
#include "ServiceProcess.hpp"

#include "support/TestDirectory.hpp"

#include <gtest/gtest.h>

using nlohmann::json;
using namespace std::chrono_literals;

namespace aurelo::service::test {
namespace {

PostgresCluster& cluster() {
    static PostgresCluster shared;
    return shared;
}

class GlossaryInstances : public ::testing::TestWithParam<DatabaseLocation::Kind> {
protected:
    void SetUp() override {
        if (GetParam() == DatabaseLocation::Kind::postgresql) {
            ASSERT_TRUE(cluster().ready()) << cluster().failure();
            std::string name = "glossary_" + std::to_string(++s_databases);
            ASSERT_TRUE(cluster().recreateDatabase(name));
            m_database = cluster().uri(name);
        } else {
            m_database = "sqlite:" + (m_folder.path() / "shared.sqlite3").string();
        }
        ASSERT_EQ(admin({"users", "add", "alice", "--password", "pw-alice"}), 0);
        ASSERT_EQ(admin({"engines", "enable", "alice", "google"}), 0);
        ASSERT_EQ(
            admin({"providers", "set", "google", "--key", "k", "--endpoint", m_provider.origin()}),
            0);
    }
    int admin(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--database", m_database});
        return m_first.admin(arguments);
    }
    // What the provider was last asked to translate, and in which format.
    std::string lastSent() const {
        const json& body = m_provider.requests().back().json.value();
        return body["format"].get<std::string>() + "|" + body["q"][0].get<std::string>();
    }

    aurelo::test::TestDirectory m_folder;
    FakeUpstream m_provider{[](const UpstreamRequest& r) { return googleTranslations(r, 0ms); }};
    ServiceProcess m_first{ServiceProcess::builtBinary()};
    ServiceProcess m_second{ServiceProcess::builtBinary()};
    std::string m_database;
    static inline int s_databases = 0;
};

TEST_P(GlossaryInstances, ATermAddedWhileBothRunIsAppliedByEachAtItsNextRequest) {
    ASSERT_TRUE(m_first.start({"--database", m_database}));
    ASSERT_TRUE(m_second.start({"--database", m_database}));
    std::string token = m_first.login("alice", "pw-alice");
    ASSERT_FALSE(token.empty());
    for (ServiceProcess* instance : {&m_first, &m_second})
        ASSERT_EQ(instance->translate(token, "Aurelo Pro rocks", "es").status, 200u);
    EXPECT_EQ(lastSent(), "text|Aurelo Pro rocks");
    std::size_t asked = m_provider.requests().size();

    ASSERT_EQ(admin({"glossary", "add", "Aurelo Pro"}), 0);
    for (ServiceProcess* instance : {&m_second, &m_first}) {
        Reply reply = instance->translate(token, "Aurelo Pro rocks", "es");
        EXPECT_EQ(reply.json["text"], "译:Aurelo Pro rocks");
        EXPECT_EQ(lastSent(), R"(html|<span translate="no">Aurelo Pro</span> rocks)");
        EXPECT_EQ(instance->call("GET", "/api/glossary", std::nullopt, token).json["terms"].size(),
                  1u);
    }
    EXPECT_EQ(m_provider.requests().size(), asked + 2) << "neither answered from its cache";
}

INSTANTIATE_TEST_SUITE_P(Stores, GlossaryInstances,
                         ::testing::Values(DatabaseLocation::Kind::sqlite,
                                           DatabaseLocation::Kind::postgresql),
                         [](const auto& info) {
                             return info.param == DatabaseLocation::Kind::sqlite ? "SQLite"
                                                                                 : "PostgreSQL";
                         });

} // namespace
} // namespace aurelo::service::test
