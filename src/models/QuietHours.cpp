#include "models/QuietHours.hpp"

#include <glib.h>

#include <cstdio>

namespace aurelo {

bool QuietHours::covers(int minuteOfDay) const {
    if (!enabled || fromMinute == toMinute)
        return false;
    if (fromMinute < toMinute)
        return minuteOfDay >= fromMinute && minuteOfDay < toMinute;
    return minuteOfDay >= fromMinute || minuteOfDay < toMinute;
}

bool QuietHours::coversNow() const {
    return enabled && covers(localMinuteOfDay(std::chrono::system_clock::now()));
}

int QuietHours::localMinuteOfDay(std::chrono::system_clock::time_point time) {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
    GDateTime* local = g_date_time_new_from_unix_local(static_cast<gint64>(seconds));
    if (!local)
        return 0;
    const int minute = g_date_time_get_hour(local) * 60 + g_date_time_get_minute(local);
    g_date_time_unref(local);
    return minute;
}

std::string QuietHours::clockText(int minuteOfDay) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", (minuteOfDay / 60) % 24, minuteOfDay % 60);
    return text;
}

UserDefaults::Json QuietHours::encode() const {
    return {{"enabled", enabled}, {"from", fromMinute}, {"to", toMinute}};
}

QuietHours QuietHours::decode(const std::optional<UserDefaults::Json>& value) {
    QuietHours result;
    if (!value || !value->is_object())
        return result;
    auto minute = [&](const char* key) -> std::optional<int> {
        auto it = value->find(key);
        if (it == value->end() || !it->is_number_integer())
            return std::nullopt;
        const auto number = it->get<long long>();
        if (number < 0 || number >= kMinutesPerDay)
            return std::nullopt;
        return static_cast<int>(number);
    };
    const auto enabled = value->find("enabled");
    const auto from = minute("from");
    const auto to = minute("to");
    if (enabled == value->end() || !enabled->is_boolean() || !from || !to)
        return result;
    return QuietHours{enabled->get<bool>(), *from, *to};
}

} // namespace aurelo
