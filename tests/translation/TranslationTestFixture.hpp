#pragma once

#include "support/FakeManagedService.hpp"
#include "support/MainLoopWait.hpp"
#include "translation/TranslationNetwork.hpp"
#include "translation/TranslationService.hpp"

#include <gtest/gtest.h>

#include <optional>

namespace aurelo::test {

// A translation service wired to a fake managed service, with its own session and cache so
// that tests do not share state.
class TranslationTestFixture : public ::testing::Test {
protected:
    FakeManagedService fake;
    HttpSession session{TranslationNetwork::sessionConfiguration()};
    TranslationRequestCache cache;
    TranslationService service{fake.origin(), session, cache};

    static TranslationConfiguration configuration(std::string token = "token-1",
                                                  TranslationProvider provider = TranslationProvider::Google) {
        return TranslationConfiguration{provider, std::move(token), "", ""};
    }

    ServiceOutcome<TranslationResult> translate(const std::string& text, const std::string& target = "en",
                                                const TranslationConfiguration& config = configuration()) {
        std::optional<ServiceOutcome<TranslationResult>> outcome;
        service.translate(text, target, config, [&](auto result) { outcome = std::move(result); });
        EXPECT_TRUE(runMainLoopUntil([&] { return outcome.has_value(); }));
        return outcome.value_or(std::unexpected(TranslationError::server("no answer")));
    }

    ServiceOutcome<std::vector<TranslationResult>>
    translateBatch(const std::vector<std::string>& texts, const std::string& target = "en",
                   const TranslationConfiguration& config = configuration()) {
        std::optional<ServiceOutcome<std::vector<TranslationResult>>> outcome;
        service.translateBatch(texts, target, config, [&](auto result) { outcome = std::move(result); });
        EXPECT_TRUE(runMainLoopUntil([&] { return outcome.has_value(); }));
        return outcome.value_or(std::unexpected(TranslationError::server("no answer")));
    }

    template <typename T> static std::string failureText(const ServiceOutcome<T>& outcome) {
        return outcome ? std::string("<success>") : describe(outcome.error());
    }
};

} // namespace aurelo::test
