#include "PageScriptTest.hpp"

#include <glib.h>

#include <cmath>

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
    EXPECT_TRUE(page().messagesOfKind("message").empty())
        << "the button's own label is not a message to translate";

    clickVoice("voice-small");
    ASSERT_TRUE(page().waitForMessages("voice", 1));
    const auto request = page().messagesOfKind("voice")[0];
    const std::string bytes("OggS\0\x01\x02\xff voice", 14);
    char* base64 = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    EXPECT_EQ(request["data"], base64);
    g_free(base64);
    EXPECT_EQ(request["mime"], "audio/webm");
    EXPECT_EQ(request["source"], "zh-CN");
    EXPECT_EQ(request["target"], "zh-CN");
    EXPECT_EQ(voiceState("voice-small"), nlohmann::json::array({"正在转写和翻译…", true, nullptr}));

    page().call("aureloSetVoiceTranslation", {request["id"], "hello <b>", "你好", false});
    EXPECT_EQ(voiceState("voice-small"),
              nlohmann::json::array({"重新识别", false, "语音原文：hello <b>\n译文：你好"}));
    page().call("aureloSetVoiceTranslation", {request["id"], "", "busy", true});
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
    ASSERT_TRUE(page().waitForMessages("voice", 1, 20s));
    const auto data = page().messagesOfKind("voice")[0]["data"].get<std::string>();
    EXPECT_EQ(data.size(), (kVoiceLimit + 2) / 3 * 4) << "exactly 18 MiB is accepted";
    EXPECT_FALSE(data.starts_with("data:"));

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
            "document.querySelector('[data-id=" + id + "] .aurelo-voice-result')", 20s))
            << id;
        EXPECT_EQ(voiceState(id), nlohmann::json::array({"重试语音翻译", false, shown})) << id;
    }
    EXPECT_EQ(page().messagesOfKind("voice").size(), 1u);
}

class SelectionTest : public PageScriptTest {};

TEST_F(SelectionTest, MenuAndResultStayInsideANarrowWindow) {
    page().resize(800, 600);
    open("chat.html?scenario=kinds");
    // Words at the far right edge of the window, selected, and right-clicked where they stand.
    page().evaluateInPage(
        "(() => { const s = document.createElement('span'); s.id = 'edge';"
        " s.textContent = 'Edge words'; s.style.cssText = 'position:fixed;right:1px;top:92px';"
        " document.body.appendChild(s); const r = document.createRange(); r.selectNodeContents(s);"
        " getSelection().removeAllRanges(); getSelection().addRange(r); })()");
    const auto edge = page().evaluateInPage(
        "(() => { const r = document.getElementById('edge').getBoundingClientRect();"
        " return [r.right - 3, r.top + r.height / 2]; })()");
    ASSERT_GT(edge[0].get<double>(), 790);
    page().clickAt(edge[0].get<double>(), edge[1].get<double>(), 3);
    ASSERT_TRUE(page().waitForPage("document.querySelector('.aurelo-context-menu')"));
    EXPECT_EQ(page().evaluateInPage("(() => { const s = document.querySelector("
                                    "'.aurelo-context-menu').style; return [s.left, s.top]; })()"),
              nlohmann::json::array(
                  {"590px", std::to_string(std::lround(edge[1].get<double>())) + "px"}));

    ASSERT_TRUE(page().clickElement(".aurelo-context-menu button"));
    ASSERT_TRUE(page().waitForMessages("context", 1));
    const auto request = page().messagesOfKind("context")[0];
    EXPECT_EQ(request["text"], "Edge words");
    EXPECT_EQ(request["target"], "en");
    EXPECT_EQ(
        page().evaluateInPage("document.querySelector('.aurelo-context-menu button').textContent"),
        "正在翻译…");

    page().call("aureloShowContextTranslation", {request["id"], "<i>Hi</i>", false});
    const std::string box = "document.querySelector('.aurelo-context-result')";
    EXPECT_EQ(page().evaluateInPage("document.querySelectorAll('.aurelo-context-menu').length"), 0);
    EXPECT_EQ(
        page().evaluateInPage("[" + box + ".style.left, " + box + ".style.top, " + box +
                              ".firstChild.textContent, " + box + ".childNodes[1].nodeValue, " +
                              box + ".querySelectorAll('i').length]"),
        nlohmann::json::array({"360px", std::to_string(std::lround(edge[1].get<double>())) + "px",
                               "英文翻译", "<i>Hi</i>", 0}));

    // A click outside dismisses it; a failed answer shows the hint heading.
    page().clickAt(400, 300);
    EXPECT_TRUE(page().waitForPage(box + " === null"));
    page().call("aureloShowContextTranslation", {request["id"], "翻译失败：x", true});
    EXPECT_EQ(page().evaluateInPage(box + ".firstChild.textContent"), "翻译提示");
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
    static std::map<std::string, std::string> idsByText() {
        std::map<std::string, std::string> ids;
        for (const auto& message : page().messagesOfKind("page"))
            ids[message["text"].get<std::string>()] = message["id"].get<std::string>();
        return ids;
    }
    static nlohmann::json text(const std::string& id) {
        return page().evaluateInPage("document.getElementById(" + quoted(id) +
                                     ").firstChild.nodeValue");
    }
};

TEST_F(WholePageTest, VisibleEnglishTextIsTranslatedAndRestored) {
    open("page.html");
    page().call("aureloTranslatePage", nlohmann::json::array());
    ASSERT_TRUE(page().waitForMessages("page", 4));
    runMainLoopFor(100ms);
    std::set<std::string> texts;
    for (const auto& [text, id] : idsByText())
        texts.insert(text);
    EXPECT_EQ(texts, (std::set<std::string>{"Welcome to the shop", "Span inside pre is translated",
                                            "Order 42 是 shipped", "Removable line"}));
    EXPECT_EQ(page().messagesOfKind("page")[0]["target"], "zh-CN");

    auto first = idsByText();
    page().call("aureloSetPageTranslation", {first["Welcome to the shop"], "欢迎光临", false});
    page().call("aureloSetPageTranslation", {first["Removable line"], "<b>可删除</b>", false});
    page().call("aureloSetPageTranslation", {first["Order 42 是 shipped"], "失败", true});
    EXPECT_EQ(text("title"), "欢迎光临");
    EXPECT_EQ(text("removable"), "<b>可删除</b>");
    EXPECT_EQ(text("mixed"), "Order 42 是 shipped");

    // Translating again restores the first generation before asking anew; its late answers
    // change nothing.
    page().clearMessages();
    page().call("aureloTranslatePage", nlohmann::json::array());
    ASSERT_TRUE(page().waitForMessages("page", 4));
    EXPECT_EQ(text("title"), "  Welcome to the shop  ");
    EXPECT_EQ(idsByText().count("欢迎光临"), 0u);
    page().call("aureloSetPageTranslation", {first["Welcome to the shop"], "旧的", false});
    EXPECT_EQ(text("title"), "  Welcome to the shop  ");

    const auto second = idsByText();
    page().call("aureloSetPageTranslation", {second.at("Welcome to the shop"), "欢迎", false});
    page().call("aureloSetPageTranslation", {second.at("Removable line"), "可删除", false});
    page().evaluateInPage("document.getElementById('removable').remove()");
    page().call("aureloRestorePage", nlohmann::json::array());
    EXPECT_EQ(text("title"), "  Welcome to the shop  ");
    EXPECT_EQ(page().evaluate("window.__aureloPageNodes.size"), 0);
}

TEST_F(WholePageTest, OurOwnLabelsAreNotTranslated) {
    open("chat.html");
    page().call("aureloTranslatePage", nlohmann::json::array());
    runMainLoopFor(200ms);
    for (const auto& message : page().messagesOfKind("page"))
        EXPECT_EQ(message["text"].get<std::string>().find("发送翻译"), std::string::npos);
}

} // namespace
} // namespace aurelo::test
