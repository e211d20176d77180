#pragma once

// The application-wide settings: the translation provider, provider keys, region and model
// names, the default chat languages, the translation box target, automatic message translation,
// the window appearance, and the status of the provider connection. Plain settings live in the
// user defaults, keys in the keychain.

#include "models/ChatLanguage.hpp"
#include "models/ChatSession.hpp"
#include "models/KeychainStore.hpp"
#include "models/QuietHours.hpp"
#include "platform/Cancellable.hpp"
#include "platform/RenderingPolicy.hpp"
#include "platform/UserDefaults.hpp"
#include "translation/TranslationService.hpp"

#include <sigc++/sigc++.h>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace aurelo {

// The provider connection as the settings window shows it.
class ProviderConnectionStatus {
public:
    enum class Kind { Failed, NotConfigured, Unverified, Checking, Connected };

    static ProviderConnectionStatus failed(std::string message) {
        return {Kind::Failed, std::move(message)};
    }
    static ProviderConnectionStatus notConfigured() { return {Kind::NotConfigured, {}}; }
    static ProviderConnectionStatus unverified() { return {Kind::Unverified, {}}; }
    static ProviderConnectionStatus checking() { return {Kind::Checking, {}}; }
    static ProviderConnectionStatus connected() { return {Kind::Connected, {}}; }

    Kind kind() const { return m_kind; }
    // The failure's message; empty for the other cases.
    const std::string& message() const { return m_message; }
    friend bool operator==(const ProviderConnectionStatus&,
                           const ProviderConnectionStatus&) = default;

private:
    ProviderConnectionStatus(Kind kind, std::string message)
        : m_kind(kind), m_message(std::move(message)) {}
    Kind m_kind;
    std::string m_message;
};

// "页面内存上限": how much memory each account's web process may use before its page is loaded
// again. Automatic divides a share of the machine's memory among the open accounts.
enum class PageMemoryLimit { Automatic, MB512, GB1, GB2, Unlimited };
std::string_view pageMemoryLimitRawValue(PageMemoryLimit limit);
std::optional<PageMemoryLimit> pageMemoryLimitFromRawValue(std::string_view value);

class SettingsStore {
public:
    enum class Field {
        Provider,
        GoogleAPIKey,
        DeepLAPIKey,
        MicrosoftAPIKey,
        MicrosoftRegion,
        OpenAIAPIKey,
        GeminiAPIKey,
        ClaudeAPIKey,
        OpenAIModel,
        GeminiModel,
        ClaudeModel,
        PreferredTarget,
        StatusMessage,
        ConnectionStatus,
        AutomaticMessageTranslation,
        InputLanguage,
        OutgoingLanguage,
        IncomingLanguage,
        Appearance,
        RenderingMode,
        PageMemoryLimit,
        QuietHours,
    };

    // "渲染方式": read by main() before the toolkit starts, so a change applies at the next start.
    static constexpr std::string_view kRenderingModeKey = "aureloTranslator.renderingMode";
    static constexpr std::string_view kPageMemoryLimitKey = "aureloTranslator.pageMemoryLimit";
    // "定时勿扰", written at once like the appearance.
    static constexpr std::string_view kQuietHoursKey = "aureloTranslator.quietHours";

    // The keychain account of each provider's key, in the order the keys are saved.
    static constexpr std::array<std::string_view, 6> kAPIKeyAccounts{
        "translation-api-key", "deepl-api-key",  "microsoft-translator-key",
        "openai-api-key",      "gemini-api-key", "claude-api-key",
    };

    // `translator` runs the connection check of saveAndValidate(). All three must outlive the
    // store.
    SettingsStore(UserDefaults& defaults, KeychainStore& keychain,
                  const TranslationService& translator);
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;
    ~SettingsStore();

    TranslationProvider provider() const { return m_provider; }
    const std::string& apiKey(TranslationProvider provider) const {
        return m_apiKeys[static_cast<std::size_t>(provider)];
    }
    const std::string& googleAPIKey() const { return apiKey(TranslationProvider::Google); }
    const std::string& deeplAPIKey() const { return apiKey(TranslationProvider::DeepL); }
    const std::string& microsoftAPIKey() const { return apiKey(TranslationProvider::Microsoft); }
    const std::string& openAIAPIKey() const { return apiKey(TranslationProvider::OpenAI); }
    const std::string& geminiAPIKey() const { return apiKey(TranslationProvider::Gemini); }
    const std::string& claudeAPIKey() const { return apiKey(TranslationProvider::Claude); }
    const std::string& microsoftRegion() const { return m_microsoftRegion; }
    const std::string& openAIModel() const { return m_openAIModel; }
    const std::string& geminiModel() const { return m_geminiModel; }
    const std::string& claudeModel() const { return m_claudeModel; }
    TargetLanguage preferredTarget() const { return m_preferredTarget; }
    const std::string& statusMessage() const { return m_statusMessage; }
    const ProviderConnectionStatus& connectionStatus() const { return m_connectionStatus; }
    bool automaticMessageTranslation() const { return m_automaticMessageTranslation; }
    ChatLanguage inputLanguage() const { return m_inputLanguage; }
    ChatLanguage outgoingLanguage() const { return m_outgoingLanguage; }
    ChatLanguage incomingLanguage() const { return m_incomingLanguage; }
    AppAppearance appearance() const { return m_appearance; }
    RenderingMode renderingMode() const { return m_renderingMode; }
    PageMemoryLimit pageMemoryLimit() const { return m_pageMemoryLimit; }
    const QuietHours& quietHours() const { return m_quietHours; }
    void setQuietHours(QuietHours hours);

    // Field changes made by the views. They are kept in memory until save(), except the
    // appearance, which is written at once.
    void setProvider(TranslationProvider provider);
    void setAPIKey(TranslationProvider provider, std::string key);
    void setMicrosoftRegion(std::string region);
    void setOpenAIModel(std::string model);
    void setGeminiModel(std::string model);
    void setClaudeModel(std::string model);
    void setPreferredTarget(TargetLanguage target);
    void setStatusMessage(std::string message);
    void setConnectionStatus(ProviderConnectionStatus status);
    void setAutomaticMessageTranslation(bool enabled);
    void setInputLanguage(ChatLanguage language);
    void setOutgoingLanguage(ChatLanguage language);
    void setIncomingLanguage(ChatLanguage language);
    void setAppearance(AppAppearance appearance);
    // Written at once, like the appearance; the running process keeps what it started with.
    void setRenderingMode(RenderingMode mode);
    // Written at once and applied at the next check of each page's memory.
    void setPageMemoryLimit(PageMemoryLimit limit);
    // The stored rendering mode; Automatic when absent or not one we know.
    static RenderingMode storedRenderingMode(const UserDefaults& defaults);
    // Sets the provider and writes "translationProvider" at once, for choices that take effect
    // without the save button (the engine picker, the switch to an engine the account offers).
    void storeProvider(TranslationProvider provider);
    // Writes the user-defaults key of one plain setting (provider, target, automatic message
    // translation, the three chat languages) now, for pages that apply each choice as it is made
    // rather than through save(). Other fields are left alone.
    void storeField(Field field);

    // The configuration every translation request takes. The token is this process's current
    // copy of the keychain item, kept in step with every save of it through `keychain`, so that
    // a fresh login applies at once without a Secret Service round trip per translation.
    TranslationConfiguration configuration(TranslationProvider provider) const;

    // Writes the keys to the keychain, then the other settings to the defaults file; a keychain
    // failure stops it there, says so in the status and returns false.
    bool save();
    // save(), then a test translation of "Hello" into Chinese; `done` runs when the status is
    // final (never inside the call). A locked keyring is offered for unlocking once for this
    // save; a save that does not go through is not checked, so its failure stays on screen.
    void saveAndValidate(std::function<void()> done = {});

    // The session fallbacks this store provides; the window adds its own preferences.
    SessionDefaults sessionDefaults() const;

    sigc::signal<void(Field)>& signalChanged() { return m_changed; }

private:
    template <typename T> void assign(T& member, T value, Field field);
    void updateStatusFromToken();
    std::expected<void, KeychainStore::KeychainError> write();
    bool finishSave(const std::expected<void, KeychainStore::KeychainError>& written);
    void saveAskingToUnlock(bool mayAskToUnlock, std::function<void(bool saved)> then);
    void validate(std::function<void()> done);
    bool hasLoginToken() const;

    UserDefaults& m_defaults;
    KeychainStore& m_keychain;
    const TranslationService& m_translator;
    Cancellable m_cancellable;
    sigc::connection m_tokenConnection;

    TranslationProvider m_provider = TranslationProvider::Google;
    std::array<std::string, 6> m_apiKeys;
    std::string m_microsoftRegion;
    std::string m_openAIModel;
    std::string m_geminiModel;
    std::string m_claudeModel;
    TargetLanguage m_preferredTarget = TargetLanguage::Automatic;
    std::string m_statusMessage;
    ProviderConnectionStatus m_connectionStatus = ProviderConnectionStatus::notConfigured();
    bool m_automaticMessageTranslation = true;
    ChatLanguage m_inputLanguage = ChatLanguage::Automatic;
    ChatLanguage m_outgoingLanguage = ChatLanguage::English;
    ChatLanguage m_incomingLanguage = ChatLanguage::Chinese;
    AppAppearance m_appearance = AppAppearance::System;
    RenderingMode m_renderingMode = RenderingMode::Automatic;
    PageMemoryLimit m_pageMemoryLimit = PageMemoryLimit::Automatic;
    QuietHours m_quietHours;
    mutable std::string m_loginToken;
    mutable bool m_tokenUnread = false;

    sigc::signal<void(Field)> m_changed;
};

} // namespace aurelo
