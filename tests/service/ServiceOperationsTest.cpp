// Voice messages, update files, the health check, unknown requests and graceful shutdown.

#include "ServiceHarness.hpp"

#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace aurelo::service::test {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// A voice message's first bytes, the same in Base64, and "abc" in Base64.
constexpr char kAudioBytes[] = "OggS\0\x01"
                               "binary\xff";
constexpr const char* kAudio = "T2dnUwABYmluYXJ5/w==";
constexpr const char* kAbc = "YWJj";

struct VoiceSetup {
    ServiceHarness harness{[](ServiceConfiguration& c) { c.maxAudioBytes = 3 * 1024; }};
    FakeUpstream speech{[](const UpstreamRequest&) {
        return UpstreamAnswer::json(200, {{"text", " hi there \n"}});
    }};
    FakeUpstream google{[](const UpstreamRequest& r) { return googleTranslations(r, {}); }};
    std::string token = harness.userWithEngine("alice", "google", google);

    VoiceSetup() {
        harness.setProvider("transcription", "SPEECH-KEY", speech.origin() + "/v1", "whisper-test");
    }
    Reply send(const json& body) { return harness.call("POST", "/api/transcribe", body, token); }
};

TEST(ServiceVoice, TranscribesThenTranslatesWithTheAccountsFirstEngine) {
    VoiceSetup setup;
    Reply reply = setup.send({{"audio", kAudio},
                              {"mime", "audio/ogg; codecs=opus"},
                              {"target", "zh-CN"},
                              {"source", "en"}});
    ASSERT_EQ(reply.status, 200u) << reply.body;
    EXPECT_EQ(reply.json, json({{"transcript", "hi there"}, {"translation", "译:hi there"}}));

    ASSERT_EQ(setup.speech.requests().size(), 1u);
    const auto& request = setup.speech.requests().front();
    EXPECT_EQ(request.path, "/v1/audio/transcriptions");
    EXPECT_EQ(request.header("authorization"), "Bearer SPEECH-KEY");
    EXPECT_TRUE(request.header("content-type").starts_with("multipart/form-data; boundary="));
    for (std::string part :
         {std::string(kAudioBytes, sizeof kAudioBytes - 1), std::string("filename=\"voice.ogg\""),
          std::string("whisper-test"), std::string("name=\"language\"\r\n\r\nen")}) {
        SCOPED_TRACE(part);
        EXPECT_TRUE(request.body.contains(part));
    }
}

TEST(ServiceVoice, RefusesBadVoiceRequestsClearly) {
    VoiceSetup setup;
    // Just over the audio limit once decoded, though the body is within its own limit.
    std::string tooLong((3 * 1024 / 3 + 1) * 4, 'A');
    struct Case {
        json body;
        unsigned status;
        const char* error;
    } cases[] = {
        {{{"mime", "audio/ogg"}, {"target", "en"}}, 400, "语音请求缺少音频数据或格式。"},
        {{{"audio", kAbc}, {"target", "en"}}, 400, "语音请求缺少音频数据或格式。"},
        {{{"audio", "%%%"}, {"mime", "audio/ogg"}}, 400, "音频数据不是有效的 Base64 编码。"},
        {{{"audio", ""}, {"mime", "audio/ogg"}}, 400, "语音数据为空。"},
        {{{"audio", kAbc}, {"mime", "text/html"}}, 415, "不支持的音频格式：text/html"},
        {{{"audio", kAbc}, {"mime", "audio/ogg"}, {"target", "auto"}}, 400, "目标语言无效。"},
        {{{"audio", tooLong}, {"mime", "audio/ogg"}}, 413, "语音文件过大（最多 3 KB）。"},
        {{{"audio", std::string(80 * 1024, 'A')}, {"mime", "audio/ogg"}},
         413,
         "请求内容过大（上限 68 KB）。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        Reply reply = setup.send(c.body);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.error(), c.error);
    }
    EXPECT_TRUE(setup.speech.requests().empty());
}

TEST(ServiceVoice, ReportsMissingConfigurationAndRecogniserFailures) {
    VoiceSetup setup;
    json body = {{"audio", kAbc}, {"mime", "audio/mp4"}, {"target", "de"}};

    setup.speech.setResponder([](const UpstreamRequest&) {
        return UpstreamAnswer::json(200, {{"text", "   "}});
    });
    EXPECT_EQ(setup.send(body).error(), "未能识别出语音内容。");
    setup.speech.setResponder([](const UpstreamRequest&) {
        return UpstreamAnswer::json(400, {{"error", {{"message", "bad file"}}}});
    });
    EXPECT_EQ(setup.send(body).error(), "语音识别服务 请求失败（HTTP 400）：bad file");

    setup.harness.setProvider("transcription", "", "", "");
    Reply unconfigured = setup.send(body);
    EXPECT_EQ(unconfigured.status, 503u);
    EXPECT_EQ(unconfigured.error(), "服务端尚未配置语音识别服务，请联系管理员。");

    ASSERT_TRUE(setup.harness.database().disableEngine("alice", "google").value());
    setup.harness.setProvider("transcription", "k", setup.speech.origin(), "m");
    Reply noEngine = setup.send(body);
    EXPECT_EQ(noEngine.status, 403u);
    EXPECT_EQ(noEngine.error(), "当前账号没有可用的翻译引擎，请联系管理员。");
    EXPECT_EQ(setup.harness.call("POST", "/api/transcribe", body).status, 401u);
}

TEST(ServiceUpdates, ServesTheUpdateFilesAndNothingElse) {
    ServiceHarness harness;
    auto updates = harness.dataDirectory() / "updates";
    EXPECT_EQ(harness.call("GET", "/updates/latest.json").status, 404u);
    EXPECT_EQ(harness.call("GET", "/updates/latest.json").error(), "暂无可用的更新。");

    // The package itself, byte for byte, is checked by the updater's end-to-end test.
    std::ofstream(updates / "latest.json") << R"({"version":"1.2.0"})";
    std::ofstream(harness.dataDirectory() / "secret.txt") << "outside";
    std::ofstream(updates / ".hidden") << "hidden";
    std::filesystem::create_symlink(harness.dataDirectory() / "secret.txt", updates / "link.json");
    std::filesystem::create_directory(updates / "folder.zip");
    EXPECT_EQ(harness.call("GET", "/updates/latest.json").body, R"({"version":"1.2.0"})");

    for (const char* path :
         {"/updates/../secret.txt", "/updates/%2e%2e/secret.txt", "/updates/..%2fsecret.txt",
          "/updates/.hidden", "/updates/link.json", "/updates/folder.zip", "/updates/",
          "/updates/a/latest.json", "/updates/%2Fetc%2Fpasswd"}) {
        SCOPED_TRACE(path);
        Reply reply = harness.call("GET", path);
        EXPECT_NE(reply.status, 200u);
        EXPECT_EQ(reply.body.find("outside"), std::string::npos);
        EXPECT_EQ(reply.body.find("hidden\""), std::string::npos);
    }
}

TEST(ServiceRoutes, HealthUnknownPathsAndMethods) {
    ServiceHarness harness;
    Reply health = harness.call("GET", "/healthz");
    EXPECT_EQ(health.status, 200u);
    EXPECT_EQ(health.json,
              json({{"status", "ok"}, {"database", {{"backend", "sqlite"}, {"state", "ok"}}}}));
    struct Case {
        const char* method;
        const char* path;
        unsigned status;
        const char* error;
    } cases[] = {
        {"GET", "/api/nothing", 404, "请求的接口不存在。"},
        {"GET", "/", 404, "请求的接口不存在。"},
        {"GET", "/api/translate", 405, "不支持的请求方法。"},
        {"GET", "/api/auth/login", 405, "不支持的请求方法。"},
        {"DELETE", "/api/engines", 405, "不支持的请求方法。"},
        {"POST", "/api/engines", 405, "不支持的请求方法。"},
        {"POST", "/updates/latest.json", 405, "不支持的请求方法。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.path);
        Reply reply = harness.call(c.method, c.path, json::object());
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.error(), c.error);
    }
}

TEST(ServiceShutdown, FinishesRequestsInProgressAndRefusesNewOnes) {
    ServiceHarness harness;
    FakeUpstream slowGoogle([](const UpstreamRequest& r) { return googleTranslations(r, 300ms); });
    std::string token = harness.userWithEngine("alice", "google", slowGoogle);
    HttpSession client(HttpSessionConfiguration{});
    std::optional<HttpResult> inFlight;
    client.send(harness.post("/api/translate", translationBody("hi", "de", "google"), token),
                [&](HttpResult result) { inFlight = std::move(result); });
    ASSERT_TRUE(
        aurelo::test::runMainLoopUntil([&] { return harness.server().requestsInProgress() == 1; }));

    bool stopped = false;
    harness.server().beginShutdown([&] { stopped = true; });
    Reply refused = harness.call("GET", "/healthz");
    EXPECT_EQ(refused.status, 503u);
    EXPECT_EQ(refused.error(), "服务正在停止，请稍后重试。");
    EXPECT_FALSE(stopped);
    ASSERT_TRUE(aurelo::test::runMainLoopUntil([&] { return stopped; }));
    ASSERT_TRUE(inFlight && *inFlight);
    EXPECT_EQ((*inFlight)->status, 200u);
    EXPECT_EQ(json::parse((*inFlight)->body),
              json({{"text", "译:hi"}, {"detectedLanguage", "en"}}));
}

} // namespace
} // namespace aurelo::service::test
