#include "viewmodels/SettingsViewModel.hpp"

#include "platform/MainLoop.hpp"
#include "platform/Text.hpp"

#include <algorithm>

namespace aurelo {

namespace {

constexpr const char* kSwitchedMessage = "已自动切换到 ";
constexpr const char* kProviderChangedMessage = "请保存并验证当前翻译服务";

// Selects `provider` and stores it at once, then reports the switch as `messagePrefix` followed
// by the engine's name. The engine watcher and the settings page each report in their own words.
void switchToOfferedProvider(SettingsStore& settings, TranslationProvider provider,
                             std::string_view name, std::string_view messagePrefix) {
    // Only the provider is written: other settings the user is still editing stay unsaved.
    settings.storeProvider(provider);
    settings.setStatusMessage(std::string(messagePrefix) + std::string(name));
}

} // namespace

SettingsViewModel::SettingsViewModel(SettingsStore& settings, AccountStore& account,
                                     AppLockStore& appLock, NotificationCenter& notifications,
                                     SettingsGlossaryModel::Fetch fetchGlossary)
    : m_settings(settings), m_account(account), m_appLock(appLock), m_notifications(notifications),
      m_glossary(account, std::move(fetchGlossary)) {
    m_settingsConnection = m_settings.signalChanged().connect([this](SettingsStore::Field field) {
        if (field != SettingsStore::Field::Provider || m_providerChangePending)
            return;
        // The reaction comes after the change has been handled in full, so it has the last word
        // over whatever message the changer set with it ("已自动切换到 …").
        m_providerChangePending = true;
        postToMainLoop([this, cancellation = m_cancellable.token()] {
            if (cancellation.isCancelled())
                return;
            m_providerChangePending = false;
            providerChanged();
        });
    });
}

SettingsViewModel::~SettingsViewModel() {
    m_cancellable.cancel();
    m_settingsConnection.disconnect();
}

void SettingsViewModel::providerChanged() {
    const std::string token = m_settings.configuration(m_settings.provider()).apiKey;
    m_settings.setConnectionStatus(text::trimmed(token).empty()
                                       ? ProviderConnectionStatus::notConfigured()
                                       : ProviderConnectionStatus::unverified());
    m_settings.setStatusMessage(kProviderChangedMessage);
}

void SettingsViewModel::start(std::function<void()> done) {
    m_appLock.configure(m_account.username());
    m_glossary.refresh();
    const CancellationToken cancellation = m_cancellable.token();
    m_account.refreshEngines([this, cancellation, done = std::move(done)]() mutable {
        if (cancellation.isCancelled())
            return;
        selectAvailableEngineIfNeeded();
        refreshNotificationStatus(std::move(done));
    });
}

std::vector<SettingsViewModel::OfferedEngine>
SettingsViewModel::offeredEngines(const std::vector<RemoteEngine>& engines) {
    std::vector<OfferedEngine> offered;
    for (const auto& engine : engines) {
        auto provider = translationProviderFromRawValue(engine.provider);
        if (!provider ||
            std::ranges::find(offered, *provider, &OfferedEngine::provider) != offered.end())
            continue;
        offered.push_back({*provider, engine.label});
    }
    return offered;
}

bool SettingsViewModel::applyEngineListChange(const std::vector<std::string>& providers,
                                              SettingsStore& settings) {
    if (providers.empty())
        return false;
    if (std::ranges::find(providers, rawValue(settings.provider())) != providers.end())
        return false;
    auto first = translationProviderFromRawValue(providers.front());
    if (!first)
        return false;
    // Only the ids reach here, so the built-in name stands in for the service's label.
    switchToOfferedProvider(settings, *first, displayName(*first), "已自动切换到管理员启用的 ");
    settings.setConnectionStatus(ProviderConnectionStatus::unverified());
    return true;
}

std::vector<SettingsViewModel::OfferedEngine> SettingsViewModel::providerChoices() const {
    return offeredEngines(m_account.availableEngines());
}

std::optional<std::size_t> SettingsViewModel::selectedProviderIndex() const {
    const auto choices = providerChoices();
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (choices[i].provider == m_settings.provider())
            return i;
    return std::nullopt;
}

void SettingsViewModel::chooseProvider(TranslationProvider provider) {
    // Stored at once: the page has no save button, and a choice that only lived until the next
    // start would quietly undo itself.
    m_settings.storeProvider(provider);
}

void SettingsViewModel::selectAvailableEngineIfNeeded() {
    const auto offered = providerChoices();
    if (offered.empty())
        return;
    for (const auto& engine : offered)
        if (engine.provider == m_settings.provider())
            return;
    switchToOfferedProvider(m_settings, offered.front().provider, offered.front().label,
                            kSwitchedMessage);
}

void SettingsViewModel::refreshEngines(std::function<void()> done) {
    const CancellationToken cancellation = m_cancellable.token();
    m_account.refreshEngines([this, cancellation, done = std::move(done)] {
        if (cancellation.isCancelled())
            return;
        selectAvailableEngineIfNeeded();
        if (done)
            done();
    });
}

void SettingsViewModel::validate(std::function<void()> done) {
    if (!canValidate())
        return;
    m_settings.saveAndValidate(std::move(done));
}

bool SettingsViewModel::canValidate() const {
    return m_settings.connectionStatus().kind() != ProviderConnectionStatus::Kind::Checking;
}

void SettingsViewModel::chooseInputLanguage(ChatLanguage language) {
    m_settings.setInputLanguage(language);
    m_settings.storeField(SettingsStore::Field::InputLanguage);
}

void SettingsViewModel::chooseOutgoingLanguage(ChatLanguage language) {
    m_settings.setOutgoingLanguage(language);
    m_settings.storeField(SettingsStore::Field::OutgoingLanguage);
}

void SettingsViewModel::chooseIncomingLanguage(ChatLanguage language) {
    m_settings.setIncomingLanguage(language);
    m_settings.storeField(SettingsStore::Field::IncomingLanguage);
}

void SettingsViewModel::choosePreferredTarget(TargetLanguage target) {
    m_settings.setPreferredTarget(target);
    m_settings.storeField(SettingsStore::Field::PreferredTarget);
}

void SettingsViewModel::chooseAutomaticMessageTranslation(bool enabled) {
    m_settings.setAutomaticMessageTranslation(enabled);
    m_settings.storeField(SettingsStore::Field::AutomaticMessageTranslation);
}

void SettingsViewModel::chooseAppearance(AppAppearance appearance) {
    m_settings.setAppearance(appearance);
}

void SettingsViewModel::chooseRenderingMode(RenderingMode mode) {
    m_settings.setRenderingMode(mode);
}

void SettingsViewModel::choosePageMemoryLimit(PageMemoryLimit limit) {
    m_settings.setPageMemoryLimit(limit);
}

const std::vector<PageMemoryLimit>& SettingsViewModel::pageMemoryLimits() {
    static const std::vector<PageMemoryLimit> limits{
        PageMemoryLimit::Automatic, PageMemoryLimit::MB512, PageMemoryLimit::GB1,
        PageMemoryLimit::GB2, PageMemoryLimit::Unlimited};
    return limits;
}

std::string SettingsViewModel::pageMemoryLimitLabel(PageMemoryLimit limit) {
    switch (limit) {
    case PageMemoryLimit::MB512:
        return "512 MB";
    case PageMemoryLimit::GB1:
        return "1 GB";
    case PageMemoryLimit::GB2:
        return "2 GB";
    case PageMemoryLimit::Unlimited:
        return "不限";
    case PageMemoryLimit::Automatic:
        break;
    }
    return "自动";
}

const std::vector<RenderingMode>& SettingsViewModel::renderingModes() {
    static const std::vector<RenderingMode> modes{RenderingMode::Automatic,
                                                  RenderingMode::SaveMemory, RenderingMode::Smooth};
    return modes;
}

std::string SettingsViewModel::renderingModeLabel(RenderingMode mode) {
    switch (mode) {
    case RenderingMode::SaveMemory:
        return "节省内存";
    case RenderingMode::Smooth:
        return "流畅优先";
    case RenderingMode::Automatic:
        break;
    }
    return "自动";
}

SettingsViewModel::NotificationState
SettingsViewModel::notificationState(NotificationAuthorizationStatus status) {
    using S = NotificationAuthorizationStatus;
    switch (status) {
    case S::Authorized:
    case S::Provisional:
    case S::Ephemeral:
        return {true, "已开启"};
    case S::NotDetermined:
        return {false, "尚未开启"};
    case S::Denied:
        return {false, "已关闭"};
    case S::Unknown:
        break;
    }
    return {false, "未知"};
}

void SettingsViewModel::applyNotificationStatus(NotificationAuthorizationStatus status) {
    const NotificationState state = notificationState(status);
    if (state.authorized == m_notificationAuthorized && state.status == m_notificationStatus)
        return;
    m_notificationAuthorized = state.authorized;
    m_notificationStatus = state.status;
    m_changed.emit(Field::NotificationStatus);
}

void SettingsViewModel::refreshNotificationStatus(std::function<void()> done) {
    const CancellationToken cancellation = m_cancellable.token();
    m_notifications.readAuthorizationStatus(
        [this, cancellation, done = std::move(done)](NotificationAuthorizationStatus status) {
            if (cancellation.isCancelled())
                return;
            applyNotificationStatus(status);
            if (done)
                done();
        });
}

void SettingsViewModel::requestNotificationPermission(std::function<void()> done) {
    if (m_notificationAuthorized) {
        openSystemNotificationSettings();
        if (done)
            postToMainLoop(std::move(done));
        return;
    }
    const CancellationToken cancellation = m_cancellable.token();
    m_notifications.readAuthorizationStatus([this, cancellation, done = std::move(done)](
                                                NotificationAuthorizationStatus status) mutable {
        if (cancellation.isCancelled())
            return;
        if (status == NotificationAuthorizationStatus::Denied) {
            // Asking again is pointless: only the desktop's settings can allow them now.
            applyNotificationStatus(status);
            openSystemNotificationSettings();
            if (done)
                done();
            return;
        }
        m_notifications.requestAuthorization(
            [this, cancellation, done = std::move(done)]() mutable {
                if (cancellation.isCancelled())
                    return;
                refreshNotificationStatus(std::move(done));
            });
    });
}

void SettingsViewModel::openSystemNotificationSettings() {
    m_notifications.openNotificationSettings();
}

std::string SettingsViewModel::notificationButtonTitle() const {
    return m_notificationAuthorized ? "打开系统通知设置" : "开启通知";
}

void SettingsViewModel::setLockField(std::string& member, std::string text) {
    if (member == text)
        return;
    member = std::move(text);
    m_changed.emit(Field::LockFields);
}

void SettingsViewModel::setCurrentLockPassword(std::string text) {
    setLockField(m_currentLockPassword, std::move(text));
}

void SettingsViewModel::setNewLockPassword(std::string text) {
    setLockField(m_newLockPassword, std::move(text));
}

void SettingsViewModel::setConfirmLockPassword(std::string text) {
    setLockField(m_confirmLockPassword, std::move(text));
}

void SettingsViewModel::clearLockFields() {
    m_currentLockPassword.clear();
    m_newLockPassword.clear();
    m_confirmLockPassword.clear();
    m_changed.emit(Field::LockFields);
}

void SettingsViewModel::saveLockPassword() {
    // On every failure the fields keep what was typed; the store's message says what was wrong.
    // A locked keyring is offered for unlocking by whichever step meets it first.
    auto save = [this, cancellation = m_cancellable.token()] {
        m_appLock.setPasswordUnlocking(m_newLockPassword, m_confirmLockPassword,
                                       [this, cancellation](bool saved) {
                                           if (!cancellation.isCancelled() && saved)
                                               clearLockFields();
                                       });
    };
    if (!m_appLock.hasPassword())
        return save();
    m_appLock.verifyUnlocking(m_currentLockPassword,
                              [cancellation = m_cancellable.token(), save](bool correct) {
                                  if (!cancellation.isCancelled() && correct)
                                      save();
                              });
}

std::string SettingsViewModel::lockStatusText() const {
    return m_appLock.hasPassword() ? "已设置" : "未设置";
}

std::string SettingsViewModel::lockButtonTitle() const {
    return m_appLock.hasPassword() ? "更改锁屏密码" : "设置锁屏密码";
}

void SettingsViewModel::logout() {
    m_account.logout();
}

std::string SettingsViewModel::appearanceLabel(AppAppearance appearance) {
    switch (appearance) {
    case AppAppearance::Light:
        return "浅色模式";
    case AppAppearance::Dark:
        return "深色模式";
    case AppAppearance::System:
        break;
    }
    return "跟随系统";
}

std::string SettingsViewModel::statusSymbol(const ProviderConnectionStatus& status) {
    switch (status.kind()) {
    case ProviderConnectionStatus::Kind::Checking:
        return "arrow.triangle.2.circlepath";
    case ProviderConnectionStatus::Kind::Connected:
        return "checkmark.circle.fill";
    default:
        return "info.circle";
    }
}

} // namespace aurelo
