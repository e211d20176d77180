// The settings page's rules over real stores, a fake managed service and a scripted
// notification centre, without a display.

#include "support/ShellTestFixture.hpp"

#include "support/FakeNotificationCenter.hpp"
#include "viewmodels/SettingsViewModel.hpp"

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;
using Status = NotificationAuthorizationStatus;

nlohmann::json engines(std::initializer_list<std::pair<const char*, const char*>> list) {
    auto array = nlohmann::json::array();
    for (const auto& [provider, label] : list)
        array.push_back({{"provider", provider}, {"label", label}});
    return {{"engines", array}};
}

class SettingsViewModelTest : public ShellTestFixture {
protected:
    FakeNotificationCenter notifications;
    std::unique_ptr<SettingsViewModel> page =
        std::make_unique<SettingsViewModel>(settings, account, appLock, notifications);
    std::vector<std::string> messages;
    sigc::connection messageConnection =
        settings.signalChanged().connect([this](SettingsStore::Field field) {
            if (field == SettingsStore::Field::StatusMessage)
                messages.push_back(settings.statusMessage());
        });

    ~SettingsViewModelTest() override { messageConnection.disconnect(); }

    // A fresh page, started on the engines the service offers now.
    void openPage(const nlohmann::json& offered = engines({})) {
        fake.setFallback("/api/engines", ScriptedAnswer::json(200, offered));
        messages.clear();
        page = std::make_unique<SettingsViewModel>(settings, account, appLock, notifications);
        bool done = false;
        page->start([&] { done = true; });
        ASSERT_TRUE(runMainLoopUntil([&] { return done; }));
        runMainLoopFor(20ms); // the provider-change reaction follows on the next turn
    }
    std::optional<std::string> storedProvider() const {
        return UserDefaults(defaultsFile).string("translationProvider");
    }
};

TEST_F(SettingsViewModelTest, OpeningThePageMovesOnlyAwayFromAProviderNoLongerOffered) {
    logIn();
    openPage(engines({{"deepl", "DeepL"}, {"google", "谷歌翻译"}}));
    EXPECT_EQ(settings.provider(), TranslationProvider::Google);
    EXPECT_EQ(storedProvider(), std::nullopt) << "nothing was written";
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(page->selectedProviderIndex(), 1u);

    openPage(engines({{"deepl", "DeepL"}, {"openai", "OpenAI"}}));
    EXPECT_EQ(settings.provider(), TranslationProvider::DeepL);
    EXPECT_EQ(storedProvider(), "deepl");
    EXPECT_EQ(messages,
              (std::vector<std::string>{"已自动切换到 DeepL", "请保存并验证当前翻译服务"}));
    EXPECT_EQ(settings.connectionStatus(), ProviderConnectionStatus::unverified())
        << "a login token is held";

    // Unknown providers are never listed nor chosen.
    openPage(engines({{"baidu", "百度翻译"}, {"openai", "OpenAI GPT"}, {"openai", "again"}}));
    EXPECT_EQ(page->providerChoices(), (std::vector<SettingsViewModel::OfferedEngine>{
                                           {TranslationProvider::OpenAI, "OpenAI GPT"}}))
        << "listed by the engine's label, each provider once";
    EXPECT_EQ(settings.provider(), TranslationProvider::OpenAI) << "the first known one";
    EXPECT_EQ(messages.front(), "已自动切换到 OpenAI GPT") << "by the service's name for it";
    openPage(engines({{"baidu", "百度翻译"}}));
    EXPECT_TRUE(page->providerChoices().empty());
    EXPECT_EQ(page->selectedProviderIndex(), std::nullopt);
    EXPECT_EQ(settings.provider(), TranslationProvider::OpenAI);
    EXPECT_TRUE(messages.empty());
}

TEST_F(SettingsViewModelTest, EveryProviderChangeWhileThePageLivesResetsTheStatus) {
    // Not logged in: no token, so the provider is not configured.
    settings.setStatusMessage("连接验证成功");
    page->chooseProvider(TranslationProvider::Claude);
    EXPECT_EQ(storedProvider(), "claude") << "the picker's choice survives a restart";
    ASSERT_TRUE(
        runMainLoopUntil([&] { return settings.statusMessage() == "请保存并验证当前翻译服务"; }));
    EXPECT_EQ(settings.connectionStatus(), ProviderConnectionStatus::notConfigured());

    // The application's own engine watcher changes it too, only away from a provider no longer
    // offered and only to the first offered one when we know it; the page has the last word.
    EXPECT_FALSE(SettingsViewModel::applyEngineListChange({}, settings));
    EXPECT_FALSE(SettingsViewModel::applyEngineListChange({"google", "claude"}, settings));
    EXPECT_FALSE(SettingsViewModel::applyEngineListChange({"apertium", "deepl"}, settings));
    EXPECT_EQ(settings.provider(), TranslationProvider::Claude);
    EXPECT_TRUE(SettingsViewModel::applyEngineListChange({"gemini"}, settings));
    EXPECT_EQ(defaults->string("translationProvider"), "gemini");
    EXPECT_EQ(settings.statusMessage(), "已自动切换到管理员启用的 Google Gemini");
    ASSERT_TRUE(
        runMainLoopUntil([&] { return settings.statusMessage() == "请保存并验证当前翻译服务"; }));

    // Once the page is gone, a change is the watcher's alone.
    page.reset();
    SettingsViewModel::applyEngineListChange({"deepl"}, settings);
    runMainLoopFor(30ms);
    EXPECT_EQ(settings.statusMessage(), "已自动切换到管理员启用的 DeepL");
    EXPECT_EQ(settings.connectionStatus(), ProviderConnectionStatus::unverified());
}

TEST_F(SettingsViewModelTest, ChoicesOfThePageAreStoredAsTheyAreMade) {
    page->chooseInputLanguage(ChatLanguage::Japanese);
    page->chooseOutgoingLanguage(ChatLanguage::Korean);
    page->chooseIncomingLanguage(ChatLanguage::English);
    page->choosePreferredTarget(TargetLanguage::Chinese);
    page->chooseAutomaticMessageTranslation(false);
    UserDefaults reread(defaultsFile);
    EXPECT_EQ(reread.string("chatInputLanguage"), "ja");
    EXPECT_EQ(reread.string("chatOutgoingLanguage"), "ko");
    EXPECT_EQ(reread.string("chatIncomingLanguage"), "en");
    EXPECT_EQ(reread.string("targetLanguage"), "chinese");
    EXPECT_EQ(reread.boolean("automaticMessageTranslation"), false);
}

TEST_F(SettingsViewModelTest, NotificationStatusIsBeingCheckedUntilTheFirstAnswer) {
    EXPECT_EQ(page->notificationStatus(), "正在检查");
    EXPECT_FALSE(page->notificationAuthorized());
}

// Not decided yet, the button asks and shows the answer; otherwise it only leads to the settings.
TEST_F(SettingsViewModelTest, TheNotificationButtonAsksOnceOrOpensTheSettings) {
    struct Case {
        Status before;
        std::optional<Status> answer;
        const char* buttonBefore;
        int requests, settingsOpened;
        const char* shown;
        const char* buttonAfter;
    };
    const Case cases[] = {
        {Status::NotDetermined, Status::Authorized, "开启通知", 1, 0, "已开启", "打开系统通知设置"},
        {Status::NotDetermined, Status::Denied, "开启通知", 1, 0, "已关闭", "开启通知"},
        {Status::Denied, std::nullopt, "开启通知", 0, 1, "已关闭", "开启通知"},
        {Status::Authorized, std::nullopt, "打开系统通知设置", 0, 1, "已开启", "打开系统通知设置"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown + std::string(" ") + std::to_string(c.requests));
        notifications.requests = notifications.settingsOpened = 0;
        notifications.status = c.before;
        notifications.statusAfterRequest = c.answer;
        openPage();
        EXPECT_EQ(page->notificationButtonTitle(), c.buttonBefore);
        bool done = false;
        page->requestNotificationPermission([&] { done = true; });
        ASSERT_TRUE(runMainLoopUntil([&] { return done; }));
        EXPECT_EQ(notifications.requests, c.requests);
        EXPECT_EQ(notifications.settingsOpened, c.settingsOpened);
        EXPECT_EQ(page->notificationStatus(), c.shown);
        EXPECT_EQ(page->notificationAuthorized(), c.shown == std::string("已开启"));
        EXPECT_EQ(page->notificationButtonTitle(), c.buttonAfter);
        EXPECT_EQ(settings.statusMessage(), "") << "a refusal is not an error";
    }
}

TEST_F(SettingsViewModelTest, ALateAnswerForAClosedPageIsDropped) {
    page->refreshNotificationStatus();
    page->requestNotificationPermission();
    page.reset();
    runMainLoopFor(30ms); // would touch the destroyed page if the answers were not guarded
    EXPECT_EQ(notifications.reads, 2);
}

TEST_F(SettingsViewModelTest, StartBindsTheLockToTheLoggedInAccount) {
    logIn();
    appLock.configure("someone-else");
    openPage();
    EXPECT_EQ(appLock.keychainAccount(), KeychainStore::appLockAccount("alice"));
}

} // namespace
} // namespace aurelo::test
