#include "PageScriptTest.hpp"

#include <set>

namespace aurelo::test {
namespace {

class MessageTranslationTest : public PageScriptTest {
protected:
    std::set<std::string> requestedTexts() {
        std::set<std::string> texts;
        for (const auto& asked : serviceTexts())
            texts.insert(asked.text);
        return texts;
    }

    static std::set<std::string> numbered(const std::string& prefix, int first, int last) {
        std::set<std::string> texts;
        for (int i = first; i <= last; ++i)
            texts.insert(prefix + std::to_string(i));
        return texts;
    }

    bool waitForPanels(std::size_t count) {
        return waitForPage("document.querySelectorAll('.aurelo-translation-panel').length >= " +
                           std::to_string(count));
    }

    // The panel of the message with data-id `id`, as [panel count, text, colour, button text,
    // button disabled, markup elements inside].
    nlohmann::json panel(const std::string& id) {
        return evaluateInPage(
            "(() => { const m = document.querySelector('[data-id=" + quoted(id) +
            "]'); const p = m.querySelectorAll('.aurelo-translation-panel');"
            " if (p.length === 0) return null; const b = p[0].querySelector('button');"
            " return [p.length, p[0].firstChild.textContent, p[0].style.color, b.textContent,"
            " b.disabled, p[0].querySelectorAll('b').length]; })()");
    }

    nlohmann::json panelText(const std::string& id) {
        const auto shown = panel(id);
        return shown.is_array() ? shown[1] : shown;
    }
};

TEST_F(MessageTranslationTest, OwnAndIncomingMessagesGetTheirTargetsAndRepliesSendOnlyTheReply) {
    open("chat.html?scenario=kinds");
    ASSERT_TRUE(waitForPanels(4));
    // A delivery tick marks a message as one's own; a reply sends its last span only; each
    // message is asked for once, in the queue's batches.
    const std::vector<ServiceText> expected = {{"Hello there", "zh-CN", true},
                                               {"Sent by me", "en", true},
                                               {"The reply itself", "zh-CN", true},
                                               {"Ticked message", "en", true}};
    auto asked = serviceTexts();
    std::ranges::sort(asked, {}, &ServiceText::text);
    EXPECT_EQ(asked, expected);
    // Each answer comes back under the message that asked for it.
    EXPECT_EQ(panelText("in1"), "译：zh-CN:Hello there");
    EXPECT_EQ(panelText("out1"), "译：en:Sent by me");
    EXPECT_EQ(panelText("tick1"), "译：en:Ticked message");
    EXPECT_EQ(panelText("reply1"), "译：zh-CN:The reply itself");
    EXPECT_EQ(panel("plain1"), nullptr);
}

TEST_F(MessageTranslationTest, ResultsAreShownAsTextAndRetryRedrawsTheOnePanel) {
    // The incoming messages' batch fails, with markup in the service's message.
    respond = [](const RecordedRequest& request) -> std::optional<ScriptedAnswer> {
        if (request.json && request.json->value("target", "") == "zh-CN")
            return ScriptedAnswer::json(503, {{"error", "<b>忙</b>"}});
        return std::nullopt;
    };
    open("chat.html?scenario=kinds");
    ASSERT_TRUE(waitForPanels(4));
    EXPECT_EQ(panel("in1"), nlohmann::json::array(
                                {1, "⚠ 翻译失败：<b>忙</b>", "rgb(217, 119, 6)", "↻", false, 0}));
    EXPECT_EQ(panel("out1"),
              nlohmann::json::array({1, "译：en:Sent by me", "rgb(37, 99, 235)", "↻", false, 0}));

    respond = nullptr;
    holding = true;
    translations["Hello there"] = "<b>你好</b>";
    const std::string retry = "[data-id=in1] .aurelo-translation-panel button";
    ASSERT_TRUE(clickElement(retry));
    ASSERT_TRUE(waitForServiceTexts(5));
    EXPECT_EQ(serviceTexts().back(), (ServiceText{"Hello there", "zh-CN", true}));
    EXPECT_EQ(panel("in1")[3], "…");
    EXPECT_EQ(panel("in1")[4], true);

    // A second click while the retry is under way asks nothing more.
    evaluateInPage("window.retryClicks = 0;"
                   "addEventListener('click', () => window.retryClicks += 1, true);"
                   "document.querySelector(" +
                   quoted(retry) + ").disabled = false");
    ASSERT_TRUE(clickElement(retry));
    ASSERT_TRUE(waitForPage("window.retryClicks === 1"));
    runMainLoopFor(150ms);
    EXPECT_EQ(serviceTexts().size(), 5u);

    EXPECT_EQ(release(), 1u);
    ASSERT_TRUE(waitForPage("document.querySelector('[data-id=in1] "
                            ".aurelo-translation-panel').firstChild.textContent === "
                            "'译：<b>你好</b>'"));
    EXPECT_EQ(panel("in1"),
              nlohmann::json::array({1, "译：<b>你好</b>", "rgb(37, 99, 235)", "↻", false, 0}));
    EXPECT_EQ(panelText("reply1"), "⚠ 翻译失败：<b>忙</b>") << "only the retried panel changed";

    // The script's own guard: ids that match nothing, whatever their shape, change nothing and
    // break nothing.
    evaluate("window.aureloSetTranslation('\"] body, [x=\"', 'x', false);"
             "window.aureloSetTranslation(null, null, null)");
    EXPECT_EQ(evaluateInPage("document.querySelectorAll('.aurelo-translation-panel').length"), 4);
    EXPECT_EQ(evaluateInPage("typeof window.aureloSetTranslation"), "undefined")
        << "the page's own scripts cannot reach our callbacks";
}

TEST_F(MessageTranslationTest, MessagesOfUpTo5000CharactersAreRequested) {
    open("chat.html?scenario=limits");
    ASSERT_TRUE(waitForPanels(1));
    EXPECT_EQ(requestedTexts(), std::set{std::string(5000, 'a')});
    EXPECT_EQ(serviceTexts().size(), 1u);
    EXPECT_EQ(
        evaluateInPage("document.querySelector('[data-id=len5001]').dataset.aureloTranslationSeen"),
        nullptr);
}

TEST_F(MessageTranslationTest, ReadMoreIsClickedOnceAndTheWholeTextRequestedLater) {
    open("chat.html?scenario=readmore");
    ASSERT_TRUE(waitForPanels(1));
    EXPECT_EQ(requestedTexts(),
              std::set<std::string>{"Beginning of a long text and its whole ending"});
    EXPECT_EQ(evaluateInPage("window.readMoreClicks"), 1);
    // Later passes find the control still there and leave it alone.
    evaluateInPage("document.getElementById('pane').dispatchEvent(new Event('scroll'))");
    setTranslationActive(false);
    setTranslationActive(true);
    runMainLoopFor(400ms);
    EXPECT_EQ(evaluateInPage("window.readMoreClicks"), 1);
    EXPECT_EQ(serviceTexts().size(), 1u);
}

// Only the ten lowest messages in view are requested, whichever way the page lists them.
TEST_F(MessageTranslationTest, ScanRequestsTheLowestTenMessagesOfAReversedList) {
    open("chat.html?scenario=reversed");
    ASSERT_TRUE(waitForPanels(10));
    EXPECT_EQ(requestedTexts(), numbered("Reversed ", 1, 10));
}

TEST_F(MessageTranslationTest, NewMessagesAndSwitchingBackOnRequestOnlyTheLowest) {
    open("chat.html?scenario=many");
    ASSERT_TRUE(waitForPanels(10));
    auto expected = numbered("Message ", 21, 30);
    EXPECT_EQ(requestedTexts(), expected);
    // Twelve arrive at once: the eight lowest of them are requested.
    evaluateInPage("for (let i = 31; i <= 42; i += 1) addMessage('m' + i, 'Message ' + i, "
                   "{kind: 'in'})");
    ASSERT_TRUE(waitForPanels(18));
    expected.merge(numbered("Message ", 35, 42));
    EXPECT_EQ(requestedTexts(), expected);
    EXPECT_EQ(serviceTexts().size(), 18u);

    // Switched off, nothing is requested; switched on, the lowest unseen ones are.
    setTranslationActive(false);
    evaluateInPage("addMessage('m43', 'Message 43', {kind: 'in'})");
    runMainLoopFor(150ms);
    EXPECT_EQ(serviceTexts().size(), 18u);
    setTranslationActive(true);
    // The ten lowest in view are now 34 to 43, of which 34 and 43 were never requested.
    ASSERT_TRUE(waitForPanels(20));
    expected.merge(std::set<std::string>{"Message 34", "Message 43"});
    EXPECT_EQ(requestedTexts(), expected);
    EXPECT_EQ(serviceTexts().size(), 20u);
}

TEST_F(MessageTranslationTest, ScrollingRequestsTheLowestMessagesNowInView) {
    open("chat.html?scenario=history");
    ASSERT_TRUE(waitForPanels(10));
    EXPECT_TRUE(requestedTexts().contains("History 120"));
    fake.clearRequests();
    evaluateInPage("document.getElementById('pane').scrollTop = 0");
    ASSERT_TRUE(waitForPanels(20));
    // The viewport holds the first ~40 messages: the lowest ten of those, none seen before.
    const auto texts = requestedTexts();
    EXPECT_EQ(texts.size(), 10u);
    for (const auto& text : texts) {
        const int number = std::stoi(text.substr(std::string("History ").size()));
        EXPECT_TRUE(number > 30 && number <= 50) << text;
    }
}

TEST_F(MessageTranslationTest, ReceiveTranslationOffNeverTranslates) {
    auto inputs = defaultInputs();
    inputs.receiveTranslationEnabled = false;
    open("chat.html?scenario=many", inputs);
    setTranslationActive(false);
    setTranslationActive(true);
    ASSERT_TRUE(waitForUnreadCounts(1)) << "unread counting still runs";
    runMainLoopFor(200ms);
    EXPECT_TRUE(serviceTexts().empty());
    EXPECT_EQ(unread, std::vector<int>{0});
}

TEST_F(MessageTranslationTest, APageSaysOnceWhetherItShowsMessagesItKnows) {
    open("chat.html?scenario=kinds");
    ASSERT_TRUE(runMainLoopUntil([&] { return !recognised.empty(); }));
    EXPECT_EQ(recognised, std::vector<bool>{true}) << "at once";

    // A page of no known chat markup says so after its grace period, and again when one shows.
    // A grid of rows off a Messenger thread's address is no chat.
    open("page.html");
    evaluateInPage("document.body.insertAdjacentHTML('beforeend', '<div role=\"grid\"><div "
                   "role=\"row\"><div dir=\"auto\">Quarterly report</div></div></div>')");
    ASSERT_TRUE(runMainLoopUntil([&] { return !recognised.empty(); }, 8s));
    EXPECT_EQ(recognised, std::vector<bool>{false});
    EXPECT_TRUE(serviceTexts().empty());
    evaluateInPage("document.body.insertAdjacentHTML('beforeend', "
                   "'<div class=\"message-in\">Hi</div>')");
    ASSERT_TRUE(runMainLoopUntil([&] { return recognised.size() == 2; }, 4s));
    EXPECT_EQ(recognised, (std::vector<bool>{false, true}));
}

TEST_F(MessageTranslationTest, UnreadCountComesFromTheTitleOrTheBadges) {
    open("chat.html?scenario=unread-huge");
    ASSERT_TRUE(waitForUnreadCounts(1));
    EXPECT_EQ(unread, std::vector<int>{9999});

    open("chat.html?scenario=unread");
    ASSERT_TRUE(waitForUnreadCounts(1));
    EXPECT_EQ(unread, std::vector<int>{12}) << "the title wins over badges";
    evaluateInPage("document.title = 'Chat'");
    ASSERT_TRUE(waitForUnreadCounts(2, 3s));
    runMainLoopFor(2200ms);
    EXPECT_EQ(unread, (std::vector<int>{12, 7})) << "an unchanged count is not posted";
}

TEST_F(MessageTranslationTest, ASecondInjectionIsInert) {
    open("chat.html?scenario=kinds");
    ASSERT_TRUE(waitForPanels(4));
    ASSERT_TRUE(waitForUnreadCounts(1));
    evaluate(fillPageScript(pageScriptTemplate(), hostInputs()));
    evaluateInPage("document.getElementById('pane').scrollTop = 1");
    runMainLoopFor(200ms);
    EXPECT_EQ(serviceTexts().size(), 4u);
    EXPECT_EQ(unread.size(), 1u) << "a second copy would report the count again";
}

} // namespace
} // namespace aurelo::test
