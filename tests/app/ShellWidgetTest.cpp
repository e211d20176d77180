// A few checks with real widgets under the virtual display: what the user sees and can press.

#include "app/LoginView.hpp"
#include "platform/InMemorySecretStore.hpp"
#include "support/TestDirectory.hpp"
#include "support/FakeManagedService.hpp"
#include "support/MainLoopWait.hpp"
#include "translation/TranslationNetwork.hpp"
#include "views/AccountTabFlowLayout.hpp"
#include "views/CloseDialog.hpp"

#include "WidgetTestSupport.hpp"

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

class ShellWidgets : public ::testing::Test {
protected:
    static void SetUpTestSuite() { widgetTestApplication(); }
};

class LoginViewTest : public ShellWidgets {
protected:
    TestDirectory directory;
    UserDefaults defaults{directory.path() / "defaults.json"};
    InMemorySecretStore secrets;
    KeychainStore keychain{secrets};
    FakeManagedService fake;
    HttpSession session{TranslationNetwork::sessionConfiguration()};
    AccountStore account{defaults, keychain, fake.origin(), session};
    Gtk::Window window;
    LoginView* view = Gtk::make_managed<LoginView>(account);

    void SetUp() override {
        window.set_child(*view);
        window.present();
    }
    ~LoginViewTest() override { window.destroy(); }
};

TEST_F(LoginViewTest, ButtonNeedsBothFieldsAndShowsTheServiceError) {
    EXPECT_FALSE(view->loginButton().get_sensitive());
    view->usernameField().set_text(" ");
    EXPECT_FALSE(view->loginButton().get_sensitive());
    view->passwordField().set_text(" ");
    EXPECT_TRUE(view->loginButton().get_sensitive()) << "spaces count as filled";
    EXPECT_FALSE(view->errorLabel().get_visible());

    auto refusal = ScriptedAnswer::json(401, {{"error", "账号或密码错误"}});
    refusal.delay = 150ms;
    fake.enqueue("/api/auth/login", refusal);
    view->usernameField().set_text("alice");
    view->passwordField().set_text("wrong");
    click(view->loginButton());
    EXPECT_FALSE(view->loginButton().get_sensitive()) << "no second login while one runs";
    ASSERT_TRUE(runMainLoopUntil([&] { return !account.isWorking(); }));
    EXPECT_TRUE(view->errorLabel().get_visible());
    EXPECT_EQ(view->errorLabel().get_text(), "账号或密码错误");
    EXPECT_EQ(view->usernameField().get_text(), "alice") << "the fields stay as typed";
    EXPECT_EQ(view->passwordField().get_text(), "wrong");
    EXPECT_TRUE(view->loginButton().get_sensitive());
    ASSERT_EQ(fake.requests().size(), 1u);
    EXPECT_EQ((*fake.requests()[0].json)["password"], "wrong");
}

TEST_F(ShellWidgets, CloseDialogHidesOnReturn) {
    Gtk::Window parent;
    CloseDialog dialog(parent);
    // The default response is what Return chooses.
    std::optional<int> response;
    dialog.signal_response().connect([&](int r) { response = r; });
    dialog.present();
    gtk_widget_activate_default(GTK_WIDGET(dialog.gobj()));
    ASSERT_TRUE(runMainLoopUntil([&] { return response.has_value(); }, 3s));
    EXPECT_EQ(*response, CloseDialog::Hide);
    dialog.hide();
    parent.destroy();
}

TEST_F(ShellWidgets, TabBarWrapsRealTabs) {
    Gtk::Window window;
    Gtk::Box bar;
    bar.set_layout_manager(AccountTabFlowLayout::create(7));
    std::vector<std::unique_ptr<Gtk::Box>> tabs;
    for (int i = 0; i < 3; ++i) {
        tabs.push_back(std::make_unique<Gtk::Box>());
        tabs.back()->set_size_request(100, 30);
        bar.append(*tabs.back());
    }
    int minimum = 0, natural = 0, ignored = 0;
    bar.measure(Gtk::Orientation::VERTICAL, 214, minimum, natural, ignored, ignored);
    EXPECT_EQ(natural, 2 * 30 + 7);
    bar.measure(Gtk::Orientation::VERTICAL, 400, minimum, natural, ignored, ignored);
    EXPECT_EQ(natural, 30);

    window.set_child(bar);
    window.set_default_size(214, 200);
    window.present();
    ASSERT_TRUE(runMainLoopUntil([&] { return tabs[2]->get_allocated_height() > 0; }, 5s));
    EXPECT_EQ(tabs[1]->get_allocation().get_x(), 107);
    EXPECT_EQ(tabs[2]->get_allocation().get_y(), 37);
    window.destroy();
}

} // namespace
} // namespace aurelo::test
