// The account sheets with real widgets under the virtual display: what the user sees, what the
// buttons allow, and that Escape closes a sheet without saving anything.

#include "support/ShellTestFixture.hpp"

#include "views/NewAccountSheet.hpp"
#include "views/SessionSettingsSheet.hpp"
#include "views/WebsiteDialog.hpp"

#include "WidgetTestSupport.hpp"

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

class AccountSheetWidgets : public ShellTestFixture {
protected:
    static void SetUpTestSuite() { widgetTestApplication(); }
    void SetUp() override {
        if (!g_getenv("DISPLAY"))
            GTEST_SKIP() << "needs the virtual display of the test session";
    }

    NewSessionForm& form = model.newSessionForm();
    WebsiteForm& websiteForm = model.websiteForm();
    SessionSettingsForm& settingsForm = model.sessionSettingsForm();
};

TEST_F(AccountSheetWidgets, AddButtonAndFooterFollowTheForm) {
    NewAccountSheet sheet(form, nullptr);
    form.prepare("whatsapp", "");
    ASSERT_TRUE(sheet.get_visible());
    EXPECT_EQ(sheet.get_title(), "新增 WhatsApp");
    EXPECT_FALSE(sheet.addButton().get_sensitive()) << "an empty name";
    EXPECT_EQ(sheet.footerHint().get_text(), "请补全名称或代理信息");

    sheet.nameField().set_text("北美客户");
    EXPECT_EQ(form.name(), "北美客户");
    EXPECT_TRUE(sheet.addButton().get_sensitive());
    EXPECT_EQ(sheet.footerHint().get_text(), "设置已就绪");

    click(sheet.sectionButton(NewSessionForm::SetupSection::Proxy));
    EXPECT_EQ(form.setupSection(), "网络代理");
    EXPECT_FALSE(sheet.proxyHostField().is_drawable()) << "fields hidden while the proxy is off";
    sheet.proxySwitch().set_active(true);
    EXPECT_FALSE(sheet.addButton().get_sensitive());
    EXPECT_EQ(sheet.footerHint().get_text(), "请补全名称或代理信息");
    sheet.proxyHostField().set_text("127.0.0.1");
    sheet.proxyPortField().set_text("1080");
    EXPECT_TRUE(sheet.addButton().get_sensitive());
    // Adding through the sheet, its proxy included, is the end-to-end tests' part.
    sheet.hide();

    // Opened again, the sheet shows the fresh form, not what was typed last time.
    form.prepare("telegram", "Telegram");
    EXPECT_EQ(sheet.nameField().get_text(), "Telegram");
    EXPECT_FALSE(sheet.proxySwitch().get_active());
    EXPECT_EQ(sheet.proxyHostField().get_text(), "");
    sheet.hide();
}

TEST_F(AccountSheetWidgets, EscapeClosesEverySheetWithoutSaving) {
    const std::vector<ChatSession> before = store.sessions();

    NewAccountSheet sheet(form, nullptr);
    form.prepare("whatsapp", "");
    sheet.nameField().set_text("不保存");
    ASSERT_TRUE(runMainLoopUntil([&] { return sheet.is_active(); }, 5s) ||
                runMainLoopUntil([&] { return sheet.get_mapped(); }, 5s));
    ASSERT_TRUE(pressKey("新增 WhatsApp", "Escape"));
    ASSERT_TRUE(runMainLoopUntil([&] { return !model.showingAddSession(); }, 5s));
    EXPECT_FALSE(sheet.get_visible());

    WebsiteDialog website(websiteForm, nullptr);
    model.addPlatform(platformEntries().back());
    ASSERT_TRUE(website.get_visible());
    website.nameField().set_text("站点");
    website.addressField().set_text("example.com");
    ASSERT_TRUE(runMainLoopUntil([&] { return website.get_mapped(); }, 5s));
    ASSERT_TRUE(pressKey("添加自定义网站", "Escape"));
    ASSERT_TRUE(runMainLoopUntil([&] { return !model.showingAddWebsite(); }, 5s));

    SessionSettingsSheet settingsSheet(settingsForm, nullptr);
    settingsForm.begin();
    ASSERT_TRUE(settingsSheet.get_visible());
    settingsSheet.proxyHostField().set_text("10.1.1.1");
    settingsSheet.proxyPortField().set_text("8080");
    ASSERT_TRUE(runMainLoopUntil([&] { return settingsSheet.get_mapped(); }, 5s));
    ASSERT_TRUE(pressKey("账号独立设置", "Escape"));
    ASSERT_TRUE(runMainLoopUntil([&] { return !model.showingSessionSettings(); }, 5s));

    EXPECT_EQ(store.sessions(), before) << "nothing was saved";
}

// Saving what the sheets accept is the end-to-end tests' part; here, that a refusal stays on
// screen with its message.
TEST_F(AccountSheetWidgets, WebsiteDialogShowsTheErrorAndTheSettingsSheetItsRefusal) {
    WebsiteDialog website(websiteForm, nullptr);
    model.addPlatform(platformEntries().back());
    EXPECT_EQ(website.addressField().get_placeholder_text(),
              "网站地址，例如：https://chat.example.com");
    EXPECT_FALSE(website.errorLabel().get_visible());
    website.nameField().set_text("站点");
    website.addressField().set_text("ftp://example.com");
    click(website.addButton());
    EXPECT_TRUE(website.get_visible());
    EXPECT_TRUE(website.errorLabel().get_visible());
    EXPECT_EQ(website.errorLabel().get_text(), "请输入正确的网站地址。");
    website.hide();

    SessionSettingsSheet sheet(settingsForm, nullptr);
    settingsForm.begin();
    sheet.proxyHostField().set_text("10.0.0.1");
    sheet.proxyPortField().set_text("port");
    click(sheet.saveButton());
    EXPECT_TRUE(sheet.get_visible());
    EXPECT_TRUE(sheet.errorLabel().get_visible());
    EXPECT_EQ(sheet.errorLabel().get_text().raw(), SessionSettingsForm::kPortInvalid);
    sheet.hide();
}

} // namespace
} // namespace aurelo::test
