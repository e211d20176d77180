// "测试代理" in both account sheets with real widgets: the login fields are where the proxy
// fields are, the check runs through a loopback proxy that wants the login, and the line under
// the button says how it went.

#include "support/LoopbackProxy.hpp"
#include "support/LoopbackServer.hpp"
#include "support/ShellTestFixture.hpp"

#include "views/NewAccountSheet.hpp"
#include "views/SessionSettingsSheet.hpp"

#include "WidgetTestSupport.hpp"

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

class ProxyCheckSheet : public ShellTestFixture {
protected:
    static void SetUpTestSuite() { widgetTestApplication(); }
    void SetUp() override {
        if (!g_getenv("DISPLAY"))
            GTEST_SKIP() << "needs the virtual display of the test session";
    }
    LoopbackProxy proxy{LoopbackProxy::Kind::Socks5, 0, LoopbackProxy::Credentials{"agent", "pw"}};
};

TEST_F(ProxyCheckSheet, TheNewAccountSheetChecksTheTypedLoginBeforeSaving) {
    NewSessionForm& form = model.newSessionForm();
    NewAccountSheet sheet(form, nullptr);
    form.prepare("whatsapp", "");
    sheet.nameField().set_text("代理账号");
    sheet.proxySwitch().set_active(true);
    form.setProxyType("socks5");
    sheet.proxyHostField().set_text("127.0.0.1");
    sheet.proxyPortField().set_text(std::to_string(proxy.port()));
    sheet.proxyUsernameField().set_text("agent");
    EXPECT_TRUE(sheet.proxyPasswordField().get_show_peek_icon());

    struct Case {
        const char* password;
        const char* line;
    };
    // With the right login the proxy goes on to the platform, which nothing here serves.
    for (const auto& c : {Case{"wrong", "代理认证失败，请检查代理用户名和密码"},
                          Case{"pw", "代理拒绝了目标地址"}}) {
        sheet.proxyPasswordField().set_text(c.password);
        EXPECT_EQ(form.proxyPassword(), c.password);
        click(sheet.checkProxyButton());
        EXPECT_FALSE(sheet.checkProxyButton().get_sensitive()) << "one check at a time";
        ASSERT_TRUE(
            runMainLoopUntil([&] { return sheet.checkProxyButton().get_sensitive(); }, 15s));
        EXPECT_TRUE(std::string(sheet.proxyCheckLine().get_text()).starts_with(c.line))
            << sheet.proxyCheckLine().get_text();
    }
    EXPECT_EQ(store.sessions().size(), 1u) << "checking saves nothing";
    // The platform's address, by name, through the proxy.
    for (const auto& destination : proxy.destinations())
        EXPECT_EQ(destination.host, "web.whatsapp.com");
    sheet.hide();
}

TEST_F(ProxyCheckSheet, TheSettingsSheetChecksTheAccountsOwnAddress) {
    LoopbackServer site;
    addSession("站点", site.url("/", "site.invalid"));
    SessionSettingsForm& form = model.sessionSettingsForm();
    SessionSettingsSheet sheet(form, nullptr);
    form.begin();
    EXPECT_FALSE(sheet.proxyCheckLine().get_visible());
    click(sheet.checkProxyButton());
    EXPECT_EQ(sheet.proxyCheckLine().get_text(), "请先填写代理主机和 1–65535 之间的端口");

    sheet.proxyHostField().set_text("127.0.0.1");
    sheet.proxyPortField().set_text(std::to_string(closedLoopbackPort()));
    click(sheet.checkProxyButton());
    ASSERT_TRUE(runMainLoopUntil([&] { return sheet.checkProxyButton().get_sensitive(); }, 15s));
    EXPECT_EQ(sheet.proxyCheckLine().get_text(), "无法连接代理");

    form.setProxyType("socks5");
    sheet.proxyPortField().set_text(std::to_string(proxy.port()));
    sheet.proxyUsernameField().set_text("agent");
    sheet.proxyPasswordField().set_text("pw");
    click(sheet.checkProxyButton());
    ASSERT_TRUE(runMainLoopUntil([&] { return sheet.checkProxyButton().get_sensitive(); }, 15s));
    EXPECT_TRUE(std::string(sheet.proxyCheckLine().get_text()).starts_with("代理可用 · 延迟 "))
        << sheet.proxyCheckLine().get_text();
    ASSERT_FALSE(proxy.destinations().empty());
    EXPECT_EQ(proxy.destinations().back().host, "site.invalid");
    sheet.hide();
}

} // namespace
} // namespace aurelo::test
