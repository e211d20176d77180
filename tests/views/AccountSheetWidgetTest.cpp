// The account sheets and "测试代理" with real widgets. Saving what the sheets accept is the
// end-to-end tests' part.

#include "models/AccountName.hpp"
#include "support/MicrosocksProxy.hpp"
#include "views/NewAccountSheet.hpp"
#include "views/SessionSettingsSheet.hpp"
#include "views/WebsiteDialog.hpp"

#include "WidgetTestSupport.hpp"

namespace aurelo::test {
namespace {

class AccountSheetWidgets : public WidgetTest {
protected:
    template <typename Sheet> static void waitForCheck(Sheet& sheet) {
        EXPECT_FALSE(sheet.proxyFields().checkButton().get_sensitive()) << "one check at a time";
        ASSERT_TRUE(
            runMainLoopUntil([&] { return sheet.proxyFields().checkButton().get_sensitive(); }, 15s));
    }

    NewSessionForm& form = model.newSessionForm();
    WebsiteForm& websiteForm = model.websiteForm();
    SessionSettingsForm& settingsForm = model.sessionSettingsForm();
    MicrosocksProxy proxy{{.hostNames = {"site.invalid"}, .username = "agent", .password = "pw"}};
};

TEST_F(AccountSheetWidgets, TheNewAccountSheetFollowsItsFormAndOpensFresh) {
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
    EXPECT_FALSE(sheet.proxyFields().hostField().is_drawable()) << "fields hidden while the proxy is off";
    sheet.proxySwitch().set_active(true);
    EXPECT_TRUE(sheet.proxyFields().hostField().is_drawable());
    sheet.proxyFields().hostField().set_text("127.0.0.1");
    sheet.hide();

    // Opened again, the sheet shows the fresh form, not what was typed last time.
    form.prepare("telegram", "Telegram");
    EXPECT_EQ(sheet.nameField().get_text(), "Telegram");
    EXPECT_FALSE(sheet.proxySwitch().get_active());
    EXPECT_EQ(sheet.proxyFields().hostField().get_text(), "");
    sheet.hide();
}

TEST_F(AccountSheetWidgets, EscapeClosesEverySheetWithoutSaving) {
    const std::vector<ChatSession> before = store.sessions();

    NewAccountSheet sheet(form, nullptr);
    form.prepare("whatsapp", "");
    sheet.nameField().set_text("不保存");
    ASSERT_TRUE(runMainLoopUntil([&] { return sheet.get_mapped(); }, 5s));
    ASSERT_TRUE(pressKeys("新增 WhatsApp", "Escape"));
    ASSERT_TRUE(runMainLoopUntil([&] { return !model.showingAddSession(); }, 5s));
    EXPECT_FALSE(sheet.get_visible());

    WebsiteDialog website(websiteForm, nullptr);
    model.addPlatform(platformEntries().back());
    website.nameField().set_text("站点");
    website.addressField().set_text("example.com");
    ASSERT_TRUE(runMainLoopUntil([&] { return website.get_mapped(); }, 5s));
    ASSERT_TRUE(pressKeys("添加自定义网站", "Escape"));
    ASSERT_TRUE(runMainLoopUntil([&] { return !model.showingAddWebsite(); }, 5s));

    SessionSettingsSheet settingsSheet(settingsForm, nullptr);
    settingsForm.begin();
    settingsSheet.proxyFields().hostField().set_text("10.1.1.1");
    settingsSheet.proxyFields().portField().set_text("8080");
    ASSERT_TRUE(runMainLoopUntil([&] { return settingsSheet.get_mapped(); }, 5s));
    ASSERT_TRUE(pressKeys("账号独立设置", "Escape"));
    ASSERT_TRUE(runMainLoopUntil([&] { return !model.showingSessionSettings(); }, 5s));

    EXPECT_EQ(store.sessions(), before) << "nothing was saved";
}

TEST_F(AccountSheetWidgets, ARefusalStaysOnScreenWithItsMessage) {
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
    sheet.proxyFields().hostField().set_text("10.0.0.1");
    sheet.proxyFields().portField().set_text("port");
    click(sheet.saveButton());
    EXPECT_TRUE(sheet.get_visible());
    EXPECT_TRUE(sheet.errorLabel().get_visible());
    EXPECT_EQ(sheet.errorLabel().get_text().raw(), SessionSettingsForm::kPortInvalid);
    sheet.hide();
}

// 添加自定义网站 took a name of 84 characters; the new-account sheet counted to 30.
TEST_F(AccountSheetWidgets, TheWebsiteDialogHoldsItsNameToTheAccountNameRule) {
    WebsiteDialog website(websiteForm, nullptr);
    model.addPlatform(platformEntries().back());
    EXPECT_FALSE(website.nameErrorLine().get_visible()) << "an empty field is no mistake yet";
    const std::size_t before = store.sessions().size();
    website.addressField().set_text("chat.example.com");
    website.nameField().set_text(std::string(31, 'x'));
    click(website.addButton());
    EXPECT_TRUE(website.get_visible());
    EXPECT_TRUE(website.nameErrorLine().get_visible());
    EXPECT_EQ(website.nameErrorLine().get_text().raw(), AccountName::kTooLong);
    EXPECT_EQ(store.sessions().size(), before);

    website.nameField().set_text(std::string(30, 'x'));
    EXPECT_FALSE(website.nameErrorLine().get_visible());
    click(website.addButton());
    EXPECT_FALSE(website.get_visible());
    EXPECT_EQ(store.sessions().back().name, std::string(30, 'x'));
}

// The engine picker of the account sheets names the engines as the service does ("Google
// Translate" there was the engine the strip called "离线演示引擎 (Apertium)"), and follows a new
// list.
TEST_F(AccountSheetWidgets, TheEnginePickerUsesTheServicesNames) {
    settings.setProvider(TranslationProvider::Google);
    SessionSettingsSheet sheet(settingsForm, nullptr);
    settingsForm.begin();
    logIn({{{"provider", "google"}, {"label", "离线演示引擎 (Apertium)"}}});
    auto* item = dynamic_cast<Gtk::StringObject*>(sheet.providerPicker().get_selected_item().get());
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->get_string(), "离线演示引擎 (Apertium)");
    sheet.hide();
}

// The form splits the line while the host entry is still delivering the paste.
TEST_F(AccountSheetWidgets, APastedProxyLineFillsTheOtherFields) {
    SessionSettingsSheet sheet(settingsForm, nullptr);
    settingsForm.begin();
    sheet.proxyFields().hostField().get_clipboard()->set_text("203.0.113.7:1080:alice:s3cret");
    gtk_widget_activate_action(
        GTK_WIDGET(gtk_editable_get_delegate(GTK_EDITABLE(sheet.proxyFields().hostField().gobj()))),
        "clipboard.paste", nullptr);
    ASSERT_TRUE(runMainLoopUntil([&] { return sheet.proxyFields().portField().get_text() == "1080"; }, 5s));
    EXPECT_EQ(sheet.proxyFields().hostField().get_text(), "203.0.113.7");
    EXPECT_EQ(sheet.proxyFields().passwordField().get_text(), "s3cret");
    EXPECT_FALSE(sheet.proxyFields().hostErrorLine().get_visible());
    sheet.proxyFields().hostField().set_text("exa mple.com");
    EXPECT_TRUE(sheet.proxyFields().hostErrorLine().get_visible());
    EXPECT_EQ(sheet.proxyFields().hostErrorLine().get_text().raw(), kInvalidProxyHost);
    sheet.hide();
}

TEST_F(AccountSheetWidgets, TheNewAccountSheetChecksTheTypedLoginBeforeSaving) {
    NewAccountSheet sheet(form, nullptr);
    form.prepare("whatsapp", "");
    sheet.nameField().set_text("代理账号");
    sheet.proxySwitch().set_active(true);
    form.setProxyType("socks5");
    sheet.proxyFields().hostField().set_text("127.0.0.1");
    sheet.proxyFields().portField().set_text(std::to_string(proxy.port()));
    sheet.proxyFields().usernameField().set_text("agent");
    EXPECT_TRUE(sheet.proxyFields().passwordField().get_show_peek_icon());

    struct Case {
        const char* password;
        const char* line;
    };
    // With the right login the proxy goes on to the platform, which nothing here serves.
    for (const auto& c : {Case{"wrong", "代理认证失败，请检查代理用户名和密码"},
                          Case{"pw", "代理拒绝了目标地址"}}) {
        sheet.proxyFields().passwordField().set_text(c.password);
        EXPECT_EQ(form.proxyPassword(), c.password);
        click(sheet.proxyFields().checkButton());
        waitForCheck(sheet);
        EXPECT_TRUE(std::string(sheet.proxyFields().checkLine().get_text()).starts_with(c.line))
            << sheet.proxyFields().checkLine().get_text();
    }
    EXPECT_EQ(store.sessions().size(), 1u) << "checking saves nothing";
    sheet.hide();
}

TEST_F(AccountSheetWidgets, TheSettingsSheetChecksTheAccountsOwnAddress) {
    LoopbackServer site;
    addSession("站点", site.url("/", "site.invalid"));
    SessionSettingsSheet sheet(settingsForm, nullptr);
    settingsForm.begin();
    EXPECT_FALSE(sheet.proxyFields().checkLine().get_visible());
    click(sheet.proxyFields().checkButton());
    EXPECT_EQ(sheet.proxyFields().checkLine().get_text(), "请先填写代理主机和 1–65535 之间的端口");

    settingsForm.setProxyType("socks5");
    sheet.proxyFields().hostField().set_text("127.0.0.1");
    sheet.proxyFields().portField().set_text(std::to_string(proxy.port()));
    sheet.proxyFields().usernameField().set_text("agent");
    sheet.proxyFields().passwordField().set_text("pw");
    click(sheet.proxyFields().checkButton());
    waitForCheck(sheet);
    EXPECT_TRUE(std::string(sheet.proxyFields().checkLine().get_text()).starts_with("代理可用 · 延迟 "))
        << sheet.proxyFields().checkLine().get_text();
    ASSERT_FALSE(proxy.destinations().empty());
    EXPECT_TRUE(proxy.destinations().back().starts_with("site.invalid:"));
    sheet.hide();
}

} // namespace
} // namespace aurelo::test
