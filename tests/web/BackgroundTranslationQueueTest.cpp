// The background queue against the fake managed service: bursts, batching, the in-flight limit,
// switching off, and failures.

#include "web/BackgroundTranslationQueue.hpp"
#include "support/FakeManagedService.hpp"
#include "support/MainLoopWait.hpp"
#include "translation/TranslationNetwork.hpp"
#include "translation/TranslationService.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace aurelo {
namespace {

using test::FakeManagedService;
using test::RecordedRequest;
using test::runMainLoopFor;
using test::runMainLoopUntil;
using test::ScriptedAnswer;

struct Answer {
    std::string function;
    std::string id;
    std::string text;
    bool failed;
    friend bool operator==(const Answer&, const Answer&) = default;
};

std::ostream& operator<<(std::ostream& out, const Answer& a) {
    return out << a.function << "(" << a.id << ", " << a.text << ", " << a.failed << ")";
}

class BackgroundTranslationQueueTest : public ::testing::Test {
protected:
    BackgroundTranslationQueueTest() {
        fake.setResponder([this](const RecordedRequest& request) {
            auto answer = test::echoTranslation(request);
            answer.delay = serviceDelay;
            return answer;
        });
    }

    BackgroundTranslation job(std::string id, std::string target = "zh-CN",
                              std::string kind = "message",
                              TranslationProvider provider = TranslationProvider::Google) {
        return {id, "text " + id, std::move(target), std::move(kind),
                TranslationConfiguration{provider, "token", "", ""}};
    }

    // The "texts" of every batch request the service received, in order.
    std::vector<std::vector<std::string>> batches() const {
        std::vector<std::vector<std::string>> result;
        for (const auto& request : fake.requests()) {
            if (!request.json)
                continue;
            if (request.json->contains("texts"))
                result.push_back((*request.json)["texts"].get<std::vector<std::string>>());
            else if (request.json->contains("text"))
                result.push_back({(*request.json)["text"].get<std::string>()});
        }
        return result;
    }

    FakeManagedService fake;
    std::chrono::milliseconds serviceDelay{0};
    HttpSession session{TranslationNetwork::sessionConfiguration()};
    TranslationRequestCache cache;
    TranslationService service{fake.origin(), session, cache};
    std::vector<Answer> answers;
    BackgroundTranslationQueue queue{
        [this](const auto& texts, const auto& target, const auto& configuration, auto completion) {
            service.translateBatch(texts, target, configuration, std::move(completion));
        },
        [this](const std::string& id, const std::string& text, bool failed) {
            answers.push_back({"message", id, text, failed});
        },
        [this](const std::string& id, const std::string& text, bool failed) {
            answers.push_back({"page", id, text, failed});
        }};
};

TEST_F(BackgroundTranslationQueueTest, AFullQueueDropsTheOldestWithANoticeOfItsKind) {
    serviceDelay = std::chrono::milliseconds(200);
    queue.enqueue(job("p1", "zh-CN", "page"));
    for (int i = 2; i <= 18; ++i)
        queue.enqueue(job("m" + std::to_string(i)));
    EXPECT_EQ(answers,
              (std::vector<Answer>{{"page", "p1", "已跳过较早内容", true},
                                   {"message", "m2", "翻译队列已刷新，请点击 ↻ 重试", true}}));
    EXPECT_EQ(queue.waitingCount(), 16u);

    // Both batches (10 + 6) go out together after the gathering delay.
    ASSERT_TRUE(runMainLoopUntil([&] { return fake.requests().size() == 2; }));
    EXPECT_EQ(queue.activeBackgroundTranslations(), 2);
    EXPECT_EQ(queue.activeTranslationTaskCount(), 2u);
    auto sent = batches();
    std::ranges::sort(sent, {}, [](const auto& batch) { return -static_cast<int>(batch.size()); });
    EXPECT_EQ(sent[0].size(), 10u);
    EXPECT_EQ(sent[0].front(), "text m3");
    EXPECT_EQ(sent[1].size(), 6u);
    EXPECT_EQ(sent[1].front(), "text m13");

    ASSERT_TRUE(runMainLoopUntil([&] { return answers.size() == 18; }));
    for (int i = 3; i <= 18; ++i) {
        const std::string id = "m" + std::to_string(i);
        EXPECT_NE(std::ranges::find(answers, Answer{"message", id, "译:text " + id, false}),
                  answers.end())
            << id;
    }
    EXPECT_EQ(queue.activeBackgroundTranslations(), 0);
    EXPECT_EQ(queue.activeTranslationTaskCount(), 0u);
}

TEST_F(BackgroundTranslationQueueTest, GroupsByKindTargetAndProviderKeepingOrder) {
    serviceDelay = std::chrono::milliseconds(100);
    // A, B, A, B, A by target; a page job and a DeepL job beside the A messages.
    queue.enqueue(job("a1", "en"));
    queue.enqueue(job("b1", "ja"));
    queue.enqueue(job("a2", "en"));
    queue.enqueue(job("p1", "en", "page"));
    queue.enqueue(job("b2", "ja"));
    queue.enqueue(job("d1", "en", "message", TranslationProvider::DeepL));
    queue.enqueue(job("a3", "en"));
    ASSERT_TRUE(runMainLoopUntil([&] { return answers.size() == 7; }));
    // The first two batches fly together, as do the last two, so only their contents are fixed.
    std::vector<std::vector<std::string>> expected{
        {"text a1", "text a2", "text a3"},
        {"text b1", "text b2"},
        {"text p1"},
        {"text d1"},
    };
    auto sent = batches();
    ASSERT_EQ(sent.size(), 4u);
    std::ranges::sort(sent.begin(), sent.begin() + 2);
    std::ranges::sort(sent.begin() + 2, sent.end());
    std::ranges::sort(expected.begin(), expected.begin() + 2);
    std::ranges::sort(expected.begin() + 2, expected.end());
    EXPECT_EQ(sent, expected);
}

TEST_F(BackgroundTranslationQueueTest, NextBatchStartsAsSoonAsAFlightEnds) {
    serviceDelay = std::chrono::milliseconds(300);
    for (int i = 0; i < 12; ++i)
        queue.enqueue(job("x" + std::to_string(i)));
    ASSERT_TRUE(runMainLoopUntil([&] { return fake.requests().size() == 2; }));
    // Two in flight: a new job waits, untouched, until one of them ends.
    queue.enqueue(job("late", "fr"));
    runMainLoopFor(std::chrono::milliseconds(100));
    EXPECT_EQ(fake.requests().size(), 2u);
    EXPECT_EQ(queue.waitingCount(), 1u);
    ASSERT_TRUE(runMainLoopUntil([&] { return fake.requests().size() == 3; }));
    EXPECT_EQ(queue.waitingCount(), 0u);
    ASSERT_TRUE(runMainLoopUntil([&] { return answers.size() == 13; }));
}

TEST_F(BackgroundTranslationQueueTest, SwitchingOffDiscardsWaitingAndInFlightWork) {
    serviceDelay = std::chrono::milliseconds(200);
    for (int i = 0; i < 25; ++i)
        queue.enqueue(job("j" + std::to_string(i)));
    answers.clear(); // the overflow notices
    ASSERT_TRUE(runMainLoopUntil([&] { return fake.requests().size() == 2; }));
    queue.enqueue(job("waiting"));
    queue.setTranslationActive(false);
    EXPECT_EQ(queue.waitingCount(), 0u);
    EXPECT_FALSE(queue.isDrainPending());
    ASSERT_TRUE(runMainLoopUntil([&] { return queue.activeBackgroundTranslations() == 0; }));
    runMainLoopFor(std::chrono::milliseconds(100));
    EXPECT_TRUE(answers.empty());
    EXPECT_EQ(queue.activeTranslationTaskCount(), 0u);
    EXPECT_EQ(fake.requests().size(), 2u);

    queue.setTranslationActive(true);
    queue.enqueue(job("after"));
    ASSERT_TRUE(runMainLoopUntil([&] { return answers.size() == 1; }));
    EXPECT_EQ(answers[0], (Answer{"message", "after", "译:text after", false}));
}

TEST_F(BackgroundTranslationQueueTest, FailuresAreAnsweredPerKind) {
    fake.setResponder([](const RecordedRequest&) {
        return ScriptedAnswer::json(500, {{"error", "引擎不可用"}});
    });
    queue.enqueue(job("m1"));
    queue.enqueue(job("m2"));
    queue.enqueue(job("m3"));
    queue.enqueue(job("p1", "zh-CN", "page"));
    ASSERT_TRUE(runMainLoopUntil([&] { return answers.size() == 4; }));
    // The two batches fly together, so the page answer may come first or last.
    auto page = std::ranges::find(answers, std::string("page"), &Answer::function);
    ASSERT_NE(page, answers.end());
    const std::string description = page->text;
    EXPECT_FALSE(description.empty());
    EXPECT_EQ(*page, (Answer{"page", "p1", description, true}));
    answers.erase(page);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(answers[i], (Answer{"message", "m" + std::to_string(i + 1),
                                      "翻译失败：" + description, true}));
}

TEST_F(BackgroundTranslationQueueTest, AnswersAfterTheQueueIsGoneAreDropped) {
    serviceDelay = std::chrono::milliseconds(100);
    int delivered = 0;
    {
        BackgroundTranslationQueue shortLived(
            [this](const auto& texts, const auto& target, const auto& configuration, auto done) {
                service.translateBatch(texts, target, configuration, std::move(done));
            },
            [&](const std::string&, const std::string&, bool) { ++delivered; },
            [&](const std::string&, const std::string&, bool) { ++delivered; });
        shortLived.enqueue(job("gone"));
        ASSERT_TRUE(runMainLoopUntil([&] { return fake.requests().size() == 1; }));
    }
    runMainLoopFor(std::chrono::milliseconds(250));
    EXPECT_EQ(delivered, 0);
}

} // namespace
} // namespace aurelo
