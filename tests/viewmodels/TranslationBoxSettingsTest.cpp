// The translation box's placeholder and its direction picker, over real stores.

#include "support/ShellTestFixture.hpp"

namespace aurelo::test {
namespace {

class TranslationBoxSettingsTest : public ShellTestFixture {
protected:
    TranslationBoxModel& box = model.translationBox();
    const std::string prefix{TranslationBoxModel::kPlaceholderPrefix};
};

TEST_F(TranslationBoxSettingsTest, PlaceholderNamesThePlatformOfTheSelectedAccount) {
    const std::string whatsApp = store.sessions().front().id;
    const std::string telegram = addSession("电报一号", "https://web.telegram.org/a/").id;
    const std::string shop = addSession("独立站", "https://shop.example.com/chat").id;
    int changes = 0;
    box.signalChanged().connect([&](TranslationBoxModel::Field field) {
        changes += field == TranslationBoxModel::Field::Placeholder;
    });
    const std::pair<std::function<void()>, std::string> steps[] = {
        {[&] { store.select(whatsApp); }, prefix + " WhatsApp"},
        {[&] { store.select(telegram); }, prefix + " Telegram"},
        {[&] { store.select(shop); }, prefix + " 独立站"}, // a custom website is its own platform
        {[&] { store.rename(shop, "官网客服"); }, prefix + " 官网客服"},
    };
    for (const auto& [step, expected] : steps) {
        const int before = changes;
        step();
        EXPECT_EQ(box.placeholderText(), expected);
        EXPECT_GT(changes, before) << "the field is told to show the new text: " << expected;
    }
}

TEST_F(TranslationBoxSettingsTest, DirectionIsStoredAloneWithoutTheSettingsSave) {
    // Unsaved edits of the settings page, which the box must neither save nor check.
    settings.setAPIKey(TranslationProvider::DeepL, "unsaved-key");
    settings.setProvider(TranslationProvider::Claude);
    settings.setStatusMessage("");
    int preferredTargetChanges = 0;
    box.signalChanged().connect([&](TranslationBoxModel::Field field) {
        preferredTargetChanges += field == TranslationBoxModel::Field::PreferredTarget;
    });

    box.setPreferredTarget(TargetLanguage::English);

    EXPECT_EQ(settings.preferredTarget(), TargetLanguage::English);
    EXPECT_EQ(preferredTargetChanges, 1) << "the picker follows a change from anywhere";
    EXPECT_EQ(settings.statusMessage(), "") << "the settings page's status line is left alone";
    EXPECT_EQ(secrets.lookup(std::string(SettingsStore::kAPIKeyAccounts[1])).value(), std::nullopt)
        << "no key was written";
    UserDefaults reread(defaultsFile);
    EXPECT_EQ(reread.value("targetLanguage"),
              UserDefaults::Json(std::string(rawValue(TargetLanguage::English))));
    EXPECT_FALSE(reread.value("translationProvider").has_value() &&
                 *reread.value("translationProvider") == UserDefaults::Json("claude"))
        << "the unsaved provider stays unsaved";
    SettingsStore restarted(reread, keychain, translator);
    EXPECT_EQ(restarted.preferredTarget(), TargetLanguage::English);
}

} // namespace
} // namespace aurelo::test
