// A page of a platform whose outgoing text is translated with the translation box: it still
// blocks Chinese, but points to the box instead of a switch that could not help.

#include "HostedPage.hpp"

#include "web/PageScript.hpp"

namespace aurelo::test {
namespace {

class SendUnavailablePageTest : public PageScriptTest {};

TEST_F(SendUnavailablePageTest, GuardLabelAndBlockTooltipPointToTheTranslationBox) {
    const std::string note(kSendTranslationUnavailableNote);
    auto inputs = HostedPage::defaultInputs();
    inputs.automaticMessageTranslation = false;
    inputs.sendTranslationAvailable = false;
    open("chat.html", inputs);
    const std::string guard = "document.querySelector('.aurelo-composer-guard')";
    EXPECT_EQ(page().evaluateInPage(guard + ".textContent"),
              "发送翻译：此平台请用翻译框 · 中文原文禁止发送");
    EXPECT_EQ(page().evaluateInPage(guard + ".title"), note);

    // Chinese is still stopped, and the tooltip says where to translate it.
    ASSERT_TRUE(page().clickElement("#composer"));
    ASSERT_TRUE(page().waitForPage("document.activeElement.id === 'composer'"));
    page().evaluateInPage("document.execCommand('insertText', false, '你好')");
    page().pressKeys("Return");
    ASSERT_TRUE(page().waitForPage("window.enterTimes.length > 0"));
    ASSERT_TRUE(page().waitForPage("document.getElementById('composer').title !== ''"));
    EXPECT_EQ(page().evaluateInPage("document.getElementById('composer').title"),
              "中文原文禁止直接发送：" + note);
    EXPECT_EQ(page().evaluateInPage("window.sent.length"), 0);
    EXPECT_TRUE(page().service().requests().empty());
}

} // namespace
} // namespace aurelo::test
