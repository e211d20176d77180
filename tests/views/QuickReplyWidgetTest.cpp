// The phrase library with real widgets and real key presses under the virtual display: the list
// beside the translation box, its keys, the numbered shortcuts, and the settings card's editor.

#include "support/MainLoopWait.hpp"
#include "support/Programs.hpp"
#include "support/ShellTestFixture.hpp"

#include "views/QuickReplyButton.hpp"
#include "views/QuickReplyEditor.hpp"

#include <gtkmm.h>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

class QuickReplyWidgets : public ShellTestFixture {
protected:
    static void SetUpTestSuite() {
        static auto application = Gtk::Application::create("com.aurelo.translator.phrase-tests",
                                                           Gio::Application::Flags::NON_UNIQUE);
        gtk_init();
    }
    void SetUp() override {
        if (!g_getenv("DISPLAY"))
            GTEST_SKIP() << "needs the virtual display of the test session";
        ASSERT_TRUE(keychain.save("token", std::string(KeychainStore::kLoginTokenAccount)));
        fake.setResponder([](const RecordedRequest& r) { return echoTranslation(r, "T:"); });
        for (auto [title, text] : {std::pair{"问候", "Hello"}, std::pair{"运费", "Free shipping"},
                                   std::pair{"再见", "Bye"}})
            ASSERT_TRUE(replies.add(title, text));
    }

    // Shows `child` in a window of its own with the keyboard focus, as the user would have it.
    void show(Gtk::Widget& child) {
        window.set_title("phrase-test");
        window.set_default_size(480, 360);
        window.set_child(child);
        window.present();
        ASSERT_TRUE(runMainLoopUntil([&] { return window.get_mapped(); }, 5s));
        runMainLoopFor(200ms);
        ASSERT_TRUE(runProgram({"xdotool", "search", "--sync", "--name", "phrase-test",
                                "windowfocus", "--sync"})
                        .succeeded);
        ASSERT_TRUE(runMainLoopUntil([&] { return window.is_active(); }, 3s));
    }
    // Each key of a space-separated list, then time for the search field's delayed change.
    static void press(const std::string& keys) {
        std::vector<std::string> arguments{"xdotool", "key", "--delay", "40"};
        for (std::size_t start = 0; start < keys.size();) {
            const auto end = std::min(keys.find(' ', start), keys.size());
            arguments.push_back(keys.substr(start, end - start));
            start = end + 1;
        }
        ASSERT_TRUE(runProgram(arguments).succeeded) << keys;
        runMainLoopFor(400ms);
    }
    static void type(const std::string& text) {
        ASSERT_TRUE(runProgram({"xdotool", "type", "--delay", "40", text}).succeeded);
        runMainLoopFor(400ms);
    }
    std::string inserted() {
        const auto& insertion = model.translationBox().textInsertion();
        return insertion ? insertion->text : std::string();
    }

    QuickReplyStore replies{*defaults};
    QuickReplyPicker picker{replies, model, translator};
    Gtk::Window window;
};

TEST_F(QuickReplyWidgets, TheListFiltersMovesAndInsertsWithTheKeyboard) {
    QuickReplyButton button(picker);
    show(button);
    button.popup();
    runMainLoopFor(300ms);
    EXPECT_NE(button.list().get_row_at_index(2), nullptr);

    type("ye");
    EXPECT_EQ(button.searchField().get_text(), "ye") << "the list opens with the search field focused";
    EXPECT_EQ(button.list().get_row_at_index(1), nullptr) << "only 再见 holds \"ye\"";
    press("BackSpace BackSpace Down Return");
    ASSERT_TRUE(runMainLoopUntil([&] { return !inserted().empty(); }, 5s));
    EXPECT_EQ(inserted(), "T:Free shipping") << "Down moved to the second phrase";
    EXPECT_EQ((*fake.requests().back().json)["target"], "en");
    EXPECT_TRUE(runMainLoopUntil([&] { return !button.get_popover()->get_visible(); }, 2s))
        << "the list closes after a pick";

    button.popup();
    runMainLoopFor(200ms);
    press("shift+Return");
    EXPECT_EQ(inserted(), "Hello") << "Shift+Return puts the phrase in as written";
    EXPECT_EQ(fake.requests().size(), 1u);

    button.popup();
    runMainLoopFor(200ms);
    press("Escape");
    EXPECT_TRUE(runMainLoopUntil([&] { return !button.get_popover()->get_visible(); }, 2s));
}

TEST_F(QuickReplyWidgets, NumberedShortcutsInsertUnlessLocked) {
    Gtk::Entry field; // whatever has the keyboard, a page's composer or this field
    bool locked = false;
    addQuickReplyShortcuts(field, picker, [&] { return locked; });
    show(field);
    field.grab_focus();
    press("ctrl+shift+3");
    ASSERT_TRUE(runMainLoopUntil([&] { return !inserted().empty(); }, 5s));
    EXPECT_EQ(inserted(), "T:Bye");
    EXPECT_EQ(field.get_text(), "") << "the shortcut is not typed into the field";

    model.translationBox().textInsertionTaken(model.translationBox().textInsertion()->id);
    locked = true;
    press("ctrl+shift+1");
    press("ctrl+shift+9"); // no ninth phrase
    runMainLoopFor(300ms);
    EXPECT_EQ(inserted(), "");
    EXPECT_EQ(fake.requests().size(), 1u);
}

TEST_F(QuickReplyWidgets, TheEditorAddsAndRefusesAnEmptyText) {
    QuickReplyEditor editor(replies);
    show(editor);
    ASSERT_NE(editor.list().get_row_at_index(2), nullptr);
    g_signal_emit_by_name(editor.addButton().gobj(), "clicked");
    ASSERT_NE(editor.sheet(), nullptr);
    ASSERT_TRUE(runMainLoopUntil([&] { return editor.sheet()->get_visible(); }, 3s));
    editor.titleField().set_text("空的");
    g_signal_emit_by_name(editor.saveButton().gobj(), "clicked");
    EXPECT_EQ(editor.sheetError().get_text(), "常用语内容不能为空");
    EXPECT_TRUE(editor.sheet()->get_visible()) << "the sheet stays open with what was typed";

    editor.textField().get_buffer()->set_text("We ship worldwide.");
    g_signal_emit_by_name(editor.saveButton().gobj(), "clicked");
    EXPECT_FALSE(editor.sheet()->get_visible());
    ASSERT_EQ(replies.replies().size(), 4u);
    EXPECT_EQ(replies.replies().back().title, "空的");
    EXPECT_NE(editor.list().get_row_at_index(3), nullptr);

    // A removal elsewhere (the other settings page) shows here at once.
    replies.remove(replies.replies().front().id);
    EXPECT_EQ(editor.list().get_row_at_index(3), nullptr);
}

} // namespace
} // namespace aurelo::test
