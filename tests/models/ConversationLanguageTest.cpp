// The customer-language rule as a table, and the per-account store's bounds, privacy and damage.
#include "support/TestDirectory.hpp"

#include "models/ConversationLanguageStore.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace aurelo::test {
namespace {

using L = ChatLanguage;
using Origin = ConversationLanguageOrigin;

const std::string kSpanish = "Hola, quisiera saber el precio del envío a Madrid";
const std::string kSpanish2 = "¿Cuándo llega el pedido? Lo necesito para el lunes";
const std::string kGerman = "Guten Tag, ich hätte gern ein Angebot für zwanzig Stück";
const std::string kGerman2 = "Können Sie mir bitte die Lieferzeit nach Berlin sagen?";
const std::string kFrench = "Bonjour, je voudrais connaître le prix de la livraison";

struct Message {
    std::string text;
    std::string detected;
};

struct RuleCase {
    const char* name;
    std::vector<Message> messages;
    std::optional<L> manual;
    ConversationLanguageChoice expected;
};

TEST(ConversationLanguageRule, SettlesOnlyOnTellingAgreeingDetections) {
    const std::vector<RuleCase> cases{
        {"nothing yet", {}, {}, {L::English, Origin::Fallback}},
        {"one long message settles an unknown conversation",
         {{kSpanish, "es"}},
         {},
         {L::Spanish, Origin::Detected}},
        {"a short message does not", {{"Hola, gracias", "es"}}, {}, {L::English, Origin::Fallback}},
        {"nineteen letters do not",
         {{"abcdefghij klmnopqrs 123", "es"}},
         {},
         {L::English, Origin::Fallback}},
        {"emoji and digits do not",
         {{"👍👍👍 12345678901234567890123 🙂", "es"}},
         {},
         {L::English, Origin::Fallback}},
        {"a link alone does not",
         {{"https://shop.example.com/products/mochila-grande-impermeable", "es"}},
         {},
         {L::English, Origin::Fallback}},
        {"one disagreeing detection does not switch",
         {{kSpanish, "es"}, {kGerman, "de"}},
         {},
         {L::Spanish, Origin::Detected}},
        {"a disagreement between two others does not switch",
         {{kSpanish, "es"}, {kGerman, "de"}, {kFrench, "fr"}},
         {},
         {L::Spanish, Origin::Detected}},
        {"two agreeing detections switch",
         {{kSpanish, "es"}, {kGerman, "de"}, {kGerman2, "de"}},
         {},
         {L::German, Origin::Detected}},
        {"short messages between do not break agreement",
         {{kSpanish, "es"}, {kGerman, "de"}, {"Danke!", "de"}, {"ok", "en"}, {kGerman2, "de"}},
         {},
         {L::German, Origin::Detected}},
        {"region subtags and old codes are read",
         {{kSpanish, "es-419"}, {kSpanish2, "ES"}},
         {},
         {L::Spanish, Origin::Detected}},
        {"Chinese and unknown codes are no customer language",
         {{"您好，我想了解一下这款产品的价格和运费以及发货时间，谢谢您的帮助", "zh-CN"},
          {kSpanish, "xx"},
          {kSpanish, ""}},
         {},
         {L::English, Origin::Fallback}},
        {"a manual choice wins over detections",
         {{kSpanish, "es"}, {kSpanish2, "es"}},
         L::German,
         {L::German, Origin::Manual}},
    };
    for (const auto& c : cases) {
        ConversationLanguageState state;
        for (const auto& message : c.messages)
            state = ConversationLanguageRule::observe(state, message.text, message.detected);
        state.manual = c.manual;
        EXPECT_EQ(ConversationLanguageRule::choose(state, L::English), c.expected) << c.name;
    }
}

class ConversationLanguageStoreTest : public ::testing::Test {
protected:
    TestDirectory directory;
    std::filesystem::path folder = directory.path() / "conversation-languages";
    const std::string account = "0F8D4C4E-6C1B-4C8B-9E58-3B5C0A1D2E3F";

    static ConversationLanguageState spanish() {
        return ConversationLanguageRule::observe({}, kSpanish, "es");
    }
    std::vector<std::filesystem::path> files() const {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            found.push_back(entry.path().filename());
        return found;
    }
};

TEST_F(ConversationLanguageStoreTest, KeepsStatesAcrossARestartWithoutNamingTheContact) {
    const std::string contact = "header:María García +34 612 345 678";
    {
        ConversationLanguageStore store(folder);
        ConversationLanguageState state = spanish();
        state.manual = L::Portuguese;
        store.save(account, contact, state);
    }
    const std::string stored = readFile(folder / (account + ".json"));
    for (const char* clear : {"María", "612", "header:"})
        EXPECT_EQ(stored.find(clear), std::string::npos) << clear;
    ConversationLanguageStore reloaded(folder);
    EXPECT_EQ(reloaded.state(account, contact).manual, L::Portuguese);
    EXPECT_EQ(reloaded.state(account, contact).detected, L::Spanish);
    EXPECT_TRUE(reloaded.state(account, "header:Someone else").empty());
    // Another account's file has its own salt: the same contact gets another key.
    const std::string other = "1A2B3C4D-0000-4000-8000-000000000001";
    reloaded.save(other, contact, spanish());
    EXPECT_FALSE(reloaded.flush());
    const auto keysOf = [&](const std::string& id) {
        return nlohmann::json::parse(readFile(folder / (id + ".json")))["conversations"]
            .items()
            .begin()
            .key();
    };
    EXPECT_NE(keysOf(account), keysOf(other));
}

TEST_F(ConversationLanguageStoreTest, DropsTheLeastRecentlyUsedConversationBeyondTheBound) {
    const std::size_t bound = 3;
    ConversationLanguageStore store(folder, bound);
    for (std::size_t i = 0; i < bound; ++i)
        store.save(account, "chat:" + std::to_string(i), spanish());
    // Opening the first conversation makes it recent; the second is now the oldest.
    EXPECT_FALSE(store.state(account, "chat:0").empty());
    store.save(account, "chat:new", spanish());
    ASSERT_FALSE(store.flush());
    ConversationLanguageStore reloaded(folder);
    EXPECT_FALSE(reloaded.state(account, "chat:0").empty());
    EXPECT_TRUE(reloaded.state(account, "chat:1").empty());
    EXPECT_FALSE(reloaded.state(account, "chat:new").empty());
    EXPECT_EQ(nlohmann::json::parse(readFile(store.fileOf(account)))["conversations"].size(),
              bound);
}

TEST_F(ConversationLanguageStoreTest, KeepsADamagedFileAsideAndStartsAfresh) {
    const std::vector<std::string> damaged{
        "{not json",
        R"({"version":1,"salt":"ab","conversations":{"zz":{"used":1}}})",
        R"({"version":1,"salt":"ab","conversations":{"0000000000000000000000000000000000000000000000000000000000000000":{"used":1,"detected":"klingon"}}})",
        R"({"version":2,"salt":"ab","conversations":{}})",
        "[]",
    };
    for (const auto& contents : damaged) {
        TestDirectory fresh;
        const auto base = fresh.path() / "languages";
        writeFile(base / (account + ".json"), contents);
        ConversationLanguageStore store(base);
        EXPECT_TRUE(store.state(account, "chat:1").empty()) << contents;
        const auto aside = store.setAsideFile(account);
        ASSERT_TRUE(aside) << contents;
        EXPECT_EQ(readFile(*aside), contents);
        store.save(account, "chat:1", spanish());
        EXPECT_FALSE(store.flush());
        EXPECT_EQ(ConversationLanguageStore(base).state(account, "chat:1").detected, L::Spanish);
    }
}

TEST_F(ConversationLanguageStoreTest, RemovingTheAccountDeletesItsFileOnly) {
    const std::string other = "1A2B3C4D-0000-4000-8000-000000000001";
    ConversationLanguageStore store(folder);
    store.save(account, "chat:1", spanish());
    store.save(other, "chat:1", spanish());
    store.flush();
    store.removeAccount(account);
    EXPECT_EQ(files(), (std::vector<std::filesystem::path>{other + ".json"}));
    EXPECT_TRUE(store.state(account, "chat:1").empty());
}

} // namespace
} // namespace aurelo::test
