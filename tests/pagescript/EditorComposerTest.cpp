#include "PageScriptTest.hpp"

#include "support/Programs.hpp"
#include "web/WebPageCommand.hpp"

#include <glib.h>

#include <csignal>
#include <fstream>
#include <iostream>
#include <sstream>
#include <sys/wait.h>

namespace aurelo::test {
namespace {

// The composer of composer.html is built with an editor from the npm registry, the one named in
// the query string (bundled in the build; the lock file pins its version). English is typed with
// XTest key events; Chinese through a real input method, ibus with its pinyin engine, whose
// preedit WebKit hands the page as composition events and whose commit becomes the text.
// What the page sends is what the editor's model held, collected in window.sent.
constexpr const char* kEditors[] = {"lexical", "prosemirror", "draft", "slate", "quill", "trix"};
constexpr const char* kComposer = "#composer-wrap [contenteditable]";

std::string fileText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class EditorComposerTest : public PageScriptTest {
protected:
    static void SetUpTestSuite() {
        // Before GTK starts: its input-method module reads these once. Keys the engine passes on
        // are otherwise forwarded later, out of GTK's key handler, where WebKit no longer takes
        // them as typing (they arrive reversed, each before the caret).
        g_setenv("GTK_IM_MODULE", "ibus", TRUE);
        g_setenv("IBUS_ENABLE_SYNC_MODE", "1", TRUE);
        // The daemon writes its address under the test session's own XDG folders; the in-memory
        // configuration gives the pinyin engine its defaults (Chinese mode, candidates shown
        // in the preedit).
        const char* daemon[] = {"ibus-daemon",
                                "--panel=disable",
                                "--emoji-extension=disable",
                                "--config=/usr/libexec/ibus-memconf",
                                "--cache=none",
                                nullptr};
        GError* error = nullptr;
        if (!g_spawn_async(
                nullptr, const_cast<char**>(daemon), nullptr,
                static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), nullptr,
                nullptr, &s_inputMethod, &error)) {
            ADD_FAILURE() << "ibus-daemon: " << error->message;
            g_error_free(error);
        }
        EXPECT_TRUE(runMainLoopUntil(
            [] {
                return runProgram({"ibus", "engine", kEnglish}).succeeded;
            },
            10s))
            << "the input method did not start";
        PageScriptTest::SetUpTestSuite();
    }

    static void TearDownTestSuite() {
        PageScriptTest::TearDownTestSuite();
        if (s_inputMethod > 0) {
            kill(s_inputMethod, SIGTERM);
            waitpid(s_inputMethod, nullptr, 0);
            g_spawn_close_pid(s_inputMethod);
            s_inputMethod = 0;
        }
    }

    void openEditor(const std::string& editor, ChatWebViewInputs inputs = defaultInputs()) {
        serve("/composer.html", "text/html; charset=utf-8",
              fileText(std::filesystem::path(AURELO_EDITOR_FIXTURES) / "composer.html"));
        serve("/editors/" + editor + ".js", "text/javascript",
              fileText(std::filesystem::path(AURELO_EDITOR_BUNDLES) / (editor + ".js")));
        open("composer.html?editor=" + editor, std::move(inputs));
        ASSERT_TRUE(waitForPage("window.composer && document.querySelector('" +
                                std::string(kComposer) + "')"));
        ASSERT_TRUE(clickElement(kComposer));
        ASSERT_TRUE(waitForPage("document.activeElement.closest('#composer-wrap')"));
    }

    // The focused input context takes the new engine a moment after ibus has switched.
    static void usePinyin(bool on) {
        if (s_pinyin == on)
            return;
        runProgram({"ibus", "engine", on ? "libpinyin" : kEnglish});
        s_pinyin = on;
        runMainLoopFor(150ms);
    }

    // Types `syllables` into the input method and commits its first candidate with space.
    void typeChinese(const std::string& syllables, const std::string& committed) {
        usePinyin(true);
        typeText(syllables);
        ASSERT_TRUE(waitForPage("window.compositionOpen")) << "no preedit: " << pageState();
        pressKeys("space");
        ASSERT_TRUE(waitForPage("!window.compositionOpen")) << "no commit";
        ASSERT_TRUE(waitForModel(committed)) << model();
        usePinyin(false);
    }
    void typeEnglish(const std::string& text) {
        usePinyin(false);
        typeText(text);
        ASSERT_TRUE(waitForModel(text)) << model();
    }

    std::string model() {
        return evaluateInPage("window.composer.text().trim()").get<std::string>();
    }
    bool waitForModel(const std::string& text) {
        return waitForPage("window.composer.text().trim() === " + quoted(text));
    }
    // The composer shows what its model holds, once the editor has settled.
    bool waitForShownModel() {
        return waitForPage("(window.composer.element.innerText || '').replace(/\\s+/g, ' ').trim()"
                           " === window.composer.text().replace(/\\s+/g, ' ').trim()");
    }
    // What the page held when a check failed.
    std::string pageState() {
        return evaluateInPage(
                   "JSON.stringify({sent: window.sent, model: window.composer.text(),"
                   " shown: window.composer.element.innerText, title: "
                   "window.composer.element.title,"
                   " marks: Object.assign({}, window.composer.element.dataset),"
                   " guard: document.querySelector('.aurelo-composer-guard')?.textContent,"
                   " log: window.compositionLog.slice(-30)})")
                   .dump() +
               " asked: " + std::to_string(serviceTexts().size());
    }
    bool waitForSent(std::size_t count) {
        return waitForPage("window.sent.length === " + std::to_string(count));
    }
    void pressEnter() {
        const auto before = evaluateInPage("window.enterTimes.length").get<int>();
        pressKeys("Return");
        ASSERT_TRUE(waitForPage("window.enterTimes.length > " + std::to_string(before)));
    }
    std::size_t requestsFor(const std::string& text) {
        return static_cast<std::size_t>(
            std::ranges::count(serviceTexts(), text, &ServiceText::text));
    }

    static constexpr const char* kEnglish = "xkb:us::eng";
    static GPid s_inputMethod;
    static bool s_pinyin;
};

GPid EditorComposerTest::s_inputMethod = 0;
bool EditorComposerTest::s_pinyin = false;

std::size_t failedParts() {
    const auto* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    std::size_t failed = 0;
    for (int index = 0; index < result->total_part_count(); ++index)
        failed += result->GetTestPartResult(index).failed() ? 1 : 0;
    return failed;
}

TEST_F(EditorComposerTest, EveryEditorSendsOnlyWhatItsModelHoldsAndNeverChinese) {
    translations = {{"你好", "Hello, \"world\" <b>"}, {"再见", "Goodbye"}};
    using Check = std::function<void(const std::string& editor)>;
    const std::pair<const char*, Check> checks[] = {
        {"English typed goes out unchanged",
         [&](const std::string&) {
             const auto sentBefore = sent().size();
             typeEnglish("hello world");
             pressEnter();
             ASSERT_TRUE(waitForSent(sentBefore + 1)) << pageState();
             EXPECT_EQ(sent(), nlohmann::json::array({"hello world"}));
             EXPECT_TRUE(serviceTexts().empty()) << "English is not translated";
         }},
        {"Chinese from the input method goes out as its translation",
         [&](const std::string&) {
             const auto sentBefore = sent().size();
             typeChinese("nihao", "你好");
             pressEnter();
             ASSERT_TRUE(waitForSent(sentBefore + 1)) << pageState();
             EXPECT_EQ(sent().back(), "Hello, \"world\" <b>");
             EXPECT_EQ(requestsFor("Hello, \"world\" <b>"), 0u) << "the translation went out";
         }},
        {"the composer shows what its model holds after the send",
         [&](const std::string&) {
             EXPECT_TRUE(waitForModel("")) << model();
             EXPECT_TRUE(waitForShownModel())
                 << evaluateInPage("window.composer.element.innerText");
         }},
        {"the next message is clean",
         [&](const std::string&) {
             const auto sentBefore = sent().size();
             typeEnglish("see you");
             EXPECT_TRUE(waitForShownModel()) << pageState();
             pressEnter();
             ASSERT_TRUE(waitForSent(sentBefore + 1)) << pageState();
             EXPECT_EQ(sent().back(), "see you");
         }},
        {"a warm translation is sent without another request",
         [&](const std::string&) {
             const auto sentBefore = sent().size();
             typeChinese("zaijian", "再见");
             ASSERT_TRUE(waitForAnswersDelivered("aureloSetComposerWarm", 1));
             pressEnter();
             ASSERT_TRUE(waitForSent(sentBefore + 1)) << pageState();
             EXPECT_EQ(sent().back(), "Goodbye");
             EXPECT_EQ(requestsFor("再见"), 1u);
         }},
        {"text from the translation box reaches the model",
         [&](const std::string&) {
             const auto sentBefore = sent().size();
             typeEnglish("draft");
             evaluate(textInsertionScript("Thank you, see you soon"));
             ASSERT_TRUE(waitForModel("Thank you, see you soon")) << model();
             EXPECT_TRUE(waitForShownModel());
             pressEnter();
             ASSERT_TRUE(waitForSent(sentBefore + 1)) << pageState();
             EXPECT_EQ(sent().back(), "Thank you, see you soon");
         }},
        {"a preedit is neither sent nor cut by an insertion",
         [&](const std::string&) {
             const auto sentBefore = sent().size();
             usePinyin(true);
             typeText("xiexie");
             ASSERT_TRUE(waitForPage("window.compositionOpen")) << pageState();
             evaluate(textInsertionScript("Thanks"));
             runMainLoopFor(300ms);
             EXPECT_EQ(evaluateInPage("window.compositionOpen"), true) << "the preedit was cut";
             // The input method takes this Enter and commits; the page sends nothing.
             pressKeys("Return");
             ASSERT_TRUE(waitForPage("!window.compositionOpen"));
             usePinyin(false);
             // The insertion waited for the commit, then took the composer's place.
             ASSERT_TRUE(waitForModel("Thanks")) << pageState();
             EXPECT_EQ(sent().size(), sentBefore);
             pressEnter();
             ASSERT_TRUE(waitForSent(sentBefore + 1)) << pageState();
             EXPECT_EQ(sent().back(), "Thanks");
         }},
        {"with send translation off, Chinese is blocked by Enter and button",
         [&](const std::string& editor) {
             auto inputs = defaultInputs();
             inputs.automaticMessageTranslation = false;
             openEditor(editor, inputs);
             // Some editors are laid out after the page script's first look; the label follows.
             EXPECT_TRUE(waitForPage("document.querySelector('.aurelo-composer-guard')?.textContent"
                                     " === '发送翻译：关闭 · 中文原文禁止发送'",
                                     3s));
             typeChinese("nihao", "你好");
             pressEnter();
             const int clicks = evaluateInPage("window.pageClicks").get<int>();
             ASSERT_TRUE(clickElement("#send"));
             ASSERT_TRUE(waitForPage("window.pageClicks > " + std::to_string(clicks)));
             runMainLoopFor(200ms);
             EXPECT_EQ(evaluateInPage("window.sendClicks"), 0) << "the page never saw the click";
             EXPECT_TRUE(sent().empty()) << sent();
             EXPECT_EQ(model(), "你好");
             EXPECT_TRUE(fake.requests().empty()) << "nothing is translated";
         }},
        {"following the customer, a chat opened by address waits for its language",
         [&](const std::string& editor) {
             std::vector<nlohmann::json> reports;
             auto inputs = defaultInputs();
             inputs.followsConversation = true;
             inputs.onConversationReported = [&](std::optional<std::string> conversation) {
                 reports.push_back(conversation ? nlohmann::json(*conversation) : nullptr);
             };
             openEditor(editor, inputs);
             ASSERT_TRUE(runMainLoopUntil([&] { return !reports.empty(); }));
             EXPECT_EQ(reports[0], nullptr) << "the editor's page shows no chat";
             evaluateInPage("location.hash = '#@maria_lopez'");
             ASSERT_TRUE(runMainLoopUntil([&] { return reports.size() == 2; }));
             EXPECT_EQ(reports[1], "fragment:@maria_lopez");
             typeChinese("nihao", "你好");
             pressEnter();
             runMainLoopFor(200ms);
             EXPECT_TRUE(sent().empty()) << "sent before the chat's language was named";
             updateHost([](ChatWebViewInputs& host) {
                 host.conversationLanguage =
                     std::pair{std::optional<std::string>("fragment:@maria_lopez"),
                               ChatLanguage::Spanish};
             });
             ASSERT_TRUE(waitForSent(1)) << pageState();
             EXPECT_EQ(serviceTexts().back().target, "es");
         }},
    };

    std::map<std::string, std::vector<bool>> passed;
    for (const char* editor : kEditors) {
        SCOPED_TRACE(editor);
        openEditor(editor);
        for (const auto& [name, check] : checks) {
            SCOPED_TRACE(name);
            const auto before = failedParts();
            // Each check starts on an empty composer, whatever the one before it left.
            if (evaluateInPage("window.composer && window.composer.text().trim()") != "")
                evaluateInPage("window.composer.clear()");
            usePinyin(false);
            check(editor);
            passed[editor].push_back(failedParts() == before);
        }
    }
    std::ostringstream table;
    table << "editor × check (✓ passed, ✗ failed)\n";
    for (std::size_t index = 0; index < std::size(checks); ++index)
        table << "  " << index + 1 << ": " << checks[index].first << "\n";
    for (const char* editor : kEditors) {
        table << "  " << editor << ":";
        for (const bool ok : passed[editor])
            table << " " << (ok ? "✓" : "✗");
        table << "\n";
    }
    std::cout << table.str();
}

} // namespace
} // namespace aurelo::test
