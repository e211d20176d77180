// Navigation policy, pop-ups and downloads with real pages.

#include "support/FakeDesktopService.hpp"
#include "support/LogCapture.hpp"
#include "support/WebViewTestSupport.hpp"
#include "web/FileManagerReveal.hpp"

#include <fstream>

namespace aurelo::test {
namespace {

using WebViewNavigationTest = WebViewTest;

std::string currentUri(ChatWebView& host) {
    const char* uri = webkit_web_view_get_uri(host.webView());
    return uri ? uri : "";
}

TEST_F(WebViewNavigationTest, OtherSchemesAreCancelledAndNewWindowsLoadInPlace) {
    auto& host = open(inputs(kSessionA));
    ASSERT_TRUE(waitForLoad(host));
    const std::string start = currentUri(host);
    evaluate(host, "document.getElementById('mail').click()", nullptr);
    evaluate(host, "location.href = 'tel:+861234'", nullptr);
    runMainLoopFor(std::chrono::milliseconds(300));
    EXPECT_EQ(currentUri(host), start);
    EXPECT_EQ(loads(host).failed, 0);

    const std::string upper = "HTTP://127.0.0.1:" + std::to_string(server.port()) + "/second.html";
    evaluate(host, "location.href = '" + upper + "'", nullptr);
    ASSERT_TRUE(waitForLoad(host, 2));
    EXPECT_EQ(evaluate(host, "document.title", nullptr), R"("Second")");

    // New-window links and window.open load in place.
    evaluate(host, "window.open('/chat.html', 'other')", nullptr);
    ASSERT_TRUE(waitForLoad(host, 3));
    EXPECT_EQ(currentUri(host), server.url("/chat.html"));
    evaluate(host, "document.getElementById('popup').click()", nullptr);
    ASSERT_TRUE(waitForLoad(host, 4));
    EXPECT_EQ(currentUri(host), server.url("/second.html"));
}

TEST_F(WebViewNavigationTest, UndisplayableResponsesBecomeDownloadsUnderAFreeName) {
    const std::string archive("PK\x03\x04 fixture archive", 21);
    server.route("/files/report.zip", ScriptedAnswer::text(200, archive, "application/zip"));
    auto hidden = ScriptedAnswer::text(200, "secret", "application/octet-stream");
    hidden.headers = {{"Content-Disposition", "attachment; filename=\".profile\""}};
    server.route("/files/hidden", hidden);
    server.route("/files/note.txt", ScriptedAnswer::text(200, "shown text", "text/plain"));
    server.route("/image.png",
                 ScriptedAnswer::text(
                     200, R"(<svg xmlns="http://www.w3.org/2000/svg" width="4" height="4"/>)",
                     "image/svg+xml"));
    const auto folder = m_root / "downloads";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "report.zip") << "older";

    auto& host = open(inputs(kSessionA));
    ASSERT_TRUE(waitForLoad(host));
    LogCapture logs;
    evaluate(host, "location.href = '/files/report.zip'", nullptr);
    ASSERT_TRUE(runMainLoopUntil([&] { return revealed.size() == 1; }));
    EXPECT_EQ(revealed[0], folder / "report 2.zip");
    EXPECT_EQ(readFile(revealed[0]), archive);
    EXPECT_TRUE(host.coordinator().downloadDestinations().empty());

    evaluate(host, "location.href = '/files/hidden'", nullptr);
    ASSERT_TRUE(runMainLoopUntil([&] { return revealed.size() == 2; }));
    EXPECT_EQ(revealed[1].parent_path(), folder);
    EXPECT_NE(revealed[1].filename().string().front(), '.');
    EXPECT_TRUE(std::filesystem::exists(revealed[1]));

    const auto messages = logs.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "Download completed: report 2.zip");
    EXPECT_EQ(logs.entries()[0].priority, "6");

    // A link with a download attribute downloads even what could be shown.
    evaluate(host, R"((() => {
        const link = document.createElement("a");
        link.href = "/files/note.txt";
        link.download = "";
        document.body.append(link);
        link.click();
    })())",
             nullptr);
    ASSERT_TRUE(runMainLoopUntil([&] { return revealed.size() == 3; }));
    EXPECT_EQ(revealed[2], folder / "note.txt");
    EXPECT_EQ(currentUri(host), server.url("/chat.html"));

    // A displayable response stays a page.
    evaluate(host, "location.href = '/image.png'", nullptr);
    ASSERT_TRUE(runMainLoopUntil([&] { return currentUri(host) == server.url("/image.png"); }));
    runMainLoopFor(std::chrono::milliseconds(200));
    EXPECT_EQ(revealed.size(), 3u);
}

TEST_F(WebViewNavigationTest, FailedDownloadIsOnlyLogged) {
    server.route("/files/broken.zip", ScriptedAnswer::text(200, "PK", "application/zip"));
    // The download folder is a file, so the download cannot be written anywhere.
    environment->downloadFolder = m_root / "not-a-folder";
    std::ofstream(environment->downloadFolder) << "in the way";
    auto& host = open(inputs(kSessionA));
    ASSERT_TRUE(waitForLoad(host));
    LogCapture logs;
    evaluate(host, "location.href = '/files/broken.zip'", nullptr);
    ASSERT_TRUE(runMainLoopUntil([&] { return !logs.messages().empty(); }));
    EXPECT_TRUE(logs.messages()[0].starts_with("Download failed: ")) << logs.messages()[0];
    runMainLoopFor(std::chrono::milliseconds(200));
    EXPECT_TRUE(revealed.empty());
    EXPECT_TRUE(host.coordinator().downloadDestinations().empty());
}

TEST_F(WebViewNavigationTest, RevealAsksTheFileManagerToSelectTheFile) {
    auto fileManager = FakeDesktopService::fileManager();
    ASSERT_TRUE(runMainLoopUntil([&] { return fileManager.owned(); }));
    const auto file = m_root / "下载 2.zip";
    revealInFileManager(file);
    ASSERT_TRUE(runMainLoopUntil([&] { return !fileManager.calls().empty(); }));
    const auto call = fileManager.calls()[0];
    EXPECT_EQ(call.method, "ShowItems");
    char* uri = g_filename_to_uri(file.c_str(), nullptr, nullptr);
    const std::string expected = "([" + std::string("'") + uri + "'], '')";
    g_free(uri);
    char* printed = g_variant_print(call.parameters.get(), FALSE);
    EXPECT_EQ(printed, expected);
    g_free(printed);
}

} // namespace
} // namespace aurelo::test
