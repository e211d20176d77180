#include "viewmodels/PageMemoryWatchdog.hpp"

#include "web/PageMemory.hpp"

#include <algorithm>

namespace aurelo {

PageMemoryWatchdog::PageMemoryWatchdog(Hooks hooks) : m_hooks(std::move(hooks)) {}

void PageMemoryWatchdog::set(const std::string& sessionID, std::optional<std::string> offer,
                             std::optional<std::string> note) {
    Account& account = m_accounts[sessionID];
    if (account.offer == offer && account.note == note)
        return;
    account.offer = std::move(offer);
    account.note = std::move(note);
    m_changed.emit(sessionID);
}

void PageMemoryWatchdog::measured(const std::string& sessionID, std::uint64_t pssKiB) {
    const auto ceiling = m_hooks.ceilingKiB();
    Account& account = m_accounts[sessionID];
    const bool shown = m_hooks.isShown(sessionID);
    if (!ceiling || pssKiB <= *ceiling) {
        // Back under: the offer goes; a note about a reload stays until the account is seen.
        set(sessionID, std::nullopt, shown ? std::nullopt : account.note);
        return;
    }
    if (shown) {
        set(sessionID,
            "此页面占用内存 " + memorySizeText(pssKiB) + "，超过上限 " + memorySizeText(*ceiling),
            std::nullopt);
        return;
    }
    if (m_hooks.hibernates(sessionID)) {
        set(sessionID, std::nullopt, kHibernatedNote);
        m_hooks.hibernateNow(sessionID);
        return;
    }
    const auto now = m_hooks.now();
    if (account.reloadedAt && now - *account.reloadedAt < kReloadSpacing) {
        set(sessionID, std::nullopt, kStillOverNote);
        return;
    }
    account.reloadedAt = now;
    set(sessionID, std::nullopt, kReloadedNote);
    m_reload.emit(sessionID);
}

void PageMemoryWatchdog::reloadChosen(const std::string& sessionID) {
    auto it = m_accounts.find(sessionID);
    if (it == m_accounts.end() || !it->second.offer)
        return;
    set(sessionID, std::nullopt, std::nullopt);
    m_reload.emit(sessionID);
}

void PageMemoryWatchdog::shownChanged() {
    for (const auto& [id, account] : m_accounts) {
        const bool shown = m_hooks.isShown(id);
        if ((shown && account.note) || (!shown && account.offer))
            set(id, shown ? account.offer : std::nullopt, shown ? std::nullopt : account.note);
    }
}

void PageMemoryWatchdog::keepOnly(const std::vector<ChatSession>& sessions) {
    std::erase_if(m_accounts, [&](const auto& entry) {
        return std::ranges::find(sessions, entry.first, &ChatSession::id) == sessions.end();
    });
}

std::optional<std::string> PageMemoryWatchdog::offer(const std::string& sessionID) const {
    auto it = m_accounts.find(sessionID);
    return it == m_accounts.end() ? std::nullopt : it->second.offer;
}

std::optional<std::string> PageMemoryWatchdog::tabNote(const std::string& sessionID) const {
    auto it = m_accounts.find(sessionID);
    return it == m_accounts.end() ? std::nullopt : it->second.note;
}

} // namespace aurelo
