// The phrase list: what it shows for a query, and what a pick sends and puts into which chat.

#include "support/ShellTestFixture.hpp"

#include "viewmodels/QuickReplyPicker.hpp"

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

class QuickReplyPickerTest : public ShellTestFixture {
protected:
    QuickReplyStore replies{*defaults};
    QuickReplyPicker picker{replies, model, translator};
    TranslationBoxModel& box = model.translationBox();
    int inserted = 0;

    void SetUp() override {
        ASSERT_TRUE(keychain.save("token", std::string(KeychainStore::kLoginTokenAccount)));
        // Every Chinese phrase below is answered with an enqueued translation.
        fake.setResponder([](const RecordedRequest& r) { return echoTranslation(r, "T:"); });
        for (auto [title, text] : {std::pair{"问候", "Hello, how can I help?"},
                                   std::pair{"Shipping", "我们包邮，三天到货"},
                                   std::pair{"再见", "Goodbye and THANK you"}})
            ASSERT_TRUE(replies.add(title, text));
        picker.signalInserted().connect([this] { ++inserted; });
    }
    std::vector<std::string> matchedTitles() const {
        std::vector<std::string> result;
        for (const auto& reply : picker.matches())
            result.push_back(reply.title);
        return result;
    }
    bool finished() {
        return runMainLoopUntil([&] { return !picker.busy(); });
    }
};

TEST_F(QuickReplyPickerTest, TheQueryMatchesTitleOrTextInAnyCase) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases{
        {"", {"问候", "Shipping", "再见"}},
        {"  thank ", {"再见"}},
        {"SHIP", {"Shipping"}},
        {"包邮", {"Shipping"}},
        {"h", {"问候", "Shipping", "再见"}},
        {"nothing like this", {}},
    };
    for (const auto& [query, titles] : cases) {
        picker.setQuery(query);
        EXPECT_EQ(matchedTitles(), titles) << query;
        EXPECT_EQ(picker.highlighted().has_value(), !titles.empty()) << query;
    }
    picker.setQuery("");
    picker.moveHighlight(-1);
    EXPECT_EQ(picker.highlighted(), 0u);
    picker.moveHighlight(5);
    EXPECT_EQ(picker.highlighted(), 2u) << "the highlight stops at the last row";
    // A change of the library shows at once.
    replies.remove(replies.replies()[2].id);
    EXPECT_EQ(matchedTitles(), (std::vector<std::string>{"问候", "Shipping"}));
}

TEST_F(QuickReplyPickerTest, APickIsTranslatedIntoTheAccountsOutgoingLanguageAndInserted) {
    const std::string spanish = addSession("ES").id;
    store.setOutgoingLanguage(spanish, "es");
    fake.enqueue("/api/translate", ScriptedAnswer::json(200, {{"text", "Envío gratis"}}));
    picker.setQuery("包邮");
    picker.pickHighlighted(QuickReplyPicker::Insertion::Translated);
    EXPECT_TRUE(picker.busy());
    ASSERT_TRUE(finished());
    ASSERT_EQ(fake.requests().size(), 1u);
    EXPECT_EQ((*fake.requests()[0].json)["target"], "es");
    EXPECT_EQ((*fake.requests()[0].json)["text"], "我们包邮，三天到货");
    ASSERT_TRUE(box.textInsertion());
    EXPECT_EQ(box.textInsertion()->sessionID, spanish);
    EXPECT_EQ(box.textInsertion()->text, "Envío gratis");
    EXPECT_EQ(inserted, 1);

    // Numbered shortcuts: the library's own order, not the filtered one.
    EXPECT_FALSE(picker.pickNumbered(4));
    EXPECT_FALSE(picker.pickNumbered(0));
    EXPECT_TRUE(picker.pickNumbered(3));
    ASSERT_TRUE(finished());
    EXPECT_EQ(box.textInsertion()->text, "T:Goodbye and THANK you");
}

// A phrase goes in translated or not at all: a translation that still holds Chinese is refused
// as the box refuses it, by Return and by Ctrl+Shift+1…9 alike.
TEST_F(QuickReplyPickerTest, ATranslationThatStillHoldsChineseIsRefused) {
    const std::string japanese = addSession("JP").id;
    store.setOutgoingLanguage(japanese, "ja");
    const std::string english = addSession("EN").id;
    ASSERT_TRUE(replies.add("发货", "明天发货"));
    const std::string refused(TranslationBoxModel::kStillChinese);
    struct Case {
        const char* name;
        std::string account;
        std::function<void()> pick;
        std::string answer;
        std::string error;
    };
    const Case cases[] = {
        {"Return, the engine echoes", english,
         [&] {
             picker.setQuery("包邮");
             picker.pickHighlighted(QuickReplyPicker::Insertion::Translated);
         },
         "我们包邮，三天到货", refused},
        {"Ctrl+Shift+4, half translated", english, [&] { picker.pickNumbered(4); }, "Ships 明天",
         refused},
        {"into Japanese, kanji and all", japanese, [&] { picker.pickNumbered(2); },
         "送料無料、三日で届きます", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        model.selectTab(c.account);
        box.textInsertionTaken(box.textInsertion() ? box.textInsertion()->id : "");
        inserted = 0;
        fake.enqueue("/api/translate", ScriptedAnswer::json(200, {{"text", c.answer}}));
        c.pick();
        ASSERT_TRUE(finished());
        EXPECT_EQ(picker.errorMessage(), c.error);
        EXPECT_EQ(inserted, c.error.empty() ? 1 : 0);
        EXPECT_EQ(box.textInsertion().has_value(), c.error.empty());
    }
    EXPECT_EQ(fake.requests().size(), std::size(cases)) << "each case asked the engine";
    // Shift+Return puts the phrase in as written, by the user's choice; the page still holds
    // a Chinese send.
    picker.setQuery("包邮");
    picker.pickHighlighted(QuickReplyPicker::Insertion::AsWritten);
    ASSERT_TRUE(box.textInsertion());
    EXPECT_EQ(box.textInsertion()->text, "我们包邮，三天到货");
}

TEST_F(QuickReplyPickerTest, AFailureOrATranslationForAnotherAccountInsertsNothing) {
    fake.enqueue("/api/translate", ScriptedAnswer::json(401, {{"error", "expired"}}));
    picker.pickNumbered(1);
    ASSERT_TRUE(finished());
    EXPECT_EQ(picker.errorMessage(), "常用语翻译失败：登录已失效，请重新登录。");
    picker.reset();
    EXPECT_EQ(picker.errorMessage(), "");

    const std::string other = addSession("other").id;
    model.selectTab(store.sessions().front().id);
    auto answer = ScriptedAnswer::json(200, {{"text", "late"}});
    answer.delay = 150ms;
    fake.enqueue("/api/translate", answer);
    picker.pickNumbered(1);
    model.selectTab(other);
    EXPECT_FALSE(picker.busy());
    runMainLoopFor(300ms);
    EXPECT_FALSE(box.textInsertion()) << "the phrase was meant for the previous account";
    EXPECT_EQ(inserted, 0);
}

} // namespace
} // namespace aurelo::test
