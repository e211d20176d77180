#pragma once

// The settings page's read-only 术语表 card: the account's glossary as the service applies it,
// read when the page opens and whenever the account's engine list is read again, with a filter
// over source, target and languages. Widgets bind to it; it knows none.

#include "models/AccountStore.hpp"
#include "platform/Cancellable.hpp"
#include "translation/ManagedTranslationClient.hpp"

#include <sigc++/sigc++.h>

#include <functional>
#include <string>
#include <vector>

namespace aurelo {

class SettingsGlossaryModel {
public:
    // Reads the glossary with a login token (ManagedTranslationClient::fetchGlossary).
    using Fetch = std::function<void(const std::string& token,
                                     ServiceCompletion<std::vector<GlossaryEntry>> completion)>;

    // Reads from the managed service at aureloServiceURL() through the shared session, as the
    // account store does.
    static Fetch serviceFetch();

    static constexpr const char* kEmptyText =
        "术语表为空。管理员可在服务端用 aurelo-service admin glossary add 或 glossary import "
        "添加术语，此处会自动显示。";
    static constexpr const char* kLoadingText = "正在读取术语表…";
    static constexpr const char* kNoMatchText = "没有符合筛选条件的术语。";

    SettingsGlossaryModel(AccountStore& account, Fetch fetch);
    SettingsGlossaryModel(const SettingsGlossaryModel&) = delete;
    SettingsGlossaryModel& operator=(const SettingsGlossaryModel&) = delete;
    ~SettingsGlossaryModel();

    // Reads the list again; `done` runs on the main loop once it is read or has failed.
    void refresh(std::function<void()> done = {});

    const std::string& filter() const { return m_filter; }
    void setFilter(std::string text);
    // The entries the filter lets through (all of them for an empty filter), in the service's
    // order; the filter ignores letter case and surrounding spaces.
    std::vector<GlossaryEntry> visibleEntries() const;
    // The line shown instead of or under the rows: loading, the failure, the empty list's hint,
    // no match; empty when rows are shown.
    std::string statusText() const;

    // The cells of a row.
    static std::string targetText(const GlossaryEntry& entry);
    static std::string languagesText(const GlossaryEntry& entry);

    sigc::signal<void()>& signalChanged() { return m_changed; }

private:
    AccountStore& m_account;
    Fetch m_fetch;
    Cancellable m_cancellable;
    sigc::connection m_accountConnection;
    std::vector<GlossaryEntry> m_entries;
    std::string m_filter;
    std::string m_error;
    bool m_loading = false;
    bool m_loaded = false;
    sigc::signal<void()> m_changed;
};

} // namespace aurelo
