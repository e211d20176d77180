#pragma once

// The usage an instance has counted and not yet written: characters and requests per account,
// engine and UTC day, added up in memory and written to the store in one statement every few
// seconds (ServiceServer's flush), so that a translation costs no database write of its own. A
// crash loses what was counted since the last write; a graceful stop writes it. Safe from any
// thread.

#include "service/ServiceDatabase.hpp"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace aurelo::service {

// UTC days since the epoch of `seconds` since the epoch, and the first day of its month.
std::int64_t usageDay(std::int64_t seconds);
std::int64_t monthStartDay(std::int64_t seconds);
// "2026-12-07" for a day number; and back, nullopt for anything but a valid date so written.
std::string usageDayText(std::int64_t day);
std::optional<std::int64_t> parseUsageDay(const std::string& text);

class UsageBatch {
public:
    void record(std::int64_t accountId, const std::string& engine, std::int64_t day,
                std::int64_t characters);

    // What to write now (empty while an earlier write is still out); it stays counted as
    // pending until settle() says whether it was written.
    std::vector<UsageDelta> take();
    void settle(bool written);
    // Everything not known to be written, the unsettled write included: for the last write
    // when the server stops.
    std::vector<UsageDelta> takeAll();

    // The characters of `accountId` from `sinceDay` on not yet known to be in the store.
    std::int64_t pendingCharacters(std::int64_t accountId, std::int64_t sinceDay) const;

private:
    using Key = std::tuple<std::int64_t, std::string, std::int64_t>;
    using Deltas = std::map<Key, UsageDelta>;
    static void merge(Deltas& into, const UsageDelta& delta);
    static std::vector<UsageDelta> list(const Deltas& deltas);

    mutable std::mutex m_mutex;
    Deltas m_pending;
    Deltas m_writing;
    bool m_writeOut = false;
};

} // namespace aurelo::service
