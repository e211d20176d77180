// The arithmetic and texts behind what the window draws: the tab flow, the opening size, zoom
// steps, translation colours, the language pickers and the engines' names.

#include "viewmodels/EngineNames.hpp"
#include "viewmodels/PageZoom.hpp"
#include "viewmodels/TabFlow.hpp"
#include "viewmodels/TranslationLook.hpp"
#include "viewmodels/WindowGeometry.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace aurelo {
namespace {

TEST(TabFlow, WrapsBeforeTheEdgeWithRowsAsTallAsTheirTallestTab) {
    constexpr double kSpacing = 7;
    struct Case {
        const char* name;
        std::vector<TabSize> tabs;
        std::optional<double> width;
        TabSize size;                              // measured
        std::vector<std::pair<double, double>> at; // placed from (0, 0)
    };
    const Case cases[] = {
        {"x after two tabs is 214; 214 + 100 > 214 starts a row",
         std::vector<TabSize>(3, {100, 30}),
         214,
         {214, 67},
         {{0, 0}, {107, 0}, {0, 37}}},
        {"an exact fit stays on the row", std::vector<TabSize>(2, {100, 30}), 207, {207, 30}, {}},
        {"one point less wraps", std::vector<TabSize>(2, {100, 30}), 206, {206, 67}, {}},
        {"no proposal means 800", std::vector<TabSize>(7, {100, 40}), std::nullopt, {800, 40}, {}},
        {"empty", {}, 300, {300, 0}, {}},
        {"an over-wide tab stays at the left", {{500, 44}}, 200, {200, 44}, {{0, 0}}},
        {"a row is as tall as its tallest tab",
         {{50, 20}, {50, 35}, {50, 10}},
         110,
         {110, 52},
         {{0, 0}, {57, 0}, {0, 42}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto size = measureTabFlow(c.tabs, c.width, kSpacing);
        EXPECT_DOUBLE_EQ(size.width, c.size.width);
        EXPECT_DOUBLE_EQ(size.height, c.size.height);
        if (c.at.empty())
            continue;
        const auto positions = placeTabFlow(c.tabs, 10, 5, 10 + *c.width, kSpacing);
        ASSERT_EQ(positions.size(), c.at.size());
        for (std::size_t i = 0; i < positions.size(); ++i) {
            EXPECT_DOUBLE_EQ(positions[i].x, 10 + c.at[i].first) << i;
            EXPECT_DOUBLE_EQ(positions[i].y, 5 + c.at[i].second) << i;
        }
    }
}

TEST(WindowGeometry, OpensWithinTheMonitorLessPanelAndTitleBar) {
    struct Case {
        const char* name;
        WindowSize monitor;
        WindowSize expected;
    };
    const Case cases[] = {
        {"full HD keeps the default", {1920, 1080}, {1580, 980}},
        {"office laptop", {1366, 768}, {1366, 690}},
        {"HD", {1280, 720}, {1280, 642}},
        {"default exactly fits", {1580, 1058}, {1580, 980}},
        {"a screen smaller than the minimum gets the minimum", {800, 600}, {960, 600}},
        {"unknown monitor", {0, 0}, {1580, 980}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WindowGeometry::openingSize(c.monitor), c.expected) << c.name;
}

// A step rounds to tenths and stays in 50 %…200 %; the label names where the next step lands.
TEST(PageZoom, StepsRoundToTenthsStayInRangeAndLabelTheNextStep) {
    struct Case {
        double zoom, delta, expected;
        const char* label;
    } cases[] = {
        {1.0, 0.1, 1.1, "110%"},  {1.0, -0.1, 0.9, "90%"},  {2.0, 0.1, 2.0, "200%"},
        {0.5, -0.1, 0.5, "50%"},  {1.04, 0.1, 1.1, "110%"}, {0.3, 0.0, 0.5, "50%"},
        {1.96, 0.0, 2.0, "200%"}, {0.7, -0.1, 0.6, "60%"},  {1.9, 0.1, 2.0, "200%"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.zoom) + " " + std::to_string(c.delta));
        EXPECT_DOUBLE_EQ(PageZoom::stepped(c.zoom, c.delta), c.expected);
        EXPECT_EQ(PageZoom::nextZoomLabel(c.zoom, c.delta), c.label);
    }
}

TEST(TranslationLook, ColourTextsParseAfterStrippingPunctuationAndAreWrittenUpperCase) {
    EXPECT_EQ(parseColorText("#FF8000"), (RgbColor{1.0, 128 / 255.0, 0.0}));
    EXPECT_EQ(parseColorText("ff8000"), parseColorText("#FF8000"));
    EXPECT_EQ(parseColorText("  #d4af37; "), parseColorText("D4AF37"));
    // Only the ends are stripped, and exactly six hexadecimal digits must remain.
    for (const char* text : {"#FF 800", "#FFF", "#FF80001", "#GG8000", ""})
        EXPECT_FALSE(parseColorText(text)) << text;
    EXPECT_EQ(colorForText("not a colour"), kGoldFallbackColor);

    EXPECT_EQ(colorText({1.0, 0.5, 0.0}), "#FF7F00"); // 127.5 truncates to 127
    EXPECT_EQ(colorText(*parseColorText("#d4af37")), "#D4AF37");
    EXPECT_EQ(colorText({1.4, -0.2, 0.999}), "#FF00FE"); // out-of-range components clamp
}

TEST(TranslationLook, OutgoingPickerNeverOffersChineseOrAutomatic) {
    const auto input = pickerLanguages(LanguagePicker::Input);
    const auto outgoing = pickerLanguages(LanguagePicker::Outgoing);
    const auto incoming = pickerLanguages(LanguagePicker::Incoming);
    EXPECT_EQ(outgoing.size() + 2, input.size());
    EXPECT_EQ(std::ranges::count(outgoing, ChatLanguage::Chinese), 0);
    EXPECT_EQ(std::ranges::count(outgoing, ChatLanguage::Automatic), 0);
    EXPECT_EQ(std::ranges::count(incoming, ChatLanguage::Automatic), 0);
    EXPECT_EQ(incoming.size() + 1, input.size());
}

// One engine, one name: the service's label wherever it gave one, the built-in name elsewhere.
TEST(EngineNames, TheServicesLabelNamesAnEngineWhereverItGaveOne) {
    const std::vector<RemoteEngine> demo{{"google", "离线演示引擎 (Apertium)", std::nullopt},
                                         {"apertium", "不认识的引擎", std::nullopt},
                                         {"google", "又一次", std::nullopt},
                                         {"deepl", "DeepL Pro", "v2"}};
    const std::tuple<std::vector<RemoteEngine>, std::string, std::optional<std::string>> labels[] =
        {
            {demo, "google", "离线演示引擎 (Apertium)"},
            {demo, "claude", "Claude"}, // not offered: the built-in name
            {{}, "google", "Google Translate"},
            {demo, "babelfish", std::nullopt},
        };
    for (const auto& [engines, provider, label] : labels)
        EXPECT_EQ(EngineNames::label(engines, provider), label) << provider;

    using Choices = std::vector<EngineChoice>;
    const std::tuple<std::vector<RemoteEngine>, std::string, Choices> choices[] = {
        // The service's known engines, in its order, each once.
        {demo, "google", Choices{{"google", "离线演示引擎 (Apertium)"}, {"deepl", "DeepL Pro"}}},
        // The account's own engine stays choosable when the service no longer lists it.
        {demo, "openai",
         Choices{
             {"google", "离线演示引擎 (Apertium)"}, {"deepl", "DeepL Pro"}, {"openai", "OpenAI"}}},
        // No list from the service (yet): every built-in engine.
        {{},
         "google",
         Choices{{"google", "Google Translate"},
                 {"deepl", "DeepL"},
                 {"microsoft", "Microsoft Translator"},
                 {"openai", "OpenAI"},
                 {"gemini", "Google Gemini"},
                 {"claude", "Claude"}}},
    };
    for (const auto& [engines, current, expected] : choices)
        EXPECT_EQ(EngineNames::choices(engines, current), expected) << current;
}

} // namespace
} // namespace aurelo
