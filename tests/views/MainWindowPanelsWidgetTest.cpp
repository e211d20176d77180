// The main window's panels, driven with real X input where a person would use the keyboard or
// the pointer.

#include "captions/CaptionFakes.hpp"
#include "viewmodels/WindowGeometry.hpp"
#include "views/CaptionStrip.hpp"
#include "views/QuickSettingsStrip.hpp"
#include "views/SessionBar.hpp"
#include "views/SessionTab.hpp"
#include "views/TranslationBox.hpp"

#include "WidgetTestSupport.hpp"
#include "support/XInput.hpp"

namespace aurelo::test {
namespace {

class MainWindowPanels : public WidgetTest {
protected:
    // Live captions over a fake sound server and recogniser, translating only when asked.
    LiveCaptionManager captionManager() {
        LiveCaptionManager::Dependencies dependencies;
        dependencies.makeStream = [log = capture] {
            return std::make_unique<FakeCaptureStream>(log);
        };
        dependencies.recognizer = std::make_shared<FakeRecognizer>(recognition);
        dependencies.translationInterval = 24h;
        return LiveCaptionManager(translator, {}, std::move(dependencies));
    }

    std::shared_ptr<FakeCaptureLog> capture = std::make_shared<FakeCaptureLog>();
    std::shared_ptr<FakeRecognitionLog> recognition = std::make_shared<FakeRecognitionLog>();
    LogoCache logos{directory.path() / "logos", nullptr}; // fetches nothing
};

// The bars under the title must fit a laptop: every part narrower than the window's minimum,
// the caption panel open and the translation settings expanded.
TEST_F(MainWindowPanels, BarsWrapToFitALaptopScreen) {
    for (int i = 2; i <= 6; ++i)
        addSession("客服" + std::to_string(i));
    model.preferences().setQuickSettingsExpanded(true);
    LiveCaptionManager captions = captionManager();
    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    auto* bar = Gtk::make_managed<SessionBar>(
        model, logos, [] {}, [] {});
    auto* strip = Gtk::make_managed<CaptionStrip>(captions);
    bar->addToolbarItem(strip->startButton());
    column->append(*bar);
    column->append(*Gtk::make_managed<QuickSettingsStrip>(model));
    // The captions dock beside the pages, above the translation box, as in the main view.
    auto* pageRow = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL);
    pageRow->append(*Gtk::make_managed<Gtk::Label>("page"));
    pageRow->append(*strip);
    column->append(*pageRow);
    column->append(*Gtk::make_managed<TranslationBox>(model.translationBox()));
    show(*column);
    captions.start();
    ASSERT_TRUE(strip->get_visible());

    constexpr int kSidebarWidth = 94;
    int minimum = 0, natural = 0, ignored = 0;
    column->measure(Gtk::Orientation::HORIZONTAL, -1, minimum, natural, ignored, ignored);
    EXPECT_LE(minimum, WindowGeometry::kMinimumSize.width - kSidebarWidth)
        << "nothing holds the window wider than its minimum";
    captions.stop();
}

// On a 1366 × 768 laptop the pages get at least 60 % of the window's height with the default
// layout and 85 % with the focus layout, measured on the allocations of the whole main view.
using PageRoom = MainViewTest;

TEST_F(PageRoom, ThePagesGetTheWindowsHeightOnALaptop) {
    constexpr int kMenuBarHeight = 28; // the application window's, outside the main view
    const WindowSize laptop = WindowGeometry::openingSize(WindowGeometry::kSmallScreen);
    site.setFallback("/chat", ScriptedAnswer::text(200, "<title>chat</title>", "text/html"));
    firstAccountAt("/chat");
    addSession("客服二", site.origin() + "/chat");
    view = Gtk::make_managed<ContentView>(
        model, environment, logos, quickReplies, [] {}, [] {});
    present(*view, laptop.width, laptop.height - kMenuBarHeight);
    Gtk::Widget& page = view->pageArea();
    ASSERT_TRUE(runMainLoopUntil([&] { return page.get_mapped() && page.get_height() > 0; }, 10s));

    struct Case {
        bool focus;
        double share;
    };
    // In and out with the shortcut, pressed for real, and in the focus layout the keyboard
    // lands in the page, whatever part had it before.
    for (const auto& [focus, share] : {Case{false, 0.60}, Case{true, 0.85}, Case{false, 0.60}}) {
        SCOPED_TRACE(focus ? "focus layout" : "default layout");
        if (model.preferences().focusLayout() != focus) {
            findWidget<TranslationBox>(*view)->inputField().grab_focus();
            ASSERT_TRUE(press("ctrl+shift+f"));
        }
        ASSERT_TRUE(
            runMainLoopUntil([&] { return model.preferences().focusLayout() == focus; }, 3s));
        runMainLoopFor(300ms);
        EXPECT_EQ(window->get_height(), laptop.height - kMenuBarHeight) << "the window grew";
        EXPECT_GE(page.get_height(), share * laptop.height);
        if (focus) {
            Gtk::Widget* focused = window->get_focus();
            EXPECT_TRUE(focused && focused->is_ancestor(page));
        }
    }
}

// The collapsed bar shows one row of tabs. A long name made its tab as wide as the bar, and the
// selected tab after it wrapped into a row out of sight.
TEST_F(MainWindowPanels, ALongNameKeepsTheSelectedTabInSight) {
    std::string stored; // 84 wide characters, kept from before names had a limit
    for (int i = 0; i < 21; ++i)
        stored += "王磊客户";
    ChatSession longNamed = ChatSession::make(stored);
    store.addSession(longNamed);
    const std::string selected = addSession("客服三").id;
    store.select(selected);
    auto* bar = Gtk::make_managed<SessionBar>(
        model, logos, [] {}, [] {});
    constexpr int kSidebarWidth = 94;
    show(*bar, WindowGeometry::openingSize(WindowGeometry::kSmallScreen).width - kSidebarWidth,
         400);

    const auto tabs = findWidgets<SessionTab>(*bar);
    ASSERT_EQ(tabs.size(), 3u);
    SessionTab* chosen = tabs.back();
    ASSERT_TRUE(chosen->has_css_class("selected"));
    auto* row = dynamic_cast<Gtk::ScrolledWindow*>(chosen->get_ancestor(GTK_TYPE_SCROLLED_WINDOW));
    ASSERT_NE(row, nullptr);
    graphene_rect_t bounds{};
    ASSERT_TRUE(
        gtk_widget_compute_bounds(GTK_WIDGET(chosen->gobj()), GTK_WIDGET(row->gobj()), &bounds));
    EXPECT_GE(bounds.origin.y, 0);
    EXPECT_LE(bounds.origin.y + bounds.size.height, row->get_height()) << "below the shown row";
    EXPECT_LE(bounds.origin.x + bounds.size.width, row->get_width());
}

TEST_F(MainWindowPanels, TranslationBoxShowsItsHintAndTakesTheFocusOnAClick) {
    const std::string prefix(TranslationBoxModel::kPlaceholderPrefix);
    const std::string telegram = addSession("电报", "https://web.telegram.org/a/").id;
    store.select(store.sessions().front().id);
    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    auto* elsewhere = Gtk::make_managed<Gtk::Button>("别处");
    auto* box = Gtk::make_managed<TranslationBox>(model.translationBox());
    column->append(*elsewhere);
    column->append(*box);
    show(*column);

    EXPECT_TRUE(box->placeholder().get_mapped());
    EXPECT_EQ(std::string(box->placeholder().get_text()), prefix + " WhatsApp");
    box->inputField().get_buffer()->set_text("你好");
    EXPECT_FALSE(box->placeholder().get_visible()) << "the hint gives way to the text";
    store.select(telegram);
    runMainLoopFor(50ms);
    EXPECT_TRUE(box->placeholder().get_visible()) << "a new account starts with an empty box";
    EXPECT_EQ(std::string(box->placeholder().get_text()), prefix + " Telegram");

    // A real click on the panel's title, which is no control, puts the cursor into the field.
    elsewhere->grab_focus();
    ASSERT_FALSE(box->inputField().has_focus());
    Gtk::Label* title = labelShowing(*box, "智能翻译文框");
    ASSERT_NE(title, nullptr);
    ASSERT_TRUE(pointerAt(GTK_WIDGET(title->gobj()), 4, 4, "click"));
    EXPECT_TRUE(runMainLoopUntil([&] { return box->inputField().has_focus(); }, 3s));

    // A click on a control stays that control's: "清空" empties the box without moving focus
    // into the field first.
    elsewhere->grab_focus();
    Gtk::Button* clear = buttonLabelled(*box, "清空");
    ASSERT_NE(clear, nullptr);
    ASSERT_TRUE(pointerAt(GTK_WIDGET(clear->gobj()), 6, 6, "click"));
    runMainLoopFor(300ms);
    EXPECT_FALSE(box->inputField().has_focus());

    auto* picker = findWidget<Gtk::DropDown>(*box);
    ASSERT_NE(picker, nullptr);
    picker->set_selected(1);
    EXPECT_EQ(settings.preferredTarget(), TargetLanguage::English);
    settings.setPreferredTarget(TargetLanguage::Chinese);
    EXPECT_EQ(picker->get_selected(), 2u);
}

TEST_F(MainWindowPanels, CaptionStripHeaderAndLabelledColumns) {
    LiveCaptionManager captions = captionManager();
    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    auto* strip = Gtk::make_managed<CaptionStrip>(captions);
    column->append(strip->startButton());
    column->append(*strip);
    show(*column);
    EXPECT_FALSE(strip->get_visible()) << "nothing to show before a run";

    click(strip->startButton());
    ASSERT_TRUE(captions.isRunning());
    EXPECT_TRUE(strip->get_visible());
    EXPECT_EQ(strip->title().get_text(), "实时字幕正在运行");
    EXPECT_TRUE(labelShowing(*strip, "原文"));
    EXPECT_TRUE(labelShowing(*strip, "中文"));
    EXPECT_EQ(strip->sourceText().get_text(), CaptionStrip::kSourcePlaceholder);
    EXPECT_EQ(strip->translatedText().get_text(), CaptionStrip::kTranslationPlaceholder);

    ASSERT_TRUE(recognition->handler);
    recognition->handler(
        SpeechRecognitionEvent{SpeechRecognitionEvent::Kind::Final, "hello there"});
    runMainLoopFor(50ms);
    const std::string source = strip->sourceText().get_text().lowercase();
    EXPECT_NE(source.find("hello there"), std::string::npos) << source;
    EXPECT_EQ(strip->translatedText().get_text(), CaptionStrip::kTranslationPlaceholder)
        << "the translation column waits with its placeholder";

    // "关闭" stops the run; the texts stay to be read under the idle title.
    Gtk::Button* close = buttonLabelled(*strip, "关闭");
    ASSERT_NE(close, nullptr);
    click(*close);
    EXPECT_FALSE(captions.isRunning());
    EXPECT_TRUE(strip->get_visible());
    EXPECT_EQ(strip->title().get_text(), "实时字幕");
    EXPECT_NE(strip->sourceText().get_text(), CaptionStrip::kSourcePlaceholder);
    click(*close);
    EXPECT_FALSE(strip->get_visible());

    LiveCaptionManager broken(translator, {}, LiveCaptionManager::Dependencies{});
    auto* brokenStrip = Gtk::make_managed<CaptionStrip>(broken);
    column->append(*brokenStrip);
    broken.start();
    EXPECT_TRUE(brokenStrip->get_visible());
    EXPECT_EQ(brokenStrip->title().get_text(), "实时字幕");
    EXPECT_TRUE(labelShowing(*brokenStrip, LiveCaptionManager::kNoRecognizerStatus));
}

class TabMenus : public MainWindowPanels {
protected:
    void SetUp() override {
        addSession("客服二");
        store.select(store.sessions().front().id);
        bar = Gtk::make_managed<SessionBar>(
            model, logos, [] {}, [] {});
        show(*bar);
    }

    SessionTab& tab(std::size_t index) { return *findWidgets<SessionTab>(*bar).at(index); }

    SessionBar* bar = nullptr;
};

TEST_F(TabMenus, MenuKeyShiftF10AndALongPressOpenTheMenuWithoutSelectingTheTab) {
    const std::string first = store.sessions().front().id;
    for (const char* key : {"Menu", "shift+F10"}) {
        tab(1).button().grab_focus();
        ASSERT_TRUE(press(key)) << key;
        EXPECT_TRUE(runMainLoopUntil([&] { return tab(1).menu().get_visible(); }, 3s)) << key;
        EXPECT_FALSE(tab(0).menu().get_visible()) << key;
        tab(1).menu().popdown();
        runMainLoopFor(100ms);
    }

    ASSERT_TRUE(pointerAt(GTK_WIDGET(tab(1).button().gobj()), 10, 10, "mousedown"));
    const bool opened = runMainLoopUntil([&] { return tab(1).menu().get_visible(); }, 3s);
    ASSERT_TRUE(xdotool({"mouseup", "1"}));
    runMainLoopFor(200ms);
    EXPECT_TRUE(opened);
    EXPECT_EQ(store.selectedID(), first) << "the press was the menu's, not a click";

    tab(1).menu().popdown();
    runMainLoopFor(200ms);
    ASSERT_TRUE(pointerAt(GTK_WIDGET(tab(1).button().gobj()), 10, 10, "click"));
    EXPECT_TRUE(runMainLoopUntil([&] { return store.selectedID() != first; }, 3s));
}

TEST_F(TabMenus, DeleteItemIsDestructiveAndDeletesAtOnce) {
    const std::string second = store.sessions()[1].id;
    SessionTab& target = tab(1);
    EXPECT_TRUE(target.deleteItem().has_css_class("destructive-action"));
    EXPECT_EQ(target.deleteItem().get_label(), "删除此会话");
    target.popupMenu();
    ASSERT_TRUE(runMainLoopUntil([&] { return target.deleteItem().get_mapped(); }, 3s))
        << "the item is in the menu";
    click(target.deleteItem());
    EXPECT_EQ(store.sessions().size(), 1u);
    EXPECT_NE(store.sessions().front().id, second);
    EXPECT_FALSE(model.pendingDeleteSession()) << "no question first";
}

TEST_F(TabMenus, TheMarkedItemIsTheOneReturnChooses) {
    SessionTab& target = tab(1);
    const auto marked = [&] {
        std::vector<Gtk::Widget*> widgets;
        std::function<void(Gtk::Widget&)> walk = [&](Gtk::Widget& widget) {
            if ((widget.get_state_flags() & Gtk::StateFlags::SELECTED) == Gtk::StateFlags::SELECTED)
                widgets.push_back(&widget);
            for (auto* child = widget.get_first_child(); child; child = child->get_next_sibling())
                walk(*child);
        };
        walk(target.menu());
        return widgets;
    };
    target.button().grab_focus();
    ASSERT_TRUE(press("shift+F10"));
    ASSERT_TRUE(runMainLoopUntil([&] { return target.menu().get_visible(); }, 3s));
    for (int i = 0; i < 12 && !target.deleteItem().has_focus(); ++i) {
        ASSERT_TRUE(press("Down"));
        runMainLoopFor(50ms);
    }
    ASSERT_TRUE(target.deleteItem().has_focus());
    EXPECT_EQ(marked(), std::vector<Gtk::Widget*>{&target.deleteItem()})
        << "no other item looks chosen while Return would delete";

    ASSERT_TRUE(press("Up"));
    runMainLoopFor(100ms);
    const auto back = marked();
    ASSERT_EQ(back.size(), 1u) << "the item above takes the mark back";
    EXPECT_NE(back.front(), &target.deleteItem());
    ASSERT_TRUE(press("Return"));
    EXPECT_TRUE(runMainLoopUntil([&] { return model.showingSessionSettings(); }, 3s))
        << "the marked item, 账号独立设置, was chosen";
    EXPECT_EQ(store.sessions().size(), 2u);
}

TEST_F(TabMenus, TabsAreReachedAndChosenWithTheKeyboardAndKeepTheFocus) {
    const std::string second = store.sessions()[1].id;
    tab(0).button().grab_focus();
    ASSERT_TRUE(press("Tab")); // the first tab's close button
    ASSERT_TRUE(press("Tab"));
    EXPECT_TRUE(tab(1).button().has_focus()) << "Tab walks from tab to tab";

    store.setUnreadCount(5, second);
    runMainLoopFor(100ms);
    EXPECT_TRUE(tab(1).button().has_focus());

    // Space chooses the tab; the rebuilt tab keeps the focus.
    ASSERT_TRUE(press("space"));
    EXPECT_EQ(store.selectedID(), second);
    EXPECT_TRUE(runMainLoopUntil([&] { return tab(1).button().has_focus(); }, 3s));
    EXPECT_TRUE(tab(1).has_css_class("selected"));
}

} // namespace
} // namespace aurelo::test
