#include "models/SettingsStore.hpp"

#include "platform/MainLoop.hpp"
#include "platform/Text.hpp"

namespace aurelo {

namespace {

constexpr const char* kProviderKey = "translationProvider";
constexpr const char* kMicrosoftRegionKey = "microsoftTranslatorRegion";
constexpr const char* kOpenAIModelKey = "openAIModel";
constexpr const char* kGeminiModelKey = "geminiModel";
constexpr const char* kClaudeModelKey = "claudeModel";
constexpr const char* kTargetLanguageKey = "targetLanguage";
constexpr const char* kAutomaticMessageTranslationKey = "automaticMessageTranslation";
constexpr const char* kInputLanguageKey = "chatInputLanguage";
constexpr const char* kOutgoingLanguageKey = "chatOutgoingLanguage";
constexpr const char* kIncomingLanguageKey = "chatIncomingLanguage";
constexpr const char* kAppearanceKey = "appAppearance";

const std::string kLoginTokenAccount(KeychainStore::kLoginTokenAccount);

} // namespace

SettingsStore::SettingsStore(UserDefaults& defaults, KeychainStore& keychain,
                             const TranslationService& translator)
    : m_defaults(defaults), m_keychain(keychain), m_translator(translator) {
    auto text = [&](const char* key, const char* fallback) {
        return defaults.string(key).value_or(fallback);
    };
    // A keychain that fails or holds something unreadable never stops the start.
    auto secret = [&](std::string_view account) {
        auto loaded = keychain.load(std::string(account));
        return loaded && *loaded ? **loaded : std::string();
    };

    m_provider = translationProviderFromRawValue(text(kProviderKey, "google"))
                     .value_or(TranslationProvider::Google);
    m_apiKeys[0] = secret(kAPIKeyAccounts[0]);
    m_apiKeys[1] = secret(kAPIKeyAccounts[1]);
    m_apiKeys[2] = secret(kAPIKeyAccounts[2]);
    m_microsoftRegion = text(kMicrosoftRegionKey, "");
    m_apiKeys[3] = secret(kAPIKeyAccounts[3]);
    m_apiKeys[4] = secret(kAPIKeyAccounts[4]);
    m_apiKeys[5] = secret(kAPIKeyAccounts[5]);
    m_openAIModel = text(kOpenAIModelKey, "gpt-5.4-mini");
    m_geminiModel = text(kGeminiModelKey, "gemini-3.7-flash");
    m_claudeModel = text(kClaudeModelKey, "claude-haiku-4-5-20251001");
    m_preferredTarget = targetLanguageFromRawValue(text(kTargetLanguageKey, "automatic"))
                            .value_or(TargetLanguage::Automatic);
    m_automaticMessageTranslation =
        defaults.boolean(kAutomaticMessageTranslationKey).value_or(true);
    m_inputLanguage =
        chatLanguageFromCode(text(kInputLanguageKey, "auto")).value_or(ChatLanguage::Automatic);
    m_outgoingLanguage =
        chatLanguageFromCode(text(kOutgoingLanguageKey, "en")).value_or(ChatLanguage::English);
    m_incomingLanguage =
        chatLanguageFromCode(text(kIncomingLanguageKey, "zh-CN")).value_or(ChatLanguage::Chinese);
    m_appearance =
        appAppearanceFromRawValue(text(kAppearanceKey, "system")).value_or(AppAppearance::System);
    m_renderingMode = storedRenderingMode(defaults);
    // A value written by a later version, or by hand, falls back to the default, not to none.
    m_pageMemoryLimit = pageMemoryLimitFromRawValue(text(kPageMemoryLimitKey.data(), "automatic"))
                            .value_or(PageMemoryLimit::Automatic);
    m_quietHours = QuietHours::decode(defaults.value(kQuietHoursKey));

    if (auto token = keychain.load(kLoginTokenAccount))
        m_loginToken = token->value_or("");
    else
        m_tokenUnread = true;
    m_connectionStatus = hasLoginToken() ? ProviderConnectionStatus::unverified()
                                         : ProviderConnectionStatus::notConfigured();

    // Every save of the token in this process (login, logout) goes through the keychain store,
    // so this copy is as fresh as a keychain read and costs no D-Bus round trip per request.
    m_tokenConnection = keychain.signalStored().connect(
        [this](const std::string& account, const std::string& value) {
            if (account == kLoginTokenAccount) {
                m_loginToken = value;
                m_tokenUnread = false;
            }
        });
}

SettingsStore::~SettingsStore() {
    m_cancellable.cancel();
    m_tokenConnection.disconnect();
}

template <typename T> void SettingsStore::assign(T& member, T value, Field field) {
    if (member == value)
        return;
    member = std::move(value);
    m_changed.emit(field);
}

void SettingsStore::setProvider(TranslationProvider provider) {
    assign(m_provider, provider, Field::Provider);
}

void SettingsStore::setAPIKey(TranslationProvider provider, std::string key) {
    static constexpr Field kFields[] = {Field::GoogleAPIKey,    Field::DeepLAPIKey,
                                        Field::MicrosoftAPIKey, Field::OpenAIAPIKey,
                                        Field::GeminiAPIKey,    Field::ClaudeAPIKey};
    auto index = static_cast<std::size_t>(provider);
    assign(m_apiKeys[index], std::move(key), kFields[index]);
}

void SettingsStore::setMicrosoftRegion(std::string region) {
    assign(m_microsoftRegion, std::move(region), Field::MicrosoftRegion);
}
void SettingsStore::setOpenAIModel(std::string model) {
    assign(m_openAIModel, std::move(model), Field::OpenAIModel);
}
void SettingsStore::setGeminiModel(std::string model) {
    assign(m_geminiModel, std::move(model), Field::GeminiModel);
}
void SettingsStore::setClaudeModel(std::string model) {
    assign(m_claudeModel, std::move(model), Field::ClaudeModel);
}
void SettingsStore::setPreferredTarget(TargetLanguage target) {
    assign(m_preferredTarget, target, Field::PreferredTarget);
}
void SettingsStore::setStatusMessage(std::string message) {
    assign(m_statusMessage, std::move(message), Field::StatusMessage);
}
void SettingsStore::setConnectionStatus(ProviderConnectionStatus status) {
    assign(m_connectionStatus, std::move(status), Field::ConnectionStatus);
}
void SettingsStore::setAutomaticMessageTranslation(bool enabled) {
    assign(m_automaticMessageTranslation, enabled, Field::AutomaticMessageTranslation);
}
void SettingsStore::setInputLanguage(ChatLanguage language) {
    assign(m_inputLanguage, language, Field::InputLanguage);
}
void SettingsStore::setOutgoingLanguage(ChatLanguage language) {
    assign(m_outgoingLanguage, language, Field::OutgoingLanguage);
}
void SettingsStore::setIncomingLanguage(ChatLanguage language) {
    assign(m_incomingLanguage, language, Field::IncomingLanguage);
}

void SettingsStore::setAppearance(AppAppearance appearance) {
    // Written on every assignment, changed or not, as the window applies it from the defaults.
    (void)m_defaults.set(kAppearanceKey, std::string(rawValue(appearance)));
    assign(m_appearance, appearance, Field::Appearance);
}

void SettingsStore::setQuietHours(QuietHours hours) {
    (void)m_defaults.set(kQuietHoursKey, hours.encode());
    assign(m_quietHours, hours, Field::QuietHours);
}

void SettingsStore::setRenderingMode(RenderingMode mode) {
    (void)m_defaults.set(kRenderingModeKey, std::string(renderingModeRawValue(mode)));
    assign(m_renderingMode, mode, Field::RenderingMode);
}

void SettingsStore::setPageMemoryLimit(PageMemoryLimit limit) {
    (void)m_defaults.set(kPageMemoryLimitKey, std::string(pageMemoryLimitRawValue(limit)));
    assign(m_pageMemoryLimit, limit, Field::PageMemoryLimit);
}

namespace {

constexpr std::pair<PageMemoryLimit, std::string_view> kPageMemoryLimitValues[] = {
    {PageMemoryLimit::Automatic, "automatic"},
    {PageMemoryLimit::MB512, "512MB"},
    {PageMemoryLimit::GB1, "1GB"},
    {PageMemoryLimit::GB2, "2GB"},
    {PageMemoryLimit::Unlimited, "unlimited"},
};

} // namespace

std::string_view pageMemoryLimitRawValue(PageMemoryLimit limit) {
    for (const auto& [value, raw] : kPageMemoryLimitValues)
        if (value == limit)
            return raw;
    return "automatic";
}

std::optional<PageMemoryLimit> pageMemoryLimitFromRawValue(std::string_view value) {
    for (const auto& [limit, raw] : kPageMemoryLimitValues)
        if (raw == value)
            return limit;
    return std::nullopt;
}

RenderingMode SettingsStore::storedRenderingMode(const UserDefaults& defaults) {
    const auto stored = defaults.string(kRenderingModeKey);
    return stored ? renderingModeFromRawValue(*stored).value_or(RenderingMode::Automatic)
                  : RenderingMode::Automatic;
}

void SettingsStore::storeProvider(TranslationProvider provider) {
    (void)m_defaults.set(kProviderKey, std::string(rawValue(provider)));
    setProvider(provider);
}

void SettingsStore::storeField(Field field) {
    using Json = UserDefaults::Json;
    switch (field) {
    case Field::Provider:
        (void)m_defaults.set(kProviderKey, std::string(rawValue(m_provider)));
        break;
    case Field::PreferredTarget:
        (void)m_defaults.set(kTargetLanguageKey, std::string(rawValue(m_preferredTarget)));
        break;
    case Field::AutomaticMessageTranslation:
        (void)m_defaults.set(kAutomaticMessageTranslationKey, Json(m_automaticMessageTranslation));
        break;
    case Field::InputLanguage:
        (void)m_defaults.set(kInputLanguageKey, std::string(code(m_inputLanguage)));
        break;
    case Field::OutgoingLanguage:
        (void)m_defaults.set(kOutgoingLanguageKey, std::string(code(m_outgoingLanguage)));
        break;
    case Field::IncomingLanguage:
        (void)m_defaults.set(kIncomingLanguageKey, std::string(code(m_incomingLanguage)));
        break;
    default:
        break;
    }
}

bool SettingsStore::hasLoginToken() const {
    return !text::trimmed(m_loginToken).empty();
}

TranslationConfiguration SettingsStore::configuration(TranslationProvider provider) const {
    // A keychain that failed at start is asked again, so a Secret Service that comes up late
    // still lets translation find the login it holds.
    if (m_tokenUnread) {
        if (auto token = m_keychain.load(kLoginTokenAccount)) {
            m_loginToken = token->value_or("");
            m_tokenUnread = false;
        }
    }
    TranslationConfiguration configuration;
    configuration.provider = provider;
    configuration.apiKey = m_loginToken;
    configuration.region = m_microsoftRegion;
    switch (provider) {
    case TranslationProvider::OpenAI:
        configuration.model = m_openAIModel;
        break;
    case TranslationProvider::Gemini:
        configuration.model = m_geminiModel;
        break;
    case TranslationProvider::Claude:
        configuration.model = m_claudeModel;
        break;
    default:
        break;
    }
    return configuration;
}

void SettingsStore::updateStatusFromToken() {
    setConnectionStatus(hasLoginToken() ? ProviderConnectionStatus::unverified()
                                        : ProviderConnectionStatus::notConfigured());
}

bool SettingsStore::save() {
    return finishSave(write());
}

std::expected<void, KeychainStore::KeychainError> SettingsStore::write() {
    for (std::size_t i = 0; i < kAPIKeyAccounts.size(); ++i) {
        auto saved = m_keychain.save(text::trimmed(m_apiKeys[i]), std::string(kAPIKeyAccounts[i]));
        if (!saved)
            return saved;
    }
    using Json = UserDefaults::Json;
    (void)m_defaults.setValues({
        {kProviderKey, std::string(rawValue(m_provider))},
        {kMicrosoftRegionKey, text::trimmed(m_microsoftRegion)},
        {kOpenAIModelKey, text::trimmed(m_openAIModel)},
        {kGeminiModelKey, text::trimmed(m_geminiModel)},
        {kClaudeModelKey, text::trimmed(m_claudeModel)},
        {kTargetLanguageKey, std::string(rawValue(m_preferredTarget))},
        {kAutomaticMessageTranslationKey, Json(m_automaticMessageTranslation)},
        {kInputLanguageKey, std::string(code(m_inputLanguage))},
        {kOutgoingLanguageKey, std::string(code(m_outgoingLanguage))},
        {kIncomingLanguageKey, std::string(code(m_incomingLanguage))},
    });
    return {};
}

bool SettingsStore::finishSave(const std::expected<void, KeychainStore::KeychainError>& written) {
    if (!written) {
        setStatusMessage("保存失败：" + written.error().description());
        return false;
    }
    setStatusMessage("已安全保存到密钥环");
    updateStatusFromToken();
    return true;
}

void SettingsStore::saveAskingToUnlock(bool mayAskToUnlock, std::function<void(bool saved)> then) {
    auto written = write();
    if (!written && written.error().locked && mayAskToUnlock) {
        // The desktop asks the user to unlock the keyring, once for this save; the error is
        // shown only when they cancel (or it stays locked).
        m_keychain.unlock([this, cancellation = m_cancellable.token(), then = std::move(then),
                           error = written.error()](bool unlocked) mutable {
            if (cancellation.isCancelled())
                return;
            if (unlocked)
                return saveAskingToUnlock(false, std::move(then));
            then(finishSave(std::unexpected(error)));
        });
        return;
    }
    then(finishSave(written));
}

void SettingsStore::saveAndValidate(std::function<void()> done) {
    saveAskingToUnlock(true, [this, done = std::move(done)](bool saved) mutable {
        if (saved)
            return validate(std::move(done));
        // Checking the connection would replace the failure with its own result, and the user
        // would take the settings for saved.
        if (done)
            postToMainLoop(std::move(done));
    });
}

void SettingsStore::validate(std::function<void()> done) {
    const TranslationProvider provider = m_provider;
    TranslationConfiguration configuration = this->configuration(provider);
    if (text::trimmed(configuration.apiKey).empty()) {
        setStatusMessage("请先填写 API Key");
        setConnectionStatus(ProviderConnectionStatus::notConfigured());
        if (done)
            postToMainLoop(std::move(done));
        return;
    }
    setConnectionStatus(ProviderConnectionStatus::checking());
    setStatusMessage("正在验证连接…");
    const CancellationToken cancellation = m_cancellable.token();
    m_translator.translate("Hello", "zh-CN", configuration,
                           [this, cancellation, provider,
                            done = std::move(done)](ServiceOutcome<TranslationResult> outcome) {
                               if (cancellation.isCancelled())
                                   return;
                               // A check that returns after the user chose another provider says
                               // nothing about it.
                               if (m_provider == provider) {
                                   if (outcome) {
                                       setConnectionStatus(ProviderConnectionStatus::connected());
                                       setStatusMessage("连接验证成功");
                                   } else {
                                       std::string description = describe(outcome.error());
                                       setConnectionStatus(
                                           ProviderConnectionStatus::failed(description));
                                       setStatusMessage(description);
                                   }
                               }
                               if (done)
                                   done();
                           });
}

SessionDefaults SettingsStore::sessionDefaults() const {
    SessionDefaults defaults;
    defaults.inputLanguage = m_inputLanguage;
    defaults.outgoingLanguage = m_outgoingLanguage;
    defaults.incomingLanguage = m_incomingLanguage;
    defaults.provider = m_provider;
    defaults.automaticMessageTranslation = m_automaticMessageTranslation;
    return defaults;
}

} // namespace aurelo
