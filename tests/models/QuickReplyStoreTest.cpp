#include "StoreTestSupport.hpp"

#include "models/QuickReplyStore.hpp"
#include "platform/Text.hpp"

#include <gtest/gtest.h>

namespace aurelo::test {
namespace {

using Json = UserDefaults::Json;
constexpr const char* kKey = "aureloTranslator.quickReplies";

std::vector<std::string> titles(const QuickReplyStore& store) {
    std::vector<std::string> result;
    for (const auto& reply : store.replies())
        result.push_back(reply.title);
    return result;
}

TEST(QuickReplyStore, EditsKeepTheUsersOrderAcrossARestart) {
    StoreEnvironment env;
    {
        QuickReplyStore store(*env.defaults);
        auto hello = store.add("问候", "  Hello, how can I help you?\n");
        auto price = store.add("", "The price includes shipping to your door.\nThanks!");
        auto bye = store.add("再见", "Goodbye");
        ASSERT_TRUE(hello && price && bye);
        ASSERT_TRUE(store.update(*bye, "告别", "Bye, have a nice day"));
        store.move(*bye, 0);
        store.remove(*hello);
        store.move("unknown", 0);
    }
    env.restart();
    QuickReplyStore reloaded(*env.defaults);
    // An empty title is the start of the first line; texts are trimmed.
    EXPECT_EQ(titles(reloaded), (std::vector<std::string>{"告别", "The price includes s…"}));
    EXPECT_EQ(reloaded.replies()[1].text, "The price includes shipping to your door.\nThanks!");
    const Json stored = env.storedDefaults().at(kKey);
    ASSERT_TRUE(stored.is_array());
    EXPECT_EQ(stored[0], (Json{{"id", reloaded.replies()[0].id},
                               {"title", "告别"},
                               {"text", "Bye, have a nice day"}}));
}

TEST(QuickReplyStore, TheEditorRefusesWhatCannotBeSent) {
    StoreEnvironment env;
    const std::string id = "6F1D2C3B-1111-4A5B-8C9D-0E1F2A3B4C5D";
    ASSERT_TRUE(env.defaults->set(
        kKey, Json::array({{{"id", text::asciiLowercased(id)}, {"title", "t"}, {"text", "x"}}})));
    QuickReplyStore store(*env.defaults);
    ASSERT_NE(store.find(id), nullptr) << "a lower-case id is read in canonical form";
    EXPECT_EQ(store.add("标题", " \n\t").error(), "常用语内容不能为空");
    EXPECT_EQ(store.add("", std::string(2001, 'a')).error(), "常用语内容太长，最多 2000 个字");
    EXPECT_TRUE(store.add("", std::string(2000, 'a')));
    EXPECT_EQ(store.add(std::string(41 * 3, '\xe5'), "x").error(), "常用语含有无法识别的字符");
    std::string longTitle;
    for (int i = 0; i < 41; ++i)
        longTitle += "字";
    EXPECT_EQ(store.add(longTitle, "x").error(), "标题太长，最多 40 个字");
    EXPECT_EQ(store.update("00000000-0000-4000-8000-000000000000", "a", "b").error(),
              "这条常用语已被删除");
    EXPECT_FALSE(store.update(id, "t2", ""));
    EXPECT_EQ(store.find(id)->title, "t") << "a refused edit leaves the phrase as it was";
    EXPECT_EQ(store.replies().size(), 2u);
}

TEST(QuickReplyStore, AnUnreadableListIsKeptAsideNeverDropped) {
    const std::string id = "6F1D2C3B-1111-4A5B-8C9D-0E1F2A3B4C5D";
    const Json good = {{"id", id}, {"title", "t"}, {"text", "x"}};
    const std::vector<std::pair<const char*, Json>> damaged = {
        {"not an array", Json{{"id", id}}},
        {"missing text", Json::array({{{"id", id}, {"title", "t"}}})},
        {"number title", Json::array({{{"id", id}, {"title", 3}, {"text", "x"}}})},
        {"id not a UUID", Json::array({{{"id", "abc"}, {"title", "t"}, {"text", "x"}}})},
        {"same id twice", Json::array({good, good})},
        {"item not an object", Json::array({good, "loose text"})},
    };
    for (const auto& [what, value] : damaged) {
        SCOPED_TRACE(what);
        StoreEnvironment env;
        ASSERT_TRUE(env.defaults->set(kKey, value));
        QuickReplyStore store(*env.defaults);
        EXPECT_TRUE(store.replies().empty());
        EXPECT_TRUE(store.storedListUnreadable());
        EXPECT_EQ(env.storedDefaults().at(kKey), value) << "loading alone writes nothing";

        ASSERT_TRUE(store.add("新", "new"));
        const auto aside = env.filesBeside(std::string(kKey) + ".unreadable-");
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(Json::parse(readFile(aside[0])), value);
        EXPECT_EQ(env.storedDefaults().at(kKey).size(), 1u);
    }
}

} // namespace
} // namespace aurelo::test
