#include "viewmodels/TranslationBoxModel.hpp"

#include "models/PlatformCatalogue.hpp"
#include "platform/Text.hpp"
#include <glib.h>

namespace aurelo {

TranslationBoxModel::TranslationBoxModel(SessionStore& store, SettingsStore& settings,
                                         const TranslationService& translator)
    : m_store(store), m_settings(settings), m_translator(translator),
      m_translationRequestID(newSessionID()) {
    // A rename or another selection may change the platform the placeholder names.
    m_connections.push_back(m_store.signalChanged().connect([this](SessionStore::Field field) {
        if (field != SessionStore::Field::UnreadCounts)
            m_changed.emit(Field::Placeholder);
    }));
    m_connections.push_back(m_settings.signalChanged().connect([this](SettingsStore::Field field) {
        if (field == SettingsStore::Field::PreferredTarget) {
            m_changed.emit(Field::PreferredTarget);
            m_changed.emit(Field::Placeholder);
        }
    }));
}

TranslationBoxModel::~TranslationBoxModel() {
    for (auto& connection : m_connections)
        connection.disconnect();
}

std::optional<std::string> TranslationBoxModel::selectedPlatformName() const {
    if (const auto& id = m_store.selectedID())
        for (const auto& session : m_store.sessions())
            if (session.id == *id)
                return platformName(session);
    return std::nullopt;
}

std::string TranslationBoxModel::placeholderText() const {
    const auto platform = selectedPlatformName();
    std::string prefix(kPlaceholderPrefix);
    // Chinese goes out in the open conversation's language for an account that follows its
    // customer: the hint names that language rather than English.
    if (m_settings.preferredTarget() == TargetLanguage::Automatic && m_store.selectedID()) {
        const auto language = chatLanguageFromCode(outgoingTarget(*m_store.selectedID()));
        if (language && *language != ChatLanguage::English) {
            constexpr std::string_view english = "翻译英文";
            prefix.replace(prefix.find(english), english.size(),
                           "翻译" + std::string(title(*language)));
        }
    }
    return prefix + (platform ? " " + *platform : "");
}

void TranslationBoxModel::followedLanguageChanged() {
    m_changed.emit(Field::Placeholder);
}

std::string TranslationBoxModel::insertButtonLabel() const {
    const auto platform = selectedPlatformName();
    return "确认填入" + (platform ? " " + *platform : "");
}

std::string TranslationBoxModel::insertNote() const {
    const auto platform = selectedPlatformName();
    return "确认后，英文会直接进入当前 " + platform.value_or("聊天") + " 对话框";
}

void TranslationBoxModel::setPreferredTarget(TargetLanguage target) {
    if (target == m_settings.preferredTarget())
        return;
    m_settings.setPreferredTarget(target);
    m_settings.storeField(SettingsStore::Field::PreferredTarget);
}

template <typename T> void TranslationBoxModel::assign(T& member, T value, Field field) {
    if (member == value)
        return;
    member = std::move(value);
    m_changed.emit(field);
}

bool TranslationBoxModel::containsChinese(std::string_view text) {
    const char* p = text.data();
    const char* end = text.data() + text.size();
    while (p < end) {
        gunichar c = g_utf8_get_char_validated(p, end - p);
        if (c == gunichar(-1) || c == gunichar(-2)) {
            ++p; // a broken byte is not Chinese; look at the rest
            continue;
        }
        if (g_unichar_get_script(c) == G_UNICODE_SCRIPT_HAN)
            return true;
        p = g_utf8_next_char(p);
    }
    return false;
}

bool TranslationBoxModel::stillChinese(std::string_view result, std::string_view targetCode) {
    const bool writtenInHan = targetCode.starts_with("zh") || targetCode.starts_with("ja");
    return !writtenInHan && containsChinese(result);
}

void TranslationBoxModel::setInput(std::string text) {
    if (text != m_translatedSource)
        assign(m_readyToInsert, false, Field::ReadyToInsert);
    assign(m_input, std::move(text), Field::Input);
}

void TranslationBoxModel::performTranslation() {
    const std::string text = text::trimmed(m_input);
    if (text.empty() || m_translating || !m_store.selectedID())
        return;
    const std::string sessionID = *m_store.selectedID();
    const std::string requestID = newSessionID();
    m_translationRequestID = requestID;
    assign(m_errorMessage, std::string(), Field::ErrorMessage);
    assign(m_translating, true, Field::Translating);
    assign(m_readyToInsert, false, Field::ReadyToInsert);

    std::string target;
    switch (m_settings.preferredTarget()) {
    case TargetLanguage::Automatic:
        target = containsChinese(m_input) ? outgoingTarget(sessionID) : "zh-CN";
        break;
    case TargetLanguage::English:
        target = "en";
        break;
    case TargetLanguage::Chinese:
        target = "zh-CN";
        break;
    }

    // The box always uses the global engine, never the selected account's.
    m_translator.translate(
        text, target, m_settings.configuration(m_settings.provider()),
        [this, cancellation = m_cancellable.token(), requestID, sessionID, text,
         target](ServiceOutcome<TranslationResult> outcome) {
            if (cancellation.isCancelled())
                return;
            const bool current = m_translationRequestID == requestID;
            if (current && m_store.selectedID() == sessionID) {
                if (outcome && stillChinese(outcome->text, target)) {
                    assign(m_output, std::string(), Field::Output);
                    assign(m_errorMessage, std::string(kStillChinese), Field::ErrorMessage);
                } else if (outcome) {
                    assign(m_output, outcome->text, Field::Output);
                    assign(m_detected, outcome->detectedLanguage.value_or(""), Field::Detected);
                    m_translatedSource = text;
                    m_outputTarget = target;
                    assign(m_readyToInsert,
                           containsChinese(text) &&
                               (target == "en" || target == outgoingTarget(sessionID)),
                           Field::ReadyToInsert);
                } else {
                    assign(m_errorMessage, describe(outcome.error()), Field::ErrorMessage);
                }
            }
            if (current)
                assign(m_translating, false, Field::Translating);
        });
}

void TranslationBoxModel::insertOutput() {
    // Only a result offered for insertion goes in: a translation into Chinese is there for the
    // agent to read, not for the customer.
    if (!m_readyToInsert || m_output.empty() || !m_store.selectedID())
        return;
    // The customer of the conversation open now may write another language than the one the
    // text was translated for: translated again for them rather than put in.
    if (m_settings.preferredTarget() == TargetLanguage::Automatic &&
        m_outputTarget != outgoingTarget(*m_store.selectedID())) {
        assign(m_readyToInsert, false, Field::ReadyToInsert);
        performTranslation();
        return;
    }
    insertText(*m_store.selectedID(), m_output);
    assign(m_readyToInsert, false, Field::ReadyToInsert);
}

std::string TranslationBoxModel::outgoingTarget(const std::string& sessionID) const {
    if (m_followed)
        if (auto followed = m_followed(sessionID))
            return *followed;
    return "en";
}

void TranslationBoxModel::insertText(const std::string& sessionID, std::string text) {
    m_textInsertion = WebTextInsertion{newSessionID(), sessionID, std::move(text)};
    m_changed.emit(Field::TextInsertion);
    m_focusRequested.emit(true);
}

std::optional<std::string> TranslationBoxModel::detectedLanguageLabel(const std::string& code) {
    if (code.empty())
        return std::nullopt;
    if (code.starts_with("zh"))
        return "中文";
    if (code == "en")
        return "英语";
    return code;
}

void TranslationBoxModel::textInsertionTaken(const std::string& insertionID) {
    // Quietly: the stack that reports it is in the middle of handing out requests.
    if (m_textInsertion && m_textInsertion->id == insertionID)
        m_textInsertion.reset();
}

std::optional<std::string> TranslationBoxModel::copyOutput() const {
    if (m_output.empty())
        return std::nullopt;
    return m_output;
}

void TranslationBoxModel::reset() {
    m_translationRequestID = newSessionID();
    assign(m_translating, false, Field::Translating);
    if (m_textInsertion) {
        m_textInsertion.reset();
        m_changed.emit(Field::TextInsertion);
    }
    assign(m_input, std::string(), Field::Input);
    assign(m_output, std::string(), Field::Output);
    assign(m_detected, std::string(), Field::Detected);
    assign(m_errorMessage, std::string(), Field::ErrorMessage);
    assign(m_readyToInsert, false, Field::ReadyToInsert);
    m_translatedSource.clear();
}

void TranslationBoxModel::clearTranslation() {
    reset();
}

void TranslationBoxModel::cancelTranslationForSessionSwitch() {
    reset();
    m_focusRequested.emit(false);
}

} // namespace aurelo
