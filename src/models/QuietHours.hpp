#pragma once

// "定时勿扰": a daily period, in local time, during which 勿扰 is on without the button; it may
// run across midnight (22:00–08:00).

#include "platform/UserDefaults.hpp"

#include <chrono>
#include <optional>
#include <string>

namespace aurelo {

struct QuietHours {
    static constexpr int kMinutesPerDay = 24 * 60;
    // The pickers offer the day in half hours.
    static constexpr int kStepMinutes = 30;

    bool enabled = false;
    int fromMinute = 22 * 60; // minutes after local midnight, inclusive
    int toMinute = 8 * 60;    // exclusive; before `fromMinute`: the period runs across midnight

    friend bool operator==(const QuietHours&, const QuietHours&) = default;

    // Whether the minute of the day falls in the period. A period that starts where it ends is
    // empty: it never silences anything.
    bool covers(int minuteOfDay) const;
    bool coversNow() const;

    // The local minute of the day of `time`.
    static int localMinuteOfDay(std::chrono::system_clock::time_point time);
    // "HH:MM".
    static std::string clockText(int minuteOfDay);

    // The stored form: {"enabled": bool, "from": minute, "to": minute}. Anything else read back
    // (a hand-edited file, a value of another version) is off, never a failure.
    UserDefaults::Json encode() const;
    static QuietHours decode(const std::optional<UserDefaults::Json>& value);
};

} // namespace aurelo
