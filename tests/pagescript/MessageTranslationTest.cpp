#include "PageScriptTest.hpp"

#include <algorithm>
#include <set>

namespace aurelo::test {
namespace {

class MessageTranslationTest : public PageScriptTest {
protected:
    static std::map<std::string, nlohmann::json> requestsByText() {
        std::map<std::string, nlohmann::json> byText;
        for (const auto& message : page().messagesOfKind("message"))
            byText[message["text"].get<std::string>()] = message;
        return byText;
    }

    static std::set<std::string> requestedTexts() {
        std::set<std::string> texts;
        for (const auto& message : page().messagesOfKind("message"))
            texts.insert(message["text"].get<std::string>());
        return texts;
    }

    // The panel of the message with data-id `id`, as [class count, text, colour, button text,
    // button disabled].
    static nlohmann::json panel(const std::string& id) {
        return page().evaluateInPage(
            "(() => { const m = document.querySelector('[data-id=" + quoted(id) +
            "]'); const p = m.querySelectorAll('.aurelo-translation-panel');"
            " if (p.length === 0) return null; const b = p[0].querySelector('button');"
            " return [p.length, p[0].firstChild.textContent, p[0].style.color, b.textContent,"
            " b.disabled, p[0].querySelectorAll('b').length]; })()");
    }
};

TEST_F(MessageTranslationTest, OwnAndIncomingMessagesGetTheirTargetsAndRepliesSendOnlyTheReply) {
    open("chat.html?scenario=kinds");
    ASSERT_TRUE(page().waitForMessages("message", 4));
    runMainLoopFor(100ms);
    const auto requests = requestsByText();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests.at("Hello there")["target"], "zh-CN");
    EXPECT_EQ(requests.at("Sent by me")["target"], "en");
    EXPECT_EQ(requests.at("Ticked message")["target"], "en") << "a delivery tick marks it own";
    EXPECT_EQ(requests.at("The reply itself")["target"], "zh-CN");
    for (const auto& [text, request] : requests)
        EXPECT_TRUE(request["id"].get<std::string>().starts_with("at-")) << text;
    EXPECT_EQ(page().messagesOfKind("message").size(), 4u);
}

TEST_F(MessageTranslationTest, ResultsAreShownAsTextAndRetryRedrawsTheOnePanel) {
    open("chat.html?scenario=kinds");
    ASSERT_TRUE(page().waitForMessages("message", 4));
    const auto id = requestsByText().at("Hello there")["id"];

    page().call("aureloSetTranslation", {id, "<b>你好</b>", true});
    EXPECT_EQ(panel("in1"),
              nlohmann::json::array({1, "⚠ <b>你好</b>", "rgb(217, 119, 6)", "↻", false, 0}));

    ASSERT_TRUE(page().clickElement("[data-id=in1] .aurelo-translation-panel button"));
    ASSERT_TRUE(page().waitForMessages("message", 5));
    const auto retry = page().messagesOfKind("message").back();
    EXPECT_EQ(retry, nlohmann::json({{"id", id}, {"text", "Hello there"}, {"target", "zh-CN"}}));
    EXPECT_EQ(panel("in1")[3], "…");
    EXPECT_EQ(panel("in1")[4], true);
    // A second click while the retry is under way asks nothing more.
    page().evaluateInPage("document.querySelector('[data-id=in1] .aurelo-translation-panel "
                          "button').disabled = false");
    ASSERT_TRUE(page().clickElement("[data-id=in1] .aurelo-translation-panel button"));
    runMainLoopFor(100ms);
    EXPECT_EQ(page().messagesOfKind("message").size(), 5u);

    page().call("aureloSetTranslation", {id, "你好", false});
    EXPECT_EQ(panel("in1"),
              nlohmann::json::array({1, "译：你好", "rgb(37, 99, 235)", "↻", false, 0}));

    // Ids that match nothing, whatever their shape, change nothing and break nothing.
    page().call("aureloSetTranslation", {"\"] body, [x=\"", "x", false});
    page().call("aureloSetTranslation", {nullptr, nullptr, nullptr});
    EXPECT_EQ(
        page().evaluateInPage("document.querySelectorAll('.aurelo-translation-panel').length"), 1);
    EXPECT_EQ(page().evaluate("typeof window.aureloSetTranslation"), "function");
    EXPECT_EQ(page().evaluateInPage("typeof window.aureloSetTranslation"), "undefined")
        << "the page's own scripts cannot reach our callbacks";
}

TEST_F(MessageTranslationTest, MessagesOfUpTo5000CharactersAreRequested) {
    open("chat.html?scenario=limits");
    ASSERT_TRUE(page().waitForMessages("message", 1));
    runMainLoopFor(150ms);
    const auto requests = page().messagesOfKind("message");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["text"].get<std::string>().size(), 5000u);
    EXPECT_EQ(page().evaluateInPage("document.querySelector('[data-id=len5001]').dataset."
                                    "aureloTranslationSeen"),
              nullptr);
}

TEST_F(MessageTranslationTest, ReadMoreIsClickedOnceAndTheWholeTextRequestedLater) {
    open("chat.html?scenario=readmore");
    ASSERT_TRUE(page().waitForMessages("message", 1));
    EXPECT_EQ(page().messagesOfKind("message")[0]["text"],
              "Beginning of a long text and its whole ending");
    EXPECT_EQ(page().evaluateInPage("window.readMoreClicks"), 1);
    // Later passes find the control still there and leave it alone.
    page().evaluateInPage("document.getElementById('pane').dispatchEvent(new Event('scroll'))");
    page().call("aureloSetTranslationActive", {true});
    runMainLoopFor(400ms);
    EXPECT_EQ(page().evaluateInPage("window.readMoreClicks"), 1);
    EXPECT_EQ(page().messagesOfKind("message").size(), 1u);
}

TEST_F(MessageTranslationTest, ScanAndFlushRequestOnlyTheLowestMessages) {
    open("chat.html?scenario=many");
    ASSERT_TRUE(page().waitForMessages("message", 10));
    runMainLoopFor(150ms);
    std::set<std::string> expected;
    for (int i = 21; i <= 30; ++i)
        expected.insert("Message " + std::to_string(i));
    EXPECT_EQ(requestedTexts(), expected);

    // Twelve arrive at once: the eight lowest of them are requested.
    page().evaluateInPage("for (let i = 31; i <= 42; i += 1) addMessage('m' + i, 'Message ' + i, "
                          "{kind: 'in'})");
    ASSERT_TRUE(page().waitForMessages("message", 18));
    runMainLoopFor(150ms);
    for (int i = 35; i <= 42; ++i)
        expected.insert("Message " + std::to_string(i));
    EXPECT_EQ(requestedTexts(), expected);

    // Switched off, nothing is requested; switched on, the lowest unseen ones are.
    page().call("aureloSetTranslationActive", {false});
    page().evaluateInPage("addMessage('m43', 'Message 43', {kind: 'in'})");
    runMainLoopFor(150ms);
    EXPECT_EQ(page().messagesOfKind("message").size(), 18u);
    page().call("aureloSetTranslationActive", {true});
    // The ten lowest in view are now 34 to 43, of which 34 and 43 were never requested.
    ASSERT_TRUE(page().waitForMessages("message", 20));
    runMainLoopFor(150ms);
    for (const auto* text : {"Message 34", "Message 43"})
        expected.insert(text);
    EXPECT_EQ(requestedTexts(), expected);
}

TEST_F(MessageTranslationTest, ScrollingRequestsTheLowestMessagesNowInView) {
    open("chat.html?scenario=history");
    ASSERT_TRUE(page().waitForMessages("message", 10));
    runMainLoopFor(100ms);
    EXPECT_TRUE(requestedTexts().contains("History 120"));
    page().clearMessages();
    page().evaluateInPage("document.getElementById('pane').scrollTop = 0");
    ASSERT_TRUE(page().waitForMessages("message", 10));
    runMainLoopFor(150ms);
    const auto texts = requestedTexts();
    EXPECT_EQ(texts.size(), 10u);
    // The viewport holds the first ~40 messages: the lowest ten of those, none seen before.
    for (const auto& text : texts) {
        const int number = std::stoi(text.substr(std::string("History ").size()));
        EXPECT_GT(number, 30) << text;
        EXPECT_LE(number, 50) << text;
    }
}

TEST_F(MessageTranslationTest, PagesListingMessagesUpwardsStillGetTheLowestTen) {
    open("chat.html?scenario=reversed");
    ASSERT_TRUE(page().waitForMessages("message", 10));
    runMainLoopFor(150ms);
    std::set<std::string> expected;
    for (int i = 1; i <= 10; ++i)
        expected.insert("Reversed " + std::to_string(i));
    EXPECT_EQ(requestedTexts(), expected);
}

TEST_F(MessageTranslationTest, ReceiveTranslationOffNeverTranslates) {
    PageScriptSettings settings;
    settings.receiveTranslation = false;
    open("chat.html?scenario=many", settings);
    page().call("aureloSetTranslationActive", {true});
    runMainLoopFor(200ms);
    EXPECT_TRUE(page().messagesOfKind("message").empty());
    EXPECT_EQ(page().messagesOfKind("unread").size(), 1u) << "unread counting still runs";
}

TEST_F(MessageTranslationTest, UnreadCountComesFromTheTitleOrTheBadges) {
    open("chat.html?scenario=unread-huge");
    ASSERT_TRUE(page().waitForMessages("unread", 1));
    EXPECT_EQ(page().messagesOfKind("unread")[0]["count"], 9999);

    open("chat.html?scenario=unread");
    ASSERT_TRUE(page().waitForMessages("unread", 1));
    EXPECT_EQ(page().messagesOfKind("unread")[0]["count"], 12) << "the title wins over badges";
    page().evaluateInPage("document.title = 'Chat'");
    ASSERT_TRUE(page().waitForMessages("unread", 2, 3s));
    EXPECT_EQ(page().messagesOfKind("unread")[1]["count"], 7);
    runMainLoopFor(2200ms);
    EXPECT_EQ(page().messagesOfKind("unread").size(), 2u) << "an unchanged count is not posted";
}

TEST_F(MessageTranslationTest, ASecondInjectionIsInert) {
    open("chat.html?scenario=kinds");
    ASSERT_TRUE(page().waitForMessages("message", 4));
    runMainLoopFor(100ms);
    const auto before = page().messages().size();
    page().evaluate(fillPageScript(pageScriptSource(), {}));
    page().evaluateInPage("document.getElementById('pane').scrollTop = 1");
    runMainLoopFor(200ms);
    EXPECT_EQ(page().messages().size(), before);
}

} // namespace
} // namespace aurelo::test
