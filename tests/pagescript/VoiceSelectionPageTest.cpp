#include "HostedPage.hpp"

#include <glib.h>

#include <cmath>
#include <map>
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
    ASSERT_TRUE(runMainLoopUntil([] { return page().voiceUploadCount() == 1; }));
    const auto& upload = page().service().requests().back();
    const std::string bytes("OggS\0\x01\x02\xff voice", 14);
    char* base64 = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    EXPECT_EQ(
        upload.json,
        nlohmann::json(
            {{"audio", base64}, {"mime", "audio/webm"}, {"source", "zh-CN"}, {"target", "zh-CN"}}));
    g_free(base64);
    EXPECT_EQ(upload.header("Authorization"), "Bearer token");
    EXPECT_EQ(voiceState("voice-small"), nlohmann::json::array({"正在转写和翻译…", true, nullptr}));

    page().release([](const RecordedRequest&) -> std::optional<ScriptedAnswer> {
        return ScriptedAnswer::json(200, {{"transcript", "hello <b>"}, {"translation", "你好"}});
    });
    ASSERT_TRUE(
        page().waitForPage("document.querySelector('[data-id=voice-small] .aurelo-voice-result')"));
    EXPECT_EQ(voiceState("voice-small"),
              nlohmann::json::array({"重新识别", false, "语音原文：hello <b>\n译文：你好"}));

    clickVoice("voice-small");
    ASSERT_TRUE(runMainLoopUntil([] { return page().voiceUploadCount() == 2; }));
    page().release([](const RecordedRequest&) -> std::optional<ScriptedAnswer> {
        return ScriptedAnswer::json(503, {{"error", "busy"}});
    });
    ASSERT_TRUE(page().waitForPage("document.querySelector('[data-id=voice-small] "
                                   ".aurelo-voice-button').textContent === '重试语音翻译'"));
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
    ASSERT_TRUE(runMainLoopUntil([] { return page().voiceUploadCount() == 1; }, 60s));
    const auto& data =
        page().service().requests().back().json->at("audio").get_ref<const std::string&>();
    EXPECT_EQ(data.size(), (kVoiceLimit + 2) / 3 * 4) << "exactly 18 MiB is accepted";
    EXPECT_FALSE(data.starts_with("data:"));
    ASSERT_TRUE(page().waitForPage(
        "document.querySelector('[data-id=voice-exact] .aurelo-voice-result')", 60s));
    EXPECT_EQ(voiceState("voice-exact"),
              nlohmann::json::array({"重新识别", false, "语音原文：transcript\n译文：译文"}));

    const std::vector<std::pair<std::string, std::string>> failures = {
        {"voice-over", "⚠ 语音文件超过18MB"},
        {"voice-empty", "⚠ 语音内容为空"},
        {"voice-missing", "⚠ 无法读取语音文件"},
        {"voice-nosource", "⚠ 请先播放一次语音后重试"},
    };
    for (const auto& [id, shown] : failures)
        clickVoice(id);
    for (const auto& [id, shown] : failures) {
        ASSERT_TRUE(page().waitForPage(
            "document.querySelector('[data-id=" + id + "] .aurelo-voice-result')", 60s))
            << id;
        EXPECT_EQ(voiceState(id), nlohmann::json::array({"重试语音翻译", false, shown})) << id;
    }
    EXPECT_EQ(page().voiceUploadCount(), 1u);
}

class SelectionTest : public PageScriptTest {};

TEST_F(SelectionTest, MenuAndResultStayInsideANarrowWindow) {
    page().resize(800, 600);
    open("chat.html?scenario=kinds");
    const auto selectAndRightClick = [] {
        // Words at the far right edge of the window, selected, and right-clicked where they stand.
        page().evaluateInPage(
            "(() => { let s = document.getElementById('edge'); if (!s) {"
            " s = document.createElement('span'); s.id = 'edge'; s.textContent = 'Edge words';"
            " s.style.cssText = 'position:fixed;right:1px;top:92px'; document.body.appendChild(s); "
            "}"
            " const r = document.createRange(); r.selectNodeContents(s);"
            " getSelection().removeAllRanges(); getSelection().addRange(r); })()");
        const auto edge = page().evaluateInPage(
            "(() => { const r = document.getElementById('edge').getBoundingClientRect();"
            " return [r.right - 3, r.top + r.height / 2]; })()");
        page().clickAt(edge[0].get<double>(), edge[1].get<double>(), 3);
        return edge;
    };
    const auto edge = selectAndRightClick();
    ASSERT_GT(edge[0].get<double>(), 790);
    const std::string top = std::to_string(std::lround(edge[1].get<double>())) + "px";
    ASSERT_TRUE(page().waitForPage("document.querySelector('.aurelo-context-menu')"));
    EXPECT_EQ(page().evaluateInPage("(() => { const s = document.querySelector("
                                    "'.aurelo-context-menu').style; return [s.left, s.top]; })()"),
              nlohmann::json::array({"590px", top}));

    page().hold(true);
    page().translations["Edge words"] = "<i>Hi</i>";
    ASSERT_TRUE(page().clickElement(".aurelo-context-menu button"));
    ASSERT_TRUE(page().waitForServiceText("Edge words"));
    EXPECT_EQ(page().serviceTexts().back(), (ServiceText{"Edge words", "en", false}));
    EXPECT_EQ(
        page().evaluateInPage("document.querySelector('.aurelo-context-menu button').textContent"),
        "正在翻译…");

    page().release();
    const std::string box = "document.querySelector('.aurelo-context-result')";
    ASSERT_TRUE(page().waitForPage(box));
    EXPECT_EQ(page().evaluateInPage("document.querySelectorAll('.aurelo-context-menu').length"), 0);
    EXPECT_EQ(page().evaluateInPage("[" + box + ".style.left, " + box + ".style.top, " + box +
                                    ".firstChild.textContent, " + box +
                                    ".childNodes[1].nodeValue, " + box +
                                    ".querySelectorAll('i').length]"),
              nlohmann::json::array({"360px", top, "英文翻译", "<i>Hi</i>", 0}));

    // A click outside dismisses it.
    page().clickAt(400, 300);
    EXPECT_TRUE(page().waitForPage(box + " === null"));

    // A failed answer shows the hint heading; its close button dismisses it.
    page().respond = [](const RecordedRequest&) -> std::optional<ScriptedAnswer> {
        return ScriptedAnswer::json(503, {{"error", "x"}});
    };
    selectAndRightClick();
    ASSERT_TRUE(page().waitForPage("document.querySelector('.aurelo-context-menu')"));
    ASSERT_TRUE(page().clickElement(".aurelo-context-menu button"));
    ASSERT_TRUE(runMainLoopUntil([] { return page().service().heldCount() == 1; }));
    page().release();
    ASSERT_TRUE(page().waitForPage(box));
    EXPECT_EQ(page().evaluateInPage("[" + box + ".firstChild.textContent, " + box +
                                    ".childNodes[1].nodeValue]"),
              nlohmann::json::array({"翻译提示", "翻译失败：x"}));
    ASSERT_TRUE(page().clickElement(".aurelo-context-result button"));
    EXPECT_TRUE(page().waitForPage(box + " === null"));
}

TEST_F(SelectionTest, NoSelectionLeavesTheContextMenuToThePage) {
    open("chat.html?scenario=kinds");
    for (const auto* selected : {"", "   "}) {
        const auto notPrevented = page().evaluateInPage(
            "(() => { const p = document.createElement('p'); p.textContent = " + quoted(selected) +
            "; p.style.whiteSpace = 'pre'; document.body.appendChild(p);"
            " const r = document.createRange(); r.selectNodeContents(p);"
            " getSelection().removeAllRanges(); getSelection().addRange(r);"
            " return p.dispatchEvent(new MouseEvent('contextmenu', {bubbles: true,"
            " cancelable: true, clientX: 50, clientY: 50})); })()");
        EXPECT_EQ(notPrevented, true);
        EXPECT_EQ(page().evaluateInPage("document.querySelector('.aurelo-context-menu') === null"),
                  true);
    }
}

class WholePageTest : public PageScriptTest {
protected:
    // The page texts the service was asked for, from the `from`th on.
    static std::set<std::string> askedFrom(std::size_t from) {
        std::set<std::string> texts;
        const auto all = page().serviceTexts();
        for (std::size_t i = from; i < all.size(); ++i) {
            EXPECT_TRUE(all[i].batch);
            EXPECT_EQ(all[i].target, "zh-CN");
            texts.insert(all[i].text);
        }
        return texts;
    }
    static nlohmann::json text(const std::string& id) {
        return page().evaluateInPage("document.getElementById(" + quoted(id) +
                                     ").firstChild.nodeValue");
    }
    // Answers the oldest held batch only, with `translations` or a failure when there are none.
    static void releaseOldest(std::map<std::string, std::string> translations) {
        bool answered = false;
        page().release([&](const RecordedRequest& request) -> std::optional<ScriptedAnswer> {
            if (std::exchange(answered, true))
                return std::nullopt;
            if (translations.empty())
                return ScriptedAnswer::json(503, {{"error", "忙"}});
            nlohmann::json results = nlohmann::json::array();
            for (const auto& source : request.json->at("texts"))
                results.push_back({{"text", translations.contains(source.get<std::string>())
                                                ? translations.at(source.get<std::string>())
                                                : source.get<std::string>()}});
            return ScriptedAnswer::json(200, {{"results", results}});
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
    releaseOldest({});
    ASSERT_TRUE(page().waitForAnswersDelivered("aureloSetPageTranslation", 4));
    EXPECT_EQ(text("title"), "  Welcome to the shop  ");
    EXPECT_EQ(text("mixed"), "Order 42 是 shipped");

    page().runPageCommand(WebPageCommand::Action::TranslateToChinese);
    ASSERT_TRUE(page().waitForServiceTexts(8));
    EXPECT_EQ(askedFrom(4), pageTexts);
    releaseOldest({{"Welcome to the shop", "欢迎光临"}, {"Removable line", "<b>可删除</b>"}});
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
    releaseOldest({{"Welcome to the shop", "旧的"}, {"Removable line", "旧的"}});
    ASSERT_TRUE(page().waitForAnswersDelivered("aureloSetPageTranslation", 12));
    EXPECT_EQ(text("title"), "  Welcome to the shop  ");
    EXPECT_EQ(text("removable"), "Removable line");

    releaseOldest({{"Welcome to the shop", "欢迎"}, {"Removable line", "可删除"}});
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
