#pragma once

// The state and operations of the main view: panels, sheets, the lock, tab actions, zoom, and
// the configuration each session's page is built with. Widgets bind to it; it knows none.

#include "models/AccountStore.hpp"
#include "models/AppLockStore.hpp"
#include "models/ProxyPasswords.hpp"
#include "models/SessionStore.hpp"
#include "models/SettingsStore.hpp"
#include "models/WebPageCommand.hpp"
#include "platform/Cancellable.hpp"
#include "viewmodels/AccountHealth.hpp"
#include "viewmodels/AccountHibernation.hpp"
#include "viewmodels/ConversationLanguageModel.hpp"
#include "viewmodels/MainWindowPreferences.hpp"
#include "viewmodels/NewSessionForm.hpp"
#include "viewmodels/PageMemoryWatchdog.hpp"
#include "viewmodels/QuickSettingsModel.hpp"
#include "viewmodels/SessionSettingsForm.hpp"
#include "viewmodels/TranslationBoxModel.hpp"
#include "viewmodels/WebsiteForm.hpp"

#include <sigc++/sigc++.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace aurelo {

class ContentViewModel {
public:
    enum class Field {
        ShowingRename,
        RenameText,
        PendingDeleteSession,
        ShowingAddSession,
        ShowingAddWebsite,
        ShowingSessionSettings,
        TextInsertion,
        ReloadToken,
        PageCommand,
        AppLocked,
        ShowingLockSetup,
        LockFields,
        RefreshingServices,
        ShowAppCenter,
        ShowingInlineSettings,
        ShowAllSessionRows,
    };

    ContentViewModel(SessionStore& store, SettingsStore& settings, AccountStore& account,
                     AppLockStore& appLock, MainWindowPreferences& preferences,
                     const TranslationService& translator, std::string appVersion,
                     ProxyPasswords* proxyPasswords = nullptr);
    ContentViewModel(const ContentViewModel&) = delete;
    ContentViewModel& operator=(const ContentViewModel&) = delete;
    ~ContentViewModel();

    SessionStore& store() { return m_store; }
    // The sessions' proxy passwords; null where none are kept (the proxies then get no password).
    ProxyPasswords* proxyPasswords() const { return m_proxyPasswords; }
    // A session's proxy password, "" without one.
    std::string proxyPassword(const std::string& sessionID) const;
    SettingsStore& settings() { return m_settings; }
    AccountStore& account() { return m_account; }
    AppLockStore& appLock() { return m_appLock; }
    MainWindowPreferences& preferences() { return m_preferences; }
    TranslationBoxModel& translationBox() { return m_translationBox; }
    NewSessionForm& newSessionForm() { return m_newSessionForm; }
    WebsiteForm& websiteForm() { return m_websiteForm; }
    SessionSettingsForm& sessionSettingsForm() { return m_sessionSettingsForm; }
    QuickSettingsModel& quickSettings() { return m_quickSettings; }
    // The open conversations' customer languages ("跟随客户语言").
    ConversationLanguageModel& conversationLanguages() { return *m_conversationLanguages; }
    const ConversationLanguageModel& conversationLanguages() const {
        return *m_conversationLanguages;
    }
    AccountHibernation& hibernation() { return *m_hibernation; }
    AccountHealth& health() { return *m_health; }
    PageMemoryWatchdog& memory() { return *m_memory; }
    const PageMemoryWatchdog& memory() const { return *m_memory; }
    const AccountHealth& health() const { return *m_health; }
    const AccountHibernation& hibernation() const { return *m_hibernation; }

    bool showingRename() const { return m_showingRename; }
    const std::string& renameText() const { return m_renameText; }
    // Why the typed name cannot be saved (the AccountName rule), said under the field as the
    // user types; empty when it can.
    std::string renameError() const;
    // The rename dialog's title, naming the account's platform (a custom website's account by
    // its own name).
    std::string renameTitle() const;
    const std::optional<ChatSession>& pendingDeleteSession() const {
        return m_pendingDeleteSession;
    }
    // The account sheets' flags live in their forms; these read them.
    bool showingAddSession() const { return m_newSessionForm.showing(); }
    bool showingAddWebsite() const { return m_websiteForm.showing(); }
    bool showingSessionSettings() const { return m_sessionSettingsForm.showing(); }
    const std::optional<WebTextInsertion>& textInsertion() const {
        return m_translationBox.textInsertion();
    }
    const std::string& reloadToken() const { return m_reloadToken; }
    const std::optional<WebPageCommand>& pageCommand() const { return m_pageCommand; }
    // The selected page ran the command: it is not handed out again. A command that has been
    // replaced by a newer one stays.
    void pageCommandTaken(const std::string& commandID);
    bool appLocked() const { return m_appLocked; }
    bool showingLockSetup() const { return m_showingLockSetup; }
    bool refreshingServices() const { return m_refreshingServices; }
    bool showAppCenter() const { return m_showAppCenter; }
    bool showingInlineSettings() const { return m_showingInlineSettings; }
    bool showAllSessionRows() const { return m_showAllSessionRows; }
    const std::string& appVersion() const { return m_appVersion; }

    // An app-centre tile: the custom-website entry opens the website dialog, any other the
    // new-account form for its platform.
    void addPlatform(const PlatformEntry& entry);

    // Panels and selection.
    void selectPlatform(const EnabledPlatform& platform);
    void setShowAppCenter(bool show);
    void openSettingsPanel();
    void closePanels();
    void selectTab(const std::string& sessionID);
    void selectAndReload(const std::string& sessionID);
    void translateWholePage(const std::string& sessionID);
    void restoreWholePage(const std::string& sessionID);
    void showSession(const std::string& sessionID);

    // Zoom, shared by all pages.
    void zoomIn();
    void zoomOut();
    void resetZoom();
    std::string nextZoomLabel(double delta) const;

    // Rename and delete.
    void beginRename(const std::string& sessionID);
    void setRenameText(std::string text);
    // Saves and closes the dialog; a name that breaks the rule leaves it open with its message.
    void saveRename();
    void cancelRename();
    void askToDelete(const ChatSession& session);
    void confirmDelete();
    void cancelDelete();
    void deleteNow(const ChatSession& session);
    // The title of the delete confirmation.
    std::string deleteConfirmationTitle() const;
    // A dropped tab: `payload` must be a session id. Returns whether the drop is accepted.
    bool moveTab(const std::string& payload, const std::string& targetID);

    // 勿扰 as the session bar shows it: on by its button, on by "定时勿扰" now, or off.
    enum class DoNotDisturbState { Off, On, Scheduled };
    DoNotDisturbState doNotDisturbState() const;

    // Toggles of the session bar.
    void toggleDoNotDisturb();
    void toggleQuickSettings();
    void toggleSessionRows();

    // Sheets of other parts of the window.
    void setShowingAddSession(bool value);
    void setShowingAddWebsite(bool value);
    void setShowingSessionSettings(bool value);

    // Lock.
    void requestApplicationLock();
    void cancelLockSetup();
    // Returns whether the password was saved and the window locked.
    bool saveLockSetup(const std::string& password, const std::string& confirmation);
    // Returns whether the window was unlocked.
    bool unlockApplication(const std::string& password);

    // Reloads every page after asking the service for the engine list again.
    void refreshServices();

    // When the view first appears: bind the lock to the account, migrate the colour once.
    void appear();

    // The badge of a tab: none below 1, the number up to 99, then "99+".
    static std::optional<std::string> unreadBadgeText(std::optional<int> count);
    std::optional<std::string> tabBadgeText(const std::string& sessionID) const;

    // Whether the session's page is the one on show (selected, no panel over it).
    bool isPageShown(const std::string& sessionID) const;
    // The session whose page is on show; nullopt when none is (a panel covers the pages).
    std::optional<std::string> shownSessionID() const;

    // The global values sessions fall back to: the settings store's and the window's own.
    SessionDefaults sessionDefaults() const;

    sigc::signal<void(Field)>& signalChanged() { return m_changed; }

private:
    // An account was just added from a sheet.
    void showAdded();
    void setFlag(bool& member, bool value, Field field);
    void newReloadToken();
    // Runs a lock-store step whose answer comes inside the call unless the keyring had to be
    // unlocked first. `succeeded` runs on a yes, whenever it comes, and not once the model is
    // gone. Returns the answer when it came inside the call, false when it is still to come.
    bool answerNowOrLater(const std::function<void(std::function<void(bool)>)>& start,
                          std::function<void()> succeeded);

    SessionStore& m_store;
    SettingsStore& m_settings;
    AccountStore& m_account;
    AppLockStore& m_appLock;
    MainWindowPreferences& m_preferences;
    const TranslationService& m_translator;
    ProxyPasswords* m_proxyPasswords;
    TranslationBoxModel m_translationBox;
    NewSessionForm m_newSessionForm;
    WebsiteForm m_websiteForm;
    SessionSettingsForm m_sessionSettingsForm;
    QuickSettingsModel m_quickSettings;
    std::string m_appVersion;
    Cancellable m_cancellable;

    bool m_showingRename = false;
    std::string m_renameText;
    std::optional<ChatSession> m_pendingDeleteSession;
    std::string m_reloadToken;
    std::optional<WebPageCommand> m_pageCommand;
    bool m_appLocked = false;
    bool m_showingLockSetup = false;
    bool m_refreshingServices = false;
    bool m_showAppCenter = false;
    bool m_showingInlineSettings = false;
    bool m_showAllSessionRows = false;
    std::optional<std::string> m_lastSelectedID;
    // Built last: it reads the selection and the panels at once.
    std::unique_ptr<AccountHibernation> m_hibernation;
    std::unique_ptr<AccountHealth> m_health;
    std::unique_ptr<ConversationLanguageModel> m_conversationLanguages;
    std::unique_ptr<PageMemoryWatchdog> m_memory;
    sigc::connection m_storeConnection;
    sigc::connection m_accountConnection;
    sigc::connection m_conversationConnection;
    std::vector<sigc::connection> m_formConnections;
    sigc::signal<void(Field)> m_changed;
};

} // namespace aurelo
