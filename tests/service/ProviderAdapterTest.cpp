// Each provider dialect against a loopback fake of that provider's web API.

#include "ServiceHarness.hpp"

#include "service/BatchPlanner.hpp"
#include "service/ChatModelPrompt.hpp"

#include <gtest/gtest.h>

namespace aurelo::service::test {
namespace {

using nlohmann::json;

bool isChatModel(const std::string& provider) {
    return provider == "openai" || provider == "gemini" || provider == "claude";
}

// The texts a fake received, from each provider's own request format.
std::vector<std::string> sentTexts(const std::string& provider, const UpstreamRequest& request) {
    const json& body = request.json.value();
    json texts = provider == "google"      ? body["q"]
                 : provider == "deepl"     ? body["text"]
                 : provider == "microsoft" ? json::array()
                                           : json();
    if (provider == "microsoft")
        for (const auto& t : body)
            texts.push_back(t["Text"]);
    if (isChatModel(provider)) {
        std::string user = provider == "openai"   ? body["messages"][1]["content"]
                           : provider == "gemini" ? body["contents"][0]["parts"][0]["text"]
                                                  : body["messages"][0]["content"];
        texts = json::parse(user)["texts"];
    }
    return texts.get<std::vector<std::string>>();
}

// An answer in the provider's format translating every text to "<target>:<text>" (less the last
// `drop` ones), reporting the source as English.
UpstreamAnswer answerFor(const std::string& provider, const std::vector<std::string>& texts,
                         const std::string& target, std::size_t drop = 0) {
    json items = json::array();
    for (std::size_t i = 0; i + drop < texts.size(); ++i) {
        std::string out = target + ":" + texts[i];
        if (provider == "google")
            items.push_back({{"translatedText", out}, {"detectedSourceLanguage", "en"}});
        else if (provider == "deepl")
            items.push_back({{"text", out}, {"detected_source_language", "EN"}});
        else if (provider == "microsoft")
            items.push_back({{"detectedLanguage", {{"language", "en"}, {"score", 1.0}}},
                             {"translations", {{{"text", out}, {"to", target}}}}});
        else
            items.push_back({{"text", out}, {"detectedLanguage", "en"}});
    }
    std::string reply = "```json\n" + json{{"translations", items}}.dump() + "\n```";
    if (provider == "google")
        return UpstreamAnswer::json(200, {{"data", {{"translations", items}}}});
    if (provider == "deepl")
        return UpstreamAnswer::json(200, {{"translations", items}});
    if (provider == "microsoft")
        return UpstreamAnswer::json(200, items);
    if (provider == "openai")
        return UpstreamAnswer::json(
            200, {{"choices", {{{"message", {{"role", "assistant"}, {"content", reply}}}}}}});
    if (provider == "gemini")
        return UpstreamAnswer::json(
            200,
            {{"candidates", {{{"content", {{"role", "model"}, {"parts", {{{"text", reply}}}}}}}}}});
    return UpstreamAnswer::json(
        200, {{"type", "message"}, {"content", {{{"type", "text"}, {"text", reply}}}}});
}

struct Dialect {
    std::string provider;
    std::string endpointPath; // appended to the fake's origin as the configured endpoint
    std::string expectedPath; // where the engine must send
    std::string model;
    std::string displayName;
    std::function<void(const UpstreamRequest&, const json& body)> checkRequest;
};

const std::vector<Dialect>& dialects() {
    static const std::vector<Dialect> all = {
        {"google", "/language/translate/v2", "/language/translate/v2", "", "Google Translate",
         [](const UpstreamRequest& r, const json& body) {
             EXPECT_EQ(r.query, "key=KEY-1%2Fx");
             EXPECT_EQ(body["target"], "zh-CN");
             EXPECT_EQ(body["format"], "text") << "or the answer comes back HTML-escaped";
         }},
        {"deepl", "", "/v2/translate", "", "DeepL",
         [](const UpstreamRequest& r, const json& body) {
             EXPECT_EQ(r.header("authorization"), "DeepL-Auth-Key KEY-1/x");
             EXPECT_EQ(body["target_lang"], "ZH-HANS");
         }},
        {"microsoft", "", "/translate", "", "Microsoft Translator",
         [](const UpstreamRequest& r, const json&) {
             EXPECT_EQ(r.query, "api-version=3.0&to=zh-Hans");
             EXPECT_EQ(r.header("ocp-apim-subscription-key"), "KEY-1/x");
             EXPECT_EQ(r.header("ocp-apim-subscription-region"), "westeurope");
         }},
        {"openai", "/v1", "/v1/chat/completions", "gpt-test", "OpenAI",
         [](const UpstreamRequest& r, const json& body) {
             EXPECT_EQ(r.header("authorization"), "Bearer KEY-1/x");
             EXPECT_EQ(body["model"], "gpt-test");
             EXPECT_EQ(body["messages"][0]["role"], "system");
             EXPECT_EQ(body["response_format"]["type"], "json_object");
         }},
        {"gemini", "/v1beta", "/v1beta/models/gemini-test:generateContent", "gemini-test",
         "Google Gemini",
         [](const UpstreamRequest& r, const json& body) {
             EXPECT_EQ(r.header("x-goog-api-key"), "KEY-1/x");
             EXPECT_TRUE(body["systemInstruction"]["parts"][0]["text"].is_string());
             EXPECT_EQ(body["generationConfig"]["responseMimeType"], "application/json");
         }},
        {"claude", "", "/v1/messages", "claude-test", "Claude",
         [](const UpstreamRequest& r, const json& body) {
             EXPECT_EQ(r.header("x-api-key"), "KEY-1/x");
             EXPECT_EQ(r.header("anthropic-version"), "2023-06-01");
             EXPECT_EQ(body["model"], "claude-test");
             EXPECT_TRUE(body["max_tokens"].is_number_integer());
             EXPECT_TRUE(body["system"].is_string());
         }},
    };
    return all;
}

// A user whose only engine is `provider`, configured to reach `fake`, which answers correctly.
struct DialectSetup {
    ServiceHarness harness;
    FakeUpstream fake;
    std::string token;
    std::string provider;

    explicit DialectSetup(const std::string& name) : provider(name) {
        const Dialect& d = *std::ranges::find(dialects(), name, &Dialect::provider);
        token = harness.userWithToken("alice");
        harness.enableEngine("alice", name);
        harness.setProvider(name, "KEY-1/x", fake.origin() + d.endpointPath, d.model,
                            name == "microsoft" ? "westeurope" : "");
        answerWithDrop(0);
    }
    // What the engine must ask the provider for, and the fake prefixes its translations with.
    std::string target() const { return provider == "microsoft" ? "zh-Hans" : "zh-CN"; }
    void answerWithDrop(std::size_t drop) {
        fake.setResponder([p = provider, t = target(), drop](const UpstreamRequest& r) {
            return answerFor(p, sentTexts(p, r), t, drop);
        });
    }
    Reply translate(const json& texts) {
        return harness.translate(token, texts, "zh-CN", provider);
    }
};

TEST(ProviderDialects, SendTheDocumentedRequestReadTheAnswerAndRefuseOtherAnswers) {
    for (const auto& d : dialects()) {
        SCOPED_TRACE(d.provider);
        DialectSetup setup(d.provider);
        const std::vector<std::string> texts = {"Hello", "Line one\nline \"two\""};
        Reply reply = setup.translate(texts);
        ASSERT_EQ(reply.status, 200u) << reply.body;
        // A language model gets each text alone, so that one text cannot steer another's
        // translation; the other providers get the batch in one request.
        bool chat = isChatModel(d.provider);
        ASSERT_EQ(setup.fake.requests().size(), chat ? 2u : 1u);
        for (const auto& request : setup.fake.requests()) {
            EXPECT_EQ(request.method, "POST");
            EXPECT_EQ(request.path, d.expectedPath);
            EXPECT_EQ(sentTexts(d.provider, request).size(), chat ? 1u : 2u);
            d.checkRequest(request, request.json.value());
        }
        auto result = [&](const std::string& text) {
            return json({{"text", setup.target() + ":" + text}, {"detectedLanguage", "en"}});
        };
        EXPECT_EQ(reply.json["results"], json::array({result(texts[0]), result(texts[1])}));
        EXPECT_EQ(setup.translate("Bye").json, result("Bye"));

        // One translation short fails the batch and caches nothing: the next attempt asks again.
        std::size_t asked = setup.fake.requests().size();
        setup.answerWithDrop(1);
        Reply shortAnswer = setup.translate({"a", "b", "c"});
        EXPECT_EQ(shortAnswer.status, 502u);
        EXPECT_EQ(shortAnswer.error(), d.displayName + " 返回的译文数量与原文不一致。");
        setup.answerWithDrop(0);
        EXPECT_EQ(setup.translate({"a", "b", "c"}).status, 200u);
        EXPECT_EQ(setup.fake.requests().size(), asked + (chat ? 6u : 2u));

        setup.fake.setResponder([](const UpstreamRequest&) {
            return UpstreamAnswer::json(200, {{"unexpected", true}});
        });
        Reply odd = setup.translate("odd");
        EXPECT_EQ(odd.status, 502u);
        EXPECT_EQ(odd.error(), d.displayName + " 返回了无法识别的数据。");
    }
}

TEST(ProviderFailures, BecomeChineseMessagesWithTheRightStatus) {
    struct Case {
        const char* name;
        UpstreamAnswer answer;
        unsigned status;
        std::string error;
    } cases[] = {
        {"rejected key", UpstreamAnswer::json(403, {{"error", {{"message", "API key not valid"}}}}),
         502, "DeepL 拒绝了服务端配置的 API 密钥，请联系管理员。"},
        {"quota", UpstreamAnswer::json(429, {{"message", "Quota exceeded"}}), 503,
         "DeepL 请求过于频繁或额度已用尽，请稍后再试。"},
        {"server error with message",
         UpstreamAnswer::json(500, {{"error", {{"message", "Backend overloaded"}}}}), 502,
         "DeepL 请求失败（HTTP 500）：Backend overloaded"},
        {"server error without message",
         UpstreamAnswer{502, "<html>bad gateway</html>", "text/html", {}}, 502,
         "DeepL 请求失败（HTTP 502）"},
        {"success that is not JSON", UpstreamAnswer{200, "<html>", "text/html", {}}, 502,
         "DeepL 返回了无法识别的数据。"},
    };
    DialectSetup setup("deepl");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setup.fake.setResponder([&](const UpstreamRequest&) { return c.answer; });
        Reply reply = setup.translate(std::string("fail ") + c.name);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.error(), c.error);
    }
}

TEST(ProviderDialects, SplitLargeBatchesByEachProvidersLimitsAndKeepTheOrder) {
    struct Case {
        std::string provider;
        std::size_t texts;
        std::size_t textLength;
        std::vector<std::size_t> expectedParts;
    } cases[] = {
        {"deepl", 100, 5, {50, 50}},
        {"google", 100, 5, {100}},
        {"google", 100, 400, {75, 25}}, // 30,000 characters per request
        {"microsoft", 100, 5, {100}},
        {"microsoft", 10, 9000, {5, 5}}, // 50,000 characters per request
        {"openai", 3, 5, {1, 1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.provider + " " + std::to_string(c.texts) + "x" +
                     std::to_string(c.textLength));
        DialectSetup setup(c.provider);
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < c.texts; ++i) {
            std::string number = std::to_string(i) + " ";
            texts.push_back(number + std::string(c.textLength - number.size(), 'x'));
        }
        Reply reply = setup.translate(texts);
        ASSERT_EQ(reply.status, 200u) << reply.body;
        std::vector<std::size_t> parts;
        for (const auto& request : setup.fake.requests())
            parts.push_back(sentTexts(c.provider, request).size());
        std::ranges::sort(parts, std::greater<>());
        EXPECT_EQ(parts, c.expectedParts);
        // Every text was sent (the fake echoes it) and its result is where the text was, whatever
        // order the parts were answered in.
        ASSERT_EQ(reply.json["results"].size(), texts.size());
        for (std::size_t i = 0; i < texts.size(); ++i)
            ASSERT_EQ(reply.json["results"][i]["text"], setup.target() + ":" + texts[i]);
    }
}

TEST(BatchPlanner, SendsAnOversizedTextAloneAndCountsCharacters) {
    auto plan = [](std::vector<std::size_t> lengths, BatchLimits limits) {
        std::vector<std::string> texts;
        for (auto n : lengths)
            texts.push_back(std::string(n, 'a'));
        return planBatches(texts, limits);
    };
    using Plan = std::vector<std::pair<std::size_t, std::size_t>>;
    EXPECT_EQ(plan({}, {50, 0}), Plan{});
    EXPECT_EQ(plan({20, 1}, {10, 8}), (Plan{{0, 1}, {1, 2}})) << "an oversized text goes alone";
    EXPECT_EQ(characterCount("中文é"), 3u) << "characters, not bytes";
}

TEST(ChatModelReply, AcceptsTheStructuredAnswerAndNothingElse) {
    EXPECT_EQ(parseChatModelReply(R"({"translations":["a","b"]})", 2, "X").value().size(), 2u);
    auto fenced = parseChatModelReply(
        "Here:\n```json\n{\"translations\":[{\"text\":\"a\",\"detectedLanguage\":\"EN-us\"}]}\n```",
        1, "X");
    ASSERT_TRUE(fenced);
    EXPECT_EQ(fenced->front().detectedLanguage, "en");
    for (const char* bad :
         {"", "Sorry, I cannot help.", R"({"translations":"a"})", R"({"translations":[1]})",
          R"({"translation":["a"]})", R"({"translations":["a","b","c"]})"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parseChatModelReply(bad, 2, "X"));
    }
}

} // namespace
} // namespace aurelo::service::test
