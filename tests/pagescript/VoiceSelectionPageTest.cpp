#include "HostedPage.hpp"

#include <cmath>
#include <map>
#include <ranges>
#include <set>
#include <utility>

namespace aurelo::test {
namespace {

constexpr std::size_t kVoiceLimit = 18 * 1024 * 1024;

class VoiceTest : public PageScriptTest {
protected:
    static void SetUpTestSuite() {
        page().serve("/audio/small", "audio/webm", std::string("OggS\0\x01\x02\xff voice", 14));
        page().serve("/audio/exact", "audio/ogg", std::string(kVoiceLimit, 'v'));
        page().serve("/audio/over", "audio/ogg", std::string(kVoiceLimit + 1, 'v'));
        page().serve("/audio/empty", "audio/ogg", "");
    }

    static void clickVoice(const std::string& id) {
        page().evaluateInPage("document.querySelector('[data-id=" + id +
                              "] .aurelo-voice-button').click()");
    }

    static std::size_t uploads() { return page().service().requestCount("/api/transcribe"); }
    static std::string result(const std::string& id) {
        return "document.querySelector('[data-id=" + id + "] .aurelo-voice-result')";
    }

    // [button text, button disabled, result text].
    static nlohmann::json voiceState(const std::string& id) {
        return page().evaluateInPage(
            "(() => { const m = document.querySelector('[data-id=" + id +
            "]'); const b = m.querySelector('.aurelo-voice-button');"
            " const r = m.querySelector('.aurelo-voice-result');"
            " return [b.textContent, b.disabled, r ? r.textContent : null]; })()");
    }
};

TEST_F(VoiceTest, AudioIsReadAndPostedWithoutTheDataUrlPrefix) {
    open("chat.html?scenario=voice");
    ASSERT_TRUE(
        page().waitForPage("document.querySelectorAll('.aurelo-voice-button').length === 6"));
    runMainLoopFor(100ms);
    EXPECT_TRUE(page().serviceTexts().empty())
        << "the button's own label is not a message to translate";

    page().hold(true);
    clickVoice("voice-small");
    ASSERT_TRUE(runMainLoopUntil([] { return uploads() == 1; }));
    const auto& upload = page().service().requests().back();
    // The base64 of the served bytes "OggS\0\x01\x02\xff voice".
    EXPECT_EQ(upload.json, nlohmann::json({{"audio", "T2dnUwABAv8gdm9pY2U="},
                                           {"mime", "audio/webm"},
                                           {"source", "zh-CN"},
                                           {"target", "zh-CN"}}));
    EXPECT_EQ(upload.header("Authorization"), "Bearer token");
    EXPECT_EQ(voiceState("voice-small"), nlohmann::json::array({"正在转写和翻译…", true, nullptr}));

    page().release([](const RecordedRequest&) -> std::optional<ScriptedAnswer> {
        return ScriptedAnswer::json(200, {{"transcript", "hello <b>"}, {"translation", "你好"}});
    });
    ASSERT_TRUE(page().waitForPage(result("voice-small")));
    EXPECT_EQ(voiceState("voice-small"),
              nlohmann::json::array({"重新识别", false, "语音原文：hello <b>\n译文：你好"}));

    clickVoice("voice-small");
    ASSERT_TRUE(runMainLoopUntil([] { return uploads() == 2; }));
    page().release([](const RecordedRequest&) -> std::optional<ScriptedAnswer> {
        return ScriptedAnswer::json(503, {{"error", "busy"}});
    });
    ASSERT_TRUE(page().waitForPage(result("voice-small") + ".textContent === '⚠ busy'"));
    EXPECT_EQ(voiceState("voice-small"), nlohmann::json::array({"重试语音翻译", false, "⚠ busy"}));
    EXPECT_EQ(page().evaluateInPage(
                  "document.querySelectorAll('[data-id=voice-small] .aurelo-voice-result').length"),
              1);
}

TEST_F(VoiceTest, SizeAndSourceRulesAreAppliedInThePage) {
    open("chat.html?scenario=voice");
    ASSERT_TRUE(
        page().waitForPage("document.querySelectorAll('.aurelo-voice-button').length === 6"));

    clickVoice("voice-exact");
    // Reading 18 MiB, encoding it and carrying it through the bridge takes a while on a busy
    // machine.
    ASSERT_TRUE(runMainLoopUntil([] { return uploads() == 1; }, 60s));
    const auto& data =
        page().service().requests().back().json->at("audio").get_ref<const std::string&>();
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
        ASSERT_TRUE(page().waitForPage(result(id), 60s)) << id;
        const bool failed = shown.starts_with("⚠");
        EXPECT_EQ(voiceState(id),
                  nlohmann::json::array({failed ? "重试语音翻译" : "重新识别", false, shown}))
            << id;
    }
    EXPECT_EQ(uploads(), 1u);
}

class SelectionTest : public PageScriptTest {};

TEST_F(SelectionTest, MenuAndResultStayInsideANarrowWindow) {
    page().resize(800, 600);
    open("chat.html?scenario=kinds");
    // Words at the far right edge of the window, selected, and right-clicked where they stand.
    const auto edge = page().evaluateInPage(
        "(() => { const s = document.createElement('span'); s.textContent = 'Edge words';"
        " s.style.cssText = 'position:fixed;right:1px;top:92px'; document.body.appendChild(s);"
        " window.selectEdge = () => { const r = document.createRange(); r.selectNodeContents(s);"
        " getSelection().removeAllRanges(); getSelection().addRange(r); };"
        " const r = s.getBoundingClientRect(); return [r.right - 3, r.top + r.height / 2]; })()");
    ASSERT_GT(edge[0].get<double>(), 790);
    const auto openMenu = [&] {
        page().evaluateInPage("selectEdge()");
        page().clickAt(edge[0].get<double>(), edge[1].get<double>(), 3);
        return page().waitForPage("document.querySelector('.aurelo-context-menu')");
    };
    const std::string top = std::to_string(std::lround(edge[1].get<double>())) + "px";
    const std::string box = "document.querySelector('.aurelo-context-result')";
    const auto shownBox = [&] {
        return page().evaluateInPage(
            "(b => [b.style.left, b.style.top, b.firstChild.textContent,"
            " b.childNodes[1].nodeValue, b.querySelectorAll('i').length])(" +
            box + ")");
    };

    page().hold(true);
    page().translations["Edge words"] = "<i>Hi</i>";
    ASSERT_TRUE(openMenu());
    EXPECT_EQ(page().evaluateInPage("(s => [s.left, s.top])(document.querySelector("
                                    "'.aurelo-context-menu').style)"),
              nlohmann::json::array({"590px", top}));
    ASSERT_TRUE(page().clickElement(".aurelo-context-menu button"));
    ASSERT_TRUE(page().waitForServiceText("Edge words"));
    EXPECT_EQ(page().serviceTexts().back(), (ServiceText{"Edge words", "en", false}));
    EXPECT_EQ(
        page().evaluateInPage("document.querySelector('.aurelo-context-menu button').textContent"),
        "正在翻译…");

    page().release();
    ASSERT_TRUE(page().waitForPage(box));
    EXPECT_EQ(page().evaluateInPage("document.querySelectorAll('.aurelo-context-menu').length"), 0);
    EXPECT_EQ(shownBox(), nlohmann::json::array({"360px", top, "英文翻译", "<i>Hi</i>", 0}));
    // A click outside dismisses it.
    page().clickAt(400, 300);
    EXPECT_TRUE(page().waitForPage(box + " === null"));

    // A failed answer shows the hint heading; its close button dismisses it.
    page().respond = [](const RecordedRequest&) -> std::optional<ScriptedAnswer> {
        return ScriptedAnswer::json(503, {{"error", "x"}});
    };
    ASSERT_TRUE(openMenu());
    ASSERT_TRUE(page().clickElement(".aurelo-context-menu button"));
    ASSERT_TRUE(runMainLoopUntil([] { return page().service().heldCount() == 1; }));
    page().release();
    ASSERT_TRUE(page().waitForPage(box));
    EXPECT_EQ(shownBox(), nlohmann::json::array({"360px", top, "翻译提示", "翻译失败：x", 0}));
    ASSERT_TRUE(page().clickElement(".aurelo-context-result button"));
    EXPECT_TRUE(page().waitForPage(box + " === null"));
}

TEST_F(SelectionTest, NoSelectionLeavesTheContextMenuToThePage) {
    open("chat.html?scenario=kinds");
    for (const auto* selected : {"", "   "}) {
        EXPECT_EQ(page().evaluateInPage(
                      "(() => { const p = document.createElement('p'); p.textContent = " +
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
    static std::set<std::string> askedFrom(std::size_t from) {
        std::set<std::string> texts;
        const auto all = page().serviceTexts();
        for (std::size_t i = from; i < all.size(); ++i) {
            EXPECT_EQ(all[i], (ServiceText{all[i].text, "zh-CN", true}));
            texts.insert(all[i].text);
        }
        return texts;
    }
    static nlohmann::json text(const std::string& id) {
        return page().evaluateInPage("document.getElementById(" + quoted(id) +
                                     ").firstChild.nodeValue");
    }
    // Answers the oldest held batch only, as usual or with a failure.
    static void releaseOldest(bool fail = false) {
        bool answered = false;
        page().release([&](const RecordedRequest& request) -> std::optional<ScriptedAnswer> {
            if (std::exchange(answered, true))
                return std::nullopt;
            return fail ? ScriptedAnswer::json(503, {{"error", "忙"}}) : page().answer(request);
        });
    }
};

TEST_F(WholePageTest, VisibleEnglishTextIsTranslatedAndRestored) {
    const std::set<std::string> pageTexts = {"Welcome to the shop", "Span inside pre is translated",
                                             "Order 42 是 shipped", "Removable line"};
    open("page.html");
    page().hold(true);

    // A failed batch leaves the page as it was.
    page().runPageCommand(WebPageCommand::Action::TranslateToChinese);
    ASSERT_TRUE(page().waitForServiceTexts(4));
    EXPECT_EQ(askedFrom(0), pageTexts);
    releaseOldest(true);
    ASSERT_TRUE(page().waitForAnswersDelivered("aureloSetPageTranslation", 4));
    EXPECT_EQ(text("title"), "  Welcome to the shop  ");
    EXPECT_EQ(text("mixed"), "Order 42 是 shipped");

    page().runPageCommand(WebPageCommand::Action::TranslateToChinese);
    ASSERT_TRUE(page().waitForServiceTexts(8));
    EXPECT_EQ(askedFrom(4), pageTexts);
    page().translations = {{"Welcome to the shop", "欢迎光临"},
                           {"Removable line", "<b>可删除</b>"}};
    releaseOldest();
    ASSERT_TRUE(page().waitForPage("document.getElementById('title').textContent === '欢迎光临'"));
    EXPECT_EQ(text("removable"), "<b>可删除</b>");
    EXPECT_EQ(page().evaluateInPage("document.querySelectorAll('#removable b').length"), 0);

    // Translating again restores the translated text before asking anew, so the original is
    // what is asked for; answers to the generation it replaced change nothing.
    page().runPageCommand(WebPageCommand::Action::TranslateToChinese);
    EXPECT_EQ(text("title"), "  Welcome to the shop  ");
    ASSERT_TRUE(page().waitForServiceTexts(12));
    EXPECT_EQ(askedFrom(8), pageTexts);
    page().runPageCommand(WebPageCommand::Action::TranslateToChinese);
    ASSERT_TRUE(page().waitForServiceTexts(16));
    page().translations = {{"Welcome to the shop", "旧的"}, {"Removable line", "旧的"}};
    releaseOldest();
    ASSERT_TRUE(page().waitForAnswersDelivered("aureloSetPageTranslation", 12));
    EXPECT_EQ(text("title"), "  Welcome to the shop  ");
    EXPECT_EQ(text("removable"), "Removable line");

    page().translations = {{"Welcome to the shop", "欢迎"}, {"Removable line", "可删除"}};
    releaseOldest();
    ASSERT_TRUE(page().waitForPage("document.getElementById('title').textContent === '欢迎'"));
    EXPECT_EQ(text("removable"), "可删除");
    page().evaluateInPage("document.getElementById('removable').remove()");
    // Translating calls the restore itself, so count from here.
    const auto restores = page().answersDelivered("aureloRestorePage").size();
    page().runPageCommand(WebPageCommand::Action::Restore);
    ASSERT_TRUE(page().waitForAnswersDelivered("aureloRestorePage", restores + 1));
    EXPECT_EQ(text("title"), "  Welcome to the shop  ");
    EXPECT_EQ(page().evaluate("window.__aureloPageNodes.size"), 0);
}

TEST_F(WholePageTest, OurOwnLabelsAreNotTranslated) {
    open("chat.html");
    // The composer's guard label holds Latin letters ("→ en") but is ours.
    page().evaluateInPage("const p = document.createElement('p'); p.textContent = 'Plain words';"
                          "document.getElementById('pane').appendChild(p)");
    page().runPageCommand(WebPageCommand::Action::TranslateToChinese);
    ASSERT_TRUE(page().waitForServiceTexts(1));
    runMainLoopFor(100ms);
    EXPECT_EQ(askedFrom(0), std::set<std::string>{"Plain words"});
}

} // namespace
} // namespace aurelo::test
