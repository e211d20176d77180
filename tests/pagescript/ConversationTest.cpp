// The open conversation as the page script reports it on pages shaped like each platform's chat
// list, and the outgoing language that follows it: a send waits for the new chat's language, and
// nothing translated for one chat is ever sent into another.
#include "PageScriptTest.hpp"

#include <map>

namespace aurelo::test {
namespace {

using nlohmann::json;

// The fixture's chat list shaped like each platform's, and how each names María's and Jonas's
// chats.
const struct {
    const char* scenario;
    const char* maria;
    const char* jonas;
} kPlatformPages[] = {
    {"whatsapp", "header:María López", "header:Jonas Weber"},
    {"telegram", "fragment:-1001", "fragment:-1002"},
    {"telegram-header", "peer:-1001", "peer:-1002"},
    {"messenger", "path:100044", "path:100099"},
};

class ConversationTest : public PageScriptTest {
protected:
    ChatWebViewInputs reporting(ChatWebViewInputs inputs = defaultInputs()) {
        inputs.onConversationReported = [this](std::optional<std::string> conversation) {
            reports.push_back(conversation ? json(*conversation) : json());
        };
        return inputs;
    }
    bool waitForReports(std::size_t count) {
        return runMainLoopUntil([&] { return reports.size() >= count; });
    }
    // Answers the page's report as the window does for an account that follows the customer.
    void answer(const json& conversation, ChatLanguage language) {
        updateHost([&](ChatWebViewInputs& inputs) {
            inputs.conversationLanguage =
                std::pair{conversation.is_null() ? std::nullopt
                                                 : std::optional(conversation.get<std::string>()),
                          language};
        });
    }

    std::vector<json> reports;
};

// Each platform's chat switch is reported once, and its messages are read in its own markup: the
// customers' words (without the time their platform puts inside the text) go to the host with
// their conversation, the agent's own are translated into the agent's language and name none.
TEST_F(ConversationTest, EachPlatformsChatIsFollowedAndItsCustomersTeachItsLanguage) {
    const std::vector<std::string> spanish = {
        "Hola, quisiera saber cuánto cuesta el envío a Valencia",
        "¿Podrían enviarlo antes del viernes? Lo necesito para un regalo"};
    const std::vector<std::string> german = {
        "Guten Tag, ich hätte gern ein Angebot für zwanzig Stück",
        "Können Sie mir bitte auch die Lieferzeit nach Hamburg nennen?"};
    const std::string replies[] = {"Thank you, I will check the delivery time for you",
                                   "Thank you, I will prepare the offer for you"};
    for (const auto& c : kPlatformPages) {
        SCOPED_TRACE(c.scenario);
        reports.clear();
        std::map<std::string, std::vector<std::string>> heard;
        auto inputs = reporting();
        inputs.onIncomingLanguage = [&](const std::string& conversation, const std::string& text,
                                        const std::string&) {
            heard[conversation].push_back(text);
        };
        open(std::string("conversations.html?scenario=") + c.scenario, inputs);
        ASSERT_TRUE(runMainLoopUntil([&] { return heard[c.maria].size() == 2; }));
        EXPECT_EQ(reports, std::vector<json>{c.maria});
        ASSERT_TRUE(waitForServiceText(replies[0]));
        EXPECT_TRUE(
            waitForPage("document.querySelectorAll('.aurelo-translation-panel').length === 3"));
        evaluateInPage("openChat('jonas')");
        ASSERT_TRUE(runMainLoopUntil([&] { return heard[c.jonas].size() == 2; }));
        ASSERT_TRUE(waitForServiceText(replies[1]));
        // New messages in the same chat are no switch.
        evaluateInPage("document.getElementById('pane').append(document.createElement('div'))");
        runMainLoopFor(600ms);
        EXPECT_EQ(reports, (std::vector<json>{c.maria, c.jonas}));

        std::ranges::sort(heard[c.maria]);
        std::ranges::sort(heard[c.jonas]);
        EXPECT_EQ(heard, (std::map<std::string, std::vector<std::string>>{{c.maria, spanish},
                                                                          {c.jonas, german}}))
            << "the agent's replies teach nothing";
        const auto asked = serviceTexts();
        for (const auto& reply : replies)
            EXPECT_EQ(std::ranges::find(asked, reply, &ServiceText::text)->target, "en") << reply;
        EXPECT_EQ(std::ranges::find(asked, german[0], &ServiceText::text)->target, "zh-CN");
        EXPECT_EQ(recognised.front(), true);
    }
    // A page with no chat of its own reports none, and keeps its account's language.
    reports.clear();
    open("conversations.html?scenario=none", reporting());
    ASSERT_TRUE(waitForReports(1));
    EXPECT_EQ(reports, std::vector<json>{json()});
}

// With the account following its customers, the composer's translation goes into the open
// chat's language; a send made before the host has named the new chat's language waits for it,
// and a warm translation made for the chat before is never sent.
TEST_F(ConversationTest, SendsFollowTheOpenChatAndNeverCarryAnotherChatsTranslation) {
    auto inputs = reporting();
    inputs.followsConversation = true;
    open("conversations.html?scenario=whatsapp", inputs);
    ASSERT_TRUE(waitForReports(1));
    answer(reports.back(), ChatLanguage::Spanish);
    translations = {{"你好", "Hola"}};
    focusComposer();
    commitText("你好");
    pressKeys("Return");
    ASSERT_TRUE(waitForPage("window.sent.length === 1"));
    EXPECT_EQ(sent(), json::array({"Hola"}));
    EXPECT_EQ(serviceTexts().back().target, "es");

    // A warm translation is asked for in Spanish and held; the agent switches chats meanwhile.
    fake.clearRequests();
    holding = true;
    commitText("谢谢");
    ASSERT_TRUE(waitForServiceText("谢谢"));
    EXPECT_EQ(serviceTexts().back(), (ServiceText{"谢谢", "es", false}));
    evaluateInPage("openChat('jonas')");
    ASSERT_TRUE(waitForReports(2));
    release(); // the Spanish answer arrives in Jonas's chat
    ASSERT_TRUE(waitForAnswersDelivered("aureloSetComposerWarm", 1));
    // Enter before the host has said Jonas writes German: held, nothing sent, nothing asked.
    pressKeys("Return");
    runMainLoopFor(300ms);
    EXPECT_EQ(sent().size(), 1u);
    EXPECT_EQ(evaluateInPage("document.getElementById('composer').dataset.aureloTranslating"), "1");
    holding = false;
    translations["谢谢"] = "Danke";
    answer(reports.back(), ChatLanguage::German);
    ASSERT_TRUE(waitForPage("window.sent.length === 2"));
    EXPECT_EQ(sent()[1], "Danke");
    EXPECT_EQ(serviceTexts().back(), (ServiceText{"谢谢", "de", false}));
}

} // namespace
} // namespace aurelo::test
