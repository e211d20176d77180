// "定时勿扰": which minutes of the day a period covers, and what a stored value reads back as.

#include "models/QuietHours.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

constexpr int at(int hour, int minute = 0) {
    return hour * 60 + minute;
}

TEST(QuietHours, CoversItsPeriodAcrossMidnightToo) {
    const struct {
        QuietHours hours;
        int minute;
        bool covered;
    } cases[] = {
        // 22:00–08:00, across midnight: the start counts, the end does not.
        {{true, at(22), at(8)}, at(21, 59), false},
        {{true, at(22), at(8)}, at(22), true},
        {{true, at(22), at(8)}, at(23, 59), true},
        {{true, at(22), at(8)}, at(0), true},
        {{true, at(22), at(8)}, at(7, 59), true},
        {{true, at(22), at(8)}, at(8), false},
        {{true, at(22), at(8)}, at(12), false},
        // 12:30–14:00, within one day.
        {{true, at(12, 30), at(14)}, at(12, 29), false},
        {{true, at(12, 30), at(14)}, at(13), true},
        {{true, at(12, 30), at(14)}, at(14), false},
        {{true, at(12, 30), at(14)}, at(23), false},
        // From midnight.
        {{true, at(0), at(6)}, at(0), true},
        // Off, or starting where it ends: never.
        {{false, at(22), at(8)}, at(23), false},
        {{true, at(9), at(9)}, at(9), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.hours.covers(c.minute), c.covered)
            << QuietHours::clockText(c.hours.fromMinute) << "–"
            << QuietHours::clockText(c.hours.toMinute) << " at " << QuietHours::clockText(c.minute);
}

TEST(QuietHours, StoredValuesReadBackOrAreOff) {
    const QuietHours night{true, at(22, 30), at(7)};
    EXPECT_EQ(QuietHours::decode(night.encode()), night);
    const QuietHours off{};
    const char* unreadable[] = {
        R"(null)",
        R"("22:00-08:00")",
        R"([true, 1320, 480])",
        R"({"enabled": "yes", "from": 1320, "to": 480})",
        R"({"enabled": true, "from": 1320})",
        R"({"enabled": true, "from": -30, "to": 480})",
        R"({"enabled": true, "from": 1320, "to": 1440})",
        R"({"enabled": true, "from": 1320.5, "to": 480})",
        R"({"enabled": true, "from": 99999999999999999999, "to": 480})",
    };
    for (const char* text : unreadable)
        EXPECT_EQ(QuietHours::decode(UserDefaults::Json::parse(text)), off) << text;
    EXPECT_EQ(QuietHours::decode(std::nullopt), off);
}

} // namespace
} // namespace aurelo
