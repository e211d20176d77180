// The background queue with the service replaced by batches in flight that the test answers:
// bursts, grouping, the in-flight limit, switching off, failures, and answers that come late.

#include "web/BackgroundTranslationQueue.hpp"
#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

using test::runMainLoopUntil;

// The function that answered, the job's id, the text and whether it failed.
using Answer = std::tuple<std::string, std::string, std::string, bool>;

struct Flight {
    std::vector<std::string> texts;
    std::string target;
    TranslationProvider provider;
    ServiceCompletion<std::vector<TranslationResult>> complete;
};

class BackgroundTranslationQueueTest : public ::testing::Test {
protected:
    static BackgroundTranslation job(std::string id, std::string target = "zh-CN",
                                     std::string kind = "message",
                                     TranslationProvider provider = TranslationProvider::Google) {
        return {id, "text " + id, std::move(target), std::move(kind),
                TranslationConfiguration{provider, "token", "", ""}};
    }

    BackgroundTranslationQueue::BatchTranslator translator() {
        return [this](const auto& texts, const auto& target, const auto& configuration,
                      auto complete) {
            flights.push_back({texts, target, configuration.provider, std::move(complete)});
        };
    }

    // Answers a flight by echoing its texts, or with `failure`.
    void answer(std::size_t flight, std::optional<ServiceFailure> failure = std::nullopt) {
        auto complete = std::move(flights.at(flight).complete); // it may start another flight
        std::vector<TranslationResult> results;
        for (const auto& text : flights[flight].texts)
            results.push_back({"译:" + text, std::nullopt});
        if (failure)
            complete(std::unexpected(*failure));
        else
            complete(std::move(results));
    }

    bool waitForFlights(std::size_t count) {
        return runMainLoopUntil([&] { return flights.size() == count; });
    }

    std::vector<Flight> flights;
    std::vector<Answer> answers;
    BackgroundTranslationQueue queue{
        translator(),
        [this](const std::string& id, const std::string& text, bool failed) {
            answers.push_back({"message", id, text, failed});
        },
        [this](const std::string& id, const std::string& text, bool failed) {
            answers.push_back({"page", id, text, failed});
        }};
};

TEST_F(BackgroundTranslationQueueTest, AFullQueueDropsTheOldestWithANoticeOfItsKind) {
    queue.enqueue(job("p1", "zh-CN", "page"));
    for (int i = 2; i <= 18; ++i)
        queue.enqueue(job("m" + std::to_string(i)));
    EXPECT_EQ(answers,
              (std::vector<Answer>{{"page", "p1", "已跳过较早内容", true},
                                   {"message", "m2", "翻译队列已刷新，请点击 ↻ 重试", true}}));
    EXPECT_EQ(queue.waitingCount(), 16u);

    // Both batches (10 + 6) go out together after the gathering delay.
    ASSERT_TRUE(waitForFlights(2));
    EXPECT_EQ(queue.activeBackgroundTranslations(), 2);
    EXPECT_EQ(queue.activeTranslationTaskCount(), 2u);
    std::vector<std::string> texts;
    std::vector<Answer> expected = answers;
    for (int i = 3; i <= 18; ++i) {
        const std::string id = "m" + std::to_string(i);
        texts.push_back("text " + id);
        expected.push_back({"message", id, "译:text " + id, false});
    }
    EXPECT_EQ(flights[0].texts, std::vector(texts.begin(), texts.begin() + 10));
    EXPECT_EQ(flights[1].texts, std::vector(texts.begin() + 10, texts.end()));

    answer(0);
    answer(1);
    EXPECT_EQ(answers, expected);
    EXPECT_EQ(queue.activeBackgroundTranslations(), 0);
    EXPECT_EQ(queue.activeTranslationTaskCount(), 0u);
}

TEST_F(BackgroundTranslationQueueTest, GroupsByKindTargetAndProviderTwoFlightsAtATime) {
    // A, B, A, B, A by target; a page job and a DeepL job beside the A messages.
    queue.enqueue(job("a1", "en"));
    queue.enqueue(job("b1", "ja"));
    queue.enqueue(job("a2", "en"));
    queue.enqueue(job("p1", "en", "page"));
    queue.enqueue(job("b2", "ja"));
    queue.enqueue(job("d1", "en", "message", TranslationProvider::DeepL));
    queue.enqueue(job("a3", "en"));
    ASSERT_TRUE(waitForFlights(2));
    test::runMainLoopFor(std::chrono::milliseconds(100));
    EXPECT_EQ(flights.size(), 2u) << "the third batch waits for a place";
    EXPECT_EQ(queue.waitingCount(), 2u);
    answer(1);
    answer(0);
    ASSERT_EQ(flights.size(), 4u) << "each ended flight starts the next batch at once";
    EXPECT_EQ(queue.waitingCount(), 0u);

    const std::vector<std::vector<std::string>> expected{
        {"text a1", "text a2", "text a3"}, {"text b1", "text b2"}, {"text p1"}, {"text d1"}};
    const std::vector<std::string> targets{"en", "ja", "en", "en"};
    for (std::size_t i = 0; i < flights.size(); ++i) {
        EXPECT_EQ(flights[i].texts, expected[i]);
        EXPECT_EQ(flights[i].target, targets[i]);
        EXPECT_EQ(flights[i].provider,
                  i == 3 ? TranslationProvider::DeepL : TranslationProvider::Google);
    }
    answer(2);
    answer(3);
    EXPECT_EQ(answers.size(), 7u);
    EXPECT_EQ(answers[5], (Answer{"page", "p1", "译:text p1", false}));
}

TEST_F(BackgroundTranslationQueueTest, SwitchingOffDiscardsWaitingAndInFlightWork) {
    for (int i = 0; i < 25; ++i)
        queue.enqueue(job("j" + std::to_string(i)));
    answers.clear(); // the overflow notices
    ASSERT_TRUE(waitForFlights(2));
    queue.enqueue(job("waiting"));
    queue.setTranslationActive(false);
    EXPECT_EQ(queue.waitingCount(), 0u);
    EXPECT_FALSE(queue.isDrainPending());
    answer(0);
    answer(1);
    EXPECT_TRUE(answers.empty());
    EXPECT_EQ(queue.activeBackgroundTranslations(), 0);
    EXPECT_EQ(queue.activeTranslationTaskCount(), 0u);
    test::runMainLoopFor(std::chrono::milliseconds(100));
    EXPECT_EQ(flights.size(), 2u);

    queue.setTranslationActive(true);
    queue.enqueue(job("after"));
    ASSERT_TRUE(waitForFlights(3));
    answer(2);
    EXPECT_EQ(answers, (std::vector<Answer>{{"message", "after", "译:text after", false}}));
}

TEST_F(BackgroundTranslationQueueTest, FailuresAreAnsweredPerKind) {
    for (const char* id : {"m1", "m2", "m3"})
        queue.enqueue(job(id));
    queue.enqueue(job("p1", "zh-CN", "page"));
    ASSERT_TRUE(waitForFlights(2));
    const ServiceFailure failure = TranslationError::server("引擎不可用");
    answer(0, failure);
    answer(1, failure);
    const std::string description = describe(failure);
    EXPECT_EQ(answers, (std::vector<Answer>{{"message", "m1", "翻译失败：" + description, true},
                                            {"message", "m2", "翻译失败：" + description, true},
                                            {"message", "m3", "翻译失败：" + description, true},
                                            {"page", "p1", description, true}}));
}

TEST_F(BackgroundTranslationQueueTest, AnswersAfterTheQueueIsGoneAreDropped) {
    int delivered = 0;
    {
        BackgroundTranslationQueue shortLived(
            translator(), [&](const std::string&, const std::string&, bool) { ++delivered; },
            [&](const std::string&, const std::string&, bool) { ++delivered; });
        shortLived.enqueue(job("gone"));
        ASSERT_TRUE(waitForFlights(1));
    }
    answer(0);
    EXPECT_EQ(delivered, 0);
}

} // namespace
} // namespace aurelo
