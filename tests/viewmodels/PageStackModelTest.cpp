// Which pages the stack builds, rebuilds and drops, and which page takes a pending request,
// over real stores without a display.

#include "support/ShellTestFixture.hpp"

#include "viewmodels/PageStackModel.hpp"
#include "viewmodels/PageStartPacing.hpp"
#include "viewmodels/QuickReplyPicker.hpp"

namespace aurelo::test {
namespace {

using Step = PageStackModel::Step;

TEST(PageStackDecision, CreatesRebuildsKeepsAndDrops) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> built;
        std::vector<PageStackModel::Wanted> wanted;
        PageStackModel::Decision expected;
    };
    const std::vector<Case> cases{
        {"first start", {}, {{"A", "a"}, {"B", "b"}}, {{}, {Step::Create, Step::Create}}},
        {"nothing changed", {{"A", "a"}}, {{"A", "a"}}, {{}, {Step::Keep}}},
        {"identity changed", {{"A", "a"}}, {{"A", "a2"}}, {{}, {Step::Rebuild}}},
        {"session removed", {{"A", "a"}, {"B", "b"}}, {{"B", "b"}}, {{"A"}, {Step::Keep}}},
        {"all at once",
         {{"A", "a"}, {"B", "b"}},
         {{"C", "c"}, {"B", "b2"}},
         {{"A"}, {Step::Create, Step::Rebuild}}},
        {"last session removed", {{"A", "a"}}, {}, {{"A"}, {}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PageStackModel::decide(c.wanted, c.built), c.expected) << c.name;
}

class PageStackModelTest : public ShellTestFixture {
protected:
    PageStackModel pages{model};

    ChatSession find(const std::string& id) const {
        return *std::ranges::find(store.sessions(), id, &ChatSession::id);
    }
    // The identity of every page as the stack would have built it now.
    std::map<std::string, std::string> built() const {
        std::map<std::string, std::string> identities;
        for (const auto& session : store.sessions())
            identities[session.id] = pages.identity(session);
        return identities;
    }
    static const PageStackModel::Page& pageOf(const PageStackModel::Plan& plan,
                                              const std::string& id) {
        const auto page = std::ranges::find(plan.pages, id, &PageStackModel::Page::sessionID);
        return page != plan.pages.end() ? *page : throw std::runtime_error("no page for " + id);
    }
};

// Each row changes one thing, on top of the rows before it; only what a page reads when it is
// built rebuilds it, and only the pages that read the changed value.
TEST_F(PageStackModelTest, OnlyWhatAPageIsBuiltWithRebuildsIt) {
    const std::string other = store.sessions().front().id;
    const std::string id = addSession("second").id;
    using Change = std::function<void(ChatSession&)>;
    auto global = [](std::function<void()> change) { return [change](ChatSession&) { change(); }; };
    struct Case {
        const char* name;
        Change change;
        bool rebuilds;
        bool rebuildsOthers = false;
    };
    const std::vector<Case> cases{
        {"proxy host without a port: still no route",
         [](ChatSession& s) { s.proxyHost = "127.0.0.1"; }, false},
        {"proxy port: a route now", [](ChatSession& s) { s.proxyPort = 1080; }, true},
        {"proxy type alone, HTTP to SOCKS5", [](ChatSession& s) { s.proxyType = "socks5"; }, true},
        {"proxy type back to HTTP", [](ChatSession& s) { s.proxyType = "http"; }, true},
        {"proxy port", [](ChatSession& s) { s.proxyPort = 3128; }, true},
        {"proxy removed", [](ChatSession& s) { s.proxyHost = ""; }, true},
        {"font colour", [](ChatSession& s) { s.translationFontColor = "#FF0000"; }, true},
        {"input language", [](ChatSession& s) { s.inputLanguageCode = "fr"; }, true},
        {"engine", [](ChatSession& s) { s.translationProvider = "deepl"; }, true},
        {"receive flag", [](ChatSession& s) { s.receiveTranslationEnabled = false; }, true},
        {"send flag", [](ChatSession& s) { s.sendTranslationEnabled = false; }, true},
        {"name", [](ChatSession& s) { s.name = "renamed"; }, false},
        {"zoom", global([this] { model.zoomIn(); }), false},
        {"selection and reload", global([&] { model.selectAndReload(other); }), false},
        {"global font size, the session has none of its own",
         global([this] { preferences.setTranslationFontSize(18.5); }), true, true},
    };
    for (const auto& c : cases) {
        const auto before = built();
        ChatSession session = find(id);
        c.change(session);
        store.updateSession(session);
        const auto plan = pages.plan(before);
        EXPECT_TRUE(plan.drop.empty()) << c.name;
        EXPECT_EQ(pageOf(plan, id).step, c.rebuilds ? Step::Rebuild : Step::Keep) << c.name;
        EXPECT_EQ(pageOf(plan, other).step, c.rebuildsOthers ? Step::Rebuild : Step::Keep)
            << c.name;
    }
}

TEST_F(PageStackModelTest, InputsCarryTheLiveValuesAndEachPagesUnreadCountReachesItsTab) {
    const std::string first = store.sessions().front().id;
    model.zoomIn();
    model.selectAndReload(first);
    const auto inputs = pages.inputs(find(first));
    EXPECT_DOUBLE_EQ(inputs.pageZoom, 1.1);
    EXPECT_TRUE(inputs.isActive);
    EXPECT_EQ(inputs.reloadToken, model.reloadToken());

    const std::string second = addSession("second").id;
    pages.inputs(find(second)).onUnreadCountChanged(7);
    EXPECT_EQ(model.tabBadgeText(second), "7") << "the count belongs to its own tab";
    EXPECT_EQ(model.tabBadgeText(first), std::nullopt);
}

TEST_F(PageStackModelTest, CommandsAndInsertionsGoToTheSelectedPageOnce) {
    const std::string first = store.sessions().front().id;
    const std::string second = addSession("second").id;
    model.selectTab(first);
    model.translateWholePage(second);
    EXPECT_EQ(store.selectedID(), second);
    EXPECT_FALSE(model.pageCommand()) << "the command follows on the next turn of the loop";
    ASSERT_TRUE(runMainLoopUntil([&] { return model.pageCommand().has_value(); }));
    EXPECT_EQ(model.pageCommand()->action, WebPageCommand::Action::TranslateToChinese);
    QuickReplyStore replies{*defaults};
    ASSERT_TRUE(replies.add("问候", "你好"));
    QuickReplyPicker(replies, model, translator)
        .pick(replies.replies()[0].id, QuickReplyPicker::Insertion::AsWritten);

    auto plan = pages.plan(built());
    EXPECT_FALSE(pageOf(plan, first).command);
    EXPECT_FALSE(pageOf(plan, first).insertion);
    EXPECT_FALSE(pageOf(plan, first).shown);
    EXPECT_TRUE(pageOf(plan, second).shown);
    ASSERT_TRUE(pageOf(plan, second).command);
    ASSERT_TRUE(pageOf(plan, second).insertion);
    EXPECT_EQ(pageOf(plan, second).insertion->text, "你好");

    pages.pageCommandTaken("an older command");
    pages.textInsertionTaken("an older insertion");
    plan = pages.plan(built());
    ASSERT_TRUE(pageOf(plan, second).command) << "only the id handed out clears it";
    ASSERT_TRUE(pageOf(plan, second).insertion);
    pages.pageCommandTaken(pageOf(plan, second).command->id);
    pages.textInsertionTaken(pageOf(plan, second).insertion->id);
    plan = pages.plan(built());
    EXPECT_FALSE(pageOf(plan, second).command) << "each runs once";
    EXPECT_FALSE(pageOf(plan, second).insertion);

    model.setShowAppCenter(true);
    EXPECT_FALSE(pageOf(pages.plan(built()), second).shown) << "a panel covers the pages";
}

TEST_F(PageStackModelTest, ASleepingAccountsPageIsDroppedAndBuiltAgainWhenSelected) {
    const std::string first = store.sessions().front().id;
    const std::string second = addSession("second").id;
    model.selectTab(first);
    int plans = 0;
    pages.signalChanged().connect([&] { ++plans; });

    model.hibernation().hibernateNow(second);
    EXPECT_GT(plans, 0) << "the stack plans again when an account falls asleep";
    auto plan = pages.plan(built());
    EXPECT_EQ(plan.drop, std::vector<std::string>{second});
    for (const auto& page : plan.pages)
        EXPECT_NE(page.sessionID, second);

    // Its page gone, the stack holds only the first; selecting the second builds it anew.
    std::map<std::string, std::string> remaining = built();
    remaining.erase(second);
    model.selectTab(second);
    plan = pages.plan(remaining);
    EXPECT_TRUE(plan.drop.empty());
    EXPECT_EQ(pageOf(plan, second).step, PageStackModel::Step::Create);
    EXPECT_TRUE(pageOf(plan, second).shown);
}

// With many accounts the hidden pages start after the shown one, a few at a time, and every one
// of them starts in the end; with few, all start at once, as before.
TEST(PageStartPacing, ManyHiddenPagesFollowTheShownOneAFewAtATime) {
    struct Case {
        const char* name;
        std::size_t hidden;
        std::vector<std::size_t> builtPerStep; // from the first synchronisation on
    };
    const std::vector<Case> cases = {
        {"six: at once", 6, {6}},
        {"none", 0, {0}},
        {"seven: head start, then three a step", 7, {0, 0, 0, 3, 3, 1}},
        {"twenty-nine", 29, {0, 0, 0, 3, 3, 3, 3, 3, 3, 3, 3, 3, 2}},
    };
    for (const auto& c : cases) {
        PageStartPacing pacing;
        std::size_t waiting = c.hidden;
        std::vector<std::size_t> built;
        for (int step = 0; step < 40 && (step == 0 || pacing.pacing()); ++step) {
            if (step > 0)
                pacing.step();
            const std::size_t now = pacing.allowance(waiting);
            pacing.built(now);
            waiting -= now;
            built.push_back(now);
        }
        EXPECT_EQ(built, c.builtPerStep) << c.name;
        EXPECT_EQ(waiting, 0u) << c.name;
        EXPECT_FALSE(pacing.pacing()) << c.name << ": the timer stops";
        EXPECT_EQ(pacing.allowance(12), 12u) << c.name << ": accounts added later start at once";
    }
}

} // namespace
} // namespace aurelo::test
