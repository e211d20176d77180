// The main window's panels as real widgets under the virtual display, driven with real X input
// where a person would use the keyboard or the pointer: the bars on a laptop screen, the
// translation box, the caption strip, send translation where it does not run, and the tab menu.

#include "captions/CaptionFakes.hpp"
#include "support/ShellTestFixture.hpp"

#include "viewmodels/WindowGeometry.hpp"
#include "views/CaptionStrip.hpp"
#include "views/LogoCache.hpp"
#include "views/QuickSettingsStrip.hpp"
#include "views/SessionBar.hpp"
#include "views/SessionTab.hpp"
#include "views/TranslationBox.hpp"

#include <gtkmm.h>

#include <algorithm>
#include <thread>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kWindowTitle = "aurelo-panels-test";

bool run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    gint status = 0;
    return g_spawn_sync(nullptr, args.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                        nullptr, nullptr, &status, nullptr) &&
           g_spawn_check_wait_status(status, nullptr);
}

// The X window of the test window, focused so that keys reach it.
std::string focusedTestWindow() {
    gchar* output = nullptr;
    const char* argv[] = {"xdotool", "search", "--name", kWindowTitle, nullptr};
    if (!g_spawn_sync(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr,
                      nullptr, &output, nullptr, nullptr, nullptr))
        return {};
    std::string window(output ? output : "");
    g_free(output);
    window = window.substr(0, window.find('\n'));
    if (window.empty() || !run({"xdotool", "windowfocus", "--sync", window}))
        return {};
    return window;
}

// Every widget of `root`'s tree of the given type, in depth-first order.
template <class Widget> std::vector<Widget*> find(Gtk::Widget& root) {
    std::vector<Widget*> found;
    if (auto* widget = dynamic_cast<Widget*>(&root))
        found.push_back(widget);
    for (auto* child = root.get_first_child(); child; child = child->get_next_sibling())
        for (auto* widget : find<Widget>(*child))
            found.push_back(widget);
    return found;
}

Gtk::Label* labelWithText(Gtk::Widget& root, const Glib::ustring& text) {
    for (auto* label : find<Gtk::Label>(root))
        if (label->get_text() == text)
            return label;
    return nullptr;
}

class MainWindowPanels : public ShellTestFixture {
protected:
    static void SetUpTestSuite() {
        static bool initialised = false;
        if (!initialised) {
            static auto application = Gtk::Application::create("com.aurelo.translator.panel-tests",
                                                               Gio::Application::Flags::NON_UNIQUE);
            gtk_init();
            initialised = true;
        }
    }
    void SetUp() override {
        if (!g_getenv("DISPLAY"))
            GTEST_SKIP() << "needs the virtual display of the test session";
        window.set_title(kWindowTitle);
    }
    ~MainWindowPanels() override { window.destroy(); }

    // Shows `child` in the window and waits until it is on screen.
    void show(Gtk::Widget& child, int width = 1000, int height = 700) {
        window.set_default_size(width, height);
        window.set_child(child);
        window.present();
        ASSERT_TRUE(runMainLoopUntil([&] { return child.get_mapped(); }, 5s));
        runMainLoopFor(200ms);
    }

    bool pressKey(const std::string& key) {
        const std::string id = focusedTestWindow();
        const bool pressed = !id.empty() && run({"xdotool", "key", "--clearmodifiers", key});
        runMainLoopFor(300ms);
        return pressed;
    }

    // Where `widget`'s point (x, y) is in the X window.
    std::pair<int, int> windowPoint(Gtk::Widget& widget, double x, double y) {
        graphene_point_t in{float(x), float(y)}, out{};
        EXPECT_TRUE(gtk_widget_compute_point(widget.gobj(), GTK_WIDGET(window.gobj()), &in, &out));
        double dx = 0, dy = 0;
        gtk_native_get_surface_transform(GTK_NATIVE(window.gobj()), &dx, &dy);
        return {int(out.x + dx), int(out.y + dy)};
    }

    LogoCache logos{directory.path() / "logos", nullptr}; // fetches nothing
    Gtk::Window window;
};

// The bars under the title must fit a laptop: every part narrower than the window's minimum,
// and on a 1366 × 768 screen the page keeps room to read a conversation.
TEST_F(MainWindowPanels, BarsWrapToFitALaptopScreen) {
    for (int i = 2; i <= 6; ++i)
        addSession("客服" + std::to_string(i));
    auto capture = std::make_shared<FakeCaptureLog>();
    LiveCaptionManager::Dependencies dependencies;
    dependencies.makeStream = [capture] { return std::make_unique<FakeCaptureStream>(capture); };
    dependencies.recognizer =
        std::make_shared<FakeRecognizer>(std::make_shared<FakeRecognitionLog>());
    LiveCaptionManager captions(translator, {}, std::move(dependencies));

    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    auto* bar = Gtk::make_managed<SessionBar>(
        model, logos, [] {}, [] {});
    auto* strip = Gtk::make_managed<CaptionStrip>(captions);
    bar->addToolbarItem(strip->startButton());
    column->append(*bar);
    column->append(*Gtk::make_managed<QuickSettingsStrip>(model));
    column->append(*strip);
    column->append(*Gtk::make_managed<TranslationBox>(model.translationBox()));
    show(*column);

    constexpr int kSidebarWidth = 94;
    constexpr int kMenuBarHeight = 30;
    constexpr int kPageRoom = 180;
    int minimum = 0, natural = 0, ignored = 0;
    column->measure(Gtk::Orientation::HORIZONTAL, -1, minimum, natural, ignored, ignored);
    EXPECT_LE(minimum, WindowGeometry::kMinimumSize.width - kSidebarWidth)
        << "nothing holds the window wider than its minimum";

    const WindowSize laptop = WindowGeometry::openingSize({1366, 768});
    column->measure(Gtk::Orientation::VERTICAL, laptop.width - kSidebarWidth, minimum, natural,
                    ignored, ignored);
    EXPECT_LE(minimum, laptop.height - kMenuBarHeight - kPageRoom)
        << "the bars leave the page room on a laptop";

    // A running caption strip takes its share too, and the page still keeps some room.
    captions.start();
    ASSERT_TRUE(strip->get_visible());
    column->measure(Gtk::Orientation::VERTICAL, laptop.width - kSidebarWidth, minimum, natural,
                    ignored, ignored);
    EXPECT_LE(minimum, laptop.height - kMenuBarHeight - kPageRoom / 2);
    captions.stop();
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
    Gtk::Label* title = labelWithText(*box, "智能翻译文框");
    ASSERT_NE(title, nullptr);
    const auto [x, y] = windowPoint(*title, 4, 4);
    const std::string id = focusedTestWindow();
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(run({"xdotool", "mousemove", "--window", id, std::to_string(x), std::to_string(y),
                     "click", "1"}));
    EXPECT_TRUE(runMainLoopUntil([&] { return box->inputField().has_focus(); }, 3s));

    // A click on a control stays that control's: "清空" empties the box without moving focus
    // into the field first.
    elsewhere->grab_focus();
    auto buttons = find<Gtk::Button>(*box);
    auto clear =
        std::ranges::find_if(buttons, [](Gtk::Button* b) { return b->get_label() == "清空"; });
    ASSERT_NE(clear, buttons.end());
    const auto [cx, cy] = windowPoint(**clear, 6, 6);
    ASSERT_TRUE(run({"xdotool", "mousemove", "--window", id, std::to_string(cx), std::to_string(cy),
                     "click", "1"}));
    runMainLoopFor(300ms);
    EXPECT_FALSE(box->inputField().has_focus());

    // The direction picker stores the direction and nothing of the settings page.
    settings.setAPIKey(TranslationProvider::DeepL, "unsaved-key");
    auto pickers = find<Gtk::DropDown>(*box);
    ASSERT_EQ(pickers.size(), 1u);
    pickers[0]->set_selected(1);
    EXPECT_EQ(settings.preferredTarget(), TargetLanguage::English);
    EXPECT_EQ(secrets.lookup(std::string(SettingsStore::kAPIKeyAccounts[1])).value(), std::nullopt);
    // And follows a choice made on the settings page.
    settings.setPreferredTarget(TargetLanguage::Chinese);
    EXPECT_EQ(pickers[0]->get_selected(), 2u);
}

TEST_F(MainWindowPanels, CaptionStripHeaderAndLabelledColumns) {
    auto capture = std::make_shared<FakeCaptureLog>();
    auto recognition = std::make_shared<FakeRecognitionLog>();
    LiveCaptionManager::Dependencies dependencies;
    dependencies.makeStream = [capture] { return std::make_unique<FakeCaptureStream>(capture); };
    dependencies.recognizer = std::make_shared<FakeRecognizer>(recognition);
    dependencies.translationInterval = 24h;
    LiveCaptionManager captions(translator, {}, std::move(dependencies));
    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    auto* strip = Gtk::make_managed<CaptionStrip>(captions);
    column->append(strip->startButton());
    column->append(*strip);
    show(*column);
    EXPECT_FALSE(strip->get_visible()) << "nothing to show before a run";

    g_signal_emit_by_name(strip->startButton().gobj(), "clicked");
    ASSERT_TRUE(captions.isRunning());
    EXPECT_TRUE(strip->get_visible());
    EXPECT_EQ(strip->title().get_text(), "实时字幕正在运行");
    EXPECT_NE(labelWithText(*strip, "原文"), nullptr);
    EXPECT_NE(labelWithText(*strip, "中文"), nullptr);
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
    auto buttons = find<Gtk::Button>(*strip);
    auto close =
        std::ranges::find_if(buttons, [](Gtk::Button* b) { return b->get_label() == "关闭"; });
    ASSERT_NE(close, buttons.end());
    g_signal_emit_by_name((*close)->gobj(), "clicked");
    EXPECT_FALSE(captions.isRunning());
    EXPECT_TRUE(strip->get_visible());
    EXPECT_EQ(strip->title().get_text(), "实时字幕");
    EXPECT_NE(strip->sourceText().get_text(), CaptionStrip::kSourcePlaceholder);
    // A second "关闭" puts the strip away.
    g_signal_emit_by_name((*close)->gobj(), "clicked");
    EXPECT_FALSE(strip->get_visible());

    // A run that cannot start says why, in the strip.
    LiveCaptionManager broken(translator, {}, LiveCaptionManager::Dependencies{});
    auto* brokenStrip = Gtk::make_managed<CaptionStrip>(broken);
    column->append(*brokenStrip);
    broken.start();
    EXPECT_TRUE(brokenStrip->get_visible());
    EXPECT_EQ(brokenStrip->title().get_text(), "实时字幕");
    EXPECT_NE(labelWithText(*brokenStrip, LiveCaptionManager::kNoRecognizerStatus), nullptr);
}

TEST_F(MainWindowPanels, SendSwitchIsUnavailableWherePagesDoNotTranslateBeforeSending) {
    const std::string whatsApp = store.sessions().front().id;
    ChatSession telegram = addSession("电报", "https://web.telegram.org/a/");
    telegram.sendTranslationEnabled = true;
    store.updateSession(telegram);
    auto* strip = Gtk::make_managed<QuickSettingsStrip>(model);
    show(*strip);
    auto* send = find<Gtk::Switch>(*strip).front();

    store.select(telegram.id);
    EXPECT_FALSE(send->get_sensitive());
    EXPECT_FALSE(send->get_active()) << "shown as off, since it never runs there";
    EXPECT_EQ(std::string(send->get_tooltip_text()), std::string(kSendTranslationUnavailableNote));
    EXPECT_EQ(store.sessions().back().sendTranslationEnabled, true) << "the choice is kept";

    store.select(whatsApp);
    EXPECT_TRUE(send->get_sensitive());
    EXPECT_TRUE(send->get_active());
    EXPECT_EQ(send->get_tooltip_text(), "");
}

class TabMenus : public MainWindowPanels {
protected:
    void SetUp() override {
        MainWindowPanels::SetUp();
        if (IsSkipped())
            return;
        addSession("客服二");
        store.select(store.sessions().front().id);
        bar = Gtk::make_managed<SessionBar>(
            model, logos, [] {}, [] {});
        show(*bar);
    }

    SessionTab& tab(std::size_t index) {
        auto tabs = find<SessionTab>(*bar);
        EXPECT_GT(tabs.size(), index);
        return *tabs.at(index);
    }

    SessionBar* bar = nullptr;
};

TEST_F(TabMenus, MenuKeyAndShiftF10OpenTheMenuOfTheFocusedTab) {
    for (const char* key : {"Menu", "shift+F10"}) {
        tab(1).button().grab_focus();
        ASSERT_TRUE(pressKey(key)) << key;
        EXPECT_TRUE(runMainLoopUntil([&] { return tab(1).menu().get_visible(); }, 3s)) << key;
        EXPECT_FALSE(tab(0).menu().get_visible()) << key;
        tab(1).menu().popdown();
        runMainLoopFor(100ms);
    }
}

TEST_F(TabMenus, LongPressOpensTheMenuWithoutSelectingTheTab) {
    const std::string first = store.sessions().front().id;
    const auto [x, y] = windowPoint(tab(1).button(), 10, 10);
    const std::string id = focusedTestWindow();
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(run({"xdotool", "mousemove", "--window", id, std::to_string(x), std::to_string(y),
                     "mousedown", "1"}));
    const bool opened = runMainLoopUntil([&] { return tab(1).menu().get_visible(); }, 3s);
    ASSERT_TRUE(run({"xdotool", "mouseup", "1"}));
    runMainLoopFor(200ms);
    EXPECT_TRUE(opened);
    EXPECT_EQ(store.selectedID(), first) << "the press was the menu's, not a click";

    // A short click still selects the tab.
    tab(1).menu().popdown();
    runMainLoopFor(200ms);
    ASSERT_TRUE(run({"xdotool", "mousemove", "--window", id, std::to_string(x), std::to_string(y),
                     "click", "1"}));
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
    g_signal_emit_by_name(target.deleteItem().gobj(), "clicked");
    EXPECT_EQ(store.sessions().size(), 1u);
    EXPECT_NE(store.sessions().front().id, second);
    EXPECT_FALSE(model.pendingDeleteSession()) << "no question first";
}

TEST_F(TabMenus, TabsAreReachedAndChosenWithTheKeyboardAndKeepTheFocus) {
    const std::string second = store.sessions()[1].id;
    tab(0).button().grab_focus();
    ASSERT_TRUE(pressKey("Tab")); // the first tab's close button
    ASSERT_TRUE(pressKey("Tab"));
    EXPECT_TRUE(tab(1).button().has_focus()) << "Tab walks from tab to tab";

    // An unread count arriving does not take the focus away.
    store.setUnreadCount(5, second);
    runMainLoopFor(100ms);
    EXPECT_TRUE(tab(1).button().has_focus());

    // Space chooses the tab; the rebuilt tab keeps the focus.
    ASSERT_TRUE(pressKey("space"));
    EXPECT_EQ(store.selectedID(), second);
    EXPECT_TRUE(runMainLoopUntil([&] { return tab(1).button().has_focus(); }, 3s));
    EXPECT_TRUE(tab(1).has_css_class("selected"));
}

} // namespace
} // namespace aurelo::test
