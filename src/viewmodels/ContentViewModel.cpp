#include "viewmodels/ContentViewModel.hpp"

#include "models/AccountName.hpp"
#include "platform/MainLoop.hpp"
#include "viewmodels/PageZoom.hpp"
#include "web/PageMemory.hpp"

namespace aurelo {

ContentViewModel::ContentViewModel(SessionStore& store, SettingsStore& settings,
                                   AccountStore& account, AppLockStore& appLock,
                                   MainWindowPreferences& preferences,
                                   const TranslationService& translator, std::string appVersion,
                                   ProxyPasswords* proxyPasswords)
    : m_store(store), m_settings(settings), m_account(account), m_appLock(appLock),
      m_preferences(preferences), m_translator(translator), m_proxyPasswords(proxyPasswords),
      m_translationBox(store, settings, translator),
      m_newSessionForm(
          store, [this] { return sessionDefaults(); }, [this] { showAdded(); }),
      m_websiteForm(store, [this] { showAdded(); }),
      m_sessionSettingsForm(
          store, [this] { return sessionDefaults(); }, [this] { newReloadToken(); }),
      m_quickSettings(store, settings, account, preferences, [this] { newReloadToken(); }),
      m_appVersion(std::move(appVersion)), m_reloadToken(newSessionID()),
      m_lastSelectedID(store.selectedID()) {
    m_newSessionForm.setProxyPasswords(m_proxyPasswords);
    m_sessionSettingsForm.setProxyPasswords(m_proxyPasswords);
    m_newSessionForm.setEngineList(&m_account);
    m_sessionSettingsForm.setEngineList(&m_account);
    m_conversationLanguages =
        std::make_unique<ConversationLanguageModel>(m_store, [this] { return sessionDefaults(); });
    m_translationBox.setFollowedLanguage([languages = m_conversationLanguages.get()](
                                             const std::string& id) -> std::optional<std::string> {
        if (auto language = languages->followedLanguage(id))
            return std::string(code(*language));
        return std::nullopt;
    });
    m_conversationConnection = m_conversationLanguages->signalChanged().connect(
        [this] { m_translationBox.followedLanguageChanged(); });
    m_hibernation =
        std::make_unique<AccountHibernation>(m_store, [this] { return shownSessionID(); });
    m_health = std::make_unique<AccountHealth>(
        m_store, [this](const std::string& id) { return isPageShown(id); },
        [this] { return doNotDisturbState() != DoNotDisturbState::Off; });
    m_memory = std::make_unique<PageMemoryWatchdog>(PageMemoryWatchdog::Hooks{
        .ceilingKiB =
            [this, machine = machineMemoryKiB()] {
                std::size_t open = 0;
                for (const auto& session : m_store.sessions())
                    open += m_hibernation->isHibernated(session.id) ? 0 : 1;
                return pageMemoryCeilingKiB(m_settings.pageMemoryLimit(), machine, open);
            },
        .isShown = [this](const std::string& id) { return isPageShown(id); },
        .hibernates =
            [this](const std::string& id) {
                const auto& sessions = m_store.sessions();
                auto it = std::ranges::find(sessions, id, &ChatSession::id);
                return it != sessions.end() && it->autoHibernateMinutes.has_value();
            },
        .hibernateNow = [this](const std::string& id) { m_hibernation->hibernateNow(id); },
    });
    // A panel over the pages hides the page on show as much as selecting another account does.
    m_changed.connect([this](Field field) {
        if (field == Field::ShowAppCenter || field == Field::ShowingInlineSettings) {
            m_hibernation->refresh();
            m_memory->shownChanged();
        }
    });
    m_storeConnection = m_store.signalChanged().connect([this](SessionStore::Field field) {
        if (field == SessionStore::Field::Sessions)
            m_memory->keepOnly(m_store.sessions());
        if (field != SessionStore::Field::SelectedID || m_store.selectedID() == m_lastSelectedID)
            return;
        m_lastSelectedID = m_store.selectedID();
        m_translationBox.cancelTranslationForSessionSwitch();
        m_memory->shownChanged();
    });
    // Each sheet's flag is the window's too: the view opens the sheet on it.
    const auto forward = [this](FormModel& form, Field field) {
        m_formConnections.push_back(form.signalChanged().connect([this, field](FormModel::Field f) {
            if (f == FormModel::Field::Showing)
                m_changed.emit(field);
        }));
    };
    forward(m_newSessionForm, Field::ShowingAddSession);
    forward(m_websiteForm, Field::ShowingAddWebsite);
    forward(m_sessionSettingsForm, Field::ShowingSessionSettings);
    m_accountConnection = m_account.signalChanged().connect([this](AccountStore::Field field) {
        if (field == AccountStore::Field::Username)
            m_appLock.configure(m_account.username());
        if (field == AccountStore::Field::AvailableEngines) {
            m_newSessionForm.engineListChanged();
            m_sessionSettingsForm.engineListChanged();
        }
    });
}

std::string ContentViewModel::proxyPassword(const std::string& sessionID) const {
    return m_proxyPasswords ? m_proxyPasswords->password(sessionID) : std::string();
}

ContentViewModel::~ContentViewModel() {
    m_storeConnection.disconnect();
    m_accountConnection.disconnect();
    m_conversationConnection.disconnect();
    for (auto& connection : m_formConnections)
        connection.disconnect();
}

void ContentViewModel::setFlag(bool& member, bool value, Field field) {
    if (member == value)
        return;
    member = value;
    m_changed.emit(field);
}

void ContentViewModel::newReloadToken() {
    m_reloadToken = newSessionID();
    m_changed.emit(Field::ReloadToken);
}

void ContentViewModel::addPlatform(const PlatformEntry& entry) {
    if (entry.url == kCustomPlatformURL)
        m_websiteForm.open();
    else
        m_newSessionForm.addPlatform(entry);
}

void ContentViewModel::selectPlatform(const EnabledPlatform& platform) {
    m_store.select(platform.sessionID);
    closePanels();
}

void ContentViewModel::setShowAppCenter(bool show) {
    setFlag(m_showAppCenter, show, Field::ShowAppCenter);
    setFlag(m_showingInlineSettings, false, Field::ShowingInlineSettings);
}

void ContentViewModel::openSettingsPanel() {
    setFlag(m_showingInlineSettings, true, Field::ShowingInlineSettings);
    setFlag(m_showAppCenter, false, Field::ShowAppCenter);
}

void ContentViewModel::showAdded() {
    // The tab bar opens up so that the new tab is in sight, and its page is shown rather than
    // the app centre it was added from.
    setFlag(m_showAllSessionRows, true, Field::ShowAllSessionRows);
    closePanels();
}

void ContentViewModel::closePanels() {
    setFlag(m_showAppCenter, false, Field::ShowAppCenter);
    setFlag(m_showingInlineSettings, false, Field::ShowingInlineSettings);
}

void ContentViewModel::selectTab(const std::string& sessionID) {
    m_store.select(sessionID);
    // Selecting an account wakes it, also the one on show that "立即休眠" just put to sleep.
    m_hibernation->wake(sessionID);
}

void ContentViewModel::selectAndReload(const std::string& sessionID) {
    m_store.select(sessionID);
    newReloadToken();
}

void ContentViewModel::translateWholePage(const std::string& sessionID) {
    m_store.select(sessionID);
    // On the next turn of the main loop, so that the page of the new selection receives it.
    postToMainLoop([this, cancellation = m_cancellable.token()] {
        if (cancellation.isCancelled())
            return;
        m_pageCommand = WebPageCommand{newSessionID(), WebPageCommand::Action::TranslateToChinese};
        m_changed.emit(Field::PageCommand);
    });
}

void ContentViewModel::restoreWholePage(const std::string& sessionID) {
    m_store.select(sessionID);
    postToMainLoop([this, cancellation = m_cancellable.token()] {
        if (cancellation.isCancelled())
            return;
        m_pageCommand = WebPageCommand{newSessionID(), WebPageCommand::Action::Restore};
        m_changed.emit(Field::PageCommand);
    });
}

void ContentViewModel::pageCommandTaken(const std::string& commandID) {
    if (m_pageCommand && m_pageCommand->id == commandID)
        m_pageCommand.reset();
}

void ContentViewModel::showSession(const std::string& sessionID) {
    bool known = false;
    for (const auto& session : m_store.sessions())
        known = known || session.id == sessionID;
    if (!known)
        return;
    closePanels();
    m_store.select(sessionID);
}

void ContentViewModel::zoomIn() {
    m_preferences.setPageZoom(PageZoom::stepped(m_preferences.pageZoom(), PageZoom::kStep));
}

void ContentViewModel::zoomOut() {
    m_preferences.setPageZoom(PageZoom::stepped(m_preferences.pageZoom(), -PageZoom::kStep));
}

void ContentViewModel::resetZoom() {
    m_preferences.setPageZoom(PageZoom::kDefault);
}

std::string ContentViewModel::nextZoomLabel(double delta) const {
    return PageZoom::nextZoomLabel(m_preferences.pageZoom(), delta);
}

void ContentViewModel::beginRename(const std::string& sessionID) {
    for (const auto& session : m_store.sessions()) {
        if (session.id != sessionID)
            continue;
        m_store.select(sessionID);
        setRenameText(session.name);
        setFlag(m_showingRename, true, Field::ShowingRename);
        return;
    }
}

void ContentViewModel::setRenameText(std::string text) {
    if (m_renameText == text)
        return;
    m_renameText = std::move(text);
    m_changed.emit(Field::RenameText);
}

std::string ContentViewModel::renameError() const {
    return AccountName::problem(m_renameText);
}

std::string ContentViewModel::renameTitle() const {
    if (const auto& id = m_store.selectedID())
        for (const auto& session : m_store.sessions())
            if (session.id == *id)
                return "修改 " + platformName(session) + " 名称";
    return "修改名称";
}

void ContentViewModel::saveRename() {
    if (!renameError().empty())
        return;
    if (m_store.selectedID())
        m_store.rename(*m_store.selectedID(), m_renameText);
    setFlag(m_showingRename, false, Field::ShowingRename);
}

void ContentViewModel::cancelRename() {
    setFlag(m_showingRename, false, Field::ShowingRename);
}

void ContentViewModel::askToDelete(const ChatSession& session) {
    m_pendingDeleteSession = session;
    m_changed.emit(Field::PendingDeleteSession);
}

void ContentViewModel::confirmDelete() {
    if (m_pendingDeleteSession)
        m_store.remove(*m_pendingDeleteSession);
    cancelDelete();
}

void ContentViewModel::cancelDelete() {
    if (!m_pendingDeleteSession)
        return;
    m_pendingDeleteSession.reset();
    m_changed.emit(Field::PendingDeleteSession);
}

void ContentViewModel::deleteNow(const ChatSession& session) {
    m_store.remove(session);
}

std::string ContentViewModel::deleteConfirmationTitle() const {
    const std::string name = m_pendingDeleteSession ? m_pendingDeleteSession->name : "此账号";
    return "确认删除“" + name + "”？";
}

bool ContentViewModel::moveTab(const std::string& payload, const std::string& targetID) {
    auto dragged = canonicalSessionID(payload);
    if (!dragged)
        return false;
    m_store.move(*dragged, targetID);
    return true;
}

ContentViewModel::DoNotDisturbState ContentViewModel::doNotDisturbState() const {
    if (m_preferences.doNotDisturb())
        return DoNotDisturbState::On;
    return m_settings.quietHours().coversNow() ? DoNotDisturbState::Scheduled
                                               : DoNotDisturbState::Off;
}

void ContentViewModel::toggleDoNotDisturb() {
    m_preferences.setDoNotDisturb(!m_preferences.doNotDisturb());
}

void ContentViewModel::toggleQuickSettings() {
    m_preferences.setShowQuickTranslationSettings(!m_preferences.showQuickTranslationSettings());
    closePanels();
}

void ContentViewModel::toggleSessionRows() {
    setFlag(m_showAllSessionRows, !m_showAllSessionRows, Field::ShowAllSessionRows);
}

void ContentViewModel::setShowingAddSession(bool value) {
    m_newSessionForm.setShowing(value);
}

void ContentViewModel::setShowingAddWebsite(bool value) {
    m_websiteForm.setShowing(value);
}

void ContentViewModel::setShowingSessionSettings(bool value) {
    m_sessionSettingsForm.setShowing(value);
}

void ContentViewModel::requestApplicationLock() {
    m_appLock.configure(m_account.username());
    m_changed.emit(Field::LockFields);
    if (!m_appLock.hasPassword()) {
        setFlag(m_showingLockSetup, true, Field::ShowingLockSetup);
        return;
    }
    setFlag(m_appLocked, true, Field::AppLocked);
}

void ContentViewModel::cancelLockSetup() {
    setFlag(m_showingLockSetup, false, Field::ShowingLockSetup);
}

bool ContentViewModel::answerNowOrLater(const std::function<void(std::function<void(bool)>)>& start,
                                        std::function<void()> succeeded) {
    auto insideCall = std::make_shared<bool>(true);
    bool answeredNow = false;
    start([cancellation = m_cancellable.token(), insideCall, &answeredNow,
           succeeded = std::move(succeeded)](bool ok) {
        if (cancellation.isCancelled())
            return;
        if (*insideCall)
            answeredNow = ok; // still inside answerNowOrLater, so the reference is valid
        if (ok)
            succeeded();
    });
    *insideCall = false;
    return answeredNow;
}

bool ContentViewModel::saveLockSetup(const std::string& password, const std::string& confirmation) {
    // Saved inside the call unless the keyring had to be unlocked first; then the window locks
    // when the user has answered the desktop's prompt.
    return answerNowOrLater(
        [&](std::function<void(bool)> done) {
            m_appLock.setPasswordUnlocking(password, confirmation, std::move(done));
        },
        [this] {
            m_changed.emit(Field::LockFields);
            setFlag(m_showingLockSetup, false, Field::ShowingLockSetup);
            setFlag(m_appLocked, true, Field::AppLocked);
        });
}

bool ContentViewModel::unlockApplication(const std::string& password) {
    // The answer comes inside the call unless the keyring had to be unlocked first; then the
    // window unlocks when the user has answered the desktop's prompt.
    return answerNowOrLater(
        [&](std::function<void(bool)> done) {
            m_appLock.verifyUnlocking(password, std::move(done));
        },
        [this] {
            m_changed.emit(Field::LockFields);
            setFlag(m_appLocked, false, Field::AppLocked);
        });
}

void ContentViewModel::refreshServices() {
    setFlag(m_refreshingServices, true, Field::RefreshingServices);
    // The operator may have changed the glossary or the engines: texts are asked anew.
    m_translator.forgetResults();
    m_account.refreshEngines([this, cancellation = m_cancellable.token()] {
        if (cancellation.isCancelled())
            return;
        newReloadToken();
        setFlag(m_refreshingServices, false, Field::RefreshingServices);
    });
}

void ContentViewModel::appear() {
    m_appLock.configure(m_account.username());
    m_preferences.adoptGoldTranslationColor();
}

std::optional<std::string> ContentViewModel::unreadBadgeText(std::optional<int> count) {
    if (!count || *count < 1)
        return std::nullopt;
    if (*count > 99)
        return "99+";
    return std::to_string(*count);
}

std::optional<std::string> ContentViewModel::tabBadgeText(const std::string& sessionID) const {
    auto it = m_store.unreadCounts().find(sessionID);
    return unreadBadgeText(it == m_store.unreadCounts().end() ? std::nullopt
                                                              : std::optional<int>(it->second));
}

SessionDefaults ContentViewModel::sessionDefaults() const {
    SessionDefaults defaults = m_settings.sessionDefaults();
    defaults.receiveTranslationEnabled = m_preferences.receiveTranslationEnabled();
    defaults.translationFontSize = m_preferences.translationFontSize();
    defaults.translationFontColor = m_preferences.translationFontColor();
    return defaults;
}

bool ContentViewModel::isPageShown(const std::string& sessionID) const {
    return m_store.selectedID() == sessionID && !m_showAppCenter && !m_showingInlineSettings;
}

std::optional<std::string> ContentViewModel::shownSessionID() const {
    if (m_showAppCenter || m_showingInlineSettings)
        return std::nullopt;
    return m_store.selectedID();
}

} // namespace aurelo
