// The settings page's 术语表 card over the real managed-service client and a fake service: what
// it lists, filters and says, and which glossary answers it refuses.

#include "support/ShellTestFixture.hpp"

#include "support/FakeNotificationCenter.hpp"
#include "translation/ManagedTranslationClient.hpp"
#include "viewmodels/SettingsViewModel.hpp"

namespace aurelo::test {
namespace {

const nlohmann::json kTerms = nlohmann::json::parse(R"({"version": "v1", "terms": [
    {"source": "Aurelo Pro", "target": "", "sourceLanguage": "", "targetLanguage": "",
     "ignoreCase": false, "scope": "service"},
    {"source": "free shipping", "target": "envío gratis", "sourceLanguage": "en",
     "targetLanguage": "es", "ignoreCase": true, "scope": "account"}]})");

class SettingsGlossaryTest : public ShellTestFixture {
protected:
    FakeNotificationCenter notifications;
    ManagedTranslationClient client{fake.origin(), session};
    std::unique_ptr<SettingsViewModel> page;

    SettingsGlossaryModel& openPage() {
        page = std::make_unique<SettingsViewModel>(
            settings, account, appLock, notifications,
            [this](const std::string& token,
                   ServiceCompletion<std::vector<GlossaryEntry>> completion) {
                client.fetchGlossary(token, std::move(completion));
            });
        bool done = false;
        page->glossary().refresh([&] { done = true; });
        EXPECT_TRUE(runMainLoopUntil([&] { return done; }));
        return page->glossary();
    }
    static std::vector<std::string> sources(const SettingsGlossaryModel& model) {
        std::vector<std::string> shown;
        for (const auto& entry : model.visibleEntries())
            shown.push_back(entry.source);
        return shown;
    }
};

TEST_F(SettingsGlossaryTest, ListsTheAccountsTermsFiltersThemAndExplainsAnEmptyList) {
    logIn();
    fake.setFallback("/api/glossary", ScriptedAnswer::json(200, kTerms));
    auto& glossary = openPage();
    ASSERT_EQ(sources(glossary), (std::vector<std::string>{"Aurelo Pro", "free shipping"}));
    EXPECT_EQ(glossary.statusText(), "");
    auto entries = glossary.visibleEntries();
    EXPECT_EQ(SettingsGlossaryModel::targetText(entries[0]), "（保持原文，不翻译）");
    EXPECT_EQ(SettingsGlossaryModel::languagesText(entries[0]), "所有语言");
    EXPECT_EQ(SettingsGlossaryModel::languagesText(entries[1]), "en → es · 不区分大小写 · 本账号");

    for (auto [filter, expected] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"  ENVÍO ", {"free shipping"}},
             {"aurelo", {"Aurelo Pro"}},
             {"es", {"free shipping"}},
             {"", {"Aurelo Pro", "free shipping"}}}) {
        glossary.setFilter(filter);
        EXPECT_EQ(sources(glossary), expected) << filter;
    }
    glossary.setFilter("nothing like it");
    EXPECT_EQ(glossary.statusText(), SettingsGlossaryModel::kNoMatchText);

    // Read again whenever the engine list is read (刷新服务器, a new login), changed or not.
    fake.setFallback("/api/glossary",
                     ScriptedAnswer::json(200, {{"terms", nlohmann::json::array()}}));
    account.refreshEngines();
    ASSERT_TRUE(runMainLoopUntil(
        [&] { return glossary.statusText() == SettingsGlossaryModel::kEmptyText; }));

    // A failure keeps the last list and says why.
    fake.setFallback("/api/glossary", ScriptedAnswer::json(500, {{"error", "数据库暂时不可用"}}));
    bool done = false;
    glossary.refresh([&] { done = true; });
    ASSERT_TRUE(runMainLoopUntil([&] { return done; }));
    EXPECT_EQ(glossary.statusText(), "无法读取术语表：数据库暂时不可用");
}

TEST_F(SettingsGlossaryTest, ShowsNothingWithoutALogin) {
    auto& glossary = openPage();
    EXPECT_TRUE(glossary.visibleEntries().empty());
    EXPECT_EQ(glossary.statusText(), "");
    EXPECT_TRUE(std::ranges::none_of(
        fake.requests(), [](const RecordedRequest& r) { return r.path == "/api/glossary"; }));
}

TEST(GlossaryAnswer, RefusesBodiesOfAnotherShape) {
    struct Case {
        unsigned status;
        const char* body;
        bool accepted;
    } cases[] = {
        {200, R"({"terms": []})", true},
        {200, R"({"terms": [{"source": "x", "ignoreCase": "yes", "scope": 3}]})", true},
        {200, R"({})", false},
        {200, R"({"terms": {}})", false},
        {200, R"({"terms": [42]})", false},
        {200, R"({"terms": [{"target": "y"}]})", false},
        {200, R"({"terms": [{"source": 7}]})", false},
        {200, "not json", false},
        {401, R"({"error": "x"})", false},
    };
    for (const auto& c : cases) {
        HttpResponse response;
        response.status = c.status;
        response.body = c.body;
        EXPECT_EQ(ManagedTranslationClient::readGlossaryAnswer(response).has_value(), c.accepted)
            << c.body;
    }
}

} // namespace
} // namespace aurelo::test
