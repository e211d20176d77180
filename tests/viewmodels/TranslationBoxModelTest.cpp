// The translation box against the fake service: what it asks for, which answers it keeps, its
// placeholder and its direction picker.

#include "support/ShellTestFixture.hpp"

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

class TranslationBoxTest : public ShellTestFixture {
protected:
    TranslationBoxModel& box = model.translationBox();

    void SetUp() override {
        ASSERT_TRUE(keychain.save("token", std::string(KeychainStore::kLoginTokenAccount)));
        fake.setResponder([](const RecordedRequest& r) { return echoTranslation(r, "EN:"); });
    }
    bool translated(const std::string& input) {
        box.setInput(input);
        box.performTranslation();
        return runMainLoopUntil([&] { return !box.translating(); });
    }
    // An answer that arrives only after the test has acted.
    void enqueueLate(int status, const nlohmann::json& body) {
        auto answer = ScriptedAnswer::json(status, body);
        answer.delay = 150ms;
        fake.enqueue("/api/translate", answer);
    }
};

TEST_F(TranslationBoxTest, ChineseGoesToEnglishIntoTheSelectedChatAndOtherTextToChinese) {
    box.insertOutput();
    EXPECT_FALSE(box.textInsertion()) << "nothing to insert yet";
    box.setInput("  你好，朋友\n");
    box.performTranslation();
    EXPECT_TRUE(box.translating());
    ASSERT_TRUE(runMainLoopUntil([&] { return !box.translating(); }));
    ASSERT_EQ(fake.requests().size(), 1u);
    EXPECT_EQ((*fake.requests()[0].json)["target"], "en");
    EXPECT_EQ((*fake.requests()[0].json)["text"], "你好，朋友");
    EXPECT_EQ(box.output(), "EN:你好，朋友");
    EXPECT_EQ(box.detected(), "en");
    EXPECT_EQ(box.copyOutput(), "EN:你好，朋友");
    EXPECT_TRUE(box.readyToInsert());
    bool focused = false;
    box.signalFocusRequested().connect([&](bool focus) { focused = focus; });
    box.insertOutput();
    EXPECT_TRUE(box.textInsertion());
    EXPECT_FALSE(box.readyToInsert());
    EXPECT_TRUE(focused);
    ASSERT_TRUE(translated("你好"));
    box.setInput("你好!");
    EXPECT_FALSE(box.readyToInsert()) << "the text was edited away from what was translated";

    // Other text goes to Chinese, or to the preferred target, and is not offered for insertion.
    ASSERT_TRUE(translated("good morning"));
    EXPECT_EQ((*fake.requests()[2].json)["target"], "zh-CN");
    EXPECT_FALSE(box.readyToInsert());
    settings.setPreferredTarget(TargetLanguage::English);
    ASSERT_TRUE(translated("bonjour"));
    EXPECT_EQ((*fake.requests()[3].json)["target"], "en");
}

TEST_F(TranslationBoxTest, NothingToDoWithoutTextOrWhileTranslating) {
    box.setInput("   ");
    box.performTranslation();
    EXPECT_FALSE(box.translating());
    enqueueLate(200, {{"text", "slow"}});
    box.setInput("慢");
    box.performTranslation();
    ASSERT_TRUE(translated("慢"));
    EXPECT_EQ(fake.requests().size(), 1u);
}

TEST_F(TranslationBoxTest, AResultForAnotherAccountIsDropped) {
    ChatSession other = addSession("other");
    model.selectTab(store.sessions().front().id);
    enqueueLate(200, {{"text", "late"}});
    box.setInput("迟到的");
    box.performTranslation();
    model.selectTab(other.id);
    EXPECT_FALSE(box.translating()) << "switching accounts resets the box at once";
    EXPECT_EQ(box.input(), "");
    runMainLoopFor(300ms);
    EXPECT_EQ(box.output(), "") << "the late answer belongs to the previous account";
    EXPECT_EQ(fake.requests().size(), 1u);
}

TEST_F(TranslationBoxTest, FailuresShowTheirDescriptionUnlessCleared) {
    fake.enqueue("/api/translate", ScriptedAnswer::json(401, {{"error", "expired"}}));
    ASSERT_TRUE(translated("你好"));
    EXPECT_EQ(box.errorMessage(), "登录已失效，请重新登录。");
    EXPECT_EQ(box.output(), "");

    enqueueLate(500, {{"error", "失败了"}});
    box.setInput("清空");
    box.performTranslation();
    box.clearTranslation();
    runMainLoopFor(300ms);
    EXPECT_EQ(box.errorMessage(), "");
    EXPECT_FALSE(box.translating());
}

TEST_F(TranslationBoxTest, PlaceholderNamesThePlatformOfTheSelectedAccount) {
    const std::string prefix{TranslationBoxModel::kPlaceholderPrefix};
    const std::string shop = addSession("独立站", "https://shop.example.com/chat").id;
    store.select(store.sessions().front().id);
    int changes = 0;
    box.signalChanged().connect([&](TranslationBoxModel::Field field) {
        changes += field == TranslationBoxModel::Field::Placeholder;
    });
    const std::pair<std::function<void()>, std::string> steps[] = {
        {[&] { store.select(shop); }, prefix + " 独立站"}, // a custom website is its own platform
        {[&] { store.rename(shop, "官网客服"); }, prefix + " 官网客服"},
    };
    for (const auto& [step, expected] : steps) {
        const int before = changes;
        step();
        EXPECT_EQ(box.placeholderText(), expected);
        EXPECT_GT(changes, before) << "the field is told to show the new text: " << expected;
    }
}

TEST_F(TranslationBoxTest, DirectionIsStoredAloneWithoutTheSettingsSave) {
    // Unsaved edits of the settings page, which the box must neither save nor check.
    settings.setAPIKey(TranslationProvider::DeepL, "unsaved-key");
    settings.setProvider(TranslationProvider::Claude);
    settings.setStatusMessage("");
    box.setPreferredTarget(TargetLanguage::English);

    EXPECT_EQ(settings.preferredTarget(), TargetLanguage::English);
    EXPECT_EQ(settings.statusMessage(), "") << "the settings page's status line is left alone";
    EXPECT_EQ(secrets.lookup(std::string(SettingsStore::kAPIKeyAccounts[1])).value(), std::nullopt)
        << "no key was written";
    UserDefaults reread(defaultsFile);
    EXPECT_EQ(reread.value("targetLanguage"),
              UserDefaults::Json(std::string(rawValue(TargetLanguage::English))));
    EXPECT_NE(reread.value("translationProvider"), UserDefaults::Json("claude"))
        << "the unsaved provider stays unsaved";
}

TEST(TranslationBoxText, ChineseDetectionAndTheDetectedLanguageLabel) {
    // U+4E00 and U+9FFF are the ends of the block; punctuation and kana do not count.
    for (const char* text : {"hello 世界", "\xe4\xb8\x80", "\xe9\xbf\xbf"})
        EXPECT_TRUE(TranslationBoxModel::containsChinese(text)) << text;
    for (const char* text : {"こんにちは", "，。", "\xff\xfe abc"})
        EXPECT_FALSE(TranslationBoxModel::containsChinese(text)) << text;

    const std::vector<std::pair<std::string, std::optional<std::string>>> labels{
        {"", std::nullopt}, {"zh-CN", "中文"}, {"zh-TW", "中文"}, {"en", "英语"}, {"ja", "ja"}};
    for (const auto& [code, label] : labels)
        EXPECT_EQ(TranslationBoxModel::detectedLanguageLabel(code), label) << code;
}

} // namespace
} // namespace aurelo::test
