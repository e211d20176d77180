// The main window's sheets and dialogs with real widgets: each fits a 1366 × 768 screen with its
// buttons in sight, and their message lines say what they must in the right style.

#include "models/AccountName.hpp"
#include "viewmodels/WindowGeometry.hpp"
#include "views/CloseDialog.hpp"
#include "views/NewAccountSheet.hpp"
#include "views/SessionTab.hpp"

#include "WidgetTestSupport.hpp"

namespace aurelo::test {
namespace {

// A name of 84 wide characters, as one was typed (and stored) before names had a limit.
std::string longName() {
    std::string name;
    for (int i = 0; i < 21; ++i)
        name += "王磊客户";
    return name;
}

class Sheets : public MainViewTest {
protected:
    // The main view over one account, whose page is a plain loopback page.
    std::string openWithOneAccount() {
        site.setFallback("/chat", ScriptedAnswer::text(200, "<title>chat</title>", "text/html"));
        const std::string first = firstAccountAt("/chat");
        openMainView();
        return first;
    }
    // The visible window with this title (a message dialog's is its message), once it is on
    // screen and laid out.
    Gtk::Window* shown(const std::string& title) {
        Gtk::Window* sheet = nullptr;
        runMainLoopUntil(
            [&] {
                for (auto* candidate : Gtk::Window::list_toplevels())
                    if (candidate != window.get() && candidate->get_visible() &&
                        (candidate->get_title().raw() == title || labelShowing(*candidate, title)))
                        sheet = candidate;
                return sheet && sheet->get_mapped() && sheet->get_height() > 0;
            },
            5s);
        runMainLoopFor(200ms);
        return sheet;
    }
};

// Opened at the screen less its panel and title bar, the window leaves a sheet 690 px: a sheet
// taller than that had its buttons below the bottom edge ("账号独立设置" was 970 px high).
TEST_F(Sheets, EverySheetFitsASmallScreenWithItsButtonsInSight) {
    using Section = NewSessionForm::SetupSection;
    const std::string first = openWithOneAccount();
    // Stored before there was a limit, so the delete confirmation has a long name to show.
    ChatSession longNamed = ChatSession::make(longName());
    store.addSession(longNamed);
    store.select(first);
    CloseDialog closeDialog(*window);

    // The new-account sheet at one section, with everything a line can say under its fields.
    const auto newAccount = [&](Section section) {
        return [&, section] {
            model.addPlatform(platformEntries().front());
            auto* sheet = toplevelTitled<NewAccountSheet>("新增 WhatsApp");
            ASSERT_NE(sheet, nullptr);
            click(sheet->sectionButton(section));
            sheet->nameField().set_text(longName());
            sheet->proxySwitch().set_active(true);
            sheet->proxyFields().hostField().set_text("no host here");
            model.newSessionForm().checkProxy();
        };
    };
    struct Screen {
        const char* name;
        std::function<void()> open;
        std::string title; // empty: the delete confirmation's, which names the account
        std::vector<std::string> buttons;
    };
    const Screen screens[] = {
        {"new-account sheet, basics",
         newAccount(Section::Basic),
         "新增 WhatsApp",
         {"取消", "添加账号"}},
        {"new-account sheet, translation",
         newAccount(Section::Translation),
         "新增 WhatsApp",
         {"取消", "添加账号"}},
        {"new-account sheet, proxy",
         newAccount(Section::Proxy),
         "新增 WhatsApp",
         {"取消", "添加账号"}},
        {"new-account sheet, appearance",
         newAccount(Section::Appearance),
         "新增 WhatsApp",
         {"取消", "添加账号"}},
        {"website dialog",
         [&] {
             model.addPlatform(platformEntries().back());
             model.websiteForm().setName(longName());
             model.websiteForm().setAddress("not an address");
         },
         "添加自定义网站",
         {"取消", "添加"}},
        {"account settings sheet",
         [&] {
             findWidget<SessionTab>(*view)->activate_action("tab.session-settings");
             auto& form = model.sessionSettingsForm();
             form.setProxyHost("no host here");
             form.setProxyPort("0");
             form.checkProxy();
             form.save();
         },
         "账号独立设置",
         {"取消", "保存并重新载入"}},
        {"rename dialog",
         [&] {
             model.beginRename(first);
             if (auto* entry = findWidget<Gtk::Entry>(*toplevelTitled(model.renameTitle())))
                 entry->set_text(longName());
         },
         "修改 WhatsApp 1 名称",
         {"取消", "保存"}},
        {"delete confirmation",
         [&] { model.askToDelete(store.sessions().back()); },
         "",
         {"取消", "删除多开账号"}},
        {"lock password setup",
         [&] {
             model.requestApplicationLock();
             model.saveLockSetup("1", "2");
         },
         "设置个人锁屏密码",
         {"取消", "保存并锁屏"}},
        {"phrase editor",
         [&] {
             model.openSettingsPanel();
             runMainLoopFor(100ms);
             Gtk::Button* add = buttonLabelled(*view, "添加常用语");
             ASSERT_NE(add, nullptr);
             click(*add);
             if (auto* text = findWidget<Gtk::TextView>(*toplevelTitled("常用语")))
                 text->get_buffer()->set_text(std::string(3000, 'x') + std::string(60, '\n'));
         },
         "常用语",
         {"取消", "保存"}},
        {"close dialog",
         [&] { closeDialog.present(); },
         "关闭Aurelo翻译器",
         {"隐藏到后台", "完全退出", "取消"}},
    };
    for (const auto& screen : screens) {
        SCOPED_TRACE(screen.name);
        screen.open();
        const std::string title =
            screen.title.empty() ? model.deleteConfirmationTitle() : screen.title;
        Gtk::Window* sheet = shown(title);
        ASSERT_NE(sheet, nullptr) << title;
        const int height = sheet->get_height();
        EXPECT_LE(height, WindowGeometry::kSheetMaximumHeight);
        for (const auto& label : screen.buttons) {
            Gtk::Button* button = buttonLabelled(*sheet, label);
            ASSERT_NE(button, nullptr) << label;
            EXPECT_TRUE(button->get_mapped()) << label;
            graphene_rect_t bounds{};
            ASSERT_TRUE(gtk_widget_compute_bounds(GTK_WIDGET(button->gobj()),
                                                  GTK_WIDGET(sheet->gobj()), &bounds));
            EXPECT_LE(bounds.origin.y + bounds.size.height,
                      std::min(height, WindowGeometry::kSheetMaximumHeight))
                << label << " is below the bottom edge";
        }
        closeEverySheet();
    }
}

// "锁屏密码已设置" is a confirmation, not a failure: it must not be red.
TEST_F(Sheets, TheLockSheetsConfirmInTheSuccessStyleAndRefuseInTheErrorStyle) {
    openWithOneAccount();
    model.requestApplicationLock();
    Gtk::Window* sheet = shown("设置个人锁屏密码");
    ASSERT_NE(sheet, nullptr);
    const auto fields = findWidgets<Gtk::PasswordEntry>(*sheet);
    ASSERT_EQ(fields.size(), 2u);
    const auto saveWith = [&](const char* password) {
        for (auto* field : fields)
            field->set_text(password);
        click(*buttonLabelled(*sheet, "保存并锁屏"));
        runMainLoopFor(100ms);
    };
    saveWith("12");
    Gtk::Label* refusal = labelShowing(*sheet, "密码至少需要 4 个字符");
    ASSERT_NE(refusal, nullptr);
    EXPECT_TRUE(refusal->get_mapped());
    EXPECT_TRUE(refusal->has_css_class("aurelo-error"));

    saveWith("2468");
    ASSERT_TRUE(model.appLocked());
    Gtk::Label* confirmation = labelShowing(*view, "锁屏密码已设置");
    ASSERT_NE(confirmation, nullptr);
    EXPECT_TRUE(confirmation->get_mapped());
    EXPECT_FALSE(confirmation->has_css_class("aurelo-error"));
    EXPECT_TRUE(confirmation->has_css_class("aurelo-success"));
}

// An empty name used to close the dialog without a word and without saving.
TEST_F(Sheets, TheRenameDialogStaysOpenWithItsMessageUntilTheNameIsOne) {
    const std::string first = openWithOneAccount();
    model.beginRename(first);
    Gtk::Window* dialog = shown(model.renameTitle());
    ASSERT_NE(dialog, nullptr);
    auto* entry = findWidget<Gtk::Entry>(*dialog);
    ASSERT_NE(entry, nullptr);
    Gtk::Button* save = buttonLabelled(*dialog, "保存");
    ASSERT_NE(save, nullptr);
    entry->set_text("");
    click(*save);
    runMainLoopFor(100ms);
    EXPECT_TRUE(dialog->get_visible());
    Gtk::Label* line = labelShowing(*dialog, Glib::ustring(std::string(AccountName::kBlank)));
    ASSERT_NE(line, nullptr);
    EXPECT_TRUE(line->get_mapped());
    entry->set_text("新名字");
    click(*save);
    EXPECT_TRUE(runMainLoopUntil([&] { return !dialog->get_visible(); }, 2s));
    EXPECT_EQ(store.sessions().front().name, "新名字");
}

} // namespace
} // namespace aurelo::test
