#pragma once

// Each account's page against its memory ceiling ("页面内存上限"). A page over its ceiling that
// is not on show is loaded again, or put to sleep if the account hibernates, and its tab says so
// until the account is shown. A page on show is never reloaded under the agent's hands: the page
// area offers "重新加载" and says how much the page uses. A page reloaded for its memory is not
// reloaded again for ten minutes, so a page that is heavy right after loading cannot make a
// storm of reloads; its tab keeps saying it is over.

#include "models/ChatSession.hpp"

#include <sigc++/sigc++.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace aurelo {

class PageMemoryWatchdog {
public:
    using Clock = std::chrono::steady_clock;
    struct Hooks {
        // The ceiling (KiB) each page may use now; nullopt: "不限".
        std::function<std::optional<std::uint64_t>()> ceilingKiB;
        std::function<bool(const std::string& sessionID)> isShown;
        // Whether the account hibernates ("自动休眠"): its page is put to sleep instead.
        std::function<bool(const std::string& sessionID)> hibernates;
        std::function<void(const std::string& sessionID)> hibernateNow;
        std::function<Clock::time_point()> now = Clock::now;
    };

    static constexpr std::chrono::minutes kReloadSpacing{10};
    static constexpr const char* kReloadedNote = "内存超限，已重新加载";
    static constexpr const char* kHibernatedNote = "内存超限，已休眠";
    static constexpr const char* kStillOverNote = "内存超限";

    explicit PageMemoryWatchdog(Hooks hooks);

    // A measurement of the account's web process.
    void measured(const std::string& sessionID, std::uint64_t pssKiB);
    // The agent chose "重新加载" on the bar.
    void reloadChosen(const std::string& sessionID);
    // Another account is on show (or none): the shown account's note has been seen, and an
    // offer on a page no longer shown waits for its next measurement.
    void shownChanged();
    // Forgets the accounts that are gone.
    void keepOnly(const std::vector<ChatSession>& sessions);

    // The bar's text for a page on show over its ceiling: "此页面占用内存 1.3 GB，超过上限 1 GB".
    std::optional<std::string> offer(const std::string& sessionID) const;
    // A word on the tab: "内存超限，已重新加载", "内存超限，已休眠", "内存超限".
    std::optional<std::string> tabNote(const std::string& sessionID) const;

    // The page must be loaded again now.
    sigc::signal<void(const std::string&)>& signalReload() { return m_reload; }
    // The account's offer or note changed.
    sigc::signal<void(const std::string&)>& signalChanged() { return m_changed; }

private:
    struct Account {
        std::optional<std::string> offer;
        std::optional<std::string> note;
        std::optional<Clock::time_point> reloadedAt;
    };
    void set(const std::string& sessionID, std::optional<std::string> offer,
             std::optional<std::string> note);

    Hooks m_hooks;
    std::map<std::string, Account> m_accounts;
    sigc::signal<void(const std::string&)> m_reload;
    sigc::signal<void(const std::string&)> m_changed;
};

} // namespace aurelo
