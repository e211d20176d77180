#include "StoreTestSupport.hpp"

#include "models/QuietHours.hpp"
#include "models/SettingsStore.hpp"
#include "support/FakeManagedService.hpp"
#include "support/MainLoopWait.hpp"
#include "translation/TranslationNetwork.hpp"

#include <gtest/gtest.h>

namespace aurelo::test {
namespace {

using Json = UserDefaults::Json;
using Status = ProviderConnectionStatus;

class SettingsStoreTest : public ::testing::Test {
protected:
    StoreEnvironment env;
    FakeManagedService fake;
    HttpSession session{TranslationNetwork::sessionConfiguration()};
    TranslationRequestCache cache;
    TranslationService translator{fake.origin(), session, cache};

    std::unique_ptr<SettingsStore> makeStore() {
        return std::make_unique<SettingsStore>(*env.defaults, env.keychain, translator);
    }
    void storeToken(const std::string& token) {
        env.secrets.putRaw("aurelo-translator-login-token", token);
    }
    void validate(SettingsStore& store) {
        bool done = false;
        store.saveAndValidate([&] { done = true; });
        ASSERT_TRUE(runMainLoopUntil([&] { return done; }));
    }
};

TEST_F(SettingsStoreTest, StoredValuesLoadAndUnknownOnesFallBack) {
    ASSERT_TRUE(env.defaults->setValues({
        {"translationProvider", "babelfish"},
        {"chatOutgoingLanguage", "klingon"},
        {"chatIncomingLanguage", "ja"},
        {"targetLanguage", "english"},
        {"appAppearance", 42},
        {"automaticMessageTranslation", false},
        {"openAIModel", "gpt-x"},
    }));
    storeToken("  token  ");
    env.secrets.putRaw("deepl-api-key", "deepl-secret");
    auto store = makeStore();
    EXPECT_EQ(store->provider(), TranslationProvider::Google);
    EXPECT_EQ(store->outgoingLanguage(), ChatLanguage::English);
    EXPECT_EQ(store->incomingLanguage(), ChatLanguage::Japanese);
    EXPECT_EQ(store->preferredTarget(), TargetLanguage::English);
    EXPECT_EQ(store->appearance(), AppAppearance::System);
    EXPECT_FALSE(store->automaticMessageTranslation());
    EXPECT_EQ(store->openAIModel(), "gpt-x");
    EXPECT_EQ(store->deeplAPIKey(), "deepl-secret");
    EXPECT_EQ(store->connectionStatus(), Status::unverified());

    ASSERT_TRUE(env.defaults->set("automaticMessageTranslation", "no"));
    EXPECT_TRUE(makeStore()->automaticMessageTranslation());
}

TEST_F(SettingsStoreTest, SaveWritesTrimmedValuesAndKeepsWhatWasTyped) {
    auto store = makeStore();
    store->setAPIKey(TranslationProvider::Google, "  g-key \n");
    store->setAPIKey(TranslationProvider::OpenAI, "   ");
    env.secrets.putRaw("openai-api-key", "old");
    store->setMicrosoftRegion(" eastasia ");
    store->setClaudeModel(" claude-x ");
    store->setProvider(TranslationProvider::DeepL);
    store->setOutgoingLanguage(ChatLanguage::Spanish);
    store->setAutomaticMessageTranslation(false);
    store->save();

    EXPECT_EQ(env.secrets.items().at("translation-api-key"), "g-key");
    EXPECT_FALSE(env.secrets.items().contains("openai-api-key"));
    EXPECT_EQ(env.storedDefaults(), (Json{{"translationProvider", "deepl"},
                                          {"microsoftTranslatorRegion", "eastasia"},
                                          {"openAIModel", "gpt-5.4-mini"},
                                          {"geminiModel", "gemini-3.7-flash"},
                                          {"claudeModel", "claude-x"},
                                          {"targetLanguage", "automatic"},
                                          {"automaticMessageTranslation", false},
                                          {"chatInputLanguage", "auto"},
                                          {"chatOutgoingLanguage", "es"},
                                          {"chatIncomingLanguage", "zh-CN"}}));
    EXPECT_EQ(store->microsoftRegion(), " eastasia ");
    EXPECT_EQ(store->statusMessage(), "已安全保存到密钥环");
    EXPECT_EQ(store->connectionStatus(), Status::notConfigured());
}

// A save that did not go through must not be followed by a connection check: its "连接验证成功"
// would replace the failure, and the user would take the settings for saved.
TEST_F(SettingsStoreTest, ALockedKeyringIsOfferedOnceAndAFailedSaveIsNotChecked) {
    struct Case {
        const char* what;
        bool locked;
        bool userUnlocks;
        std::optional<SecretStoreError> refusal;
        const char* status;
    };
    const Case cases[] = {
        {"user unlocks", true, true, std::nullopt, "连接验证成功"},
        {"user cancels", true, false, std::nullopt, "保存失败：密钥环已锁定。"},
        {"refused, not locked: no prompt", false, false, SecretStoreError{5, "full"},
         "保存失败：full"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        env.secrets = InMemorySecretStore();
        std::filesystem::remove(env.defaultsFile);
        storeToken("token-1");
        fake.setResponder([](const RecordedRequest& request) { return echoTranslation(request); });
        fake.clearRequests();
        auto store = makeStore();
        store->setAPIKey(TranslationProvider::DeepL, "d");
        env.secrets.setLocked(c.locked);
        env.secrets.setUnlockAnswer(c.userUnlocks);
        env.secrets.setFailure(InMemorySecretStore::Operation::Add, c.refusal);
        validate(*store);
        const bool saved = c.userUnlocks;
        EXPECT_EQ(env.secrets.unlockRequests(), c.locked ? 1u : 0u);
        EXPECT_EQ(store->statusMessage(), c.status);
        EXPECT_EQ(fake.requestCount("/api/translate"), saved ? 1u : 0u);
        EXPECT_EQ(std::filesystem::exists(env.defaultsFile), saved);
        EXPECT_EQ(env.secrets.items().contains("deepl-api-key"), saved);
    }
}

TEST_F(SettingsStoreTest, RenderingAndAppearanceAreWrittenAtOnceAndReadAtTheNextStart) {
    auto store = makeStore();
    store->setAppearance(AppAppearance::Dark);
    store->setRenderingMode(RenderingMode::SaveMemory);
    store->setPageMemoryLimit(PageMemoryLimit::GB1);
    EXPECT_EQ(env.storedDefaults().at("aureloTranslator.renderingMode"), "memory");
    env.restart();
    SettingsStore restarted(*env.defaults, env.keychain, translator);
    EXPECT_EQ(restarted.appearance(), AppAppearance::Dark);
    EXPECT_EQ(restarted.renderingMode(), RenderingMode::SaveMemory);
    EXPECT_EQ(restarted.pageMemoryLimit(), PageMemoryLimit::GB1);
    ASSERT_TRUE(env.defaults->set("aureloTranslator.pageMemoryLimit", Json(1024)));
    EXPECT_EQ(SettingsStore(*env.defaults, env.keychain, translator).pageMemoryLimit(),
              PageMemoryLimit::Automatic);
    // main() reads the mode before any store exists; a value it does not know means automatic.
    for (const auto& junk : {Json("gpu"), Json("Memory"), Json(3), Json(nullptr)}) {
        ASSERT_TRUE(env.defaults->set("aureloTranslator.renderingMode", junk));
        EXPECT_EQ(SettingsStore::storedRenderingMode(*env.defaults), RenderingMode::Automatic)
            << junk.dump();
    }
}

// The token is read once, when the store starts, and later follows the keychain's announcements;
// a keychain unreadable at the start is asked again when a request needs the token.
TEST_F(SettingsStoreTest, ConfigurationCarriesTheCurrentTokenWithoutReadingTheKeychain) {
    storeToken("token-1");
    env.secrets.setFailure(InMemorySecretStore::Operation::Lookup, SecretStoreError{24, "down"});
    auto store = makeStore();
    EXPECT_EQ(store->googleAPIKey(), "");
    EXPECT_EQ(store->connectionStatus(), Status::notConfigured());
    EXPECT_FALSE(std::filesystem::exists(env.defaultsFile)) << "a start writes nothing";
    EXPECT_EQ(store->configuration(TranslationProvider::Google).apiKey, "");
    env.secrets.setFailure(InMemorySecretStore::Operation::Lookup, std::nullopt);
    EXPECT_EQ(store->configuration(TranslationProvider::Google).apiKey, "token-1");

    store->setGeminiModel("gem");
    store->setMicrosoftRegion("west");
    const auto lookups = env.secrets.lookupCount();
    EXPECT_EQ(store->configuration(TranslationProvider::Gemini),
              (TranslationConfiguration{TranslationProvider::Gemini, "token-1", "west", "gem"}));
    EXPECT_EQ(store->configuration(TranslationProvider::DeepL).model, "");
    EXPECT_EQ(store->configuration(TranslationProvider::OpenAI).model, "gpt-5.4-mini");
    ASSERT_TRUE(env.keychain.save("token-2", "aurelo-translator-login-token"));
    EXPECT_EQ(store->configuration(TranslationProvider::Google).apiKey, "token-2");
    ASSERT_TRUE(env.keychain.save("", "aurelo-translator-login-token"));
    EXPECT_EQ(store->configuration(TranslationProvider::Google).apiKey, "");
    EXPECT_EQ(env.secrets.lookupCount(), lookups);
}

TEST_F(SettingsStoreTest, ValidationAsksForATokenShowsFailuresAndCachesSuccess) {
    auto store = makeStore();
    validate(*store);
    EXPECT_EQ(store->statusMessage(), "请先填写 API Key");
    EXPECT_EQ(store->connectionStatus(), Status::notConfigured());
    EXPECT_EQ(fake.requestCount("/api/translate"), 0u);

    ASSERT_TRUE(env.keychain.save("token-1", "aurelo-translator-login-token"));
    fake.enqueue("/api/translate", ScriptedAnswer::json(500, {{"error", "引擎不可用"}}));
    validate(*store);
    EXPECT_EQ(store->connectionStatus(), Status::failed("引擎不可用"));
    EXPECT_EQ(store->statusMessage(), "引擎不可用");

    fake.setResponder([](const RecordedRequest& request) { return echoTranslation(request); });
    validate(*store);
    EXPECT_EQ(store->statusMessage(), "连接验证成功");
    EXPECT_EQ(store->connectionStatus(), Status::connected());
    ASSERT_EQ(fake.requestCount("/api/translate"), 2u);
    EXPECT_EQ(fake.requests().back().json->at("text"), "Hello");
    EXPECT_EQ(fake.requests().back().json->at("target"), "zh-CN");
    EXPECT_EQ(fake.requests().back().header("authorization"), "Bearer token-1");
    validate(*store);
    EXPECT_EQ(fake.requestCount("/api/translate"), 2u) << "a second check comes from the cache";
}

TEST_F(SettingsStoreTest, ALateAnswerTouchesNeitherAnotherProvidersStatusNorAGoneStore) {
    storeToken("token-1");
    auto late = ScriptedAnswer::json(500, {{"error", "too late"}});
    late.delay = std::chrono::milliseconds(200);
    fake.enqueue("/api/translate", late);
    fake.enqueue("/api/translate", late);
    auto store = makeStore();
    bool done = false;
    store->saveAndValidate([&] { done = true; });
    store->setProvider(TranslationProvider::DeepL);
    store->setConnectionStatus(Status::unverified());
    store->setStatusMessage("switched");
    ASSERT_TRUE(runMainLoopUntil([&] { return done; }));
    EXPECT_EQ(store->connectionStatus(), Status::unverified());
    EXPECT_EQ(store->statusMessage(), "switched");

    store = makeStore();
    store->saveAndValidate();
    store.reset();
    ASSERT_TRUE(runMainLoopUntil([&] { return fake.requestCount("/api/translate") == 2; }));
    runMainLoopFor(std::chrono::milliseconds(300));
}

// "定时勿扰": which minutes of the day a period covers, and what a stored value reads back as.
constexpr int at(int hour, int minute = 0) {
    return hour * 60 + minute;
}

TEST(QuietHours, CoversItsPeriodAcrossMidnightToo) {
    const struct {
        QuietHours hours;
        int minute;
        bool covered;
    } cases[] = {
        // 22:00–08:00, across midnight: the start counts, the end does not.
        {{true, at(22), at(8)}, at(21, 59), false},
        {{true, at(22), at(8)}, at(22), true},
        {{true, at(22), at(8)}, at(23, 59), true},
        {{true, at(22), at(8)}, at(0), true},
        {{true, at(22), at(8)}, at(7, 59), true},
        {{true, at(22), at(8)}, at(8), false},
        {{true, at(22), at(8)}, at(12), false},
        // 12:30–14:00, within one day.
        {{true, at(12, 30), at(14)}, at(12, 29), false},
        {{true, at(12, 30), at(14)}, at(13), true},
        {{true, at(12, 30), at(14)}, at(14), false},
        {{true, at(12, 30), at(14)}, at(23), false},
        // From midnight.
        {{true, at(0), at(6)}, at(0), true},
        // Off, or starting where it ends: never.
        {{false, at(22), at(8)}, at(23), false},
        {{true, at(9), at(9)}, at(9), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.hours.covers(c.minute), c.covered)
            << QuietHours::clockText(c.hours.fromMinute) << "–"
            << QuietHours::clockText(c.hours.toMinute) << " at " << QuietHours::clockText(c.minute);
}

TEST(QuietHours, StoredValuesReadBackOrAreOff) {
    const QuietHours night{true, at(22, 30), at(7)};
    EXPECT_EQ(QuietHours::decode(night.encode()), night);
    const QuietHours off{};
    const char* unreadable[] = {
        R"(null)",
        R"("22:00-08:00")",
        R"([true, 1320, 480])",
        R"({"enabled": "yes", "from": 1320, "to": 480})",
        R"({"enabled": true, "from": 1320})",
        R"({"enabled": true, "from": -30, "to": 480})",
        R"({"enabled": true, "from": 1320, "to": 1440})",
        R"({"enabled": true, "from": 1320.5, "to": 480})",
        R"({"enabled": true, "from": 99999999999999999999, "to": 480})",
    };
    for (const char* text : unreadable)
        EXPECT_EQ(QuietHours::decode(UserDefaults::Json::parse(text)), off) << text;
    EXPECT_EQ(QuietHours::decode(std::nullopt), off);
}

} // namespace
} // namespace aurelo::test
