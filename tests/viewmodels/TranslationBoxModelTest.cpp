// The translation box against the fake service: what it asks for, and which answers it keeps.

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

    bool finished() {
        return runMainLoopUntil([&] { return !box.translating(); });
    }
};

TEST_F(TranslationBoxTest, ChineseGoesToEnglishReadyToInsertAndOtherTextToChinese) {
    box.setInput("  你好，朋友\n");
    box.performTranslation();
    EXPECT_TRUE(box.translating());
    ASSERT_TRUE(finished());
    ASSERT_EQ(fake.requests().size(), 1u);
    EXPECT_EQ((*fake.requests()[0].json)["target"], "en");
    EXPECT_EQ((*fake.requests()[0].json)["text"], "你好，朋友");
    EXPECT_EQ(box.output(), "EN:你好，朋友");
    EXPECT_EQ(box.detected(), "en");
    EXPECT_TRUE(box.readyToInsert());

    // Editing the text away from what was translated withdraws the offer.
    box.setInput("你好，朋友!");
    EXPECT_FALSE(box.readyToInsert());

    // Other text goes to Chinese, or to the preferred target, and is not offered for insertion.
    box.setInput("good morning");
    box.performTranslation();
    ASSERT_TRUE(finished());
    EXPECT_EQ((*fake.requests()[1].json)["target"], "zh-CN");
    EXPECT_FALSE(box.readyToInsert());
    settings.setPreferredTarget(TargetLanguage::English);
    box.setInput("bonjour");
    box.performTranslation();
    ASSERT_TRUE(finished());
    EXPECT_EQ((*fake.requests()[2].json)["target"], "en");
}

TEST_F(TranslationBoxTest, NothingToDoWithoutTextOrWhileTranslating) {
    box.setInput("   ");
    box.performTranslation();
    EXPECT_FALSE(box.translating());
    fake.enqueue("/api/translate", [] {
        auto answer = ScriptedAnswer::json(200, {{"text", "slow"}});
        answer.delay = 200ms;
        return answer;
    }());
    box.setInput("慢");
    box.performTranslation();
    box.performTranslation();
    ASSERT_TRUE(finished());
    EXPECT_EQ(fake.requests().size(), 1u);
}

TEST_F(TranslationBoxTest, AResultForAnotherAccountIsDropped) {
    ChatSession other = addSession("other");
    model.selectTab(store.sessions().front().id);
    auto answer = ScriptedAnswer::json(200, {{"text", "late"}});
    answer.delay = 150ms;
    fake.enqueue("/api/translate", answer);
    box.setInput("迟到的");
    box.performTranslation();
    model.selectTab(other.id);
    EXPECT_FALSE(box.translating()) << "switching accounts resets the box at once";
    EXPECT_EQ(box.input(), "");
    runMainLoopFor(300ms);
    EXPECT_EQ(box.output(), "") << "the late answer belongs to the previous account";
    EXPECT_EQ(fake.requests().size(), 1u);
}

TEST_F(TranslationBoxTest, ClearingDropsARunningRequest) {
    auto answer = ScriptedAnswer::json(500, {{"error", "失败了"}});
    answer.delay = 100ms;
    fake.enqueue("/api/translate", answer);
    box.setInput("清空");
    box.performTranslation();
    box.clearTranslation();
    runMainLoopFor(250ms);
    EXPECT_EQ(box.errorMessage(), "");
    EXPECT_FALSE(box.translating());
}

TEST_F(TranslationBoxTest, FailuresShowTheirDescription) {
    fake.enqueue("/api/translate", ScriptedAnswer::json(401, {{"error", "expired"}}));
    box.setInput("你好");
    box.performTranslation();
    ASSERT_TRUE(finished());
    EXPECT_EQ(box.errorMessage(), "登录已失效，请重新登录。");
    EXPECT_EQ(box.output(), "");
}

TEST_F(TranslationBoxTest, InsertionTargetsTheSelectedSession) {
    box.insertOutput();
    EXPECT_FALSE(box.textInsertion()) << "nothing to insert yet";
    box.setInput("你好");
    box.performTranslation();
    ASSERT_TRUE(finished());
    bool focused = false;
    box.signalFocusRequested().connect([&](bool focus) { focused = focus; });
    box.insertOutput();
    ASSERT_TRUE(box.textInsertion());
    EXPECT_EQ(box.textInsertion()->sessionID, store.selectedID());
    EXPECT_EQ(box.textInsertion()->text, "EN:你好");
    EXPECT_FALSE(box.readyToInsert());
    EXPECT_TRUE(focused);
    EXPECT_EQ(box.copyOutput(), "EN:你好");
}

TEST(ContainsChinese, OnlyTheUnifiedIdeographBlockCounts) {
    // U+4E00 and U+9FFF are the ends of the block; punctuation and kana do not count.
    for (const char* text : {"hello 世界", "\xe4\xb8\x80", "\xe9\xbf\xbf"})
        EXPECT_TRUE(TranslationBoxModel::containsChinese(text)) << text;
    for (const char* text : {"こんにちは", "，。", "\xff\xfe abc"})
        EXPECT_FALSE(TranslationBoxModel::containsChinese(text)) << text;
}

TEST(DetectedLanguageLabel, ChineseEnglishOrTheCode) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases{
        {"", std::nullopt}, {"zh-CN", "中文"}, {"zh-TW", "中文"}, {"en", "英语"}, {"ja", "ja"}};
    for (const auto& [code, label] : cases)
        EXPECT_EQ(TranslationBoxModel::detectedLanguageLabel(code), label) << code;
}

} // namespace
} // namespace aurelo::test
