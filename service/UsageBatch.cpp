// Usage counted in memory between writes, and the day arithmetic of usage and quotas.
#include "service/UsageBatch.hpp"

#include <glib.h>

#include <cstdio>
#include <memory>

namespace aurelo::service {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

using DateTime = std::unique_ptr<GDateTime, decltype(&g_date_time_unref)>;

DateTime utcFromSeconds(std::int64_t seconds) {
    return DateTime(g_date_time_new_from_unix_utc(seconds), g_date_time_unref);
}

} // namespace

std::int64_t usageDay(std::int64_t seconds) {
    // Floor division: a clock before 1970 is nonsense, but must not make day 0 twice as long.
    return seconds >= 0 ? seconds / kSecondsPerDay : (seconds - kSecondsPerDay + 1) / kSecondsPerDay;
}

std::int64_t monthStartDay(std::int64_t seconds) {
    auto time = utcFromSeconds(seconds);
    if (!time)
        return usageDay(seconds);
    return usageDay(seconds) - (g_date_time_get_day_of_month(time.get()) - 1);
}

std::string usageDayText(std::int64_t day) {
    auto time = utcFromSeconds(day * kSecondsPerDay);
    if (!time)
        return std::to_string(day);
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", g_date_time_get_year(time.get()),
                  g_date_time_get_month(time.get()), g_date_time_get_day_of_month(time.get()));
    return text;
}

std::optional<std::int64_t> parseUsageDay(const std::string& text) {
    int year = 0, month = 0, day = 0, consumed = 0;
    if (text.size() != 10 ||
        std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &consumed) != 3 ||
        consumed != 10 || text[4] != '-' || text[7] != '-')
        return std::nullopt;
    if (!g_date_valid_dmy(static_cast<GDateDay>(day), static_cast<GDateMonth>(month),
                          static_cast<GDateYear>(year)))
        return std::nullopt;
    DateTime time(g_date_time_new_utc(year, month, day, 0, 0, 0), g_date_time_unref);
    if (!time)
        return std::nullopt;
    return usageDay(g_date_time_to_unix(time.get()));
}

void UsageBatch::merge(Deltas& into, const UsageDelta& delta) {
    auto& row = into[{delta.accountId, delta.engine, delta.day}];
    if (row.requests == 0 && row.characters == 0) {
        row.accountId = delta.accountId;
        row.engine = delta.engine;
        row.day = delta.day;
    }
    row.characters += delta.characters;
    row.requests += delta.requests;
}

std::vector<UsageDelta> UsageBatch::list(const Deltas& deltas) {
    std::vector<UsageDelta> all;
    all.reserve(deltas.size());
    for (const auto& [key, delta] : deltas)
        all.push_back(delta);
    return all;
}

void UsageBatch::record(std::int64_t accountId, const std::string& engine, std::int64_t day,
                        std::int64_t characters) {
    std::lock_guard lock(m_mutex);
    merge(m_pending, {accountId, engine, day, characters, 1});
}

std::vector<UsageDelta> UsageBatch::take() {
    std::lock_guard lock(m_mutex);
    if (m_writeOut || m_pending.empty())
        return {};
    m_writeOut = true;
    m_writing = std::move(m_pending);
    m_pending.clear();
    return list(m_writing);
}

void UsageBatch::settle(bool written) {
    std::lock_guard lock(m_mutex);
    if (!written)
        for (const auto& [key, delta] : m_writing)
            merge(m_pending, delta);
    m_writing.clear();
    m_writeOut = false;
}

std::vector<UsageDelta> UsageBatch::takeAll() {
    std::lock_guard lock(m_mutex);
    for (const auto& [key, delta] : m_writing)
        merge(m_pending, delta);
    m_writing.clear();
    m_writeOut = false;
    auto all = list(m_pending);
    m_pending.clear();
    return all;
}

std::int64_t UsageBatch::pendingCharacters(std::int64_t accountId, std::int64_t sinceDay) const {
    std::lock_guard lock(m_mutex);
    std::int64_t total = 0;
    for (const Deltas* deltas : {&m_pending, &m_writing})
        for (auto it = deltas->lower_bound({accountId, std::string(), INT64_MIN});
             it != deltas->end() && std::get<0>(it->first) == accountId; ++it)
            if (it->second.day >= sinceDay)
                total += it->second.characters;
    return total;
}

} // namespace aurelo::service
