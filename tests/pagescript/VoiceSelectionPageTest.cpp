#include "PageScriptTest.hpp"

#include <cmath>
#include <ranges>
#include <set>
#include <utility>

namespace aurelo::test {
namespace {

constexpr std::size_t kVoiceLimit = 18 * 1024 * 1024;

class VoiceTest : public PageScriptTest {
protected:
    void SetUp() override {
        serve("/audio/small", "audio/webm", std::string("OggS\0\x01\x02\xff voice", 14));
        serve("/audio/exact", "audio/ogg", std::string(kVoiceLimit, 'v'));
        serve("/audio/over", "audio/ogg", std::string(kVoiceLimit + 1, 'v'));
        serve("/audio/empty", "audio/ogg", "");
    }

    void clickVoice(const std::string& id) {
        evaluateInPage("document.querySelector('[data-id=" + id +
                       "] .aurelo-voice-button').click()");
    }

    std::size_t uploads() { return fake.requestCount("/api/transcribe"); }
    std::string result(const std::string& id) {
        return "document.querySelector('[data-id=" + id + "] .aurelo-voice-result')";
    }

    // [button text, button disabled, result text].
    nlohmann::json voiceState(const std::string& id) {
        return evaluateInPage(
            "(() => { const m = document.querySelector('[data-id=" + id +
            "]'); const b = m.querySelector('.aurelo-voice-button');"
            " const r = m.querySelector('.aurelo-voice-result');"
            " return [b.textContent, b.disabled, r ? r.textContent : null]; })()");
    }
};

TEST_F(VoiceTest, AudioIsReadAndPostedWithoutTheDataUrlPrefix) {
    open("chat.html?scenario=voice");
    ASSERT_TRUE(waitForPage("document.querySelectorAll('.aurelo-voice-button').length === 6"));
    runMainLoopFor(100ms);
    EXPECT_TRUE(serviceTexts().empty()) << "the button's own label is not a message to translate";

    holding = true;
    clickVoice("voice-small");
    ASSERT_TRUE(runMainLoopUntil([&] { return uploads() == 1; }));
    const auto& upload = fake.requests().back();
    // The base64 of the served bytes "OggS\0\x01\x02\xff voice".
    EXPECT_EQ(upload.json, nlohmann::json({{"audio", "T2dnUwABAv8gdm9pY2U="},
                                           {"mime", "audio/webm"},
                                           {"source", "zh-CN"},
                                           {"target", "zh-CN"}}));
    EXPECT_EQ(upload.header("Authorization"), "Bearer token");
    EXPECT_EQ(voiceState("voice-small"), nlohmann::json::array({"正在转写和翻译…", true, nullptr}));

    release([](const RecordedRequest&) -> std::optional<ScriptedAnswer> {
        return ScriptedAnswer::json(200, {{"transcript", "hello <b>"}, {"translation", "你好"}});
    });
    ASSERT_TRUE(waitForPage(result("voice-small")));
    EXPECT_EQ(voiceState("voice-small"),
              nlohmann::json::array({"重新识别", false, "语音原文：hello <b>\n译文：你好"}));

    clickVoice("voice-small");
    ASSERT_TRUE(runMainLoopUntil([&] { return uploads() == 2; }));
    release([](const RecordedRequest&) -> std::optional<ScriptedAnswer> {
        return ScriptedAnswer::json(503, {{"error", "busy"}});
    });
    ASSERT_TRUE(waitForPage(result("voice-small") + ".textContent === '⚠ busy'"));
    EXPECT_EQ(voiceState("voice-small"), nlohmann::json::array({"重试语音翻译", false, "⚠ busy"}));
    EXPECT_EQ(evaluateInPage(
                  "document.querySelectorAll('[data-id=voice-small] .aurelo-voice-result').length"),
              1);
}

TEST_F(VoiceTest, SizeAndSourceRulesAreAppliedInThePage) {
    open("chat.html?scenario=voice");
    ASSERT_TRUE(waitForPage("document.querySelectorAll('.aurelo-voice-button').length === 6"));

    clickVoice("voice-exact");
    // Reading 18 MiB, encoding it and carrying it through the bridge takes a while on a busy
    // machine.
    ASSERT_TRUE(runMainLoopUntil([&] { return uploads() == 1; }, 60s));
    const auto& data = fake.requests().back().json->at("audio").get_ref<const std::string&>();
    EXPECT_EQ(data.size(), (kVoiceLimit + 2) / 3 * 4) << "exactly 18 MiB is accepted";
    EXPECT_FALSE(data.starts_with("data:"));

    const std::pair<std::string, std::string> outcomes[] = {
        {"voice-exact", "语音原文：transcript\n译文：译文"},
        {"voice-over", "⚠ 语音文件超过18MB"},
        {"voice-empty", "⚠ 语音内容为空"},
        {"voice-missing", "⚠ 无法读取语音文件"},
        {"voice-nosource", "⚠ 请先播放一次语音后重试"},
    };
    for (const auto& [id, shown] : outcomes | std::views::drop(1))
        clickVoice(id);
    for (const auto& [id, shown] : outcomes) {
        ASSERT_TRUE(waitForPage(result(id), 60s)) << id;
        const bool failed = shown.starts_with("⚠");
        EXPECT_EQ(voiceState(id),
                  nlohmann::json::array({failed ? "重试语音翻译" : "重新识别", false, shown}))
            << id;
    }
    EXPECT_EQ(uploads(), 1u);
}

class SelectionTest : public PageScriptTest {};

TEST_F(SelectionTest, MenuAndResultStayInsideANarrowWindow) {
    resize(800, 600);
    open("chat.html?scenario=kinds");
    // Words at the far right edge of the window, selected, and right-clicked where they stand.
    const auto edge = evaluateInPage(
        "(() => { const s = document.createElement('span'); s.textContent = 'Edge words';"
        " s.style.cssText = 'position:fixed;right:1px;top:92px'; document.body.appendChild(s);"
        " window.selectEdge = () => { const r = document.createRange(); r.selectNodeContents(s);"
        " getSelection().removeAllRanges(); getSelection().addRange(r); };"
        " const r = s.getBoundingClientRect(); return [r.right - 3, r.top + r.height / 2]; })()");
    ASSERT_GT(edge[0].get<double>(), 790);
    const auto openMenu = [&] {
        evaluateInPage("selectEdge()");
        clickAt(edge[0].get<double>(), edge[1].get<double>(), 3);
        return waitForPage("document.querySelector('.aurelo-context-menu')");
    };
    const std::string top = std::to_string(std::lround(edge[1].get<double>())) + "px";
    const std::string box = "document.querySelector('.aurelo-context-result')";
    const auto shownBox = [&] {
        return evaluateInPage("(b => [b.style.left, b.style.top, b.firstChild.textContent,"
                              " b.childNodes[1].nodeValue, b.querySelectorAll('i').length])(" +
                              box + ")");
    };

    holding = true;
    translations["Edge words"] = "<i>Hi</i>";
    ASSERT_TRUE(openMenu());
    EXPECT_EQ(evaluateInPage("(s => [s.left, s.top])(document.querySelector("
                             "'.aurelo-context-menu').style)"),
              nlohmann::json::array({"590px", top}));
    ASSERT_TRUE(clickElement(".aurelo-context-menu button"));
    ASSERT_TRUE(waitForServiceText("Edge words"));
    EXPECT_EQ(serviceTexts().back(), (ServiceText{"Edge words", "en", false}));
    EXPECT_EQ(evaluateInPage("document.querySelector('.aurelo-context-menu button').textContent"),
              "正在翻译…");

    release();
    ASSERT_TRUE(waitForPage(box));
    EXPECT_EQ(evaluateInPage("document.querySelectorAll('.aurelo-context-menu').length"), 0);
    EXPECT_EQ(shownBox(), nlohmann::json::array({"360px", top, "英文翻译", "<i>Hi</i>", 0}));
    // A click outside dismisses it.
    clickAt(400, 300);
    EXPECT_TRUE(waitForPage(box + " === null"));

    // A failed answer shows the hint heading; its close button dismisses it.
    respond = [](const RecordedRequest&) -> std::optional<ScriptedAnswer> {
        return ScriptedAnswer::json(503, {{"error", "x"}});
    };
    ASSERT_TRUE(openMenu());
    ASSERT_TRUE(clickElement(".aurelo-context-menu button"));
    ASSERT_TRUE(runMainLoopUntil([&] { return fake.heldCount() == 1; }));
    release();
    ASSERT_TRUE(waitForPage(box));
    EXPECT_EQ(shownBox(), nlohmann::json::array({"360px", top, "翻译提示", "翻译失败：x", 0}));
    ASSERT_TRUE(clickElement(".aurelo-context-result button"));
    EXPECT_TRUE(waitForPage(box + " === null"));
}

TEST_F(SelectionTest, NoSelectionLeavesTheContextMenuToThePage) {
    open("chat.html?scenario=kinds");
    for (const auto* selected : {"", "   "}) {
        EXPECT_EQ(
            evaluateInPage("(() => { const p = document.createElement('p'); p.textContent = " +
                           quoted(selected) +
                           "; p.style.whiteSpace = 'pre'; document.body.appendChild(p);"
                           " const r = document.createRange(); r.selectNodeContents(p);"
                           " getSelection().removeAllRanges(); getSelection().addRange(r);"
                           " return [p.dispatchEvent(new MouseEvent('contextmenu', {bubbles: true,"
                           " cancelable: true, clientX: 50, clientY: 50})),"
                           " document.querySelector('.aurelo-context-menu')]; })()"),
            nlohmann::json::array({true, nullptr}))
            << "not prevented, no menu";
    }
}

class WholePageTest : public PageScriptTest {
protected:
    // The page texts the service was asked for, from the `from`th on.
    std::set<std::string> askedFrom(std::size_t from) {
        std::set<std::string> texts;
        const auto all = serviceTexts();
        for (std::size_t i = from; i < all.size(); ++i) {
            EXPECT_EQ(all[i], (ServiceText{all[i].text, "zh-CN", true}));
            texts.insert(all[i].text);
        }
        return texts;
    }
    nlohmann::json text(const std::string& id) {
        return evaluateInPage("document.getElementById(" + quoted(id) + ").firstChild.nodeValue");
    }
    // Answers the oldest held batch only, as usual or with a failure.
    void releaseOldest(bool fail = false) {
        bool answered = false;
        release([&](const RecordedRequest& request) -> std::optional<ScriptedAnswer> {
            if (std::exchange(answered, true))
                return std::nullopt;
            return fail ? ScriptedAnswer::json(503, {{"error", "忙"}}) : answer(request);
        });
    }
};

TEST_F(WholePageTest, VisibleForeignTextIsTranslatedAndRestored) {
    // Letters of any script but Chinese characters alone.
    const std::set<std::string> pageTexts = {"Welcome to the shop", "Span inside pre is translated",
                                             "Order 42 是 shipped",  "Доставка завтра",
                                             "明日お届けします",     "Removable line"};
    const std::size_t n = pageTexts.size();
    open("page.html");
    holding = true;

    // A failed batch leaves the page as it was.
    runPageCommand(WebPageCommand::Action::TranslateToChinese);
    ASSERT_TRUE(waitForServiceTexts(n));
    EXPECT_EQ(askedFrom(0), pageTexts);
    releaseOldest(true);
    ASSERT_TRUE(waitForAnswersDelivered("aureloSetPageTranslation", n));
    EXPECT_EQ(text("title"), "  Welcome to the shop  ");
    EXPECT_EQ(text("mixed"), "Order 42 是 shipped");
    // It says so, once for the run, with a way to try again.
    EXPECT_EQ(evaluateInPage("[...document.querySelectorAll('.aurelo-page-notice')].map(n => "
                             "n.textContent.startsWith('⚠ 整页翻译失败：') && "
                             "n.textContent.endsWith('重试'))"),
              nlohmann::json::array({true}));

    runPageCommand(WebPageCommand::Action::TranslateToChinese);
    ASSERT_TRUE(waitForServiceTexts(2 * n));
    EXPECT_EQ(askedFrom(n), pageTexts);
    translations = {{"Welcome to the shop", "欢迎光临"}, {"Removable line", "<b>可删除</b>"}};
    releaseOldest();
    ASSERT_TRUE(waitForPage("document.getElementById('title').textContent === '欢迎光临'"));
    EXPECT_EQ(evaluateInPage("document.querySelectorAll('.aurelo-page-notice').length"), 0);
    EXPECT_EQ(text("removable"), "<b>可删除</b>");
    EXPECT_EQ(evaluateInPage("document.querySelectorAll('#removable b').length"), 0);

    // Translating again restores the translated text before asking anew, so the original is
    // what is asked for; answers to the generation it replaced change nothing.
    runPageCommand(WebPageCommand::Action::TranslateToChinese);
    EXPECT_EQ(text("title"), "  Welcome to the shop  ");
    ASSERT_TRUE(waitForServiceTexts(3 * n));
    EXPECT_EQ(askedFrom(2 * n), pageTexts);
    runPageCommand(WebPageCommand::Action::TranslateToChinese);
    ASSERT_TRUE(waitForServiceTexts(4 * n));
    translations = {{"Welcome to the shop", "旧的"}, {"Removable line", "旧的"}};
    releaseOldest();
    ASSERT_TRUE(waitForAnswersDelivered("aureloSetPageTranslation", 3 * n));
    EXPECT_EQ(text("title"), "  Welcome to the shop  ");
    EXPECT_EQ(text("removable"), "Removable line");

    translations = {{"Welcome to the shop", "欢迎"}, {"Removable line", "可删除"}};
    releaseOldest();
    ASSERT_TRUE(waitForPage("document.getElementById('title').textContent === '欢迎'"));
    EXPECT_EQ(text("removable"), "可删除");
    evaluateInPage("document.getElementById('removable').remove()");
    // Translating calls the restore itself, so count from here.
    const auto restores = answersDelivered("aureloRestorePage").size();
    runPageCommand(WebPageCommand::Action::Restore);
    ASSERT_TRUE(waitForAnswersDelivered("aureloRestorePage", restores + 1));
    EXPECT_EQ(text("title"), "  Welcome to the shop  ");
    EXPECT_EQ(evaluate("window.__aureloPageNodes.size"), 0);
}

TEST_F(WholePageTest, ALongPageIsTranslatedWholeAndWhatIsOnScreenFirst) {
    open("page.html");
    evaluateInPage("for (let i = 0; i < 100; ++i) document.body.insertAdjacentHTML('afterbegin',"
                   " '<p>Menu entry ' + i + '</p>');"
                   "document.getElementById('removable').scrollIntoView()");
    runPageCommand(WebPageCommand::Action::TranslateToChinese);
    ASSERT_TRUE(waitForPage("document.getElementById('removable').textContent === "
                            "'zh-CN:Removable line' && document.body.textContent.split("
                            "'zh-CN:').length === 81"));
    runMainLoopFor(300ms);
    EXPECT_EQ(serviceTexts().size(), 80u) << "the limit of one run, none of it dropped";
    EXPECT_EQ(evaluateInPage("document.querySelectorAll('.aurelo-page-notice').length"), 0);
}

TEST_F(WholePageTest, OurOwnLabelsAreNotTranslated) {
    open("chat.html");
    // The composer's guard label holds Latin letters ("→ en") but is ours.
    evaluateInPage("const p = document.createElement('p'); p.textContent = 'Plain words';"
                   "document.getElementById('pane').appendChild(p)");
    runPageCommand(WebPageCommand::Action::TranslateToChinese);
    ASSERT_TRUE(waitForServiceTexts(1));
    runMainLoopFor(100ms);
    EXPECT_EQ(askedFrom(0), std::set<std::string>{"Plain words"});
}

} // namespace
} // namespace aurelo::test
