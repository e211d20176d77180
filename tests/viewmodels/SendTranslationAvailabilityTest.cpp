// Where send translation runs: only WhatsApp's pages translate before sending. The strip and the
// page of any other platform say that its text goes through the translation box instead.

#include "support/ShellTestFixture.hpp"

#include "viewmodels/PageStackModel.hpp"
#include "web/PageScript.hpp"

namespace aurelo::test {
namespace {

class SendTranslationAvailabilityTest : public ShellTestFixture {
protected:
    QuickSettingsModel& quick = model.quickSettings();
    PageStackModel pages{model};
};

TEST_F(SendTranslationAvailabilityTest, OnlyWhatsAppAccountsOfferIt) {
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
        ChatSession session = addSession(c.name, c.url);
        // The account's own choice says on; it still does not run where it cannot.
        session.sendTranslationEnabled = true;
        store.updateSession(session);
        store.select(session.id);
        EXPECT_EQ(quick.sendTranslationAvailable(), c.available) << c.name;
        const ChatWebViewInputs inputs = pages.inputs(session);
        EXPECT_EQ(inputs.sendTranslationAvailable, c.available) << c.name;
        EXPECT_EQ(inputs.automaticMessageTranslation, c.available) << c.name;
        // What the page script is told.
        EXPECT_EQ(fillPageScript("__SEND_AVAILABLE__", inputs), c.available ? "true" : "false")
            << c.name;
    }
    EXPECT_EQ(QuickSettingsModel::kSendTranslationUnavailable, kSendTranslationUnavailableNote);
}

} // namespace
} // namespace aurelo::test
