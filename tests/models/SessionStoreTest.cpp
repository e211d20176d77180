#include "StoreTestSupport.hpp"

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

TEST_F(SessionStoreTest, RenameAndFieldSettersIgnoreBlankNamesAndUnknownIds) {
    auto store = makeStore();
    const std::string id = store->sessions()[0].id;
    int changes = 0;
    store->signalChanged().connect([&](SessionStore::Field) { ++changes; });
    store->rename(id, "   ");
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

TEST_F(SessionStoreTest, DeletingErasesTheDataAndSelectsTheFirstOrAFreshDefault) {
    auto store = makeStore();
    store->add("Second");
    store->add("Third");
    store->select(store->sessions()[1].id);
    store->remove(store->sessions()[1]);
    EXPECT_EQ(names(*store), (std::vector<std::string>{"WhatsApp 1", "Third"}));
    EXPECT_EQ(store->selectedID(), store->sessions()[0].id);

    store->remove(store->sessions()[1]);
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
