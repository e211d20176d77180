// The quick-settings strip: what it shows for the selected account and where its writes go.

#include "support/ShellTestFixture.hpp"

#include "viewmodels/PageStackModel.hpp"

namespace aurelo::test {
namespace {

class QuickSettingsTest : public ShellTestFixture {
protected:
    QuickSettingsModel& quick = model.quickSettings();

    const ChatSession& selected() const {
        return *std::ranges::find(store.sessions(), *store.selectedID(), &ChatSession::id);
    }
};

TEST_F(QuickSettingsTest, ReadsFallBackToGlobalsUntilTheAccountHasItsOwn) {
    addSession("客服一");
    settings.setIncomingLanguage(ChatLanguage::Japanese);
    settings.setOutgoingLanguage(ChatLanguage::German);
    settings.setProvider(TranslationProvider::Claude);
    EXPECT_EQ(quick.summaryLine(), "收到 → 日语   ·   发送 → 德语");
    EXPECT_EQ(quick.provider(), "claude");
    EXPECT_EQ(quick.selectedProviderLabel(), "Claude");
    preferences.setReceiveTranslationEnabled(false);
    preferences.setTranslationFontColor("garbage");
    settings.setAutomaticMessageTranslation(false);
    EXPECT_FALSE(quick.receiveTranslationEnabled());
    EXPECT_FALSE(quick.sendTranslationEnabled());
    EXPECT_EQ(quick.translationFontColor(), kGoldFallbackColor);
    EXPECT_EQ(quick.inputLanguageCode(), "auto");

    quick.setReceiveTranslationEnabled(true);
    quick.setSendTranslationEnabled(true);
    quick.setTranslationFontColor({1.0, 0.5, 0.0});
    quick.setTranslationFontSize(20);
    quick.setInputLanguageCode("ja");
    EXPECT_EQ(selected().receiveTranslationEnabled, true);
    EXPECT_EQ(selected().sendTranslationEnabled, true);
    EXPECT_EQ(selected().translationFontColor, "#FF7F00");
    EXPECT_EQ(selected().translationFontSize, 20);
    EXPECT_EQ(selected().inputLanguageCode, "ja");
    // The globals were not touched, and the account's values are stored.
    EXPECT_FALSE(preferences.receiveTranslationEnabled());
    EXPECT_NE(UserDefaults(defaultsFile).value(SessionStore::kSessionsKey)->dump().find("#FF7F00"),
              std::string::npos);
}

TEST_F(QuickSettingsTest, OutgoingLanguageIsNeverChineseOrAutomatic) {
    auto& session = addSession("客服一");
    session.outgoingLanguageCode = "auto";
    EXPECT_EQ(quick.outgoingLanguageCode(), "en");
    quick.setOutgoingLanguageCode("zh-CN");
    EXPECT_EQ(selected().outgoingLanguageCode, "en");
    quick.setOutgoingLanguageCode("fr");
    quick.setIncomingLanguageCode("ko");
    EXPECT_EQ(quick.summaryLine(), "收到 → 韩语   ·   发送 → 法语");
}

TEST_F(QuickSettingsTest, AStripLineSaysWhenAPageShowsNoMessagesItKnows) {
    const std::string website = addSession("官网客服", "https://shop.example/chat").id;
    const std::string whatsApp = addSession("客服一").id; // selected
    quick.messagesRecognised(website, false);
    quick.messagesRecognised(whatsApp, false); // no chat open: not a markup it cannot read
    EXPECT_EQ(quick.recognitionNote(), "");
    int changes = 0;
    quick.signalChanged().connect([&] { ++changes; });
    store.select(website);
    EXPECT_EQ(quick.recognitionNote(), QuickSettingsModel::kMessagesUnrecognised);
    quick.messagesRecognised(website, true);
    EXPECT_EQ(quick.recognitionNote(), "");
    store.setUnreadCount(3, website);
    EXPECT_EQ(changes, 2) << "an unread count is not the strip's business";
}

TEST_F(QuickSettingsTest, EngineLabelAndChoiceReloadPages) {
    addSession("客服一");
    logIn({{{"provider", "openai"}, {"label", "GPT 翻译"}, {"model", "gpt"}}});
    settings.setProvider(TranslationProvider::OpenAI);
    EXPECT_EQ(quick.selectedProviderLabel(), "GPT 翻译");

    const std::string token = model.reloadToken();
    quick.setProvider("deepl");
    EXPECT_EQ(selected().translationProvider, "deepl");
    EXPECT_NE(model.reloadToken(), token);
    EXPECT_EQ(quick.selectedProviderLabel(), "DeepL"); // not offered: the display name

    quick.setProvider("babelfish");
    EXPECT_EQ(quick.selectedProviderLabel(), "翻译服务");
}

// Only WhatsApp's pages translate before sending; elsewhere the page is told that the text goes
// through the translation box instead.
TEST_F(QuickSettingsTest, OnlyWhatsAppAccountsOfferSendTranslation) {
    const PageStackModel pages{model};
    struct Case {
        const char* name;
        std::optional<std::string> url;
        bool available;
    };
    const Case cases[] = {
        {"WhatsApp by default", std::nullopt, true},
        {"WhatsApp by address", "https://web.whatsapp.com/", true},
        {"Telegram", "https://web.telegram.org/a/", false},
        {"custom website", "https://shop.example.com/chat", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ChatSession session = addSession(c.name, c.url);
        // The account's own choice says on; it still does not run where it cannot.
        session.sendTranslationEnabled = true;
        store.updateSession(session);
        const ChatWebViewInputs inputs = pages.inputs(session);
        EXPECT_EQ(inputs.sendTranslationAvailable, c.available);
        EXPECT_EQ(inputs.automaticMessageTranslation, c.available);
    }
}

} // namespace
} // namespace aurelo::test
