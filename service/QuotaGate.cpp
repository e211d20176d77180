// Monthly quotas, read from the store now and then and met by every translation.
#include "service/QuotaGate.hpp"

namespace aurelo::service {

std::string quotaExceededMessage(std::int64_t quota) {
    return "本月翻译字数已用完（每月 " + std::to_string(quota) + " 字），请联系管理员。";
}

QuotaGate::QuotaGate(ServiceDatabase& database, const UsageBatch& batch,
                     std::chrono::milliseconds refresh)
    : m_database(database), m_batch(batch), m_refresh(refresh) {}

DatabaseResult<std::optional<std::int64_t>>
QuotaGate::check(std::int64_t accountId, std::int64_t characters, std::int64_t now) {
    const std::int64_t month = monthStartDay(now);
    const auto at = Clock::now();
    std::optional<QuotaState> stored;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_entries.find(accountId);
        if (it != m_entries.end() && it->second.monthStart == month &&
            at - it->second.readAt < m_refresh)
            stored = it->second.stored;
    }
    if (!stored) {
        auto read = m_database.quotaState(accountId, month);
        if (!read)
            return std::unexpected(read.error());
        // Read after the store: a write that lands in between is counted twice until the next
        // read, never not at all.
        std::int64_t local = m_batch.pendingCharacters(accountId, month);
        std::lock_guard lock(m_mutex);
        m_entries[accountId] = {*read, local, month, at};
    }
    std::int64_t used = 0;
    {
        std::lock_guard lock(m_mutex);
        const Entry& entry = m_entries[accountId];
        stored = entry.stored;
        used = entry.stored.used + entry.local;
    }
    if (!stored->monthlyQuota)
        return std::optional<std::int64_t>();
    if (used + characters <= *stored->monthlyQuota)
        return std::optional<std::int64_t>();
    return std::optional<std::int64_t>(*stored->monthlyQuota);
}

void QuotaGate::spend(std::int64_t accountId, std::int64_t characters) {
    std::lock_guard lock(m_mutex);
    if (auto it = m_entries.find(accountId); it != m_entries.end())
        it->second.local += characters;
}

} // namespace aurelo::service
