#include "platform/Cancellable.hpp"
#include "platform/HttpSession.hpp"
#include "support/FakeManagedService.hpp"
#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace aurelo {
namespace {

TEST(Cancellable, TokensOutliveTheirOwnerAndReportItGone) {
    EXPECT_TRUE(CancellationToken().isCancelled()) << "an empty token guards nothing";

    CancellationToken early;
    {
        Cancellable owner;
        early = owner.token();
        EXPECT_FALSE(early.isCancelled());
        owner.renew();
        EXPECT_TRUE(early.isCancelled()) << "renew ends the work started before it";
        const CancellationToken late = owner.token();
        EXPECT_FALSE(late.isCancelled());
        early = late;
    }
    EXPECT_TRUE(early.isCancelled()) << "destroying the owner cancels";
}

// An owner in the shape every asynchronous class here has: the request carries the owner's
// GCancellable, the completion checks the token before it touches the owner.
class RequestOwner {
public:
    RequestOwner(HttpSession& session, const std::string& url, std::optional<HttpResult>& seen,
                 bool& completed)
        : m_seen(seen) {
        HttpRequest request;
        request.url = url;
        session.send(
            request,
            [this, cancellation = m_cancellable.token(), &completed](HttpResult result) {
                completed = true;
                if (cancellation.isCancelled())
                    return;
                m_seen = std::move(result);
            },
            m_cancellable.get());
    }

private:
    std::optional<HttpResult>& m_seen;
    Cancellable m_cancellable;
};

TEST(Cancellable, DestroyingTheOwnerEndsItsRequestAndItsCompletionTouchesNothing) {
    test::FakeManagedService service;
    service.enqueue("/slow", test::ScriptedAnswer::silence());
    HttpSession session(HttpSessionConfiguration{});
    std::optional<HttpResult> seen;
    bool completed = false;
    auto owner =
        std::make_unique<RequestOwner>(session, service.origin() + "/slow", seen, completed);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return service.heldCount() == 1; }));
    owner.reset();
    // The request is cancelled, not left to a time-out: its completion runs while the server
    // is still holding it, and finds the owner gone.
    ASSERT_TRUE(test::runMainLoopUntil([&] { return completed; }));
    EXPECT_FALSE(seen.has_value());
    EXPECT_EQ(service.heldCount(), 1u);
}

} // namespace
} // namespace aurelo
