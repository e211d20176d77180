#pragma once

// The settings page's own state and operations: the engine choice offered by the account, the
// connection check, the notification status, the account and the personal lock password. The
// page itself keeps nothing; everything it changes lives in the three stores. Widgets bind to it;
// it knows none.

#include "models/AccountStore.hpp"
#include "models/AppLockStore.hpp"
#include "models/SettingsStore.hpp"
#include "platform/Cancellable.hpp"
#include "platform/NotificationCenter.hpp"
#include "viewmodels/SettingsGlossaryModel.hpp"

#include <sigc++/sigc++.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace aurelo {

class SettingsViewModel {
public:
    enum class Field { NotificationStatus, LockFields };

    // An engine of the account that names a provider we know, with the service's label for it.
    struct OfferedEngine {
        TranslationProvider provider;
        std::string label;
        friend bool operator==(const OfferedEngine&, const OfferedEngine&) = default;
    };

    // The account's engines whose provider value is one we know, in the service's order; an
    // engine naming a provider already listed is left out.
    static std::vector<OfferedEngine> offeredEngines(const std::vector<RemoteEngine>& engines);

    // The application's engine watcher, with or without this page: when the service offers a
    // new engine list that lacks the selected provider, switch to the first offered provider
    // (if it is one we know) and say so. Returns whether it switched.
    static bool applyEngineListChange(const std::vector<std::string>& providers,
                                      SettingsStore& settings);

    // Without `fetchGlossary` the 术语表 card stays empty.
    SettingsViewModel(SettingsStore& settings, AccountStore& account, AppLockStore& appLock,
                      NotificationCenter& notifications,
                      SettingsGlossaryModel::Fetch fetchGlossary = {});
    SettingsViewModel(const SettingsViewModel&) = delete;
    SettingsViewModel& operator=(const SettingsViewModel&) = delete;
    ~SettingsViewModel();

    SettingsStore& settings() { return m_settings; }
    AccountStore& account() { return m_account; }
    AppLockStore& appLock() { return m_appLock; }
    SettingsGlossaryModel& glossary() { return m_glossary; }

    const std::string& notificationStatus() const { return m_notificationStatus; }
    bool notificationAuthorized() const { return m_notificationAuthorized; }
    const std::string& currentLockPassword() const { return m_currentLockPassword; }
    const std::string& newLockPassword() const { return m_newLockPassword; }
    const std::string& confirmLockPassword() const { return m_confirmLockPassword; }
    void setCurrentLockPassword(std::string text);
    void setNewLockPassword(std::string text);
    void setConfirmLockPassword(std::string text);

    // Each time the page is shown: bind the lock to the account, fetch the engine list and the
    // glossary, keep the provider among the offered engines, read the notification status. `done` runs on the main
    // loop when all of it has finished.
    void start(std::function<void()> done = {});

    // Engines.
    // The "服务商" entries: the account's engines of known providers, by the engine's label.
    std::vector<OfferedEngine> providerChoices() const;
    // The position of the selected provider among providerChoices(); nullopt when not offered.
    std::optional<std::size_t> selectedProviderIndex() const;
    void chooseProvider(TranslationProvider provider);
    // Switches to the first offered engine when the selected provider is not offered.
    void selectAvailableEngineIfNeeded();
    void refreshEngines(std::function<void()> done = {});
    void validate(std::function<void()> done = {});
    bool canValidate() const;

    // The other choices of the page; each is stored as it is made.
    void chooseInputLanguage(ChatLanguage language);
    void chooseOutgoingLanguage(ChatLanguage language);
    void chooseIncomingLanguage(ChatLanguage language);
    void choosePreferredTarget(TargetLanguage target);
    void chooseAutomaticMessageTranslation(bool enabled);
    void chooseAppearance(AppAppearance appearance);
    void chooseRenderingMode(RenderingMode mode);
    void choosePageMemoryLimit(PageMemoryLimit limit);

    // Notifications.
    void refreshNotificationStatus(std::function<void()> done = {});
    void requestNotificationPermission(std::function<void()> done = {});
    void openSystemNotificationSettings();
    std::string notificationButtonTitle() const;

    // Lock password. The three fields are cleared once it is saved, which waits for the
    // desktop's unlock prompt when the keyring is locked.
    void saveLockPassword();
    std::string lockStatusText() const;
    std::string lockButtonTitle() const;

    void logout();

    // The notification state shown for a status.
    struct NotificationState {
        bool authorized = false;
        std::string status;
        friend bool operator==(const NotificationState&, const NotificationState&) = default;
    };
    static NotificationState notificationState(NotificationAuthorizationStatus status);
    static std::string appearanceLabel(AppAppearance appearance);
    // "渲染方式" in the order the picker lists them, and each one's label.
    static const std::vector<RenderingMode>& renderingModes();
    static std::string renderingModeLabel(RenderingMode mode);
    // "页面内存上限": 自动, 512 MB, 1 GB, 2 GB, 不限.
    static const std::vector<PageMemoryLimit>& pageMemoryLimits();
    static std::string pageMemoryLimitLabel(PageMemoryLimit limit);
    // The symbol of the connection status line.
    static std::string statusSymbol(const ProviderConnectionStatus& status);

    sigc::signal<void(Field)>& signalChanged() { return m_changed; }

private:
    void providerChanged();
    void applyNotificationStatus(NotificationAuthorizationStatus status);
    void setLockField(std::string& member, std::string text);
    void clearLockFields();

    SettingsStore& m_settings;
    AccountStore& m_account;
    AppLockStore& m_appLock;
    NotificationCenter& m_notifications;
    SettingsGlossaryModel m_glossary;
    Cancellable m_cancellable;
    sigc::connection m_settingsConnection;
    bool m_providerChangePending = false;

    std::string m_notificationStatus = "正在检查";
    bool m_notificationAuthorized = false;
    std::string m_currentLockPassword;
    std::string m_newLockPassword;
    std::string m_confirmLockPassword;

    sigc::signal<void(Field)> m_changed;
};

} // namespace aurelo
