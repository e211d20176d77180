#include "StoreTestSupport.hpp"

#include "models/AccountName.hpp"
#include "models/SessionStore.hpp"

#include <gtest/gtest.h>

namespace aurelo::test {
namespace {

using Json = UserDefaults::Json;

class SessionStoreTest : public ::testing::Test {
protected:
    StoreEnvironment env;
    RecordingBadge badge;
    RecordingCleaner cleaner;

    std::unique_ptr<SessionStore> makeStore() {
        return std::make_unique<SessionStore>(*env.defaults, &badge, &cleaner);
    }
    static std::vector<std::string> names(const SessionStore& store) {
        std::vector<std::string> result;
        for (const auto& session : store.sessions())
            result.push_back(session.name);
        return result;
    }
    Json storedSessions() const { return env.storedDefaults().at("aureloTranslator.sessions"); }
};

TEST_F(SessionStoreTest, FirstStartHasOneSelectedSessionWritesNothingAndIsNeverEmpty) {
    auto store = makeStore();
    ASSERT_EQ(store->sessions().size(), 1u);
    ChatSession expected;
    expected.id = store->sessions()[0].id;
    expected.name = "WhatsApp 1";
    EXPECT_EQ(store->sessions()[0], expected);
    EXPECT_EQ(store->selectedID(), expected.id);
    EXPECT_FALSE(std::filesystem::exists(env.defaultsFile));
    store->setSessions({});
    EXPECT_EQ(names(*store), std::vector<std::string>{"WhatsApp 1"});

    ASSERT_TRUE(env.defaults->set("aureloTranslator.sessions", Json::array()));
    EXPECT_EQ(names(*makeStore()), std::vector<std::string>{"WhatsApp 1"});
}

TEST_F(SessionStoreTest, ChangesSurviveARestartInOrderWithTheFirstSelected) {
    auto store = makeStore();
    store->addWebsite("  Shop  ", "https://shop.example.com/");
    store->setOutgoingLanguage(store->sessions()[1].id, "es");
    store->setUnreadCount(3, store->sessions()[1].id);
    env.restart();
    auto reloaded = makeStore();
    EXPECT_EQ(reloaded->sessions(), store->sessions());
    EXPECT_EQ(names(*reloaded), (std::vector<std::string>{"WhatsApp 1", "  Shop  "}));
    EXPECT_EQ(reloaded->selectedID(), reloaded->sessions()[0].id);
    EXPECT_TRUE(reloaded->unreadCounts().empty());
}

TEST_F(SessionStoreTest, AnUnreadableListIsKeptAsideOnceBeforeTheFirstSave) {
    const Json damaged = Json::parse(
        R"([{"id": "11111111-1111-4111-8111-111111111111", "name": "Kept", "proxyPort": "80"}])");
    ASSERT_TRUE(env.defaults->set("aureloTranslator.sessions", damaged));
    auto store = makeStore();
    EXPECT_EQ(names(*store), std::vector<std::string>{"WhatsApp 1"});
    EXPECT_EQ(storedSessions(), damaged) << "loading alone changes nothing on disk";

    store->add("New");
    store->add("Newer");
    EXPECT_EQ(storedSessions().size(), 3u);
    const auto aside = env.filesBeside("aureloTranslator.sessions.");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_TRUE(aside[0].filename().string().starts_with("aureloTranslator.sessions.unreadable-"));
    EXPECT_EQ(Json::parse(readFile(aside[0])), damaged);
}

TEST_F(SessionStoreTest, AddingNamesByCountTrimsAndSelects) {
    auto store = makeStore();
    store->add("WhatsApp 4");
    store->add(std::nullopt);
    store->add(" \n ");
    EXPECT_EQ(names(*store),
              (std::vector<std::string>{"WhatsApp 1", "WhatsApp 4", "WhatsApp 3", "WhatsApp 4"}));
    store->add();
    EXPECT_EQ(store->sessions().back().name, "WhatsApp 5");
    store->add("\t Sales \n");
    EXPECT_EQ(store->sessions().back().name, "Sales");
    EXPECT_EQ(store->selectedID(), store->sessions().back().id);
    EXPECT_EQ(storedSessions().size(), 6u);
}

TEST(AccountNameTest, TrimmedNotBlankAndAtMostThirtyCharacters) {
    const std::string blank(AccountName::kBlank), tooLong(AccountName::kTooLong);
    std::string thirtyHan;
    for (int i = 0; i < 15; ++i)
        thirtyHan += "客服";
    const std::tuple<std::string, std::size_t, std::string> cases[] = {
        {"", 0, blank},
        {" \n\t\xe3\x80\x80", 0, blank}, // U+3000, the ideographic space, is blank too
        {"北美客户", 4, ""},
        {thirtyHan, 30, ""},
        {"  " + thirtyHan + " \n", 30, ""}, // the blanks around do not count
        {thirtyHan + "A", 31, tooLong},
        {std::string(30, 'x'), 30, ""},
        {std::string(84, 'x'), 84, tooLong},
        {std::string("\xff") + std::string(30, 'x'), 31, tooLong}, // not UTF-8: bytes count
    };
    for (const auto& [typed, length, problem] : cases) {
        EXPECT_EQ(AccountName::length(typed), length) << typed;
        EXPECT_EQ(AccountName::problem(typed), problem) << typed;
    }
    EXPECT_EQ(AccountName::problemWhileTyping(""), "") << "an empty field is not yet a mistake";
    EXPECT_EQ(AccountName::problemWhileTyping("  "), blank);
}

TEST_F(SessionStoreTest, RenameAndFieldSettersIgnoreBlankNamesAndUnknownIds) {
    auto store = makeStore();
    const std::string id = store->sessions()[0].id;
    int changes = 0;
    store->signalChanged().connect([&](SessionStore::Field) { ++changes; });
    store->rename(id, "   ");
    store->rename(id, std::string(31, 'x'));
    store->rename("00000000-0000-4000-8000-000000000000", "Other");
    store->setIncomingLanguage("00000000-0000-4000-8000-000000000000", "fr");
    EXPECT_EQ(changes, 0);
    EXPECT_FALSE(std::filesystem::exists(env.defaultsFile));

    store->rename(id, " Renamed ");
    store->setInputLanguage(id, "ja");
    store->setTranslationProvider(id, "openai");
    EXPECT_EQ(storedSessions()[0], (Json{{"id", id},
                                         {"name", "Renamed"},
                                         {"inputLanguageCode", "ja"},
                                         {"translationProvider", "openai"}}));
}

TEST_F(SessionStoreTest, MovePlacesTheSessionImmediatelyBeforeTheOther) {
    struct Case {
        int moving, before;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {0, 2, {"B", "A", "C"}}, {2, 0, {"C", "A", "B"}}, {1, 1, {"A", "B", "C"}},
        {0, 1, {"A", "B", "C"}}, {1, 0, {"B", "A", "C"}}, {0, 3, {"A", "B", "C"}},
    };
    for (const auto& c : cases) {
        auto store = makeStore();
        store->setSessions(
            {ChatSession::make("A"), ChatSession::make("B"), ChatSession::make("C")});
        const auto ids = store->sessions();
        // Index 3 stands for an id that is not in the list.
        const std::string before = c.before < 3 ? ids[static_cast<std::size_t>(c.before)].id
                                                : "00000000-0000-4000-8000-000000000000";
        store->move(ids[static_cast<std::size_t>(c.moving)].id, before);
        EXPECT_EQ(names(*store), c.expected) << c.moving << " before " << c.before;
    }
}

// The tab bar shows the selected account's platform; deleting the selected tab selects the tab
// beside it there, and another platform's account only when none of its own is left.
TEST_F(SessionStoreTest, DeletingTheSelectedAccountSelectsTheTabBesideIt) {
    const std::optional<std::string> telegram = "https://web.telegram.org/";
    const std::optional<std::string> shop = "https://shop.example.com/";
    // The accounts, in list order, by name and address.
    const std::vector<std::pair<std::string, std::optional<std::string>>> accounts{
        {"WA 1", std::nullopt}, {"TG 1", telegram},     {"WA 2", std::nullopt},
        {"TG 2", telegram},     {"WA 3", std::nullopt}, {"Shop", shop}};
    struct Case {
        const char* selected;
        const char* deleted;
        const char* then;
    };
    for (const auto& c : {Case{"WA 2", "WA 2", "WA 3"}, Case{"WA 3", "WA 3", "WA 2"},
                          Case{"TG 1", "TG 1", "TG 2"}, Case{"TG 2", "TG 2", "TG 1"},
                          Case{"Shop", "Shop", "WA 3"}, Case{"WA 1", "TG 1", "WA 1"}}) {
        SCOPED_TRACE(std::string(c.selected) + " selected, " + c.deleted + " deleted");
        auto store = makeStore();
        std::vector<ChatSession> sessions;
        for (const auto& [name, url] : accounts)
            sessions.push_back(ChatSession::make(name, url));
        store->setSessions(sessions);
        const auto named = [&](const char* name) {
            return *std::ranges::find(store->sessions(), std::string(name), &ChatSession::name);
        };
        store->select(named(c.selected).id);
        store->remove(named(c.deleted));
        EXPECT_EQ(store->selectedID(), named(c.then).id);
    }
}

TEST_F(SessionStoreTest, DeletingErasesTheDataAndSelectsANeighbourOrAFreshDefault) {
    auto store = makeStore();
    store->add("Second");
    store->add("Third");
    store->select(store->sessions()[1].id);
    store->remove(store->sessions()[1]);
    EXPECT_EQ(names(*store), (std::vector<std::string>{"WhatsApp 1", "Third"}));
    EXPECT_EQ(store->selectedID(), store->sessions()[1].id);

    store->remove(store->sessions()[1]);
    EXPECT_EQ(store->selectedID(), store->sessions()[0].id);
    const ChatSession only = store->sessions()[0];
    store->setUnreadCount(4, only.id);
    store->remove(only);
    // A report that arrives after its session was deleted cannot bring the badge back.
    store->setUnreadCount(5, only.id);
    ASSERT_EQ(store->sessions().size(), 1u);
    EXPECT_EQ(store->sessions()[0].name, "WhatsApp 1");
    EXPECT_NE(store->sessions()[0].id, only.id);
    EXPECT_EQ(store->selectedID(), store->sessions()[0].id);
    EXPECT_EQ(cleaner.cleared.size(), 3u);
    EXPECT_EQ(cleaner.cleared.back(), only.id);
    EXPECT_TRUE(store->unreadCounts().empty());
    EXPECT_EQ(badge.labels.back(), std::nullopt);
    EXPECT_EQ(storedSessions().size(), 1u);
}

TEST_F(SessionStoreTest, BadgeFollowsTheTotalOfUnreadCounts) {
    auto store = makeStore();
    store->add("Second");
    const std::string a = store->sessions()[0].id, b = store->sessions()[1].id;
    store->setUnreadCount(3, a);
    store->setUnreadCount(997, b);
    EXPECT_EQ(store->totalUnreadCount(), 1000);
    EXPECT_EQ(badge.labels.back(), "999+");
    store->setUnreadCount(2, a);
    EXPECT_EQ(badge.labels.back(), "999");
    const auto updates = badge.labels.size();
    store->setUnreadCount(2, a);
    EXPECT_EQ(badge.labels.size(), updates) << "the same count again does not touch the badge";
    store->setUnreadCount(0, a);
    store->setUnreadCount(-3, b);
    EXPECT_EQ(store->unreadCounts().at(b), 0);
    EXPECT_EQ(badge.labels.back(), std::nullopt);
    store->setUnreadCount(123456, a);
    EXPECT_EQ(store->unreadCounts().at(a), 9999);
}

} // namespace
} // namespace aurelo::test
