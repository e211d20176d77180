// The 术语表 card's state: reading the glossary, filtering it, and the texts of its rows.
#include "viewmodels/SettingsGlossaryModel.hpp"

#include "translation/AureloServiceURL.hpp"

#include <glib.h>

#include <memory>

namespace aurelo {

namespace {

std::string folded(const std::string& text) {
    std::unique_ptr<gchar, decltype(&g_free)> stripped(g_strstrip(g_strdup(text.c_str())), g_free);
    std::unique_ptr<gchar, decltype(&g_free)> lower(g_utf8_casefold(stripped.get(), -1), g_free);
    return lower.get();
}

} // namespace

SettingsGlossaryModel::Fetch SettingsGlossaryModel::serviceFetch() {
    auto client =
        std::make_shared<ManagedTranslationClient>(aureloServiceURL(), sharedHttpSession());
    return [client](const std::string& token,
                    ServiceCompletion<std::vector<GlossaryEntry>> completion) {
        client->fetchGlossary(token, std::move(completion));
    };
}

SettingsGlossaryModel::SettingsGlossaryModel(AccountStore& account, Fetch fetch)
    : m_account(account), m_fetch(std::move(fetch)) {
    // 刷新服务器, a login and the page opening read the engine list: the glossary follows.
    m_accountConnection = m_account.signalChanged().connect([this](AccountStore::Field field) {
        if (field == AccountStore::Field::EnginesRead ||
            field == AccountStore::Field::IsLoggedIn)
            refresh();
    });
}

SettingsGlossaryModel::~SettingsGlossaryModel() {
    m_accountConnection.disconnect();
}

void SettingsGlossaryModel::refresh(std::function<void()> done) {
    if (!m_fetch || !m_account.isLoggedIn() || m_account.token().empty()) {
        m_entries.clear();
        m_error.clear();
        m_loaded = false;
        m_changed.emit();
        if (done)
            done();
        return;
    }
    m_loading = true;
    m_changed.emit();
    const CancellationToken cancellation = m_cancellable.token();
    m_fetch(m_account.token(), [this, cancellation, done = std::move(done)](
                                   ServiceOutcome<std::vector<GlossaryEntry>> outcome) {
        if (cancellation.isCancelled())
            return;
        m_loading = false;
        if (outcome) {
            m_entries = std::move(*outcome);
            m_error.clear();
            m_loaded = true;
        } else {
            // The last list read stays shown under the failure.
            m_error = "无法读取术语表：" + describe(outcome.error());
        }
        m_changed.emit();
        if (done)
            done();
    });
}

void SettingsGlossaryModel::setFilter(std::string text) {
    if (text == m_filter)
        return;
    m_filter = std::move(text);
    m_changed.emit();
}

std::vector<GlossaryEntry> SettingsGlossaryModel::visibleEntries() const {
    std::string needle = folded(m_filter);
    if (needle.empty())
        return m_entries;
    std::vector<GlossaryEntry> visible;
    for (const auto& entry : m_entries)
        for (const auto* field :
             {&entry.source, &entry.target, &entry.sourceLanguage, &entry.targetLanguage})
            if (folded(*field).find(needle) != std::string::npos) {
                visible.push_back(entry);
                break;
            }
    return visible;
}

std::string SettingsGlossaryModel::statusText() const {
    if (!m_error.empty())
        return m_error;
    if (m_loading && !m_loaded)
        return kLoadingText;
    if (!m_loaded)
        return {};
    if (m_entries.empty())
        return kEmptyText;
    return visibleEntries().empty() ? kNoMatchText : std::string();
}

std::string SettingsGlossaryModel::targetText(const GlossaryEntry& entry) {
    return entry.target.empty() ? "（保持原文，不翻译）" : entry.target;
}

std::string SettingsGlossaryModel::languagesText(const GlossaryEntry& entry) {
    std::string text =
        entry.target.empty() ? "所有语言" : entry.sourceLanguage + " → " + entry.targetLanguage;
    if (entry.ignoreCase)
        text += " · 不区分大小写";
    if (entry.accountOwn)
        text += " · 本账号";
    return text;
}

} // namespace aurelo
