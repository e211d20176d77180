// The phrase library with real widgets and real key presses under the virtual display: the list
// beside the translation box, its keys, the numbered shortcuts, and the settings card's editor.

#include "views/QuickReplyButton.hpp"
#include "views/QuickReplyEditor.hpp"

#include "WidgetTestSupport.hpp"

namespace aurelo::test {
namespace {

class QuickReplyWidgets : public WidgetTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(keychain.save("token", std::string(KeychainStore::kLoginTokenAccount)));
        fake.setResponder([](const RecordedRequest& r) { return echoTranslation(r, "T:"); });
        for (auto [title, text] : {std::pair{"问候", "Hello"}, std::pair{"运费", "Free shipping"},
                                   std::pair{"再见", "Bye"}})
            ASSERT_TRUE(replies.add(title, text));
    }

    std::string inserted() {
        const auto& insertion = model.translationBox().textInsertion();
        return insertion ? insertion->text : std::string();
    }

    QuickReplyStore replies{*defaults};
    QuickReplyPicker picker{replies, model, translator};
};

TEST_F(QuickReplyWidgets, TheListFiltersMovesAndInsertsWithTheKeyboard) {
    QuickReplyButton button(picker);
    show(button, 480, 360);
    button.popup();
    runMainLoopFor(300ms);
    EXPECT_NE(button.list().get_row_at_index(2), nullptr);

    ASSERT_TRUE(type("ye"));
    EXPECT_EQ(button.searchField().get_text(), "ye") << "the list opens with the search focused";
    EXPECT_EQ(button.list().get_row_at_index(1), nullptr) << "only 再见 holds \"ye\"";
    ASSERT_TRUE(press("BackSpace BackSpace Down Return"));
    ASSERT_TRUE(runMainLoopUntil([&] { return !inserted().empty(); }, 5s));
    EXPECT_EQ(inserted(), "T:Free shipping") << "Down moved to the second phrase";
    EXPECT_TRUE(runMainLoopUntil([&] { return !button.get_popover()->get_visible(); }, 2s))
        << "the list closes after a pick";

    button.popup();
    runMainLoopFor(200ms);
    ASSERT_TRUE(press("shift+Return"));
    EXPECT_EQ(inserted(), "Hello") << "Shift+Return puts the phrase in as written";
    EXPECT_EQ(fake.requests().size(), 1u);

    button.popup();
    runMainLoopFor(200ms);
    ASSERT_TRUE(press("Escape"));
    EXPECT_TRUE(runMainLoopUntil([&] { return !button.get_popover()->get_visible(); }, 2s));
}

TEST_F(QuickReplyWidgets, NumberedShortcutsInsertUnlessLocked) {
    Gtk::Entry field; // whatever has the keyboard, a page's composer or this field
    bool locked = false;
    addQuickReplyShortcuts(field, picker, [&] { return locked; });
    show(field, 480, 360);
    field.grab_focus();
    ASSERT_TRUE(press("ctrl+shift+3"));
    ASSERT_TRUE(runMainLoopUntil([&] { return !inserted().empty(); }, 5s));
    EXPECT_EQ(inserted(), "T:Bye");
    EXPECT_EQ(field.get_text(), "") << "the shortcut is not typed into the field";

    model.translationBox().textInsertionTaken(model.translationBox().textInsertion()->id);
    locked = true;
    ASSERT_TRUE(press("ctrl+shift+1 ctrl+shift+9")); // there is no ninth phrase
    runMainLoopFor(300ms);
    EXPECT_EQ(inserted(), "");
    EXPECT_EQ(fake.requests().size(), 1u);
}

// Ctrl+Shift+1…9 work with the list closed: a phrase they could not put in opens the list with
// why, rather than nothing happening at all.
TEST_F(QuickReplyWidgets, AShortcutsRefusedPhraseOpensTheListWithWhy) {
    // The fake engine echoes what it cannot translate, as the demo engine does with Chinese.
    ASSERT_TRUE(replies.add("到货", "你好，您的包裹明天到达。"));
    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    auto* field = Gtk::make_managed<Gtk::Entry>();
    auto* button = Gtk::make_managed<QuickReplyButton>(picker);
    column->append(*field);
    column->append(*button);
    addQuickReplyShortcuts(*column, picker, [] { return false; });
    show(*column, 480, 360);
    field->grab_focus();
    ASSERT_TRUE(press("ctrl+shift+4"));
    EXPECT_TRUE(runMainLoopUntil([&] { return button->get_popover()->get_visible(); }, 5s));
    EXPECT_EQ(button->errorLabel().get_text().raw(), TranslationBoxModel::kStillChinese);
    EXPECT_TRUE(button->errorLabel().get_mapped());
    EXPECT_EQ(inserted(), "");
}

TEST_F(QuickReplyWidgets, TheEditorAddsAndRefusesAnEmptyText) {
    QuickReplyEditor editor(replies);
    show(editor, 480, 360);
    ASSERT_NE(editor.list().get_row_at_index(2), nullptr);
    click(editor.addButton());
    ASSERT_NE(editor.sheet(), nullptr);
    ASSERT_TRUE(runMainLoopUntil([&] { return editor.sheet()->get_visible(); }, 3s));
    editor.titleField().set_text("空的");
    click(editor.saveButton());
    EXPECT_EQ(editor.sheetError().get_text(), "常用语内容不能为空");
    EXPECT_TRUE(editor.sheet()->get_visible()) << "the sheet stays open with what was typed";

    editor.textField().get_buffer()->set_text("We ship worldwide.");
    click(editor.saveButton());
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
