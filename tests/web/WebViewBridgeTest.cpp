// The host with a real page: injection into our private world, the bridge end to end, the
// switches and requests of later updates.

#include "WebViewTestSupport.hpp"

namespace aurelo::test {
namespace {

using WebViewBridgeTest = WebViewTest;

TEST_F(WebViewBridgeTest, ScriptIsInjectedIntoOurWorldOnlyWithItsSettings) {
    auto in = inputs(kSessionA);
    in.translationFontColor = "#fff\" onload=\"x";
    in.translationFontSize = 15.9;
    in.automaticMessageTranslation = true;
    in.incomingLanguage = ChatLanguage::Japanese;
    auto& host = open(in);
    ASSERT_TRUE(waitForLoad(host));
    EXPECT_EQ(evaluate(host, "[aureloSettings.color, aureloSettings.fontSize, aureloSettings.send, "
                             "aureloSettings.incoming, aureloSettings.own]"),
              R"(["#fff\" onload=\"x",15,true,"ja","zh-CN"])");
    // The page's own world sees neither our functions nor the bridge handler.
    EXPECT_EQ(evaluate(host, "[typeof window.aureloSetTranslation, typeof window.aureloSettings, "
                             "typeof window.webkit?.messageHandlers?.translationBridge]",
                       nullptr),
              R"(["undefined","undefined","undefined"])");
    // The DOM is shared, which is how our script reaches the chat.
    EXPECT_EQ(evaluate(host, "document.documentElement.dataset.aureloInjected", nullptr),
              R"("yes")");
}

} // namespace
} // namespace aurelo::test
