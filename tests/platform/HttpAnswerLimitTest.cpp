#include "platform/HttpSession.hpp"
#include "support/DrippingServer.hpp"
#include "support/LoopbackServer.hpp"
#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

#include <optional>

namespace aurelo {
namespace {

using namespace std::chrono_literals;

HttpResult fetch(HttpSession& session, const std::string& url, std::size_t limit,
                 std::chrono::milliseconds timeout = 0ms) {
    std::optional<HttpResult> seen;
    HttpRequest request;
    request.url = url;
    request.maximumBodySize = limit;
    request.timeout = timeout;
    session.send(request, [&](HttpResult result) { seen = std::move(result); });
    EXPECT_TRUE(test::runMainLoopUntil([&] { return seen.has_value(); }, 20s));
    return seen.value_or(std::unexpected(TransportError::make(TransportError::Kind::Other)));
}

// The per-host limit holds even above libsoup's session-wide default of ten connections.
TEST(HttpSessionConnections, AllOfAHostsConnectionsAreUsedAtOnce) {
    test::LoopbackServer server;
    server.route("/slow", test::ScriptedAnswer::silence());
    HttpSession session(HttpSessionConfiguration{.maxConnectionsPerHost = 16});
    int answered = 0;
    for (int i = 0; i < 20; ++i) {
        HttpRequest request;
        request.url = server.url("/slow");
        session.send(request, [&](HttpResult) { ++answered; });
    }
    EXPECT_TRUE(test::runMainLoopUntil([&] { return server.heldCount() >= 16; }, 10s))
        << server.heldCount() << " at once";
    test::runMainLoopFor(200ms);
    EXPECT_EQ(server.heldCount(), 16u);
    // The four that waited go out as the first ones end (and are held in turn).
    EXPECT_TRUE(test::runMainLoopUntil([&] {
        server.answerHeld([](const test::RecordedRequest&) { return test::ScriptedAnswer{}; });
        return answered == 20;
    }, 10s));
}

TEST(HttpAnswerLimit, AnAnnouncedBodyIsAcceptedUpToTheLimitAndRefusedPastIt) {
    test::LoopbackServer server;
    HttpSession session(HttpSessionConfiguration{});
    // Body size, limit, accepted.
    const std::tuple<std::size_t, std::size_t, bool> cases[] = {
        {1000, 1000, true},
        {1001, 1000, false},
        {0, 0, true},
        {kDefaultMaximumBodySize, kDefaultMaximumBodySize, true},
        {kDefaultMaximumBodySize + 1, kDefaultMaximumBodySize, false},
    };
    for (const auto& [bodySize, limit, accepted] : cases) {
        SCOPED_TRACE(std::to_string(bodySize) + " / " + std::to_string(limit));
        server.route("/answer",
                     test::ScriptedAnswer::text(200, std::string(bodySize, 'x'), "text/plain"));
        auto result = fetch(session, server.url("/answer"), limit);
        if (accepted) {
            ASSERT_TRUE(result) << result.error().description;
            EXPECT_EQ(result->body.size(), bodySize);
        } else {
            ASSERT_FALSE(result);
            EXPECT_EQ(result.error().kind, TransportError::Kind::ResponseTooLarge);
            EXPECT_EQ(result.error().description, "服务器的回应超出了允许的大小。");
        }
    }
}

TEST(HttpAnswerLimit, AnEndlessBodyWithoutALengthStopsAtTheLimitNotAtItsEnd) {
    // 256 KiB a millisecond, up to 64 MiB, announced by no length.
    test::DrippingServer server({.pieceSize = 256 * 1024, .interval = 1ms, .maximumPieces = 256});
    HttpSession session(HttpSessionConfiguration{});
    auto result = fetch(session, server.url("/answer"), kDefaultMaximumBodySize);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, TransportError::Kind::ResponseTooLarge);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return server.answersEnded() == 1; }))
        << "the connection is dropped, not read to its end";
    EXPECT_LT(server.piecesSent(), 256u);
}

TEST(HttpAnswerLimit, TheDeadlineHoldsWhileBytesKeepComing) {
    // A byte every 50 ms never lets the session's silence time-out fire; only the request's own
    // deadline ends it. The server would go on for ten seconds.
    test::DrippingServer server({.pieceSize = 1, .interval = 50ms, .maximumPieces = 200});
    HttpSession session(HttpSessionConfiguration{.ioTimeout = 1s});
    auto result = fetch(session, server.url("/latest.json"), kDefaultMaximumBodySize, 400ms);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, TransportError::Kind::TimedOut);
    EXPECT_EQ(result.error().description, "请求超时。");
    EXPECT_TRUE(test::runMainLoopUntil([&] { return server.answersEnded() == 1; }));
}

} // namespace
} // namespace aurelo
