// "跟随客户语言" above the pages: the row's words through a conversation's life, the choice in the
// account's pickers, an existing account left as it was, and the account's file going with it.
#include "support/ShellTestFixture.hpp"

#include "viewmodels/OutgoingLanguageChoice.hpp"
#include "viewmodels/PageStackModel.hpp"

namespace aurelo::test {
namespace {

const std::string kSpanish = "Hola, quisiera saber cuánto cuesta el envío a Valencia";
const std::string kSpanish2 = "¿Podrían enviarlo antes del viernes? Lo necesito pronto";

class ConversationLanguageModelTest : public ShellTestFixture {
protected:
    ConversationLanguageModel& languages = model.conversationLanguages();
    QuickSettingsModel& quick = model.quickSettings();

    const ChatSession& selected() const {
        return *std::ranges::find(store.sessions(), *store.selectedID(), &ChatSession::id);
    }
    std::string id() const { return *store.selectedID(); }
    std::string storedSessions() const {
        return UserDefaults(defaultsFile).value(SessionStore::kSessionsKey)->dump();
    }
};

TEST_F(ConversationLanguageModelTest, TheRowFollowsAConversationThroughItsLife) {
    addSession("客服一");
    quick.setOutgoingLanguageCode(std::string(OutgoingLanguageChoice::kFollowCustomer));
    using Step = std::function<void()>;
    const struct {
        const char* what;
        Step step;
        std::string row;
        bool overridable;
    } steps[] = {
        {"no page yet", [] {}, "未识别，使用 英语", false},
        {"a chat opens", [&] { languages.conversationReported(id(), "path:1"); },
         "未识别，使用 英语", true},
        {"a short message says nothing",
         [&] { languages.incomingLanguage(id(), "path:1", "Hola", "es"); }, "未识别，使用 英语",
         true},
        {"a telling one does", [&] { languages.incomingLanguage(id(), "path:1", kSpanish, "es"); },
         "当前会话：西班牙语（自动识别）", true},
        {"the agent overrides", [&] { languages.setOverride("de"); }, "当前会话：德语（手动）",
         true},
        {"a Chinese override is refused", [&] { languages.setOverride("zh-CN"); },
         "当前会话：德语（手动）", true},
        {"and clears it", [&] { languages.setOverride(""); }, "当前会话：西班牙语（自动识别）",
         true},
        {"another chat", [&] { languages.conversationReported(id(), "path:2"); },
         "未识别，使用 英语", true},
        {"a message of the chat before is still learnt",
         [&] { languages.incomingLanguage(id(), "path:1", kSpanish2, "es"); }, "未识别，使用 英语",
         true},
        {"back to the first", [&] { languages.conversationReported(id(), "path:1"); },
         "当前会话：西班牙语（自动识别）", true},
        {"no chat open", [&] { languages.conversationReported(id(), std::nullopt); },
         "未识别，使用 英语", false},
    };
    for (const auto& s : steps) {
        s.step();
        EXPECT_TRUE(languages.rowShown()) << s.what;
        EXPECT_EQ(languages.rowText(), s.row) << s.what;
        EXPECT_EQ(languages.overrideAvailable(), s.overridable) << s.what;
    }
    languages.conversationReported(id(), "path:1");
    PageStackModel pages(model);
    const ChatWebViewInputs inputs = pages.inputs(selected());
    EXPECT_TRUE(inputs.followsConversation);
    EXPECT_EQ(inputs.conversationLanguage,
              (std::pair{std::optional<std::string>("path:1"), ChatLanguage::Spanish}));
}

TEST_F(ConversationLanguageModelTest, AnExistingAccountKeepsItsLanguageUntilTheAgentChooses) {
    auto& account = addSession("老账号");
    account.outgoingLanguageCode = "fr";
    languages.conversationReported(id(), "path:1");
    languages.incomingLanguage(id(), "path:1", kSpanish, "es");
    EXPECT_FALSE(languages.rowShown());
    EXPECT_EQ(languages.outgoingLanguage(id()), ChatLanguage::French);
    PageStackModel pages(model);
    EXPECT_FALSE(pages.inputs(selected()).followsConversation);
    EXPECT_FALSE(pages.inputs(selected()).conversationLanguage);
    EXPECT_EQ(quick.outgoingLanguageCode(), "fr");
    quick.setOutgoingLanguageCode("de");
    EXPECT_EQ(storedSessions().find("outgoingFollowsCustomer"), std::string::npos);
    EXPECT_EQ(quick.summaryLine(), "收到 → 简体中文   ·   发送 → 德语");

    // 跟随客户语言 keeps the account's language as its fallback; a fixed language ends it.
    quick.setOutgoingLanguageCode("follow");
    EXPECT_EQ(selected().outgoingFollowsCustomer, true);
    EXPECT_EQ(quick.outgoingLanguageCode(), "follow");
    EXPECT_EQ(quick.summaryLine(), "收到 → 简体中文   ·   发送 → 跟随客户语言");
    EXPECT_EQ(languages.rowText(), "未识别，使用 德语");
    quick.setOutgoingLanguageCode("zh-CN");
    EXPECT_EQ(selected().outgoingFollowsCustomer, false);
    EXPECT_EQ(selected().outgoingLanguageCode, "en");
}

TEST_F(ConversationLanguageModelTest, NewAccountsFollowTheirCustomersWithTheUsualLanguageBehind) {
    settings.setOutgoingLanguage(ChatLanguage::Portuguese);
    NewSessionForm& form = model.newSessionForm();
    form.prepare("telegram", "Telegram");
    EXPECT_EQ(form.outgoingLanguage(), "follow");
    form.save();
    const ChatSession& added = store.sessions().back();
    EXPECT_EQ(added.outgoingFollowsCustomer, true);
    EXPECT_EQ(added.outgoingLanguageCode, "pt");
}

TEST_F(ConversationLanguageModelTest, TheTranslationBoxWritesForTheOpenConversation) {
    ASSERT_TRUE(keychain.save("token", std::string(KeychainStore::kLoginTokenAccount)));
    fake.setResponder([](const RecordedRequest& r) {
        return ScriptedAnswer::json(200, {{"text", "text in " + r.json->value("target", "")}});
    });
    addSession("客服一");
    quick.setOutgoingLanguageCode("follow");
    auto& box = model.translationBox();
    const auto hint = [&] {
        return box.placeholderText().substr(0, box.placeholderText().find(" → 确认"));
    };
    int placeholderChanges = 0;
    box.signalChanged().connect([&](TranslationBoxModel::Field field) {
        placeholderChanges += field == TranslationBoxModel::Field::Placeholder;
    });
    // The box's hint names the language its Chinese goes out in.
    EXPECT_EQ(hint(), "点击任意位置输入中文 → 回车翻译英文");
    languages.conversationReported(id(), "path:1");
    languages.incomingLanguage(id(), "path:1", kSpanish, "es");
    EXPECT_EQ(hint(), "点击任意位置输入中文 → 回车翻译西班牙语");
    EXPECT_GT(placeholderChanges, 0);
    const auto targetOfLastRequest = [&] {
        return fake.requests().back().json->value("target", std::string());
    };
    box.setInput("你好");
    box.performTranslation();
    ASSERT_TRUE(runMainLoopUntil([&] { return !box.translating(); }));
    EXPECT_EQ(targetOfLastRequest(), "es");
    EXPECT_TRUE(box.readyToInsert());
    // The agent opens a German customer's chat before inserting: translated again, not put in.
    languages.conversationReported(id(), "path:2");
    languages.setOverride("de");
    box.insertOutput();
    EXPECT_FALSE(model.textInsertion());
    ASSERT_TRUE(runMainLoopUntil([&] { return !box.translating() && box.readyToInsert(); }));
    EXPECT_EQ(targetOfLastRequest(), "de");
    box.insertOutput();
    EXPECT_TRUE(model.textInsertion());
    EXPECT_EQ(hint(), "点击任意位置输入中文 → 回车翻译德语");
    // A fixed direction of the box keeps its words.
    box.setPreferredTarget(TargetLanguage::English);
    EXPECT_EQ(hint(), "点击任意位置输入中文 → 回车翻译英文");
}

TEST_F(ConversationLanguageModelTest, RemovingTheAccountRemovesWhatWasLearnt) {
    const auto folder = directory.path() / "conversation-languages";
    languages.persistIn(folder);
    addSession("客服一");
    const ChatSession gone = selected();
    quick.setOutgoingLanguageCode("follow");
    languages.conversationReported(gone.id, "path:1");
    languages.incomingLanguage(gone.id, "path:1", kSpanish, "es");
    ASSERT_TRUE(
        runMainLoopUntil([&] { return std::filesystem::exists(folder / (gone.id + ".json")); }));
    store.remove(gone);
    EXPECT_FALSE(std::filesystem::exists(folder / (gone.id + ".json")));
}

} // namespace
} // namespace aurelo::test
