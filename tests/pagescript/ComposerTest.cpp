#include "PageScriptTest.hpp"

#include "web/WebPageCommand.hpp"

#include <algorithm>

namespace aurelo::test {
namespace {

// The chat fixture's composer is a model-keeping editor (editor.js); what it submits is its
// model's text, collected in window.sent. The page records every Enter it sees first (in the
// capture phase of window, before our script) in window.enterTimes.
class ComposerTest : public PageScriptTest {
protected:
    // A real Enter, returned once the page has handled it.
    void pressEnter() {
        const auto before = evaluateInPage("window.enterTimes.length").get<int>();
        pressKeys("Return");
        ASSERT_TRUE(waitForPage("window.enterTimes.length > " + std::to_string(before)));
    }

    bool waitForSent(std::size_t count) {
        return waitForPage("window.sent.length === " + std::to_string(count));
    }
    std::string editorText() { return evaluateInPage("window.editor.text()").get<std::string>(); }
    nlohmann::json composerAttribute(const std::string& name) {
        return evaluateInPage("document.getElementById('composer').getAttribute(" + quoted(name) +
                              ")");
    }

    // How often the service was asked to translate `text`.
    std::size_t requestsFor(const std::string& text) {
        return static_cast<std::size_t>(
            std::ranges::count(serviceTexts(), text, &ServiceText::text));
    }
};

TEST_F(ComposerTest, EnglishGoesOutAndChineseIsSentAsItsTranslationByTheEditor) {
    open("chat.html");
    translations = {{"你好，世界", "Hello, \"world\" <b>"}, {"再见", "Goodbye"}};
    holding = true;
    focusComposer();
    typeText("hello world");
    ASSERT_TRUE(waitForPage("window.editor.text() === 'hello world'")) << editorText();
    pressKeys("Return");
    ASSERT_TRUE(waitForSent(1));
    EXPECT_EQ(sent(), nlohmann::json::array({"hello world"}));
    EXPECT_TRUE(serviceTexts().empty()) << "English is not translated";

    commitText("你好，世界");
    pressKeys("Return");
    ASSERT_TRUE(waitForServiceText("你好，世界"));
    EXPECT_EQ(serviceTexts()[0], (ServiceText{"你好，世界", "en", false}));
    EXPECT_EQ(sent().size(), 1u) << "held until the translation arrives";
    EXPECT_EQ(composerAttribute("data-aurelo-translating"), "1");

    release();
    ASSERT_TRUE(waitForSent(2));
    EXPECT_EQ(sent()[1], "Hello, \"world\" <b>");
    EXPECT_EQ(evaluateInPage("window.sendClicks"), 1) << "sent through the page's button";
    EXPECT_EQ(evaluateInPage("document.querySelectorAll('#composer b').length"), 0);
    EXPECT_EQ(requestsFor("Hello, \"world\" <b>"), 0u) << "the translation itself went out";

    // The bypass after a translated send covers only the text placed: new text typed within its
    // 1.8 s is checked again. Digits hold no letter of the outgoing language: translated too.
    commitText("12345");
    pressEnter();
    EXPECT_TRUE(waitForServiceText("12345"));
    EXPECT_EQ(sent().size(), 2u);
    const auto sinceSend = evaluateInPage("window.enterTimes.at(-1) - window.sentTimes[1]");
    EXPECT_LT(sinceSend.get<double>(), 1800) << "the Enter came after the bypass anyway";
    release();
    ASSERT_TRUE(waitForSent(3));

    // A click on the send button is held like Enter.
    commitText("再见");
    ASSERT_TRUE(clickElement("#send"));
    ASSERT_TRUE(waitForServiceText("再见"));
    EXPECT_EQ(evaluateInPage("window.sendClicks"), 2) << "the page never saw the click";
    release();
    ASSERT_TRUE(waitForSent(4));
    EXPECT_EQ(sent(), nlohmann::json::array(
                          {"hello world", "Hello, \"world\" <b>", "en:12345", "Goodbye"}));
}

// The agent may send text from the translation box the moment it shows, before the editor has
// settled: it went out, and is not put in again.
TEST_F(ComposerTest, TextSentTheMomentItIsPutInIsNotPutInAgain) {
    open("chat.html");
    evaluate(textInsertionScript("On my way"));
    ASSERT_TRUE(waitForPage("window.editor.text() === 'On my way'"));
    evaluateInPage("document.getElementById('send').click()");
    ASSERT_TRUE(waitForSent(1));
    runMainLoopFor(500ms);
    EXPECT_EQ(editorText(), "");
    EXPECT_EQ(sent(), nlohmann::json::array({"On my way"}));
}

// HTML takes contenteditable="" and any case of "true" as "true", and "plaintext-only" is
// editable too: each such composer is guarded, and its text goes out as its translation.
TEST_F(ComposerTest, ComposersMarkedEditableAnyWayAreGuarded) {
    for (const char* mark : {"", "plaintext-only", "TRUE"}) {
        SCOPED_TRACE(mark);
        open("chat.html");
        translations["你好"] = "Hello";
        evaluateInPage("document.getElementById('composer').setAttribute('contenteditable', " +
                       quoted(mark) + ")");
        focusComposer();
        commitText("你好");
        pressEnter();
        ASSERT_TRUE(waitForSent(1));
        EXPECT_EQ(sent(), nlohmann::json::array({"Hello"}));
    }
}

// Where no translation can help, Chinese stays in the composer with the reason, or silently
// when the outgoing language is the one typed; other text still goes out untouched.
TEST_F(ComposerTest, ChineseThatCannotBeTranslatedIsNeverSent) {
    const std::string note(kSendTranslationUnavailableNote);
    const struct {
        const char* name;
        bool translateOutgoing;
        bool available;
        ChatLanguage language;
        nlohmann::json guard;   // [text, title]
        nlohmann::json blocked; // the composer's [title, outline]
    } cases[] = {
        {"translation off",
         false,
         true,
         ChatLanguage::English,
         {"发送翻译：关闭 · 中文原文禁止发送", ""},
         {"中文原文禁止直接发送，请开启发送翻译", "rgb(239, 68, 68) solid 2px"}},
        {"unavailable on the platform",
         false,
         false,
         ChatLanguage::English,
         {"发送翻译：此平台请用翻译框 · 中文原文禁止发送", note},
         {"中文原文禁止直接发送：" + note, "rgb(239, 68, 68) solid 2px"}},
        {"outgoing language is the one typed",
         true,
         true,
         ChatLanguage::Spanish,
         {"发送翻译：开启 · → es · 中文原文禁止发送", ""},
         {nullptr, ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto inputs = defaultInputs();
        inputs.automaticMessageTranslation = c.translateOutgoing;
        inputs.sendTranslationAvailable = c.available;
        inputs.outgoingLanguage = c.language;
        if (c.language != ChatLanguage::English)
            inputs.inputLanguage = c.language;
        open("chat.html", inputs);
        EXPECT_EQ(evaluateInPage("(g => [g.textContent, g.title])(document.querySelector("
                                 "'.aurelo-composer-guard'))"),
                  c.guard);
        focusComposer();
        commitText("hello");
        pressEnter();
        ASSERT_TRUE(waitForSent(1));

        commitText("ok 好");
        pressEnter();
        EXPECT_EQ(evaluateInPage("(e => [e.getAttribute('title'), e.style.outline])("
                                 "document.getElementById('composer'))"),
                  c.blocked);
        evaluateInPage("window.pageClicks = 0;"
                       "addEventListener('click', () => window.pageClicks += 1, true)");
        ASSERT_TRUE(clickElement("#send"));
        ASSERT_TRUE(waitForPage("window.pageClicks === 1"));
        EXPECT_EQ(sent(), nlohmann::json::array({"hello"}));
        EXPECT_EQ(evaluateInPage("window.sendClicks"), 0) << "the page never saw the click";
        EXPECT_EQ(editorText(), "ok 好");
        runMainLoopFor(100ms);
        EXPECT_TRUE(fake.requests().empty()) << "nothing is translated";
    }
}

TEST_F(ComposerTest, ShiftEnterAndCompositionAreNeverIntercepted) {
    open("chat.html");
    holding = true;
    focusComposer();
    commitText("你好");
    pressKeys("shift+Return");
    ASSERT_TRUE(waitForPage("window.editor.text() === '你好\\n'"));
    // The event below is what WebKit hands the page for an Enter the input method takes; the
    // editor tests (EditorComposerTest) type through a real one.
    EXPECT_EQ(evaluateInPage(
                  "document.getElementById('composer').dispatchEvent(new KeyboardEvent('keydown',"
                  " {key: 'Enter', isComposing: true, bubbles: true, cancelable: true}))"),
              true);
    EXPECT_EQ(evaluateInPage("window.editor.keydowns.at(-1).composing"), true);
    EXPECT_EQ(composerAttribute("data-aurelo-translating"), nullptr) << "no send is held";
    EXPECT_TRUE(sent().empty());
}

TEST_F(ComposerTest, WarmTranslationIsSentWithoutAnotherRequest) {
    open("chat.html");
    translations = {{"你好", "Hello"}, {"再见", "Goodbye"}};
    focusComposer();
    commitText("你好");
    // Nothing was sent yet, so this request is the warm-up, 650 ms after the input.
    ASSERT_TRUE(waitForServiceText("你好"));
    EXPECT_EQ(serviceTexts()[0], (ServiceText{"你好", "en", false}));
    ASSERT_TRUE(waitForAnswersDelivered("aureloSetComposerWarm", 1));
    pressEnter();
    ASSERT_TRUE(waitForSent(1));
    EXPECT_EQ(sent()[0], "Hello");
    EXPECT_EQ(serviceTexts().size(), 1u);

    // Enter while the warm-up is still on its way: the send follows its answer.
    holding = true;
    commitText("再见");
    ASSERT_TRUE(waitForServiceText("再见"));
    pressEnter();
    EXPECT_EQ(composerAttribute("data-aurelo-translating"), "1");
    EXPECT_EQ(sent().size(), 1u);
    EXPECT_EQ(release(), 1u);
    ASSERT_TRUE(waitForSent(2));
    EXPECT_EQ(sent()[1], "Goodbye");
    EXPECT_EQ(serviceTexts().size(), 2u);
}

TEST_F(ComposerTest, AnswersForTextTheUserHasChangedAreDropped) {
    open("chat.html");
    translations["你好"] = "Hello";
    holding = true;
    focusComposer();
    commitText("你好");
    pressEnter();
    ASSERT_TRUE(waitForServiceText("你好"));
    typeText("a");
    ASSERT_TRUE(waitForPage("window.editor.text() === '你好a'"));
    // Whichever request the send was waiting for (its own, or the warm-up when that went out
    // first), the answer for the old text arrives and is dropped.
    const auto answered = release();
    ASSERT_GE(answered, 1u);
    ASSERT_TRUE(runMainLoopUntil([&] {
        return answersDelivered("aureloSetComposerTranslation").size() +
                   answersDelivered("aureloSetComposerWarm").size() >=
               answered;
    }));
    runMainLoopFor(100ms); // a send would click the page's button a frame after the answer
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(editorText(), "你好a");
}

TEST_F(ComposerTest, TranslationsHoldingChineseAndFailuresAreNotSent) {
    open("chat.html");
    translations["你好"] = "仍然是中文";
    holding = true;
    focusComposer();
    commitText("你好");
    pressEnter();
    ASSERT_TRUE(waitForServiceText("你好"));
    // The send waits either for its own request (the composer then carries its id) or for the
    // warm-up that went out first. A second Enter while it waits starts nothing; only the
    // warm-up, 650 ms after the input, may still go out.
    const std::size_t expected = composerAttribute("data-aurelo-composer-id") != nullptr ? 2u : 1u;
    pressEnter();
    EXPECT_TRUE(runMainLoopUntil([&] { return requestsFor("你好") >= expected; }));
    runMainLoopFor(200ms);
    EXPECT_EQ(requestsFor("你好"), expected);

    const auto expectHeld = [&](const std::string& title, const std::string& text) {
        ASSERT_TRUE(waitForPage("document.getElementById('composer').title === " + quoted(title)));
        EXPECT_TRUE(sent().empty());
        EXPECT_EQ(editorText(), text);
        EXPECT_EQ(composerAttribute("data-aurelo-translating"), nullptr);
    };
    release();
    expectHeld("译文仍含中文，未填入", "你好");
    EXPECT_EQ(evaluateInPage("document.querySelector('.aurelo-composer-guard').textContent"),
              "发送翻译：开启 · → en · 中文原文禁止发送 · 译文仍含中文，未填入");

    // The unusable answer is not kept: the next Enter asks again, and a failure is shown.
    respond = [](const RecordedRequest&) -> std::optional<ScriptedAnswer> {
        return ScriptedAnswer::json(503, {{"error", "服务器忙"}});
    };
    const auto asked = serviceTexts().size();
    pressEnter();
    ASSERT_TRUE(waitForServiceTexts(asked + 1));
    release();
    expectHeld("翻译失败：服务器忙", "你好");

    // A failed warm-up frees a send that waited for it without a word; the next Enter asks anew.
    commitText("再见");
    ASSERT_TRUE(waitForServiceText("你好再见"));
    pressEnter();
    EXPECT_EQ(composerAttribute("data-aurelo-translating"), "1");
    EXPECT_EQ(release(), 1u);
    ASSERT_TRUE(
        runMainLoopUntil([&] { return composerAttribute("data-aurelo-translating") == nullptr; }));
    expectHeld("翻译失败：服务器忙", "你好再见");
    pressEnter();
    EXPECT_TRUE(runMainLoopUntil([&] { return requestsFor("你好再见") == 2; }));
}

// An engine that echoes its source makes a warm translation that is no translation: it is not
// kept for the Enter, which asks again and is refused when the answer holds Chinese again.
TEST_F(ComposerTest, AWarmTranslationHoldingChineseIsNeitherKeptNorSent) {
    open("chat.html");
    translations["再见"] = "再见 bye";
    focusComposer();
    commitText("再见");
    ASSERT_TRUE(waitForAnswersDelivered("aureloSetComposerWarm", 1));
    pressEnter();
    ASSERT_TRUE(runMainLoopUntil([&] { return requestsFor("再见") == 2; }));
    ASSERT_TRUE(
        waitForPage("document.getElementById('composer').title === '译文仍含中文，未填入'"));
    runMainLoopFor(100ms);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(editorText(), "再见");
}

TEST_F(ComposerTest, GuardLabelComesBackOnceAfterThePageDropsIt) {
    open("chat.html");
    const std::string labels = "document.querySelectorAll('.aurelo-composer-guard')";
    EXPECT_EQ(
        evaluateInPage("[" + labels + ".length, " + labels + "[0].textContent, " + labels +
                       "[0].parentElement.id]"),
        nlohmann::json::array({1, "发送翻译：开启 · → en · 中文原文禁止发送", "composer-box"}));
    evaluateInPage(labels + "[0].remove()");
    ASSERT_TRUE(waitForPage(labels + ".length === 1", 3s));
    runMainLoopFor(1600ms);
    EXPECT_EQ(evaluateInPage(labels + ".length"), 1);
}

} // namespace
} // namespace aurelo::test
