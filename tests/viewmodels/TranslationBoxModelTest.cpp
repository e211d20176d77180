// The translation box against the fake service: what it asks for, which answers it keeps, its
// placeholder and its direction picker.

#include "support/ShellTestFixture.hpp"

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

// The fake engine's answer: the text after `prefix`, with every Chinese character made an "x",
// as a translation out of Chinese would leave none.
ScriptedAnswer translatedAway(const RecordedRequest& request, const std::string& prefix) {
    const std::string text = request.json ? request.json->value("text", std::string()) : "";
    std::string result = prefix;
    for (const char* p = text.c_str(); *p;) {
        const char* next = g_utf8_next_char(p);
        const std::string character(p, next);
        result += TranslationBoxModel::containsChinese(character) ? "x" : character;
        p = next;
    }
    return ScriptedAnswer::json(200, {{"text", result}, {"detectedLanguage", "en"}});
}

class TranslationBoxTest : public ShellTestFixture {
protected:
    TranslationBoxModel& box = model.translationBox();

    void SetUp() override {
        ASSERT_TRUE(keychain.save("token", std::string(KeychainStore::kLoginTokenAccount)));
        fake.setResponder([](const RecordedRequest& r) { return translatedAway(r, "EN:"); });
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
    EXPECT_EQ(box.output(), "EN:xx，xx");
    EXPECT_EQ(box.detected(), "en");
    EXPECT_EQ(box.copyOutput(), "EN:xx，xx");
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

// "中文原文禁止直接发送": an engine that cannot translate Chinese answers 200 with the Chinese
// it was given; that is a failure, not a translation, and nothing of it reaches the chat.
TEST_F(TranslationBoxTest, AResultThatStillHoldsChineseIsAFailureAndNeverInserted) {
    const std::string parcel = "你好，您的包裹明天到达。";
    struct Case {
        const char* name;
        std::string input;
        std::string answer;
        TargetLanguage direction;
        std::string shown; // the result the box shows, empty for none
        std::string error; // the failure it shows instead
        bool offered;      // whether 确认填入 is offered
    };
    const std::string refused(TranslationBoxModel::kStillChinese);
    const Case cases[] = {
        {"the engine echoes the Chinese", parcel, parcel, TargetLanguage::Automatic, "", refused,
         false},
        {"half translated", "你好", "Hello 你好", TargetLanguage::English, "", refused, false},
        {"a rare ideograph outside the common block", "您好", "Hello \xe3\x90\x80",
         TargetLanguage::Automatic, "", refused, false},
        {"translated", "包裹明天到达。", "The parcel arrives tomorrow.", TargetLanguage::Automatic,
         "The parcel arrives tomorrow.", "", true},
        // Into Chinese, for the agent to read: shown, never offered for the chat.
        {"into Chinese", "good morning", "早上好", TargetLanguage::Automatic, "早上好", "", false},
    };
    // Every input is a new one: an answer is kept in the cache for its text.
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        box.clearTranslation();
        settings.setPreferredTarget(c.direction);
        fake.enqueue("/api/translate", ScriptedAnswer::json(200, {{"text", c.answer}}));
        ASSERT_TRUE(translated(c.input));
        EXPECT_EQ(box.output(), c.shown);
        EXPECT_EQ(box.errorMessage(), c.error);
        EXPECT_EQ(box.readyToInsert(), c.offered);
        box.insertOutput();
        EXPECT_EQ(box.textInsertion().has_value(), c.offered);
        if (box.textInsertion()) {
            EXPECT_FALSE(TranslationBoxModel::containsChinese(box.textInsertion()->text));
        }
    }
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
    // Every Han character counts: U+4E00 and U+9FFF, the page script's U+3400 (extension A), a
    // compatibility ideograph and one beyond the basic plane. Punctuation and kana do not.
    for (const char* text : {"hello 世界", "\xe4\xb8\x80", "\xe9\xbf\xbf", "\xe3\x90\x80",
                             "\xef\xa4\x80", "\xf0\xa0\x80\x80"})
        EXPECT_TRUE(TranslationBoxModel::containsChinese(text)) << text;
    for (const char* text : {"こんにちは", "，。", "\xff\xfe abc"})
        EXPECT_FALSE(TranslationBoxModel::containsChinese(text)) << text;

    // Chinese left in a translation: refused unless the target is written with Han characters.
    const std::tuple<const char*, const char*, bool> results[] = {
        {"Hello", "en", false},          {"Hello 你好", "en", true}, {"Hola 你好", "es", true},
        {"你好", "zh-CN", false},        {"你好", "zh-TW", false},   {"日本語です", "ja", false},
        {"안녕하세요 你好", "ko", true},
    };
    for (const auto& [result, target, refused] : results)
        EXPECT_EQ(TranslationBoxModel::stillChinese(result, target), refused)
            << result << " → " << target;

    const std::vector<std::pair<std::string, std::optional<std::string>>> labels{
        {"", std::nullopt}, {"zh-CN", "中文"}, {"zh-TW", "中文"}, {"en", "英语"}, {"ja", "ja"}};
    for (const auto& [code, label] : labels)
        EXPECT_EQ(TranslationBoxModel::detectedLanguageLabel(code), label) << code;
}

} // namespace
} // namespace aurelo::test
