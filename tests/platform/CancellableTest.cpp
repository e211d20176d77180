#include "platform/Cancellable.hpp"
#include "platform/HttpSession.hpp"
#include "support/FakeManagedService.hpp"
#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace aurelo {
namespace {

// The idiom every asynchronous class here follows: the request carries the owner's GCancellable,
// the completion checks the token before it touches the owner.
TEST(Cancellable, DestroyingTheOwnerEndsItsRequestAndItsCompletionTouchesNothing) {
    test::FakeManagedService service;
    service.enqueue("/slow", test::ScriptedAnswer::silence());
    HttpSession session(HttpSessionConfiguration{});
    HttpRequest request;
    request.url = service.origin() + "/slow";
    auto owner = std::make_unique<Cancellable>();
    std::optional<HttpResult> seen;
    bool completed = false;
    session.send(
        request,
        [&, cancellation = owner->token()](HttpResult result) {
            completed = true;
            if (!cancellation.isCancelled())
                seen = std::move(result);
        },
        owner->get());
    ASSERT_TRUE(test::runMainLoopUntil([&] { return service.heldCount() == 1; }));
    owner.reset();
    // Cancelled, not left to a time-out: the completion runs while the server still holds it.
    ASSERT_TRUE(test::runMainLoopUntil([&] { return completed; }));
    EXPECT_FALSE(seen.has_value());
    EXPECT_EQ(service.heldCount(), 1u);
    EXPECT_TRUE(CancellationToken().isCancelled()) << "an empty token guards nothing";
}

} // namespace
} // namespace aurelo
