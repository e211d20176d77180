// Each provider adapter against a loopback fake of that provider's HTTP API: the request it
// sends (path, authentication, body), how it reads the answer, how it splits batches and how it
// reports the provider's failures.

#include "ServiceHarness.hpp"

#include "service/BatchPlanner.hpp"
#include "service/ChatModelPrompt.hpp"

#include <gtest/gtest.h>

namespace aurelo::service::test {
namespace {

using nlohmann::json;

// The texts a fake received, from each provider's own request format.
std::vector<std::string> sentTexts(const std::string& provider, const UpstreamRequest& request) {
    std::vector<std::string> texts;
    if (provider == "google")
        for (const auto& t : request.json["q"])
            texts.push_back(t);
    else if (provider == "deepl")
        for (const auto& t : request.json["text"])
            texts.push_back(t);
    else if (provider == "microsoft")
        for (const auto& t : request.json)
            texts.push_back(t["Text"]);
    else {
        std::string user;
        if (provider == "openai")
            user = request.json["messages"][1]["content"];
        else if (provider == "gemini")
            user = request.json["contents"][0]["parts"][0]["text"];
        else
            user = request.json["messages"][0]["content"];
        json parsed = json::parse(user);
        for (const auto& t : parsed["texts"])
            texts.push_back(t);
    }
    return texts;
}

// An answer in the provider's format translating every text to "<target>:<text>", reporting
// the source as English.
UpstreamAnswer answerFor(const std::string& provider, const std::vector<std::string>& texts,
                         const std::string& target, int drop = 0) {
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
    if (provider == "google")
        return UpstreamAnswer::json({{"data", {{"translations", items}}}});
    if (provider == "deepl")
        return UpstreamAnswer::json({{"translations", items}});
    if (provider == "microsoft")
        return UpstreamAnswer::json(items);
    std::string reply = "```json\n" + json{{"translations", items}}.dump() + "\n```";
    if (provider == "openai")
        return UpstreamAnswer::json({{"choices",
                                      {{{"index", 0},
                                        {"message", {{"role", "assistant"}, {"content", reply}}},
                                        {"finish_reason", "stop"}}}}});
    if (provider == "gemini")
        return UpstreamAnswer::json(
            {{"candidates", {{{"content", {{"role", "model"}, {"parts", {{{"text", reply}}}}}}}}}});
    return UpstreamAnswer::json({{"type", "message"},
                                 {"content", {{{"type", "text"}, {"text", reply}}}},
                                 {"stop_reason", "end_turn"}});
}

bool isChatModel(const std::string& provider) {
    return provider == "openai" || provider == "gemini" || provider == "claude";
}

struct ProviderCase {
    std::string provider;
    std::string endpointPath; // appended to the fake's origin as the configured endpoint
    std::string expectedPath; // where the adapter must send
    std::string model;
    std::function<void(const UpstreamRequest&)> checkRequest;
};

std::vector<ProviderCase> providerCases() {
    return {
        {"google", "/language/translate/v2", "/language/translate/v2", "",
         [](const UpstreamRequest& r) {
             EXPECT_EQ(r.query, "key=KEY-1%2Fx");
             EXPECT_EQ(r.json["target"], "zh-CN");
             EXPECT_EQ(r.json["format"], "text")
                 << "plain text, or the answer comes back HTML-escaped";
         }},
        {"deepl", "", "/v2/translate", "",
         [](const UpstreamRequest& r) {
             EXPECT_EQ(r.header("authorization"), "DeepL-Auth-Key KEY-1/x");
             EXPECT_EQ(r.json["target_lang"], "ZH-HANS");
         }},
        {"microsoft", "", "/translate", "",
         [](const UpstreamRequest& r) {
             EXPECT_EQ(r.query, "api-version=3.0&to=zh-Hans");
             EXPECT_EQ(r.header("ocp-apim-subscription-key"), "KEY-1/x");
             EXPECT_EQ(r.header("ocp-apim-subscription-region"), "westeurope");
         }},
        {"openai", "/v1", "/v1/chat/completions", "gpt-test",
         [](const UpstreamRequest& r) {
             EXPECT_EQ(r.header("authorization"), "Bearer KEY-1/x");
             EXPECT_EQ(r.json["model"], "gpt-test");
             EXPECT_EQ(r.json["messages"][0]["role"], "system");
             EXPECT_EQ(r.json["response_format"]["type"], "json_object");
         }},
        {"gemini", "/v1beta", "/v1beta/models/gemini-test:generateContent", "gemini-test",
         [](const UpstreamRequest& r) {
             EXPECT_EQ(r.header("x-goog-api-key"), "KEY-1/x");
             EXPECT_TRUE(r.json["systemInstruction"]["parts"][0]["text"].is_string());
             EXPECT_EQ(r.json["generationConfig"]["responseMimeType"], "application/json");
         }},
        {"claude", "", "/v1/messages", "claude-test",
         [](const UpstreamRequest& r) {
             EXPECT_EQ(r.header("x-api-key"), "KEY-1/x");
             EXPECT_EQ(r.header("anthropic-version"), "2023-06-01");
             EXPECT_EQ(r.json["model"], "claude-test");
             EXPECT_TRUE(r.json["max_tokens"].is_number_integer());
             EXPECT_TRUE(r.json["system"].is_string());
         }},
    };
}

struct AdapterSetup {
    ServiceHarness harness;
    FakeUpstream fake;
    std::string token;

    explicit AdapterSetup(const ProviderCase& c) {
        token = harness.userWithToken("alice");
        harness.enableEngine("alice", c.provider);
        harness.setProvider(c.provider, "KEY-1/x", fake.origin() + c.endpointPath, c.model,
                            c.provider == "microsoft" ? "westeurope" : "");
        fake.setResponder([p = c.provider](const UpstreamRequest& r) {
            return answerFor(p, sentTexts(p, r), p == "microsoft" ? "zh-Hans" : "zh-CN");
        });
    }
};

TEST(ProviderAdapters, SendTheDocumentedRequestAndReadTheAnswer) {
    for (const auto& c : providerCases()) {
        SCOPED_TRACE(c.provider);
        AdapterSetup setup(c);
        Reply reply =
            setup.harness.translate(setup.token, {{"texts", {"Hello", "Line one\nline \"two\""}},
                                                  {"target", "zh-CN"},
                                                  {"provider", c.provider}});
        ASSERT_EQ(reply.status, 200u) << reply.body;
        // A language model gets each text alone, so that one text cannot steer another's
        // translation; the other providers get the batch in one request.
        bool chat = isChatModel(c.provider);
        ASSERT_EQ(setup.fake.requests().size(), chat ? 2u : 1u);
        std::vector<std::string> sent;
        for (const auto& request : setup.fake.requests()) {
            EXPECT_EQ(request.method, "POST");
            EXPECT_EQ(request.path, c.expectedPath);
            auto texts = sentTexts(c.provider, request);
            if (chat) {
                EXPECT_EQ(texts.size(), 1u);
            }
            sent.insert(sent.end(), texts.begin(), texts.end());
            c.checkRequest(request);
        }
        std::ranges::sort(sent);
        EXPECT_EQ(sent, (std::vector<std::string>{"Hello", "Line one\nline \"two\""}));
        std::string prefix = c.provider == "microsoft" ? "zh-Hans:" : "zh-CN:";
        EXPECT_EQ(reply.json["results"][0]["text"], prefix + "Hello");
        EXPECT_EQ(reply.json["results"][1]["text"], prefix + "Line one\nline \"two\"");
        EXPECT_EQ(reply.json["results"][0]["detectedLanguage"], "en");

        Reply single = setup.harness.translate(
            setup.token, {{"text", "Bye"}, {"target", "zh-CN"}, {"provider", c.provider}});
        EXPECT_EQ(single.json, json({{"text", prefix + "Bye"}, {"detectedLanguage", "en"}}));
    }
}

TEST(ProviderAdapters, ReportProviderFailuresInChinese) {
    struct FailureCase {
        const char* name;
        UpstreamAnswer answer;
        unsigned status;
        std::string expectedSuffix; // after the provider's display name
    };
    std::vector<FailureCase> failures = {
        {"rejected key", UpstreamAnswer::json({{"error", {{"message", "API key not valid"}}}}, 403),
         502, " 拒绝了服务端配置的 API 密钥，请联系管理员。"},
        {"quota", UpstreamAnswer::json({{"message", "Quota exceeded"}}, 429), 503,
         " 请求过于频繁或额度已用尽，请稍后再试。"},
        {"server error with message",
         UpstreamAnswer::json({{"error", {{"message", "Backend overloaded"}}}}, 500), 502,
         " 请求失败（HTTP 500）：Backend overloaded"},
        {"server error without body",
         UpstreamAnswer{502, "<html>bad gateway</html>", "text/html", {}}, 502,
         " 请求失败（HTTP 502）"},
        {"success that is not JSON", UpstreamAnswer{200, "<html>", "text/html", {}}, 502,
         " 返回了无法识别的数据。"},
        {"success of the wrong shape", UpstreamAnswer::json({{"unexpected", true}}), 502,
         " 返回了无法识别的数据。"},
    };
    const std::map<std::string, std::string> names = {
        {"google", "Google Translate"},        {"deepl", "DeepL"},
        {"microsoft", "Microsoft Translator"}, {"openai", "OpenAI"},
        {"gemini", "Google Gemini"},           {"claude", "Claude"}};
    for (const auto& c : providerCases()) {
        AdapterSetup setup(c);
        for (const auto& failure : failures) {
            SCOPED_TRACE(c.provider + " / " + failure.name);
            setup.fake.setResponder([&](const UpstreamRequest&) { return failure.answer; });
            Reply reply =
                setup.harness.translate(setup.token, {{"text", std::string("fail ") + failure.name},
                                                      {"target", "de"},
                                                      {"provider", c.provider}});
            EXPECT_EQ(reply.status, failure.status);
            EXPECT_EQ(reply.error(), names.at(c.provider) + failure.expectedSuffix);
        }
    }
}

TEST(ProviderAdapters, AnAnswerWithTheWrongNumberOfTranslationsFailsTheBatch) {
    for (const auto& c : providerCases()) {
        SCOPED_TRACE(c.provider);
        AdapterSetup setup(c);
        setup.fake.setResponder([p = c.provider](const UpstreamRequest& r) {
            return answerFor(p, sentTexts(p, r), "de", 1);
        });
        Reply reply = setup.harness.translate(
            setup.token, {{"texts", {"a", "b", "c"}}, {"target", "de"}, {"provider", c.provider}});
        EXPECT_EQ(reply.status, 502u);
        EXPECT_NE(reply.error().find("数量"), std::string::npos) << reply.error();
        // Nothing of the failed batch was cached: the next attempt asks again.
        setup.fake.setResponder([p = c.provider](const UpstreamRequest& r) {
            return answerFor(p, sentTexts(p, r), "de");
        });
        EXPECT_EQ(
            setup.harness
                .translate(setup.token,
                           {{"texts", {"a", "b", "c"}}, {"target", "de"}, {"provider", c.provider}})
                .status,
            200u);
        EXPECT_EQ(setup.fake.requests().size(), isChatModel(c.provider) ? 6u : 2u);
    }
}

TEST(ProviderAdapters, SplitLargeBatchesByEachProvidersLimits) {
    struct SplitCase {
        std::string provider;
        std::size_t texts;
        std::size_t textLength;
        std::vector<std::size_t> expectedParts;
    };
    std::vector<SplitCase> cases = {
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
        auto all = providerCases();
        AdapterSetup setup(
            *std::ranges::find_if(all, [&](const auto& p) { return p.provider == c.provider; }));
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < c.texts; ++i) {
            std::string number = std::to_string(i) + " ";
            texts.push_back(number +
                            std::string(c.textLength - std::min(c.textLength, number.size()), 'x'));
        }
        Reply reply = setup.harness.translate(
            setup.token, {{"texts", texts}, {"target", "de"}, {"provider", c.provider}});
        ASSERT_EQ(reply.status, 200u) << reply.body;
        std::vector<std::size_t> parts;
        std::vector<std::string> sentInOrder;
        for (const auto& request : setup.fake.requests()) {
            auto sent = sentTexts(c.provider, request);
            parts.push_back(sent.size());
            sentInOrder.insert(sentInOrder.end(), sent.begin(), sent.end());
        }
        std::ranges::sort(parts, std::greater<>());
        EXPECT_EQ(parts, c.expectedParts);
        std::ranges::sort(sentInOrder);
        auto sortedTexts = texts;
        std::ranges::sort(sortedTexts);
        EXPECT_EQ(sentInOrder, sortedTexts);
        // Results come back in request order whatever order the parts were answered in.
        ASSERT_EQ(reply.json["results"].size(), texts.size());
        std::string prefix = c.provider == "microsoft" ? "zh-Hans:" : "zh-CN:";
        for (std::size_t i = 0; i < texts.size(); ++i)
            ASSERT_EQ(reply.json["results"][i]["text"], prefix + texts[i]);
    }
}

TEST(BatchPlanner, RespectsCountAndSizeLimits) {
    auto plan = [](std::vector<std::size_t> lengths, BatchLimits limits) {
        std::vector<std::string> texts;
        for (auto n : lengths)
            texts.push_back(std::string(n, 'a'));
        return planBatches(texts, limits);
    };
    using Plan = std::vector<std::pair<std::size_t, std::size_t>>;
    EXPECT_EQ(plan({}, {50, 0}), Plan{});
    EXPECT_EQ(plan({1, 1, 1}, {2, 0}), (Plan{{0, 2}, {2, 3}}));
    EXPECT_EQ(plan({4, 4, 4}, {10, 8}), (Plan{{0, 2}, {2, 3}}));
    EXPECT_EQ(plan({20, 1}, {10, 8}), (Plan{{0, 1}, {1, 2}})) << "an oversized text goes alone";
    std::vector<std::size_t> thousandAndOne(1001, 1);
    EXPECT_EQ(plan(thousandAndOne, {1000, 50000}), (Plan{{0, 1000}, {1000, 1001}}));
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
