// Spelling in a real page's composer: typed with real keys, read from WebKit's context menu.

#include "support/WebViewTestSupport.hpp"
#include "support/XInput.hpp"
#include "web/SpellingDictionaries.hpp"

#include <nlohmann/json.hpp>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

// The labels of the context menu WebKit pops up over the page, in order.
std::vector<std::string> menuLabels(GtkWidget* view) {
    std::vector<std::string> labels;
    for (GtkWidget* child = gtk_widget_get_first_child(view); child;
         child = gtk_widget_get_next_sibling(child)) {
        if (!GTK_IS_POPOVER_MENU(child) || !gtk_widget_get_visible(child))
            continue;
        GMenuModel* model = gtk_popover_menu_get_menu_model(GTK_POPOVER_MENU(child));
        std::function<void(GMenuModel*)> walk = [&](GMenuModel* menu) {
            for (int i = 0; i < g_menu_model_get_n_items(menu); ++i) {
                char* label = nullptr;
                if (g_menu_model_get_item_attribute(menu, i, G_MENU_ATTRIBUTE_LABEL, "s", &label))
                    labels.emplace_back(label);
                g_free(label);
                if (auto section =
                        adoptGRef(g_menu_model_get_item_link(menu, i, G_MENU_LINK_SECTION)))
                    walk(section.get());
            }
        };
        if (model)
            walk(model);
    }
    return labels;
}

class PageSpellingTest : public WebViewTest {
protected:
    static void SetUpTestSuite() {
        g_setenv("GDK_BACKEND", "x11", FALSE);
        WebViewTest::SetUpTestSuite();
    }

    PageSpellingTest() {
        m_window = gtk_window_new();
        gtk_window_set_decorated(GTK_WINDOW(m_window), FALSE);
        gtk_window_set_default_size(GTK_WINDOW(m_window), 800, 400);
    }
    ~PageSpellingTest() override { gtk_window_destroy(GTK_WINDOW(m_window)); }
    void TearDown() override {
        gtk_window_set_child(GTK_WINDOW(m_window), nullptr);
        WebViewTest::TearDown();
    }

    // Shows the account's page, types `text` into its composer with real keys, and right-clicks
    // the word `word`; returns the context menu's labels.
    std::vector<std::string> typeAndRightClick(ChatWebViewInputs in, const std::string& text,
                                               const std::string& word) {
        auto& host = open(in);
        gtk_window_set_child(GTK_WINDOW(m_window), GTK_WIDGET(host.gobj()));
        gtk_window_present(GTK_WINDOW(m_window));
        EXPECT_TRUE(waitForLoad(host));
        EXPECT_TRUE(runMainLoopUntil([&] { return gtk_widget_get_mapped(m_window); }));
        focusWindow(m_window);
        xdotool({"key", "shift"}); // the first key after the window appears may be lost
        GtkWidget* view = GTK_WIDGET(host.webView());
        pointerAt(view, 300, 40);
        EXPECT_TRUE(waitForValue(host, "document.activeElement.id", R"("composer")", nullptr));
        xdotool({"type", "--delay", "20", text});
        EXPECT_TRUE(waitForValue(host, "document.getElementById('composer').textContent",
                                 nlohmann::json(text).dump(), nullptr));
        const auto centre = nlohmann::json::parse(evaluate(host,
                                                           R"((() => {
                const node = document.getElementById('composer').firstChild;
                const start = node.data.indexOf()" + nlohmann::json(word).dump() +
                                                               R"();
                const range = document.createRange();
                range.setStart(node, start);
                range.setEnd(node, start + )" + std::to_string(word.size()) +
                                                               R"();
                const r = range.getBoundingClientRect();
                return [r.left + r.width / 2, r.top + r.height / 2];
            })())",
                                                           nullptr)
                                                      .value_or("null"),
                                                  nullptr, false);
        if (!centre.is_array()) {
            ADD_FAILURE() << "the word is not in the composer";
            return {};
        }
        pointerAt(view, centre[0].get<double>(), centre[1].get<double>(), "click", 3);
        std::vector<std::string> labels;
        runMainLoopUntil([&] { return !(labels = menuLabels(view)).empty(); }, 5s);
        xdotool({"key", "Escape"});
        gtk_window_set_child(GTK_WINDOW(m_window), nullptr);
        destroy(host);
        return labels;
    }

    GtkWidget* m_window = nullptr;
};

// The account's outgoing language and English are both checked.
TEST_F(PageSpellingTest, MisspeltWordOffersCorrectionsInTheAccountsLanguages) {
    const struct {
        ChatLanguage outgoing;
        std::string text, word, guess;
    } cases[] = {
        {ChatLanguage::English, "I sent the pakage", "pakage", "package"},
        {ChatLanguage::Spanish, "muchas grasias", "grasias", "gracias"},
        {ChatLanguage::Spanish, "the pakage", "pakage", "package"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto in = inputs(kSessionA, "/composer.html");
        in.outgoingLanguage = c.outgoing;
        const auto labels = typeAndRightClick(in, c.text, c.word);
        EXPECT_NE(std::ranges::find(labels, c.guess), labels.end())
            << nlohmann::json(labels).dump();
    }
}

// WebKit has one checker for every page: the account on show sets it, and its switch takes
// effect while it is shown.
TEST_F(PageSpellingTest, TheAccountOnShowTurnsCheckingOnAndOff) {
    auto in = inputs(kSessionA, "/composer.html");
    in.spellChecking = false;
    auto& host = open(in);
    WebKitWebContext* context = webkit_web_view_get_context(host.webView());
    webkit_web_context_set_spell_checking_enabled(context, TRUE);
    host.update(in);
    EXPECT_TRUE(webkit_web_context_get_spell_checking_enabled(context)) << "changed while hidden";
    gtk_window_set_child(GTK_WINDOW(m_window), GTK_WIDGET(host.gobj()));
    gtk_window_present(GTK_WINDOW(m_window));
    ASSERT_TRUE(
        runMainLoopUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(host.webView())); }));
    EXPECT_FALSE(webkit_web_context_get_spell_checking_enabled(context));
    in.spellChecking = true;
    host.update(in);
    EXPECT_TRUE(webkit_web_context_get_spell_checking_enabled(context));
}

// Every tag names a dictionary that scripts/deps installs: Enchant matches file names exactly, so a
// wrong region would leave the language unchecked without a word.
TEST(SpellingDictionaries, EveryTagIsAnInstalledDictionary) {
    for (const auto& info : kChatLanguages)
        for (const auto& tag : spellingDictionaries(info.language))
            EXPECT_TRUE(std::filesystem::exists("/usr/share/hunspell/" + tag + ".dic"))
                << info.title << ": " << tag;
}

} // namespace
} // namespace aurelo::test
